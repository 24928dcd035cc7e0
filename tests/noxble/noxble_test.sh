#!/usr/bin/env bash
# Runs the built noxble end to end against the simulated stack's default
# world: demo, scan (table and JSON), a scripted shell session through a pipe,
# and every kind of bad input with its message and exit code.
#   noxble_test.sh <noxble binary> [runner, e.g. wine]
set -u
noxble=$1
runner=${2:-}
passed=0
failed=0
out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT

run() {  # args...; stdin passes through
  $runner "$noxble" "$@" >"$out" 2>"$err"
  rc=$?
  tr -d '\r' <"$out" >"$out.n" && mv "$out.n" "$out"
  tr -d '\r' <"$err" >"$err.n" && mv "$err.n" "$err"
  return 0
}

check() {  # name, condition...
  local name=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $name"
    echo "--- exit code $rc; stdout:"
    cat "$out"
    echo "--- stderr:"
    cat "$err"
  fi
}

has() { grep -qF -- "$1" "$out"; }
lacks() { ! grep -qF -- "$1" "$out"; }
count() { [ "$(grep -cF -- "$1" "$out")" -eq "$2" ]; }
code() { [ "$rc" -eq "$1" ]; }
# One line on stderr, naming what went wrong.
error_line() { [ "$(wc -l <"$err")" -eq 1 ] && grep -qF -- "noxble: error: $1" "$err"; }

# The whole job in one command.
run demo --ms 2000
check "demo runs" code 0
check "demo scans both passes" has "scan: two discovery passes"
check "demo lists the phone" has "Pixel 8"
check "demo connects" has "service handle"
check "demo shows the class filter" has "Galaxy Watch6 e1:52:33:0d:6e:03: left out: class 1/24"
check "demo shows the name rule" has "(no name) f2:19:84:a5:07:04: left out: it has no name"
check "demo shows the connectable rule" has "Lobby Display 5c:e0:6b:21:9f:05: listed, but does not accept connections"
check "demo shows the signal filter" has "iPad (far) 7a:44:c8:16:b3:06: first pass only: heard at -94 dBm"
check "demo sends and receives the echo" count '           17 bytes "hello from noxble"' 2
check "demo reports the notification" has 'event: notification'
check "demo reads the signal" has "-58 dBm"
check "demo disconnects" has "] disconnect"
check "demo ends" has "done."

# Scan: the filters at work in the table.
run scan --ms 1000
check "scan runs" code 0
check "scan lists both passes" count "Pixel 8" 2
check "scan marks the display not connectable" grep -qE "Lobby Display +[0-9a-f:]+ +first +no" "$out"
check "scan drops the weak tablet in the second pass" count "iPad (far)" 1
check "scan drops the watch by class" lacks "Watch"
run scan --ms 0
check "scan without a second pass" lacks "second"

run scan --json --ms 0
check "json runs" code 0
check "json entry" has '{"name": "Pixel 8", "address": "c4:3a:1f:58:20:01", "firstPass": true, "connectable": true}'
if command -v python3 >/dev/null; then
  check "json parses" python3 -c 'import json,sys; assert len(json.load(open(sys.argv[1]))) == 4' "$out"
fi

# A scripted shell session.
run shell <<'SCRIPT'
scan 0
devices
connect c4:3a:1f:58:20:01
send hello there
recv 1000
send hex:01 02 ff
recv 1000
rssi
disconnect
quit
SCRIPT
check "shell runs" code 0
check "shell connects by address" has "connected to Pixel 8 (c4:3a:1f:58:20:01)"
check "shell echoes text" has 'received 11 bytes "hello there"'
check "shell echoes bytes" has "received 3 bytes hex:0102ff"
check "shell reads the signal" has "-58 dBm"
check "shell disconnects" has "disconnected"
check "shell prints no prompt on a pipe" lacks "noxble>"

# Bad input: one line, a distinct exit code, nothing left behind.
run frobnicate
check "unknown command" code 1
check "unknown command message" error_line 'unknown command "frobnicate"'
run scan --module
check "missing argument" code 2
check "missing argument message" error_line "missing argument: --module PATH"
run scan --ms soon
check "not a number" code 3
check "not a number message" error_line '--ms must be a whole number, not "soon"'
run shell <<<$'scan 0\nconnect 0\nsend hex:0g\n'
check "bad hex" code 4
check "bad hex message" error_line 'bad hex byte text "hex:0g"'
run shell <<<$'scan 0\nconnect 00:00:00:00:00:01\n'
check "unknown address" code 5
check "unknown address message" error_line "no device 00:00:00:00:00:01 in the last scan"
run shell <<<$'recv\n'
check "not connected" code 6
check "not connected message" error_line "not connected"
run --module /nonexistent/module scan
check "module not loaded" code 7
check "module not loaded message" error_line "cannot load the module"
run shell <<<$'scan 0\nconnect 1\n'
check "device without the data service" code 10
check "connection failure message" error_line "ConnectionFailedException: Bluetooth Provider: Failed to establish connection with remote device."
run shell <<<$'scan 0\nconnect 0\nbogus\nsend still connected\nrecv 1000\n'
check "the shell goes on after an error" has 'received 15 bytes "still connected"'
check "the shell exits with the first failure" code 1

echo "noxble: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
