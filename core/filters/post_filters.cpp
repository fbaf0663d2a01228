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

}  // namespace

size_t TidySpaces(const char* src, char* dst, size_t cap) {
    return detail::RunFilter(src, dst, cap, DecodedCapacity, [](const Byte* s, size_t, auto& out) {
        for (;;) {
            const Byte c = *s;
            const Byte role = kTidyRole[c];
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
                s += 2;
                if (!IsCornerBracket(c, t)) {
                    out.Put2(c, t);
                    continue;
                }
                // It takes back a space written right before it (a plain byte test) and steps
                // over one space after it.
                if (out.Size() > 0 && out.Last() == ' ') out.TakeBack();
                out.Put2(c, t);
                if (*s == ' ') ++s;
                continue;
            }
            if (c == 0) return;
            // A space: the next byte is at worst the terminator.
            if (s[1] != ' ' && s[1] != ',') out.Put(c);
            ++s;
        }
    });
}

size_t StripAnnotations(const char* src, char* dst, size_t cap) {
    return detail::RunFilter(src, dst, cap, DecodedCapacity, [](const Byte* s, size_t, auto& out) {
        for (;;) {
            const Byte c = *s;
            const Byte role = kStripRole[c];
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
                if (t == 0xA1) {
                    out.Put(' ');  // the ideographic space
                } else {
                    out.Put2(c, t);
                }
                s += 2;
                continue;
            }
            if (c == 0) return;
            ++s;
            if (c == ':') continue;
            const Byte close1 = c == '(' ? ')' : c == '{' ? '}' : c == '[' ? ']' : '>';
            const Byte close2 = c == '<' ? ')' : close1;
            for (;;) {
                const Byte b = *s;
                if (b == close1 || b == close2) break;
                if (b == 0) return;  // an unclosed group takes the rest
                if (b >= 0x80) {
                    if (s[1] == 0) return;
                    ++s;
                }
                ++s;
            }
            ++s;
            if (*s == ' ') ++s;
        }
    });
}

}  // namespace mirelo
