#!/usr/bin/env bash
# Runs a command inside an LTTng session that records the module's events
# and prints the decoded records after it: any host, no change to it.
#
#   scripts/trace-capture.sh [-l info|warning|error|critical] [-o DIR] [-f] command [args...]
#
#   -l LEVEL  only records of LEVEL and the more severe ones (default: all)
#   -o DIR    keep the trace in DIR (default: a temporary folder, removed)
#   -f        flight recorder: the newest records overwrite the oldest
#             rather than being lost, and nothing is decoded (for a
#             benchmark's millions of records)
#
# Records the command's own process only (its vpid, in every record), not
# other hosts of the module that run meanwhile. Uses the session daemon that
# serves this user, or starts one for the run and stops it after. Exits with
# the command's exit code. Needs lttng-tools and
# babeltrace2, and the module built with LTTng-UST (NOXB_WITH_LTTNG).
set -u
level=""
out=""
flight=0
while getopts "l:o:f" opt; do
  case $opt in
    l) level=$OPTARG ;;
    o) out=$OPTARG ;;
    f) flight=1 ;;
    *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))
if [ $# -eq 0 ]; then
  echo "usage: trace-capture.sh [-l info|warning|error|critical] [-o DIR] [-f] command [args...]" >&2
  exit 2
fi
case $level in
  "") select=('noxblegatt:*') ;;
  info) select=(-a --loglevel=TRACE_INFO) ;;
  warning) select=(-a --loglevel=TRACE_WARNING) ;;
  error) select=(-a --loglevel=TRACE_ERR) ;;
  critical) select=(-a --loglevel=TRACE_CRIT) ;;
  *) echo "trace-capture: unknown level: $level" >&2; exit 2 ;;
esac
for tool in lttng-sessiond lttng babeltrace2; do
  command -v "$tool" >/dev/null || {
    echo "trace-capture: $tool is not installed (Debian: lttng-tools, babeltrace2)" >&2
    exit 1
  }
done

work=$(mktemp -d)
trace=${out:-$work/trace}
session="noxb-capture-$$"
daemon=""
# A root daemon serves the whole machine from /var/run/lttng; a user's runs
# from the user's LTTng home.
if [ "$(id -u)" -eq 0 ]; then
  rundir=/var/run/lttng
else
  rundir=${LTTNG_HOME:-$HOME}/.lttng
fi

finish() {
  lttng destroy "$session" >/dev/null 2>&1
  if [ -n "$daemon" ]; then
    kill "$daemon" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$daemon" 2>/dev/null || break; sleep 0.1; done
  fi
  rm -rf "$work"
}
trap finish EXIT

fail() {
  echo "trace-capture: $*" >&2
  exit 1
}

if ! { [ -f "$rundir/lttng-sessiond.pid" ] && kill -0 "$(cat "$rundir/lttng-sessiond.pid")" 2>/dev/null; }; then
  lttng-sessiond --daemonize --no-kernel || fail "lttng-sessiond does not start"
  daemon=$(cat "$rundir/lttng-sessiond.pid")
fi
# The command waits for the session to track its process id, so that it is
# traced from its first record; it keeps this script's standard input.
mkfifo "$work/go" || fail "cannot make $work/go"
exec 3<&0
( read -r _ <"$work/go"; exec "$@" <&3 3<&- ) &
pid=$!
exec 3<&-
started=0
channel=()
[ $flight -eq 1 ] && channel=(-c flight)
lttng create "$session" --output="$trace" >/dev/null &&
  { [ $flight -eq 0 ] || lttng enable-channel -u -s "$session" --overwrite flight >/dev/null; } &&
  lttng untrack -u -s "$session" --all --vpid >/dev/null &&
  lttng track -u -s "$session" --vpid="$pid" >/dev/null &&
  lttng enable-event -u -s "$session" "${channel[@]}" "${select[@]}" >/dev/null &&
  lttng add-context -u -s "$session" "${channel[@]}" -t vpid >/dev/null &&
  lttng start "$session" >/dev/null && started=1
echo >"$work/go"
wait "$pid"
rc=$?
[ $started -eq 1 ] || fail "the session does not start"

lttng stop "$session" >/dev/null || fail "the session does not stop"
# Nothing in the trace's streams: the command wrote no record.
if [ $flight -eq 1 ]; then
  [ -n "$out" ] && echo "trace-capture: the newest records are in $out" >&2
elif [ -z "$(find "$trace" -type f -name 'channel*' -size +0 2>/dev/null)" ]; then
  echo "trace-capture: no records" >&2
else
  babeltrace2 "$trace" || fail "babeltrace2 cannot decode $trace"
fi
exit $rc
