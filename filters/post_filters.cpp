#include "post_filters.h"

#include "filter_output.h"
#include "markers.h"

namespace mirelo {

using detail::Byte;

namespace {

bool IsCornerBracket(Byte a, Byte b) {
    return a == 0xA1 && b >= 0xB8 && b <= 0xBB;
}

}  // namespace

size_t TidySpaces(const char* src, char* dst, size_t cap) {
    return detail::RunFilter(src, dst, cap, DecodedCapacity,
                             [](const Byte* s, size_t n, auto& out) {
                                 size_t i = 0;
                                 while (i < n) {
                                     const Byte c = s[i];
                                     if (detail::IsPair(s + i)) {
                                         const Byte t = s[i + 1];
                                         i += 2;
                                         if (!IsCornerBracket(c, t)) {
                                             out.Put2(c, t);
                                             continue;
                                         }
                                         if (out.Size() > 0 && out.Last() == ' ') out.TakeBack();
                                         out.Put2(c, t);
                                         if (s[i] == ' ') ++i;
                                     } else {
                                         // s[i + 1] is at worst the terminator.
                                         if (c != ' ' || (s[i + 1] != ' ' && s[i + 1] != ','))
                                             out.Put(c);
                                         ++i;
                                     }
                                 }
                             });
}

size_t StripAnnotations(const char* src, char* dst, size_t cap) {
    return detail::RunFilter(src, dst, cap, DecodedCapacity,
                             [](const Byte* s, size_t n, auto& out) {
                                 size_t i = 0;
                                 while (i < n) {
                                     const Byte c = s[i];
                                     if (detail::IsPair(s + i)) {
                                         const Byte t = s[i + 1];
                                         if (c == 0xA1 && t == 0xA1) {
                                             out.Put(' ');
                                         } else {
                                             out.Put2(c, t);
                                         }
                                         i += 2;
                                         continue;
                                     }
                                     Byte close1, close2;
                                     switch (c) {
                                         case '(':
                                             close1 = close2 = ')';
                                             break;
                                         case '{':
                                             close1 = close2 = '}';
                                             break;
                                         case '[':
                                             close1 = close2 = ']';
                                             break;
                                         case '<':
                                             close1 = '>', close2 = ')';
                                             break;
                                         case ':':
                                             ++i;
                                             continue;
                                         default:
                                             out.Put(c);
                                             ++i;
                                             continue;
                                     }
                                     ++i;
                                     while (i < n && s[i] != close1 && s[i] != close2)
                                         i += detail::IsPair(s + i) ? 2 : 1;
                                     if (i == n) return;  // an unclosed group takes the rest
                                     ++i;
                                     if (s[i] == ' ') ++i;
                                 }
                             });
}

}  // namespace mirelo
