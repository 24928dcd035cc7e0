#!/usr/bin/env bash
# Builds the benchmarks (Release), runs them and prints the table of
# docs/performance.md (markdown) on standard output; the benchmarks' own
# output goes to standard error, their JSON beside the build.
#
#   bench/run.sh [build-dir]        default: build/bench
#   REPETITIONS=9 bench/run.sh      repetitions of each timed benchmark
#   FILTER=BM_Send bench/run.sh     only some timed benchmarks (no table)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/bench}
repetitions=${REPETITIONS:-9}
filter=${FILTER:-}

if [[ ! -f $build/CMakeCache.txt ]]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DNOXB_WERROR=ON \
    -DNOXB_BUILD_TESTS=OFF >&2
fi
cmake --build "$build" --target noxb_bench noxb_bench_footprint -j2 >&2

echo "load before the run: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
"$build/bin/noxb_bench" --benchmark_repetitions="$repetitions" \
  --benchmark_report_aggregates_only=true --benchmark_enable_random_interleaving=true \
  --benchmark_filter="${filter:-.}" \
  --benchmark_out="$build/bench.json" --benchmark_out_format=json >&2
if [[ -n $filter ]]; then
  exit 0
fi
"$build/bin/noxb_bench_footprint" \
  --benchmark_out="$build/footprint.json" --benchmark_out_format=json >&2
echo "load after the run: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
python3 "$root/bench/report.py" "$build/bench.json" "$build/footprint.json"
