#include "batch.h"

#include <algorithm>

#include "text_codec.h"
#include "text_plan.h"
#include "filter_chain.h"

namespace server {

Batch::Batch(const std::vector<std::string>& texts) {
    for (const std::string& source : texts) {
        Text text{source, {}};
        for (const Line& line : SplitLines(source)) {
            ++m_lines;
            for (programs::TextRun& run : programs::SplitByShiftJis(std::string(line.text))) {
                if (run.keep || programs::IsBlank(run.text)) {
                    // Kept as the client sent it: Shift-JIS blanks are ASCII, as in UTF-8.
                    text.parts.push_back({kKept, std::move(run.text)});
                    continue;
                }
                for (std::string_view piece : SplitShiftJis(run.text, mirelo::kMaxSourceBytes)) {
                    text.parts.push_back({m_pieces.size(), {}});
                    m_pieces.push_back({std::string(piece), {}, Outcome::kTimedOut});
                }
            }
            if (!line.end.empty()) text.parts.push_back({kKept, std::string(line.end)});
        }
        m_texts.push_back(std::move(text));
    }
}

Batch::Result Batch::Get(std::size_t index) const {
    const Text& t = m_texts[index];
    Result r{Outcome::kTranslated, {}};
    for (const Part& p : t.parts) {
        if (p.piece == kKept) {
            r.text += p.kept;
            continue;
        }
        const Piece& piece = m_pieces[p.piece];
        r.outcome = std::max(r.outcome, piece.outcome);
        r.corrected = r.corrected || piece.corrected;
        r.text += piece.answer;
    }
    if (r.outcome != Outcome::kTranslated) {
        r.text = t.source;
        r.corrected = false;
    }
    return r;
}

}  // namespace server
