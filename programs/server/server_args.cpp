#include "server_args.h"

#include <algorithm>
#include <iterator>
#include <optional>

#include "arg_reader.h"
#include "code_pages.h"
#include "game_name.h"
#include "messages.h"
#include "share.h"

using programs::Format;
using programs::Msg;
using programs::Text;

namespace server {
namespace {

using programs::ArgReader;
using programs::AsciiOf;
using programs::ParseNumber;

void TakeListen(const std::wstring& value, ServerArgs& a, ArgReader& in) {
    const std::string v = AsciiOf(value);
    const std::size_t colon = v.rfind(':');
    std::string host = colon == std::string::npos ? "" : v.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    unsigned long n = 0;
    if (host.empty() || !ParseNumber(value.substr(colon + 1), 1, 65535, n))
        in.Fail(Text(Msg::kServerArgListen));
    a.host = host;
    a.port = static_cast<unsigned short>(n);
    a.listenGiven = true;
}

// The options that take a value; false for any other name.
bool TakeValueOption(ArgReader& in, ServerArgs& a) {
    const std::wstring& name = in.Name();
    static const wchar_t* const kTakeValue[] = {
        L"--lang",  L"--port",    L"--listen",         L"--cors",       L"--plugin",  L"--options",
        L"--queue", L"--timeout", L"--translate-file", L"--out",        L"--workers", L"--log",
        L"--game",  L"--data",    L"--history-rows",   L"--history-mb", L"--format"};
    if (std::find(std::begin(kTakeValue), std::end(kTakeValue), name) == std::end(kTakeValue))
        return false;
    const std::optional<std::wstring> v = in.Value();
    if (!v) return true;
    const std::wstring& value = *v;
    unsigned long n = 0;
    if (name == L"--lang") {
        // Chosen before parsing (ChooseLanguage); here only checked.
        if (value != L"ko" && value != L"en") in.Fail(Text(Msg::kArgLang));
    } else if (name == L"--port") {
        if (!ParseNumber(value, 1, 65535, n)) in.Fail(Text(Msg::kServerArgPort));
        a.port = static_cast<unsigned short>(n);
    } else if (name == L"--listen") {
        TakeListen(value, a, in);
    } else if (name == L"--cors") {
        a.cors = AsciiOf(value);
        if (a.cors.empty() || a.cors.find_first_of("\r\n?") != std::string::npos)
            in.Fail(Text(Msg::kServerArgCors));
    } else if (name == L"--plugin") {
        a.plugin = value;
        if (a.plugin.empty()) in.Fail(Text(Msg::kArgPluginPath));
    } else if (name == L"--options") {
        a.options = AsciiOf(value);
        a.optionsGiven = true;
        if (value.size() > 15 || a.options.find('?') != std::string::npos)
            in.Fail(Text(Msg::kServerArgOptions));
    } else if (name == L"--queue") {
        if (!ParseNumber(value, 1, 1000000, n)) in.Fail(Text(Msg::kServerArgQueue));
        a.queue = n;
    } else if (name == L"--timeout") {
        if (!ParseNumber(value, 1, 3600, n)) in.Fail(Text(Msg::kServerArgTimeout));
        a.timeoutSeconds = static_cast<int>(n);
    } else if (name == L"--workers") {
        if (!ParseNumber(value, 1, kMaxWorkers, n)) in.Fail(Text(Msg::kServerArgWorkers));
        a.workers = static_cast<unsigned>(n);
    } else if (name == L"--game") {
        std::string why;
        const std::optional<std::string> game =
            mirelo::games::CheckGameName(mirelo::WideToUtf8(value), &why);
        if (!game) in.Fail(Format(Msg::kArgGame, {why}));
        a.game = game.value_or(std::string());
    } else if (name == L"--format") {
        a.shareFormat = AsciiOf(value);
        if (!FormatNamed(a.shareFormat)) in.Fail(Text(Msg::kServerArgShareFormatName));
    } else if (name == L"--data") {
        a.dataFolder = value;
        if (value.empty()) in.Fail(Text(Msg::kServerArgData));
    } else if (name == L"--history-rows") {
        if (!ParseNumber(value, 1, 100000000, n)) in.Fail(Text(Msg::kServerArgHistoryRows));
        a.historyRows = n;
    } else if (name == L"--history-mb") {
        if (!ParseNumber(value, 1, 1000000, n)) in.Fail(Text(Msg::kServerArgHistoryBytes));
        a.historyBytes = static_cast<uint64_t>(n) << 20;
    } else if (name == L"--log") {
        a.logFolder = value;
        if (value.empty()) in.Fail(Text(Msg::kServerArgLog));
    } else {
        (name == L"--out" ? a.outFile : a.translateFile) = value;
        if (value.empty()) in.Fail(Format(Msg::kArgNeedsValue, {AsciiOf(name)}));
    }
    return true;
}

// GAME FILE after --export or --import.
void TakeShare(ArgReader& in, ServerArgs& a) {
    const std::wstring option = in.Name();
    a.share = true;
    a.shareImport = option == L"--import";
    const std::optional<std::wstring> game = in.Value();
    if (!game) return;
    if (!in.Next() || in.Raw().empty() || in.Raw().rfind(L"--", 0) == 0)
        return in.Fail(Format(Msg::kServerArgShare, {AsciiOf(option)}));
    a.shareFile = in.Raw();
    const std::string name = mirelo::WideToUtf8(*game);
    std::string why;
    const std::optional<std::string> folded = mirelo::games::CheckGameName(name, &why);
    if (!folded) return in.Fail(Format(Msg::kServerArgShareGame, {name, why}));
    a.shareGame = *folded;
}

}  // namespace

ParsedServerArgs ParseServerArgs(const std::vector<std::wstring>& argv) {
    ParsedServerArgs r;
    ServerArgs& a = r.args;
    ArgReader in(argv);
    while (in.Next()) {
        const std::wstring& name = in.Name();
        if (name == L"--help" || name == L"-h") {
            a.help = in.Flag();
        } else if (name == L"--version") {
            a.version = in.Flag();
        } else if (name == L"--diagnose") {
            a.diagnose = in.Flag();
        } else if (name == L"--no-history") {
            a.noHistory = in.Flag();
        } else if (name == L"--export" || name == L"--import") {
            if (a.share) in.Fail(Format(Msg::kServerArgShare, {AsciiOf(name)}));
            TakeShare(in, a);
        } else if (!TakeValueOption(in, a)) {
            in.Fail(Format(Msg::kServerArgUnknown, {AsciiOf(in.Raw())}));
        }
    }
    r.error = in.Error();
    if (r.error.empty() && !a.outFile.empty() && a.translateFile.empty())
        r.error = Text(Msg::kServerArgOutAlone);
    return r;
}

std::string ServerHelpText() {
    return Format(Msg::kServerHelp, {std::to_string(kDefaultPort)});
}

}  // namespace server
