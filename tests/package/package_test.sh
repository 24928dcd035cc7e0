#!/usr/bin/env bash
# Installs a build into a temporary prefix, configures and builds the host
# project that host= names against it as an outside project would, and runs
# both its programs: the one that loads the module, and the one that links
# it. On Linux it also checks the pkg-config file, by building the linking
# host with it.
#   package_test.sh build=DIR host=DIR cmake=CMAKE generator=G make=PROGRAM
#                   type=BUILD_TYPE cxx=COMPILER toolchain=[FILE] exe=[SUFFIX]
#                   version=VERSION runner=[wine]
set -uo pipefail
for arg in "$@"; do
  declare "opt_${arg%%=*}=${arg#*=}"
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
failed=0

fail() {
  echo "FAILED: $*"
  failed=1
}

quiet() {  # log, command...: runs the command, shows its output only on failure
  local log=$work/$1
  shift
  "$@" >"$log" 2>&1 || { cat "$log"; return 1; }
}

run() {  # program [args]: runs a built program, natively or under the runner
  $opt_runner "$@" 2>&1 | tr -d '\r'
  return "${PIPESTATUS[0]}"
}

echo "--- install into $prefix"
quiet install.log "$opt_cmake" --install "$opt_build" --prefix "$prefix" || exit 1

configure=(-S "$opt_host" -B "$work/host" -G "$opt_generator"
  -DCMAKE_MAKE_PROGRAM="$opt_make" -DCMAKE_BUILD_TYPE="$opt_type")
if [ -n "$opt_toolchain" ]; then
  # The toolchain confines package searches to the target's root: name the
  # package's own directory instead of a prefix.
  config=$(find "$prefix" -name noxblegatt-config.cmake)
  configure+=(-DCMAKE_TOOLCHAIN_FILE="$opt_toolchain" -Dnoxblegatt_DIR="$(dirname "$config")")
  # The installed tree alone: the module, leapi.dll and the run-time DLLs.
  export WINEPATH="$prefix/bin"
else
  configure+=(-DCMAKE_CXX_COMPILER="$opt_cxx" -DCMAKE_PREFIX_PATH="$prefix")
fi
echo "--- configure and build the host"
quiet configure.log "$opt_cmake" "${configure[@]}" || exit 1
quiet build.log "$opt_cmake" --build "$work/host" || exit 1

echo "--- run the host that loads the module"
out=$(run "$work/host/package_host$opt_exe")
rc=$?
echo "$out"
[ $rc -eq 0 ] || fail "package_host exited with $rc"
grep -qF "noxblegatt $opt_version" <<<"$out" || fail "the package does not say version $opt_version"

echo "--- run the host that links the module"
out=$(run "$work/host/package_linked_host$opt_exe")
rc=$?
echo "$out"
[ $rc -eq 0 ] || fail "package_linked_host exited with $rc"

if [ -z "$opt_toolchain" ]; then
  echo "--- pkg-config"
  export PKG_CONFIG_PATH=$(dirname "$(find "$prefix" -name noxblegatt.pc)")
  modversion=$(pkg-config --modversion noxblegatt)
  [ "$modversion" = "$opt_version" ] || fail "pkg-config --modversion says '$modversion'"
  read -r -a flags <<<"$(pkg-config --cflags --libs noxblegatt)"
  libdir=$(pkg-config --variable=libdir noxblegatt)
  if quiet pkgconfig.log "$opt_cxx" -std=c++17 "$opt_host/linked.cpp" "${flags[@]}" \
    -Wl,-rpath,"$libdir" -o "$work/pkgconfig_host"; then
    run "$work/pkgconfig_host" || fail "the host built with pkg-config's flags exited with $?"
  else
    fail "the host does not build with pkg-config's flags"
  fi
fi

if [ -z "$opt_toolchain" ]; then
  echo "--- the installed Python package and C interface"
  site=$(find "$prefix" -name py.typed -path '*/noxble/*' -printf '%h')
  out=$(env -u NOXBLE_LIBRARY PYTHONPATH="$(dirname "$site")" /usr/bin/python3 -c '
import noxble
with noxble.Provider() as p:
    print(*(d.name for d in p.scan()), sep="\n")' 2>&1)
  grep -qx "Pixel 8" <<<"$out" || fail "the installed Python package does not scan: $out"
fi

[ $failed -eq 0 ] && echo "package: all checks passed"
exit $failed
