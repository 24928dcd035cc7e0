#!/usr/bin/env bash
# Copies each junit report ctest writes during a mutation run, tagged with the
# number of mutants finished (progress lines in the log) when it appeared.
#   attr_watch.sh <junit path> <mutate log> <out dir>
# with mutate.py run as  --ctest "... --output-junit <junit path>" >"<mutate log>",
# then scripts/attr_report.py /tmp/noxb-mutants/results.json <out dir>.
j=$1 log=$2 out=$3
mkdir -p "$out"
last=""; seq=0
while true; do
  if [ -f "$j" ]; then
    m=$(stat -c "%y %s" "$j" 2>/dev/null)
    if [ "$m" != "$last" ]; then
      sleep 0.5
      done_n=$(grep -c '^\[[0-9]*/[0-9]*\]' "$log" 2>/dev/null)
      seq=$((seq + 1)); cp "$j" "$out/after-$done_n-$(printf %04d $seq).xml"
      last=$(stat -c "%y %s" "$j")
    fi
  fi
  grep -q '^mutation:' "$log" 2>/dev/null && break
  sleep 0.3
done
