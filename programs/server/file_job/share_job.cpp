// mirelo-server --export GAME FILE and --import GAME FILE: a game's pack written or read on the
// main thread, before any server starts.
#include "share_job.h"

#include <windows.h>

#include <fstream>
#include <iterator>
#include <memory>

#include "code_pages.h"
#include "corrections.h"
#include "exit_codes.h"
#include "file_replace.h"
#include "history.h"
#include "messages.h"
#include "share.h"
#include "text_output.h"

namespace server {
namespace {

using programs::Err;
using programs::Format;
using programs::Msg;
using programs::Out;

constexpr std::size_t kSkippedShown = 10;

bool ReadFileBytes(const std::filesystem::path& file, std::string& bytes, std::string& why) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        why = Format(Msg::kShareCannotRead,
                     {mirelo::WideToUtf8(file.wstring()), programs::SystemMessage(GetLastError())});
        return false;
    }
    std::error_code ec;
    const auto size = std::filesystem::file_size(file, ec);
    if (!ec && size > kMaxImportBytes) {
        why = Format(Msg::kShareTooLarge,
                     {mirelo::WideToUtf8(file.wstring()), std::to_string(kMaxImportBytes >> 20)});
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (bytes.size() > kMaxImportBytes) {
        why = Format(Msg::kShareTooLarge,
                     {mirelo::WideToUtf8(file.wstring()), std::to_string(kMaxImportBytes >> 20)});
        return false;
    }
    return true;
}

int Import(const ShareJob& args, const std::string& game, ShareFormat format,
           const std::filesystem::path& dictionaryFolder) {
    const std::filesystem::path file(args.file);
    const std::string name = mirelo::WideToUtf8(args.file);
    std::string bytes, why;
    if (!ReadFileBytes(file, bytes, why)) {
        Err().Write("mirelo-server: " + why + "\n");
        return kExitShare;
    }
    const SharedEntries read = ReadShared(format, bytes);
    if (!read.readable) {
        Err().Write("mirelo-server: " +
                    Format(format == ShareFormat::kXUnity || format == ShareFormat::kTsv
                               ? Msg::kShareNotText
                               : Msg::kShareNotJson,
                           {name}) +
                    "\n");
        return kExitShare;
    }
    for (std::size_t i = 0; i < read.skipped.size() && i < kSkippedShown; ++i)
        Err().Write("mirelo-server: " + Format(Msg::kShareSkipped, {name, read.skipped[i]}) + "\n");
    if (read.skipped.size() > kSkippedShown)
        Err().Write(
            "mirelo-server: " +
            Format(Msg::kShareSkippedMore, {std::to_string(read.skipped.size() - kSkippedShown)}) +
            "\n");
    if (read.expressions > 0)
        Err().Write("mirelo-server: " +
                    Format(Msg::kShareRegexCount, {name, std::to_string(read.expressions)}) + "\n");
    if (read.entries.empty()) {
        Err().Write("mirelo-server: " + Format(Msg::kShareNothing, {name}) + "\n");
        return kExitShare;
    }
    if (!SaveCorrections(dictionaryFolder, game, read.entries, &why)) {
        Err().Write("mirelo-server: " + why + "\n");
        return kExitShare;
    }
    Out().Write("mirelo-server: " +
                Format(Msg::kShareImported,
                       {std::to_string(read.entries.size()),
                        mirelo::WideToUtf8(CorrectionsFile(dictionaryFolder, game).wstring())}) +
                "\n");
    return kExitOk;
}

int Export(const ShareJob& args, const std::string& game, ShareFormat format,
           const std::filesystem::path& dictionaryFolder, const std::filesystem::path& dataFolder) {
    const std::filesystem::path database = dataFolder / kHistoryFileName;
    std::unique_ptr<History> history;
    std::error_code ec;
    if (std::filesystem::exists(database, ec)) {
        std::string why;
        history = History::OpenToRead(database, &why);
        if (!history)
            Err().Write(
                "mirelo-server: " +
                Format(Msg::kShareNoHistory, {mirelo::WideToUtf8(database.wstring()), why}) + "\n");
    }
    std::size_t corrections = 0;
    std::string unread;
    const Pairs entries =
        ExportEntries(dictionaryFolder, game, history.get(), &corrections, &unread);
    if (!unread.empty()) {
        Err().Write("mirelo-server: " + Format(Msg::kHistoryReadFailed, {unread}) + "\n");
        return kExitShare;
    }
    const std::string bytes =
        format == ShareFormat::kLuna ? LunaText(entries, corrections) : ShareText(format, entries);
    const std::wstring target = args.file;
    if (const DWORD code = mirelo::ReplaceFileWith(target, bytes)) {
        Err().Write("mirelo-server: " +
                    Format(Msg::kShareCannotWrite,
                           {mirelo::WideToUtf8(target), programs::SystemMessage(code)}) +
                    "\n");
        return kExitShare;
    }
    Out().Write("mirelo-server: " +
                Format(Msg::kShareExported,
                       {std::to_string(corrections), std::to_string(entries.size() - corrections),
                        mirelo::WideToUtf8(target)}) +
                "\n");
    return kExitOk;
}

}  // namespace

int RunShare(const ShareJob& args, const std::filesystem::path& dictionaryFolder,
             const std::filesystem::path& dataFolder) {
    const std::optional<ShareFormat> format =
        args.format.empty() ? FormatOfPath(args.file) : FormatNamed(args.format);
    if (!format) {
        Err().Write("mirelo-server: " +
                    Format(Msg::kServerArgShareFormat, {mirelo::WideToUtf8(args.file)}) + "\n");
        return kExitUsage;
    }
    return args.import ? Import(args, args.game, *format, dictionaryFolder)
                       : Export(args, args.game, *format, dictionaryFolder, dataFolder);
}

}  // namespace server
