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
    std::unique_ptr<char[]> a(new (std::nothrow) char[bytes]);
    std::unique_ptr<char[]> b(new (std::nothrow) char[bytes]);
    if (!a || !b) return false;
    a_ = std::move(a);
    b_ = std::move(b);
    cap_ = bytes;
    return true;
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
    if (cap_ == 0) return kEmpty;
    if (source == nullptr) source = kEmpty;
    if (Holds(a_.get(), source) || Holds(b_.get(), source)) {
        source = Settle(source, options.removeBrackets ? b_.get() : a_.get(), std::strlen(source));
    }
    const char* text = source;
    if (options.removeBrackets) {
        EscapeBrackets(text, a_.get(), cap_);
        text = a_.get();
    }
    EscapeSymbols(text, b_.get(), cap_);
    return b_.get();
}

const char* FilterChain::Finish(const char* engineOutput, ChainOptions options) {
    if (engineOutput == nullptr) engineOutput = kEmpty;
    const size_t length = std::strlen(engineOutput);
    // Growing cannot drop an echoed input: a text inside a buffer is shorter than the buffer.
    Reserve(DecodedCapacity(length));
    if (cap_ == 0) return kEmpty;
    const char* text = Settle(engineOutput, options.removeDupSpaces ? a_.get() : b_.get(), length);
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
