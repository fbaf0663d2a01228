#include "text_plan.h"

#include "hex.h"
#include "multibyte.h"

namespace server {
namespace {

bool Decode(std::string_view in, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (in[i] == '+') {
            out.push_back(' ');
        } else if (in[i] != '%') {
            out.push_back(in[i]);
        } else {
            if (in.size() - i < 3) return false;
            int hi = mirelo::text::HexDigitValue(in[i + 1]),
                lo = mirelo::text::HexDigitValue(in[i + 2]);
            if (hi < 0 || lo < 0) return false;
            out.push_back(static_cast<char>(hi * 16 + lo));
            i += 2;
        }
    }
    return true;
}

// The two-byte Shift-JIS forms of 。！？ and of the closing brackets 」』）.
bool IsSentenceEnd(std::string_view ch) {
    return ch == "!" || ch == "?" || ch == "\x81\x42" || ch == "\x81\x49" || ch == "\x81\x48";
}
bool IsClosing(std::string_view ch) {
    return ch == ")" || ch == "\x81\x76" || ch == "\x81\x78" || ch == "\x81\x6A";
}

}  // namespace

std::optional<std::string> QueryValue(std::string_view query, std::string_view name, bool& bad) {
    bad = false;
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        const std::size_t eq = pair.find('=');
        std::string key;
        if (!Decode(pair.substr(0, eq), key) || key != name) continue;
        std::string value;
        if (!Decode(eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1),
                    value)) {
            bad = true;
            return std::nullopt;
        }
        return value;
    }
    return std::nullopt;
}

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
