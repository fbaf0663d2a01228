// Internal to the filters: where a filter's bytes go, and the common entry checks.
#pragma once

#include <cstddef>
#include <cstring>

namespace mirelo::detail {

using Byte = unsigned char;

// Opens a two-byte unit: a high byte with a non-zero byte after it. `s[0]` must not be the
// terminator, so `s[1]` is readable.
inline bool IsPair(const Byte* s) {
    return s[0] >= 0x80 && s[1] != 0;
}

// Walks the n bytes at `s` (NUL-terminated) a unit at a time: `pair(lead, trail)` for each
// two-byte unit, `single(byte)` for every other byte.
template <class Pair, class Single>
inline void ForEachUnit(const Byte* s, size_t n, Pair&& pair, Single&& single) {
    for (size_t i = 0; i < n;) {
        if (IsPair(s + i)) {
            pair(s[i], s[i + 1]);
            i += 2;
        } else {
            single(s[i]);
            ++i;
        }
    }
}

// Used when the destination holds the worst case, so no write needs a check.
class DirectOut {
  public:
    explicit DirectOut(Byte* d) : begin_(d), p_(d) {}
    void Put(Byte c) { *p_++ = c; }
    void Put2(Byte a, Byte b) {
        p_[0] = a;
        p_[1] = b;
        p_ += 2;
    }
    void Copy(const void* s, size_t k) {
        std::memcpy(p_, s, k);
        p_ += k;
    }
    size_t Size() const { return static_cast<size_t>(p_ - begin_); }
    Byte Last() const { return p_[-1]; }
    void TakeBack() { --p_; }
    size_t Finish() {
        *p_ = 0;
        return Size();
    }

  private:
    Byte* begin_;
    Byte* p_;
};

// Used when the result may not fit: keeps the first cap-1 bytes, counts all of them.
class BoundedOut {
  public:
    BoundedOut(Byte* d, size_t cap) : d_(d), lim_(cap - 1) {}
    void Put(Byte c) {
        if (o_ < lim_) d_[o_] = c;
        ++o_;
        last_ = c;
    }
    void Put2(Byte a, Byte b) {
        Put(a);
        Put(b);
    }
    void Copy(const void* s, size_t k) {
        if (k == 0) return;
        if (o_ < lim_) std::memcpy(d_ + o_, s, k < lim_ - o_ ? k : lim_ - o_);
        o_ += k;
        last_ = static_cast<const Byte*>(s)[k - 1];
    }
    size_t Size() const { return o_; }
    // Valid right after a write, which is the only place a filter asks.
    Byte Last() const { return last_; }
    void TakeBack() { --o_; }
    size_t Finish() {
        d_[o_ < lim_ ? o_ : lim_] = 0;
        return o_;
    }

  private:
    Byte* d_;
    size_t lim_;
    size_t o_ = 0;
    Byte last_ = 0;
};

// Shared entry of every writing filter. `worst(n)` bounds the result of an n-byte source,
// terminator included; `body(s, n, out)` writes the result without the terminator.
template <class Worst, class Body>
size_t RunFilter(const char* src, char* dst, size_t cap, Worst worst, Body body) {
    if (src == nullptr || dst == nullptr || cap == 0) return 0;
    const Byte* s = reinterpret_cast<const Byte*>(src);
    Byte* d = reinterpret_cast<Byte*>(dst);
    const size_t n = std::strlen(src);
    if (n == 0) {
        d[0] = 0;
        return 0;
    }
    if (worst(n) <= cap) {
        DirectOut out(d);
        body(s, n, out);
        return out.Finish();
    }
    BoundedOut out(d, cap);
    body(s, n, out);
    return out.Finish();
}

}  // namespace mirelo::detail
