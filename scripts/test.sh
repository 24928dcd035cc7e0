#!/usr/bin/env bash
# Builds every configuration and runs every test: native Linux, the address+
# undefined and thread sanitizer builds, the Windows x64 cross build under
# Wine, the formatting check and clang-tidy. Installs missing Debian packages
# first.
#
#   scripts/test.sh                 everything
#   scripts/test.sh linux windows   only the named configurations
set -uo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh || exit 1

configs=("$@")
[ ${#configs[@]} -gt 0 ] || configs=(linux asan tsan windows format tidy)
jobs="${NOXB_TEST_JOBS:-2}"
failed=()
passed=()

run_ctest() {  # name
  local log="build/$1/ctest.log"
  ctest --preset "$1" -j "$jobs" 2>&1 | tee "$log"
  return "${PIPESTATUS[0]}"
}

build_and_test() {  # preset
  local preset=$1
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j 2 || return 1
  echo "=== $preset: tests"
  if [ "$preset" = windows ]; then
    # shellcheck source=wine-env.sh
    . scripts/wine-env.sh
    wine_start
    run_ctest "$preset"
    local rc=$?
    wine_stop
    return $rc
  fi
  run_ctest "$preset"
}

check_format() {
  echo "=== format: clang-format"
  git ls-files '*.h' '*.hpp' '*.c' '*.cpp' | xargs -r clang-format --dry-run --Werror
}

check_tidy() {
  echo "=== tidy: clang-tidy"
  # The Linux build's compile commands: configuring is enough.
  cmake --preset linux >/dev/null || return 1
  git ls-files 'nox_gatt/*.cpp' 'platform/*.cpp' 'tools/*.cpp' |
    xargs -r -P "$jobs" -n 4 clang-tidy -p build/linux --quiet 2>&1 |
    grep -v ' warnings\? generated\.$'
  return "${PIPESTATUS[1]}"
}

for c in "${configs[@]}"; do
  case "$c" in
    format) check_format ;;
    tidy) check_tidy ;;
    linux | asan | tsan | windows) build_and_test "$c" ;;
    *) echo "unknown configuration: $c" >&2; false ;;
  esac
  if [ $? -eq 0 ]; then passed+=("$c"); else failed+=("$c"); fi
done

echo
echo "=== configurations passed: ${passed[*]:-none}; failed: ${failed[*]:-none}"
echo "configurations: ${#passed[@]} passed, ${#failed[@]} failed"
[ ${#failed[@]} -eq 0 ]
