#!/usr/bin/env bash
# Builds the benchmarks (Release), runs them and prints the table of
# docs/performance.md (markdown) on standard output; the benchmarks' own
# output goes to standard error, their JSON beside the build.
#
#   bench/run.sh [build-dir]        default: build/bench
#   REPETITIONS=9 bench/run.sh      repetitions of each timed benchmark
#   FILTER=BM_Send bench/run.sh     only some timed benchmarks (no table)
#
# The figures with an LTTng session listening run in a second pass, under
# scripts/trace-capture.sh.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/bench}
repetitions=${REPETITIONS:-9}
filter=${FILTER:-}

if [[ ! -f $build/CMakeCache.txt ]]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DNOXB_WERROR=ON \
    -DNOXB_BUILD_TESTS=OFF >&2
fi
cmake --build "$build" --target noxb_bench noxb_bench_footprint noxblegatt_c -j2 >&2

echo "load before the run: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
"$build/bin/noxb_bench" --benchmark_repetitions="$repetitions" \
  --benchmark_report_aggregates_only=true --benchmark_enable_random_interleaving=true \
  --benchmark_filter="${filter:--trace:2}" \
  --benchmark_out="$build/bench.json" --benchmark_out_format=json >&2
if [[ -n $filter ]]; then
  exit 0
fi
# The figures with an LTTng session around the process (trace:2), where the
# trace shim was built with LTTng-UST and the tracer is installed.
tracer=()
if grep -q '^NOXB_WITH_LTTNG:BOOL=ON' "$build/CMakeCache.txt" && command -v lttng >/dev/null; then
  "$root/scripts/trace-capture.sh" -f "$build/bin/noxb_bench" \
    --benchmark_repetitions="$repetitions" --benchmark_report_aggregates_only=true \
    --benchmark_enable_random_interleaving=true --benchmark_filter=trace:2 \
    --benchmark_out="$build/tracer.json" --benchmark_out_format=json >&2
  tracer=("$build/tracer.json")
else
  echo "no LTTng-UST in this build or no lttng-tools: the tracer's figures are not measured" >&2
fi
# The Python package's figures (bench/report.py reads them beside bench.json).
rm -f "$build/python.json"
if python3 "$root/bench/python_bench.py" "$build/bin" "$repetitions" >"$build/python.json.new"; then
  mv "$build/python.json.new" "$build/python.json"
else
  echo "the Python figures were not measured" >&2
fi
"$build/bin/noxb_bench_footprint" \
  --benchmark_out="$build/footprint.json" --benchmark_out_format=json >&2
echo "load after the run: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
python3 "$root/bench/report.py" "$build/bench.json" "$build/footprint.json" "${tracer[@]}"
