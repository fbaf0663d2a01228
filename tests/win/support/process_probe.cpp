#include "process_probe.h"

#include <windows.h>

namespace mirelo::test {

namespace {

// Handles are multiples of 4, handed out lowest free first, so the open ones sit
// in a dense run from the bottom. Each probe is a server call under Wine (about
// 50 us), so the scan stops after this many unused values in a row instead of
// walking the whole range.
constexpr ULONG_PTR kHandleGap = 4 * 512;
constexpr ULONG_PTR kHandleLimit = 0x1000000;

// Heaps the probe can see; a process with more is not what these tests make.
constexpr DWORD kMaxHeaps = 128;

size_t HeapBusyBytes(HANDLE heap) {
    size_t busy = 0;
    if (!HeapLock(heap)) return 0;
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heap, &entry)) {
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) busy += entry.cbData;
    }
    HeapUnlock(heap);
    return busy;
}

}  // namespace

size_t CountHandles() {
    size_t count = 0;
    DWORD flags;
    ULONG_PTR last = 0;
    for (ULONG_PTR value = 4; value < kHandleLimit && value - last <= kHandleGap; value += 4) {
        if (!GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) continue;
        ++count;
        last = value;
    }
    return count;
}

MemoryUse MeasureMemory() {
    MemoryUse use{};
    // On the stack: a heap block of the probe's own would be counted.
    HANDLE heaps[kMaxHeaps];
    DWORD n = GetProcessHeaps(kMaxHeaps, heaps);
    if (n > kMaxHeaps) n = kMaxHeaps;
    for (DWORD i = 0; i < n; ++i) use.heapBusy += HeapBusyBytes(heaps[i]);

    SYSTEM_INFO si;
    GetSystemInfo(&si);
    auto* address = static_cast<char*>(si.lpMinimumApplicationAddress);
    MEMORY_BASIC_INFORMATION mbi;
    while (address < si.lpMaximumApplicationAddress &&
           VirtualQuery(address, &mbi, sizeof mbi) == sizeof mbi) {
        if (mbi.State == MEM_COMMIT && mbi.Type == MEM_PRIVATE)
            use.privateCommitted += mbi.RegionSize;
        auto* next = static_cast<char*>(mbi.BaseAddress) + mbi.RegionSize;
        if (next <= address) break;
        address = next;
    }
    return use;
}

}  // namespace mirelo::test
