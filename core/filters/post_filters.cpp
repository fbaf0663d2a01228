#include "post_filters.h"

#include <array>

#include "filter_output.h"
#include "markers.h"

namespace mirelo {

using detail::Byte;

namespace {

enum : Byte { kPlain, kHigh, kActs };

// kActs: the terminator and the ASCII bytes StripAnnotations acts on.
constexpr std::array<Byte, 256> MakeStripRoles() {
    std::array<Byte, 256> roles{};
    for (unsigned c = 0x80; c < 256; ++c) roles[c] = kHigh;
    for (Byte c : {'\0', '(', '{', '[', '<', ':'}) roles[c] = kActs;
    return roles;
}

constexpr auto kStripRole = MakeStripRoles();

// kActs: the terminator and the space.
constexpr std::array<Byte, 256> MakeTidyRoles() {
    std::array<Byte, 256> roles{};
    for (unsigned c = 0x80; c < 256; ++c) roles[c] = kHigh;
    roles[0] = roles[' '] = kActs;
    return roles;
}

constexpr auto kTidyRole = MakeTidyRoles();

bool IsCornerBracket(Byte a, Byte b) {
    return a == 0xA1 && b >= 0xB8 && b <= 0xBB;
}

// The walk both filters make, by units: plain bytes and two-byte units are copied, and a
// lead byte right before the terminator is copied last. A unit led by 0xA1 goes to
// `a1(t, next, out)` (t its second byte, next past it), a byte whose role is kActs other than
// the terminator to `act(c, at, out)`; each answers where the walk goes on, null to stop.
template <const std::array<Byte, 256>& kRole, class Out, class A1, class Act>
void WalkUnits(const Byte* s, Out& out, A1 a1, Act act) {
    for (;;) {
        const Byte c = *s;
        const Byte role = kRole[c];
        if (role == kPlain) {
            out.Put(c);
            ++s;
            continue;
        }
        if (role == kHigh) {
            const Byte t = s[1];
            if ((t != 0) & (c != 0xA1)) {
                out.Put2(c, t);
                s += 2;
                continue;
            }
            if (t == 0) {
                out.Put(c);
                return;
            }
            s = a1(t, s + 2, out);
            continue;
        }
        if (c == 0) return;
        s = act(c, s, out);
        if (s == nullptr) return;
    }
}

}  // namespace

size_t TidySpaces(const char* src, char* dst, size_t cap) {
    return detail::RunFilter(src, dst, cap, DecodedCapacity, [](const Byte* s, size_t, auto& out) {
        WalkUnits<kTidyRole>(
            s, out,
            [](Byte t, const Byte* next, auto& o) {
                if (!IsCornerBracket(0xA1, t)) {
                    o.Put2(0xA1, t);
                    return next;
                }
                // It takes back a space written right before it (a plain byte test) and steps
                // over one space after it.
                if (o.Size() > 0 && o.Last() == ' ') o.TakeBack();
                o.Put2(0xA1, t);
                return *next == ' ' ? next + 1 : next;
            },
            [](Byte c, const Byte* at, auto& o) {
                // A space: the next byte is at worst the terminator.
                if (at[1] != ' ' && at[1] != ',') o.Put(c);
                return at + 1;
            });
    });
}

size_t StripAnnotations(const char* src, char* dst, size_t cap) {
    return detail::RunFilter(src, dst, cap, DecodedCapacity, [](const Byte* s, size_t, auto& out) {
        WalkUnits<kStripRole>(
            s, out,
            [](Byte t, const Byte* next, auto& o) {
                if (t == 0xA1) {
                    o.Put(' ');  // the ideographic space
                } else {
                    o.Put2(0xA1, t);
                }
                return next;
            },
            [](Byte c, const Byte* at, auto&) -> const Byte* {
                const Byte* p = at + 1;
                if (c == ':') return p;
                const Byte close1 = c == '(' ? ')' : c == '{' ? '}' : c == '[' ? ']' : '>';
                const Byte close2 = c == '<' ? ')' : close1;
                for (;;) {
                    const Byte b = *p;
                    if (b == close1 || b == close2) break;
                    if (b == 0) return nullptr;  // an unclosed group takes the rest
                    if (b >= 0x80) {
                        if (p[1] == 0) return nullptr;
                        ++p;
                    }
                    ++p;
                }
                ++p;
                return *p == ' ' ? p + 1 : p;
            });
    });
}

}  // namespace mirelo
