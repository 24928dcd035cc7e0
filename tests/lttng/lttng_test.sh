#!/usr/bin/env bash
# The trace shim with the real tracer: an lttng-sessiond of the test's own
# (its home in a temporary folder, stopped by its process id), sessions that
# enable and disable a registered provider, and captures (through
# scripts/trace-capture.sh) of a noxble demo and of a host that goes through
# a recovery, decoded with babeltrace2. Sessions track the test's own
# processes only: other tests running meanwhile are neither traced nor
# enabled.
#   lttng_test.sh <folder of noxble and lttng_host> <NOXB_WITH_LTTNG: ON|OFF> <trace-capture.sh>
set -u
bin=$1
capture=$3
skip() {
  echo "SKIPPED: $*"
  exit 77
}
[ "$2" = ON ] || skip "the trace shim was built without LTTng-UST (NOXB_WITH_LTTNG is OFF)"
for tool in lttng-sessiond lttng babeltrace2; do
  command -v "$tool" >/dev/null ||
    skip "$tool is not installed (Debian packages lttng-tools, babeltrace2)"
done

home=$(mktemp -d)
export LTTNG_HOME=$home
# A root daemon serves the whole machine from /var/run/lttng; a user's, its
# home's .lttng.
if [ "$(id -u)" -eq 0 ]; then rundir=/var/run/lttng; else rundir=$home/.lttng; fi
daemon=""
watcher=""
sessions=()
failed=0

cleanup() {
  for s in "${sessions[@]}"; do lttng destroy "$s" >/dev/null 2>&1; done
  [ -n "$watcher" ] && kill "$watcher" 2>/dev/null
  if [ -n "$daemon" ]; then
    kill "$daemon" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$daemon" 2>/dev/null || break; sleep 0.1; done
  fi
  rm -rf "$home"
}
trap cleanup EXIT

check() {  # name, condition...
  local name=$1
  shift
  if "$@"; then
    echo "ok: $name"
  else
    echo "FAILED: $name"
    failed=1
  fi
}

# Polls up to 10 s for a line in a file.
wait_line() {  # file, line
  for _ in $(seq 100); do
    grep -qxF -- "$2" "$1" && return 0
    sleep 0.1
  done
  return 1
}

session() {  # name, process id, enable-event arguments...
  local name=$1 pid=$2
  shift 2
  sessions+=("$name")
  lttng create "$name" --output="$home/$name" >/dev/null &&
    lttng untrack -u -s "$name" --all --vpid >/dev/null &&
    lttng track -u -s "$name" --vpid="$pid" >/dev/null &&
    lttng enable-event -u -s "$name" "$@" >/dev/null &&
    lttng start "$name" >/dev/null
}

tag="noxb$$"

# A registered provider follows the sessions: off, on at the most verbose
# level enabled, off again when the session goes. It registers before the
# daemon starts, when the test starts its own, so the daemon's arrival is
# noticed too.
mkfifo "$home/in"
"$bin/lttng_host" watch <"$home/in" >"$home/watch" &
watcher=$!
exec 3>"$home/in"
check "the provider registers" wait_line "$home/watch" registered
pid_file=$rundir/lttng-sessiond.pid
if [ -f "$pid_file" ] && kill -0 "$(cat "$pid_file")" 2>/dev/null; then
  echo "note: an lttng-sessiond already serves this machine (pid $(cat "$pid_file")); using it"
else
  lttng-sessiond --daemonize --no-kernel || { echo "FAILED: lttng-sessiond does not start"; exit 1; }
  daemon=$(cat "$pid_file")
fi
session "$tag-all" "$watcher" 'noxblegatt:*'
check "a session with every event enables level 4" wait_line "$home/watch" "enabled 4"
lttng destroy "$tag-all" >/dev/null
check "the session's end disables it" wait_line "$home/watch" disabled
session "$tag-err" "$watcher" -a --loglevel=TRACE_ERR
check "a session up to errors enables level 2" wait_line "$home/watch" "enabled 2"
lttng destroy "$tag-err" >/dev/null
exec 3>&-
wait "$watcher"
check "the provider unregisters" [ $? -eq 0 ]
watcher=""
check "nothing else was told" \
  [ "$(tr '\n' ' ' <"$home/watch")" = "registered enabled 4 disabled enabled 2 disabled " ]

# Each capture holds the records of its command's process alone.
"$capture" "$bin/noxble" demo --ms 0 >"$home/demo" 2>"$home/demo.err"
check "the demo runs" [ $? -eq 0 ]
"$capture" "$bin/lttng_host" host >"$home/host" 2>"$home/host.err"
check "the host runs" [ $? -eq 0 ]
demo=$(LC_ALL=C sed -n 's/.*{ vpid = \([0-9]*\) }.*/\1/p' "$home/demo" | sort -u)
host=$(LC_ALL=C sed -n 's/.*{ vpid = \([0-9]*\) }.*/\1/p' "$home/host" | sort -u)
check "one process in each capture" [ "$(echo "$demo" | wc -l)$(echo "$host" | wc -l)" = 11 ]
cat "$home/demo" "$home/host" >"$home/records"

of() {  # pid, text: a record of that process carries the text
  grep -aF "vpid = $1 }" "$home/records" | grep -aqF -- "$2"
}
check "the connect" of "$demo" 'message = "connection to device Pixel 8via BLE service succeed", module = "BLE_STRING", function = "NoxBleProvider::Connect", line = "'
check "a send" of "$demo" 'message = "sending data by handle '
check "a notification" of "$demo" 'message = "OnDeviceCallback happened event:4144"'
check "records carry level and id" of "$demo" 'noxblegatt:info: { cpu_id = '
check "the level and id fields" of "$demo" '{ level = 4, id = 2012, message = '
check "a non-ASCII name as exact UTF-8" of "$host" 'message = "connecting to device Café Ünïcode ☕via BLE service.'
check "the recovery" of "$host" 'message = "Start Recovery Connection", module = "BLE_STRING", function = "BleDevice::RecoveryConnection"'
check "the resend after it" of "$host" 'message = "RecoveryConnection done, resend the data "'
if [ $failed -ne 0 ]; then
  echo "--- decoded records:"
  cat "$home/records" "$home/demo.err" "$home/host.err"
  exit 1
fi
echo "lttng: $(grep -c noxblegatt "$home/records") records decoded"
