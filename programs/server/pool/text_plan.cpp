#include "text_plan.h"

#include "hex.h"
#include "multibyte.h"

namespace server {
namespace {

// The two-byte Shift-JIS forms of 。！？ and of the closing brackets 」』）.
bool IsSentenceEnd(std::string_view ch) {
    return ch == "!" || ch == "?" || ch == "\x81\x42" || ch == "\x81\x49" || ch == "\x81\x48";
}
bool IsClosing(std::string_view ch) {
    return ch == ")" || ch == "\x81\x76" || ch == "\x81\x78" || ch == "\x81\x6A";
}

}  // namespace

std::vector<std::string_view> SplitShiftJis(std::string_view sjis, std::size_t limit) {
    std::vector<std::string_view> pieces;
    while (sjis.size() > limit) {
        std::size_t boundary = 0;  // last character boundary within the limit
        std::size_t sentence = 0;  // last sentence end within the limit
        bool inSentenceEnd = false;
        for (std::size_t i = 0; i < sjis.size();) {
            const std::size_t n =
                mirelo::text::IsShiftJisLead(static_cast<unsigned char>(sjis[i])) &&
                        i + 1 < sjis.size()
                    ? 2
                    : 1;
            if (i + n > limit) break;
            const std::string_view ch = sjis.substr(i, n);
            i += n;
            boundary = i;
            if (IsSentenceEnd(ch) || (inSentenceEnd && IsClosing(ch))) {
                inSentenceEnd = true;
                sentence = i;
            } else {
                inSentenceEnd = false;
            }
        }
        const std::size_t cut = sentence ? sentence : boundary;
        pieces.push_back(sjis.substr(0, cut));
        sjis.remove_prefix(cut);
    }
    if (!sjis.empty()) pieces.push_back(sjis);
    return pieces;
}

}  // namespace server
