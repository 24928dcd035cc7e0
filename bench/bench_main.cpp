// The timed benchmarks' main. The C library's allocator gives large blocks
// back to the system and maps them anew depending on what ran before (its
// thresholds adapt), so that the same loop may pay a page fault per 4 KiB
// in one order of benchmarks and none in another. Both thresholds are fixed
// high here: every figure is the work of the module or of the stack, not of
// the kernel refilling pages the allocator let go.
#include <benchmark/benchmark.h>
#include <malloc.h>

int main(int argc, char** argv) {
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 512 << 20);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
