#!/usr/bin/env bash
# What the built module exports and imports.
#   check_exports.sh linux   libnoxblegatt.so
#   check_exports.sh windows noxblegatt.dll OBJDUMP
# Exports: the two factories and, on Linux, the exception family's type
# information and virtual tables, nothing else. Imports: the LE stack's
# functions from leapi and the three trace calls from the platform's library.
set -euo pipefail
platform=$1 module=$2 objdump=${3:-objdump}
failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect_line() {  # list text what
  grep -qxF -- "$2" <<<"$1" || fail "$3: $2 missing"
}

factories=$'CreateBleGattInstance\nCreateBleGattInstanceWithEvents'

if [ "$platform" = linux ]; then
  exports=$(nm -D --defined-only "$module" | awk '{print $NF}' | sort)
  imports=$(nm -D --undefined-only "$module" | awk '{print $NF}' | sed 's/@.*//' | sort)
  needed=$(readelf -d "$module" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
  family='^_ZT[ISV](N4noxb17BluetoothProvider[0-9]+[A-Za-z]+E|30NoxBleProviderGeneralException)$'
  while read -r symbol; do
    grep -qxF -- "$symbol" <<<"$factories" || grep -qE "$family" <<<"$symbol" ||
      fail "unexpected export $symbol"
  done <<<"$exports"
  expect_line "$exports" _ZTIN4noxb17BluetoothProvider25ConnectionFailedExceptionE export
  expect_line "$exports" _ZTI30NoxBleProviderGeneralException export
  for library in libleapi.so libetwshim.so; do
    expect_line "$needed" "$library" "needed library"
  done
  stack_imports=$imports
  trace_imports=$imports
elif [ "$platform" = windows ]; then
  dump=$("$objdump" -p "$module")
  # Export name table: lines "[   0] Name" after the table's heading.
  exports=$(awk '/\[Ordinal\/Name Pointer\] Table/ {on = 1; next}
                 on && /^\t\[ *[0-9]+\]/ {print $NF; next}
                 on {on = 0}' <<<"$dump" | sort)
  # Imports as "dll:function", the dll name in lower case.
  imports=$(awk '/^\tDLL Name:/ {dll = tolower($3); next}
                 /^\t[0-9a-f]+[ \t]+[0-9]+[ \t]+[A-Za-z_]/ && dll != "" {print dll ":" $3}
                 /^$/ {dll = ""}' <<<"$dump")
  [ "$exports" = "$factories" ] || fail "export table is not exactly the two factories: $exports"
  stack_imports=$(sed -n 's/^leapi\.dll://p' <<<"$imports")
  trace_imports=$(sed -n 's/^advapi32\.dll://p' <<<"$imports")
  grep -q '^leapi\.dll:' <<<"$imports" || fail "nothing imported from leapi.dll"
else
  echo "unknown platform $platform" >&2
  exit 2
fi

for name in CreateBleGattInstance CreateBleGattInstanceWithEvents; do
  expect_line "$exports" "$name" export
done
for name in LEAPI_Initialize LEAPI_Uninitialize; do
  expect_line "$stack_imports" "$name" "stack import"
done
for name in EventRegister EventWrite EventUnregister; do
  expect_line "$trace_imports" "$name" "trace import"
done
if grep -q '^LEAPI_' <<<"$exports"; then fail "the stack is linked in"; fi

echo "exports:"; sed 's/^/  /' <<<"$exports"
if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "exports and imports as expected"
