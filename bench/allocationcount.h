// Counts every operator new and delete of the process (module, simulated
// stack and benchmark alike): bytes the allocator really hands out.
#ifndef NOXB_BENCH_ALLOCATIONCOUNT_H
#define NOXB_BENCH_ALLOCATIONCOUNT_H

#include <cstdint>

std::int64_t LiveBytes();
std::int64_t AllocatedBytes();

#endif  // NOXB_BENCH_ALLOCATIONCOUNT_H
