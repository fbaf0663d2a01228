// A benchmark program that links heap_counter.cpp routes every operator new through it, so a
// benchmark can read what is live on the heap: the bytes asked for, and what glibc really
// hands out for them. Single-threaded use.
#pragma once

#include <cstddef>

namespace mirelo::bench {

// Unsized deletes cannot give back the requested count: read it while what it measures lives.
size_t RequestedBytes();
size_t UsableBytes();

}  // namespace mirelo::bench
