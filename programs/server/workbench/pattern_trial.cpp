// Entries tried before they are saved: see pattern_trial.h.
#include "pattern_trial.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "code_pages.h"
#include "dictionary_folder_win.h"
#include "dictionary_words.h"
#include "korean.h"
#include "messages.h"
#include "text_codec.h"
#include "workbench_replies.h"

namespace server {

using namespace replies;

std::string PreviewParticles(std::string_view sample, const std::string& name) {
    const mirelo::dict::Final final = mirelo::dict::FinalOfUtf8(name);
    std::string out;
    for (;;) {
        const std::size_t at = sample.find("{}");
        out += sample.substr(0, at);
        if (at == std::string_view::npos) return out;
        out += name;
        sample.remove_prefix(at + 2);
        // Particles are Hangul: two bytes each in CP949, three in UTF-8.
        const std::string rest =
            mirelo::EncodeLossy(949, sample.substr(0, std::min<std::size_t>(sample.size(), 24)));
        std::string_view agreeing;
        const std::size_t n = mirelo::dict::MatchParticle(
            reinterpret_cast<const mirelo::dict::Byte*>(rest.c_str()), final, agreeing);
        if (n == 0) continue;
        out += programs::Cp949ToUtf8(std::string(agreeing));
        sample.remove_prefix(std::min(sample.size(), n / 2 * 3));
    }
}

// A pattern entry tried on a sample line before it is saved, as the plug-in would run it: the
// line it gives and what it replaced, or why the plug-in would leave it out (its problems, or
// for this line, a search past the step budget or a result too long).
WebAnswer TryPattern(std::string_view query) {
    using mirelo::dict::Dictionary;
    const std::string kind = Param(query, "kind");
    if (kind != "pre-re" && kind != "post-re") return Problem(400, "kind is pre-re or post-re");
    const std::string from = Param(query, "from"), to = Param(query, "to");
    const std::string sample = Param(query, "sample");
    if ((from + to + sample).find_first_of("\t\r\n") != std::string::npos)
        return Problem(400, "an entry and its sample line hold no tab or line break");
    const std::string file = kind + "\t" + from + "\t" + to + "\n";
    const mirelo::dict::SourceFile source{"", file};
    std::vector<mirelo::dict::Problem> problems;
    const auto d = Dictionary::Compile({&source, 1}, mirelo::dict::SystemEncoders(), &problems);
    if (!d) return Problem(503, "out of memory");
    Json words = Json::array();
    for (const mirelo::dict::Problem& p : problems) words.push_back(programs::DescribeReason(p));
    if (!problems.empty()) return JsonReply({{"problems", words}});
    const bool pre = kind == "pre-re";
    const UINT codePage = pre ? 932 : 949;
    std::string text;
    if (!mirelo::EncodeExactly(codePage, sample, text))
        return Problem(400, pre ? "the sample cannot be written in Shift-JIS"
                                : "the sample cannot be written in CP949");
    std::string buffer;
    std::vector<mirelo::dict::Firing> fired;
    const char* out = mirelo::dict::RunPass(
        *d, pre ? &Dictionary::ApplyPreRe : &Dictionary::ApplyPostRe, text.c_str(), buffer, &fired);
    Json replaced = Json::array();
    std::string skipped;
    for (const mirelo::dict::Firing& f : fired) {
        if (f.what == mirelo::dict::FiringKind::kOverBudget) skipped = "steps";
        if (f.what == mirelo::dict::FiringKind::kTooLong) skipped = "too_long";
        for (std::size_t i = 0; i + 1 < f.replaced.size(); i += 2)
            replaced.push_back({f.replaced[i], f.replaced[i + 1]});
    }
    return JsonReply({{"line", mirelo::WideToUtf8(mirelo::CodePageToWide(codePage, out))},
                      {"replaced", replaced},
                      {"skipped", skipped},
                      {"problems", words}});
}

}  // namespace server
