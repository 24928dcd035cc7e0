#!/usr/bin/env bash
# A fuzzing campaign: every target, one after the other, from its checked-in
# corpus until 10,000,000 runs, or for the seconds given; a line per target
# with runs, runs per second, coverage and corpus size; then each corpus is
# minimised: the named inputs (seeds and regressions) stay, and of the rest
# and what the run found only a smallest set that reaches every edge they
# reach (ignoring hit counts, so the corpora stay small) is kept, under
# hash names. Findings land in build/fuzz/.
#
#   fuzz/campaign.sh          10,000,000 runs each
#   fuzz/campaign.sh 600      600 s each
set -euo pipefail
cd "$(dirname "$0")/.."

targets=(scan events operations host)
limit=(-runs=10000000)
[ $# -gt 0 ] && limit=(-max_total_time="$1")

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j 2 --target "${targets[@]/#/fuzz_}" >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

printf '%-16s %12s %8s %8s %s\n' target runs runs/s cov corpus
for t in "${targets[@]}"; do
  mkdir "$work/$t"
  log=build/fuzz/campaign-$t.log
  build/fuzz/bin/fuzz_$t "${limit[@]}" -timeout=30 -print_final_stats=1 \
    -artifact_prefix=build/fuzz/ "$work/$t" "fuzz/corpus/$t" >"$log" 2>&1 ||
    { tail -n 40 "$log"; echo "fuzz_$t: FAILED (build/fuzz/)"; exit 1; }
  done_line=$(grep -E '^#[0-9]+.*(DONE|pulse|NEW|REDUCE)' "$log" | tail -n 1)
  printf '%-16s %12s %8s %8s %s\n' "fuzz_$t" \
    "$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")" \
    "$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")" \
    "$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$done_line")" \
    "$(sed -n 's/.* corp: \([0-9]*\/[0-9A-Za-z]*\).*/\1/p' <<<"$done_line")"
  # Named inputs first: the set cover keeps them in preference.
  mkdir "$work/$t-named" "$work/$t-min"
  find "fuzz/corpus/$t" -type f ! -regex '.*/[0-9a-f]\{40\}' -exec cp {} "$work/$t-named/" \;
  find "fuzz/corpus/$t" -type f -regex '.*/[0-9a-f]\{40\}' -exec mv {} "$work/$t/" \;
  build/fuzz/bin/fuzz_$t -set_cover_merge=1 -use_counters=0 "$work/$t-min" \
    "$work/$t-named" "$work/$t" >>"$log" 2>&1
  named=$(sha1sum "$work/$t-named"/* | cut -c1-40)
  for f in "$work/$t-min"/*; do
    sum=$(sha1sum <"$f" | cut -c1-40)
    grep -q "$sum" <<<"$named" || cp "$f" "fuzz/corpus/$t/$sum"  # named ones are there
  done
done
echo "checked-in corpora: $(du -sb --apparent-size fuzz/corpus | cut -f1) bytes," \
  "$(find fuzz/corpus -type f | wc -l) inputs"
