#include "filter_chain.h"

#include <cstring>
#include <functional>
#include <new>

#include "markers.h"
#include "post_filters.h"

namespace mirelo {

namespace {

const char kEmpty[1] = {0};

}  // namespace

FilterChain::FilterChain() {
    Reserve(kWorkBufferBytes);
}

bool FilterChain::Reserve(size_t bytes) {
    if (bytes <= cap_) return true;
    if (bytes < kWorkBufferBytes) bytes = kWorkBufferBytes;
    // Old buffers go first, so growing never needs both sizes at once.
    a_.reset();
    b_.reset();
    a_.reset(new (std::nothrow) char[bytes]);
    b_.reset(new (std::nothrow) char[bytes]);
    if (a_ && b_) {
        cap_ = bytes;
        return true;
    }
    // Fall back to the normal size; without even that, every answer is empty.
    a_.reset(new (std::nothrow) char[kWorkBufferBytes]);
    b_.reset(new (std::nothrow) char[kWorkBufferBytes]);
    cap_ = a_ && b_ ? kWorkBufferBytes : 0;
    return false;
}

void FilterChain::Trim() {
    if (cap_ <= kWorkBufferBytes) return;
    cap_ = 0;
    Reserve(kWorkBufferBytes);
}

bool FilterChain::Holds(const char* buffer, const char* text) const {
    std::less_equal<const char*> le;
    return le(buffer, text) && !le(buffer + cap_, text);
}

// A text handed back to us from one of our own buffers (an engine that echoes its input)
// would be overwritten while it is read; move it to where the chain reads it safely.
const char* FilterChain::Settle(const char* text, char* safe, size_t length) {
    if (text == safe || (!Holds(a_.get(), text) && !Holds(b_.get(), text))) return text;
    std::memmove(safe, text, length + 1);
    return safe;
}

const char* FilterChain::Escape(const char* source, ChainOptions options) {
    if (source == nullptr) source = kEmpty;
    const size_t length = std::strlen(source);
    if (cap_ > 0 && (Holds(a_.get(), source) || Holds(b_.get(), source))) {
        source = Settle(source, options.removeBrackets ? b_.get() : a_.get(), length);
    } else {
        Reserve(EscapedCapacity(length));
    }
    complete_ = false;
    if (cap_ == 0) return kEmpty;
    const char* text = source;
    size_t needed = 0;
    if (options.removeBrackets) {
        needed = EscapeBrackets(text, a_.get(), cap_);
        text = a_.get();
    }
    if (needed < cap_) needed = EscapeSymbols(text, b_.get(), cap_);
    complete_ = needed < cap_;
    return b_.get();
}

const char* FilterChain::Finish(const char* engineOutput, ChainOptions options) {
    if (engineOutput == nullptr) engineOutput = kEmpty;
    const size_t length = std::strlen(engineOutput);
    complete_ = false;
    // Growing cannot drop an echoed input: a text inside a buffer is shorter than the buffer.
    Reserve(DecodedCapacity(length));
    if (cap_ == 0) return kEmpty;
    const char* text = Settle(engineOutput, options.removeDupSpaces ? a_.get() : b_.get(), length);
    // No filter lengthens a text, so once the input fits, every result does.
    complete_ = length < cap_;
    if (options.removeDupSpaces) {
        TidySpaces(text, b_.get(), cap_);
        text = b_.get();
    }
    DecodePairMarkers(text, a_.get(), cap_);
    if (options.removeBrackets) {
        StripAnnotations(a_.get(), b_.get(), cap_);
        DecodeByteMarkers(b_.get(), a_.get(), cap_);
    }
    return a_.get();
}

}  // namespace mirelo
