#include "dictionary_words.h"

#include "messages.h"

namespace programs {
namespace {

using mirelo::dict::Problem;
using mirelo::dict::ProblemKind;

Msg ReasonText(const Problem& p) {
    switch (p.kind) {
        case ProblemKind::kColumns:
            return p.args.size() == 1 && p.args[0] == "1" ? Msg::kDictOneColumn : Msg::kDictColumns;
        case ProblemKind::kUnknownKind:
            return Msg::kDictUnknownKind;
        case ProblemKind::kEmptyFrom:
            return Msg::kDictEmptyFrom;
        case ProblemKind::kEmptyNameTo:
            return Msg::kDictEmptyNameTo;
        case ProblemKind::kNoConversion:
            return Msg::kDictNoConversion;
        case ProblemKind::kNoForm:
            return Msg::kDictNoForm;
        case ProblemKind::kNotWritable:
            return Msg::kDictNotWritable;
        case ProblemKind::kTooLong:
            return Msg::kDictTooLong;
        case ProblemKind::kNotUtf8:
            return Msg::kDictNotUtf8;
        case ProblemKind::kNul:
            return Msg::kDictNul;
        case ProblemKind::kTooManyNames:
            return Msg::kDictTooManyNames;
        case ProblemKind::kLineEscape:
            return Msg::kDictLineEscape;
        case ProblemKind::kLineRepeated:
            return Msg::kDictLineRepeated;
        case ProblemKind::kFileTooLarge:
            return Msg::kDictFileTooLarge;
        case ProblemKind::kFileUtf16:
            return Msg::kDictFileUtf16;
        case ProblemKind::kFileCp949:
            return Msg::kDictFileCp949;
        case ProblemKind::kFileShiftJis:
            return Msg::kDictFileShiftJis;
        case ProblemKind::kCannotOpen:
            return Msg::kDictCannotOpen;
        case ProblemKind::kCannotRead:
            return Msg::kDictCannotRead;
        case ProblemKind::kPatternSyntax:
            return Msg::kDictPatternSyntax;
        case ProblemKind::kPatternTooLong:
            return Msg::kDictPatternTooLong;
        case ProblemKind::kPatternGroup:
            return Msg::kDictPatternGroup;
        case ProblemKind::kTooManyPatterns:
            return Msg::kDictTooManyPatterns;
        case ProblemKind::kOther:
            break;
    }
    return Msg::kCount;
}

}  // namespace

std::string DescribeReason(const Problem& p) {
    const Msg id = ReasonText(p);
    if (id == Msg::kCount) return p.reason;
    const auto arg = [&p](std::size_t i) -> std::string_view {
        return i < p.args.size() ? std::string_view(p.args[i]) : std::string_view();
    };
    return Format(id, {arg(0), arg(1), arg(2)});
}

std::string DescribeProblem(const Problem& p) {
    if (p.line == 0) return Format(Msg::kDictFileProblem, {p.file, DescribeReason(p)});
    return Format(Msg::kDictProblem, {p.file, std::to_string(p.line), DescribeReason(p)});
}

}  // namespace programs
