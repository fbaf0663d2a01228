// The filter chain around one engine call, with the two work buffers it runs in.
#pragma once

#include <cstddef>
#include <memory>

#include "pre_filters.h"

namespace mirelo {

// Longest source the worker translates, terminator not counted.
inline constexpr size_t kMaxSourceBytes = 4096;
// Each work buffer holds the escaped form of the longest source.
inline constexpr size_t kWorkBufferBytes = EscapedCapacity(kMaxSourceBytes);  // 28673

// Both options as read once for one request, so both halves of the chain agree.
struct ChainOptions {
    bool removeBrackets;
    bool removeDupSpaces;
};

// Owns work buffers A and B. Not thread-safe: one instance per worker. Never throws.
// The pointer returned by Escape or Finish points into a work buffer and stays valid until
// the next call on this object (or its destruction); copy what must outlive that.
class FilterChain {
  public:
    // Allocates both buffers (kWorkBufferBytes each) once. Should that fail, every call
    // answers with the empty text.
    FilterChain();
    FilterChain(const FilterChain&) = delete;
    FilterChain& operator=(const FilterChain&) = delete;

    // The text to hand to the engine: brackets and colon escaped (with removeBrackets), then
    // the table symbols. A source longer than kMaxSourceBytes (the host's line after the
    // user's replacements) makes the buffers grow; if they cannot, the result is cut, never
    // written past a buffer, and Complete() says so. Null counts as the empty text.
    const char* Escape(const char* source, ChainOptions options);

    // The finished translation of `engineOutput`: spaces tidied (with removeDupSpaces),
    // PairMarkers decoded, then (with removeBrackets) annotations stripped and ByteMarkers
    // decoded. Output of any length is processed whole: the buffers grow to fit it and keep
    // that size. If growing fails the result is cut to the buffers as they are. Null counts
    // as the empty text. `engineOutput` may be a text this object returned.
    const char* Finish(const char* engineOutput, ChainOptions options);

    // False when the last Escape or Finish had to cut its result, or no buffers exist.
    bool Complete() const { return complete_; }

    // Returns buffers that grew for an outsized text to their normal size. Invalidates every
    // pointer this object returned.
    void Trim();

    size_t Capacity() const { return cap_; }

  private:
    bool Reserve(size_t bytes);
    bool Holds(const char* buffer, const char* text) const;
    const char* Settle(const char* text, char* safe, size_t length);

    std::unique_ptr<char[]> a_;
    std::unique_ptr<char[]> b_;
    size_t cap_ = 0;
    bool complete_ = false;
};

}  // namespace mirelo
