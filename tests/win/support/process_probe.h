// What the running process holds, for leak tests under Wine, where the usual
// counters (GetProcessHandleCount, PrivateUsage) answer 0.
//
//   auto before = CountHandles();  auto mem = MeasureMemory();
//   ... cycles ...
//   EXPECT_EQ(CountHandles(), before);
//
// Neither probe allocates or opens anything, so taking a reading does not change
// the next one.
#pragma once

#include <cstddef>

namespace mirelo::test {

// Open kernel handles: every handle value for which GetHandleInformation succeeds.
size_t CountHandles();

struct MemoryUse {
    size_t heapBusy;          // bytes in busy blocks of every process heap
    size_t privateCommitted;  // committed private pages of the address space
};
MemoryUse MeasureMemory();

}  // namespace mirelo::test
