// A program that links heap_hooks.cpp routes every operator new and delete through it, so a
// benchmark can read what is live on the heap (the bytes asked for, and what glibc really hands
// out for them) and a test can make an allocation fail. Single-threaded use.
#pragma once

#include <cstddef>

namespace mirelo::heap {

// Unsized deletes cannot give back the requested count: read it while what it measures lives.
size_t RequestedBytes();
size_t UsableBytes();

// The allocation after `allowed` more succeed fails (returns null, or throws bad_alloc);
// -1 lets every allocation succeed again.
void FailAfter(int allowed);
// How many more succeed before one fails; -1 when none will.
int AllocationsBeforeFailure();

}  // namespace mirelo::heap
