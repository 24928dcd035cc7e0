#!/usr/bin/env bash
# Builds every configuration and runs every test: native Linux, the address+
# undefined and thread sanitizer builds, the Windows x64 cross build under
# Wine, the formatting check, clang-tidy and the fuzz targets (the corpora
# replayed, then each for NOXB_FUZZ_SECONDS, 60 by default). Installs
# missing Debian packages first.
#
#   scripts/test.sh                 everything
#   scripts/test.sh linux windows   only the named configurations
set -uo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh || exit 1

configs=("$@")
[ ${#configs[@]} -gt 0 ] || configs=(linux asan tsan windows format tidy fuzz)
jobs="${NOXB_TEST_JOBS:-2}"
failed=()
passed=()

run_ctest() {  # name
  local log="build/$1/ctest.log"
  ctest --preset "$1" -j "$jobs" 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  # The stress and fault-injection figures (docs/reliability.md).
  grep -h '^stress:\|^faults:' "build/$1/Testing/Temporary/LastTest.log" 2>/dev/null
  return "$rc"
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
  git ls-files 'nox_gatt/*.cpp' 'platform/*.cpp' 'tools/*.cpp' 'bindings/*.cpp' |
    xargs -r -P "$jobs" -n 4 clang-tidy -p build/linux --quiet 2>&1 |
    grep -v ' warnings\? generated\.$'
  return "${PIPESTATUS[1]}"
}

# Builds the fuzz targets, replays every input of the checked-in corpora once
# (regressions included), then runs each target from a copy of its corpus,
# two at a time; what they find stays out of the repository. Findings and
# the inputs behind them land in build/fuzz. fuzz/campaign.sh runs longer
# and merges what it finds.
run_fuzzers() {
  local targets=(scan events operations host)
  echo "=== fuzz: configure and build"
  cmake --preset fuzz >/dev/null &&
    cmake --build --preset fuzz -j 2 --target "${targets[@]/#/fuzz_}" || return 1
  local seconds="${NOXB_FUZZ_SECONDS:-60}" work rc t
  echo "=== fuzz: the checked-in corpora, every input once"
  for t in "${targets[@]}"; do
    build/fuzz/bin/fuzz_$t -artifact_prefix=build/fuzz/ fuzz/corpus/$t/* >build/fuzz/$t-replay.log 2>&1 ||
      { tail -n 60 build/fuzz/$t-replay.log; echo "fuzz_$t: replay FAILED"; return 1; }
    echo "fuzz_$t: $(ls fuzz/corpus/$t | wc -l) inputs replayed"
  done
  work=$(mktemp -d) && cp -r fuzz/corpus/. "$work" || return 1
  echo "=== fuzz: each target for $seconds s, two at a time"
  printf '%s\n' "${targets[@]}" | xargs -P 2 -I{} sh -c "
    log=build/fuzz/{}.log
    if build/fuzz/bin/fuzz_{} -max_total_time=$seconds -timeout=30 -print_final_stats=1 \
         -artifact_prefix=build/fuzz/ $work/{} >\$log 2>&1; then
      echo fuzz_{}: \$(sed -n 's/^stat::number_of_executed_units: *//p' \$log) executions, \
        \$(sed -n 's/^stat::average_exec_per_sec: *//p' \$log) per second, \
        \$(ls $work/{} | wc -l) inputs in the corpus
    else
      tail -n 60 \$log; echo fuzz_{}: FAILED; exit 1
    fi"
  rc=$?
  rm -rf "$work"
  return $rc
}

for c in "${configs[@]}"; do
  case "$c" in
    format) check_format ;;
    tidy) check_tidy ;;
    fuzz) run_fuzzers ;;
    linux | asan | tsan | windows) build_and_test "$c" ;;
    *) echo "unknown configuration: $c" >&2; false ;;
  esac
  if [ $? -eq 0 ]; then passed+=("$c"); else failed+=("$c"); fi
done

echo
echo "=== configurations passed: ${passed[*]:-none}; failed: ${failed[*]:-none}"
echo "configurations: ${#passed[@]} passed, ${#failed[@]} failed"
[ ${#failed[@]} -eq 0 ]
