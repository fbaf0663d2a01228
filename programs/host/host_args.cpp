#include "host_args.h"

#include "arg_reader.h"
#include "code_pages.h"
#include "command_line.h"
#include "game_name.h"
#include "messages.h"

namespace host {
using namespace programs;
namespace {

bool IsAscii(const std::wstring& w) {
    for (wchar_t c : w)
        if (c >= 0x80) return false;
    return true;
}

// What the plug-in reads: two digits, or nothing for its own default. Anything else it
// would quietly take as the default.
bool IsOptionString(const std::wstring& s) {
    if (!s.empty() && s.size() != 2) return false;
    for (wchar_t c : s)
        if (c != L'0' && c != L'1') return false;
    return true;
}

std::string Ascii(const std::wstring& w) {
    return std::string(w.begin(), w.end());
}

// The options that take a value; false for any other name.
bool TakeValueOption(ArgReader& in, HostArgs& a) {
    const std::wstring& name = in.Name();
    if (name != L"--set-engine-folder" && name != L"--lang" && name != L"--plugin" &&
        name != L"--options" && name != L"--dest-size" && name != L"--input-encoding" &&
        name != L"--output-encoding" && name != L"--game")
        return false;
    const std::optional<std::wstring> v = in.Value();
    if (!v) return true;
    const std::wstring& value = *v;
    unsigned long n = 0;
    if (name == L"--set-engine-folder") {
        if (value.empty()) in.Fail(Format(Msg::kArgNeedsValue, {Ascii(name)}));
        a.setEngineFolder = true;
        a.engineFolder = value;
    } else if (name == L"--lang") {
        if (value != L"ko" && value != L"en") in.Fail(Text(Msg::kArgLang));
    } else if (name == L"--game") {
        std::string why;
        const std::optional<std::string> game =
            mirelo::games::CheckGameName(mirelo::WideToUtf8(value), &why);
        if (!game) in.Fail(Format(Msg::kArgGame, {why}));
        a.game = game.value_or(std::string());
    } else if (name == L"--plugin") {
        if (value.empty()) in.Fail(Text(Msg::kArgPluginPath));
        a.plugin = value;
    } else if (name == L"--options") {
        if (!IsOptionString(value)) in.Fail(Text(Msg::kArgOptions));
        a.options = Ascii(value);
    } else if (name == L"--dest-size") {
        if (ParseNumber(value, 1, kMaxDestSize, n))
            a.destSize = static_cast<int>(n);
        else
            in.Fail(Format(Msg::kArgDestSize, {std::to_string(kMaxDestSize)}));
    } else if (name == L"--input-encoding") {
        a.inputEncodingGiven = true;
        if (value == L"utf8" || value == L"utf-8")
            a.input = InputEncoding::Utf8;
        else if (value == L"sjis" || value == L"shift-jis")
            a.input = InputEncoding::ShiftJis;
        else
            in.Fail(Text(Msg::kArgInputEncoding));
    } else if (value == L"utf8" || value == L"utf-8") {
        a.output = OutputEncoding::Utf8;
    } else if (value == L"cp949") {
        a.output = OutputEncoding::Cp949;
    } else {
        in.Fail(Text(Msg::kArgOutputEncoding));
    }
    return true;
}

void TakeArgument(ArgReader& in, HostArgs& a) {
    const std::wstring& name = in.Name();
    auto flag = [&](bool& f) {
        if (in.Flag()) f = true;
    };
    if (name == L"--help" || name == L"-h") {
        flag(a.help);
    } else if (name == L"--version") {
        flag(a.version);
    } else if (name == L"--stats") {
        flag(a.stats);
    } else if (name == L"--dialog") {
        flag(a.dialog);
    } else if (name == L"--trace") {
        flag(a.trace);
    } else if (name == L"--check-dict") {
        a.checkDict = true;  // FOLDER inline or as the one plain argument
        if (in.HasInlineValue()) a.dictFolder = *in.InlineValue();
    } else if (name == L"--diagnose") {
        flag(a.diagnose);
    } else if (TakeValueOption(in, a)) {
    } else if (name.size() > 1 && name[0] == L'-') {
        in.Fail(Format(Msg::kArgUnknownOption,
                       {IsAscii(name) ? Ascii(name) : std::string("(non-ASCII)")}));
    } else if (a.inputGiven) {
        in.Fail(Text(Msg::kArgOneInput));
    } else {
        a.inputFile = in.Raw();
        a.inputGiven = true;
    }
}

}  // namespace

ParsedArgs ParseArgs(const std::vector<std::wstring>& given) {
    ParsedArgs r;
    HostArgs& a = r.args;
    const std::vector<std::wstring> argv = RepairStrayQuotes(given);
    ArgReader in(argv);
    while (in.Next()) TakeArgument(in, a);
    r.error = in.Error();
    if (!r.error.empty()) return r;
    if (a.checkDict && a.inputGiven) {
        if (!a.dictFolder.empty()) {
            r.error = Text(Msg::kArgOneFolder);
            return r;
        }
        a.dictFolder = a.inputFile;
        a.inputFile.clear();
        a.inputGiven = false;
    }
    return r;
}

const char* HelpText() {
    return Text(Msg::kHostHelp);
}

}  // namespace host
