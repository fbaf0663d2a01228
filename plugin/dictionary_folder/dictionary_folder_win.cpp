#include "dictionary_folder_win.h"

#include <algorithm>
#include <cwchar>
#include <new>
#include <optional>
#include <stdexcept>

#include "code_pages.h"
#include "game_name.h"
#include "handles.h"
#include "module_path.h"

namespace mirelo::dict {
namespace {

bool IsDictionaryName(const wchar_t* name) {
    const size_t n = std::wcslen(name);
    if (n < 4) return false;
    const wchar_t* ext = name + n - 4;
    return ext[0] == L'.' && (ext[1] | 0x20) == L't' && (ext[2] | 0x20) == L'x' &&
           (ext[3] | 0x20) == L't';
}

uint64_t Join(uint32_t high, uint32_t low) {
    return static_cast<uint64_t>(high) << 32 | low;
}

// The folders read for a game, each with the prefix its files' names get.
std::vector<std::pair<std::wstring, std::wstring>> FoldersOf(const std::wstring& folder,
                                                             const std::wstring& game) {
    std::vector<std::pair<std::wstring, std::wstring>> out{{folder, {}}};
    if (!game.empty()) out.emplace_back(folder + L"\\" + game, game + L"\\");
    return out;
}

// Calls `each(findData)` for every dictionary file; false when the folder cannot be listed.
template <class Each>
bool ForEachFile(const std::wstring& folder, Each each) {
    WIN32_FIND_DATAW fd;
    const UniqueFind find(FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &fd,
                                           FindExSearchNameMatch, nullptr, 0));
    if (!find) return false;
    do {
        if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && IsDictionaryName(fd.cFileName))
            each(fd);
    } while (FindNextFileW(find.get(), &fd));
    return true;
}

// A file's part of a folder signature: FNV-1a over its name, size and last-write time.
uint64_t FileHash(const wchar_t* name, size_t length, uint64_t size, uint64_t lastWrite) {
    uint64_t h = 0xCBF29CE484222325ull;
    auto mix = [&](const void* p, size_t n) {
        for (size_t k = 0; k < n; ++k) {
            h ^= static_cast<const unsigned char*>(p)[k];
            h *= 0x100000001B3ull;
        }
    };
    mix(name, length * sizeof(wchar_t));
    mix(&size, sizeof size);
    mix(&lastWrite, sizeof lastWrite);
    return h;
}

// The whole file, or a reason why not (file and line left for the caller). `same` tells
// whether, once read, it still had the size and last-write time it was listed with; a file
// that cannot be read counts as the same, since whatever becomes of it changes the folder's
// signature.
bool ReadWhole(const FolderFile& listed, std::string& bytes, Problem& why, bool& same) {
    same = true;
    const std::wstring& path = listed.path;
    const auto failed = [&why](const char* what, ProblemKind kind) {
        const std::string code = std::to_string(GetLastError());
        why.reason = std::string(what) + " (error " + code + ")";
        why.kind = kind;
        why.args = {code};
        return false;
    };
    const UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return failed("cannot be opened", ProblemKind::kCannotOpen);
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size))
        return failed("cannot be read", ProblemKind::kCannotRead);
    if (static_cast<uint64_t>(size.QuadPart) > kMaxFileBytes) {
        why.reason = "file is larger than 16 MiB; skipped whole";
        why.kind = ProblemKind::kFileTooLarge;
        return false;
    }
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    if (!bytes.empty() &&
        !ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr))
        return failed("cannot be read", ProblemKind::kCannotRead);
    bytes.resize(got);  // a file cut short meanwhile is read as it is now
    BY_HANDLE_FILE_INFORMATION info;
    same = GetFileInformationByHandle(file.get(), &info) &&
           Join(info.nFileSizeHigh, info.nFileSizeLow) == listed.size && got == listed.size &&
           Join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime) ==
               listed.lastWrite;
    return true;
}

// A load that failed whole: no dictionary, and the reason as a problem of the folder itself,
// where the file-level problems are shown.
void Unread(const std::wstring& folder, const std::exception& e, FolderDictionary& result) {
    result.dictionary.reset();
    try {
        Problem why;
        why.file = WideToUtf8(folder);
        const bool memory = dynamic_cast<const std::bad_alloc*>(&e) != nullptr;
        why.reason =
            std::string("the folder could not be read: ") + (memory ? "out of memory" : e.what());
        result.problems.push_back(std::move(why));
    } catch (...) {
        // No memory even for the reason: what was found so far is all there is.
    }
}

}  // namespace

std::wstring GameFromEnvironment() {
    wchar_t value[256];
    const DWORD n = GetEnvironmentVariableW(kGameVariable, value, 256);
    if (n == 0 || n >= 256) return {};
    const std::optional<std::string> folded =
        mirelo::games::CheckGameName(WideToUtf8(std::wstring_view(value, n)));
    return folded ? Utf8ToWide(*folded) : std::wstring();
}

std::wstring FolderBeside(const std::wstring& modulePath) {
    const size_t slash = modulePath.find_last_of(L"\\/");
    const std::wstring dir = slash == std::wstring::npos ? L"." : modulePath.substr(0, slash);
    return dir + L"\\MireloDict";
}

std::wstring FolderBesideModule(HMODULE module) {
    const std::wstring path = mirelo::ModulePath(module);
    return path.empty() ? std::wstring() : FolderBeside(path);
}

std::vector<FolderFile> ListFolder(const std::wstring& folder, const std::wstring& game) {
    std::vector<FolderFile> files;
    for (const auto& [dir, prefix] : FoldersOf(folder, game)) {
        const size_t first = files.size();
        ForEachFile(dir, [&](const WIN32_FIND_DATAW& fd) {
            files.push_back(
                {dir + L"\\" + fd.cFileName, WideToUtf8(prefix + fd.cFileName),
                 Join(fd.nFileSizeHigh, fd.nFileSizeLow),
                 Join(fd.ftLastWriteTime.dwHighDateTime, fd.ftLastWriteTime.dwLowDateTime)});
        });
        std::sort(files.begin() + static_cast<std::ptrdiff_t>(first), files.end(),
                  [](const FolderFile& a, const FolderFile& b) { return a.name < b.name; });
    }
    return files;
}

std::vector<std::wstring> GameFolders(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    const UniqueFind find(FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &fd,
                                           FindExSearchLimitToDirectories, nullptr, 0));
    if (!find) return names;
    do {
        if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && std::wcscmp(fd.cFileName, L".") &&
            std::wcscmp(fd.cFileName, L".."))
            names.emplace_back(fd.cFileName);
    } while (FindNextFileW(find.get(), &fd));
    return names;
}

uint64_t FolderSignature(const std::wstring& folder, const std::wstring& game) {
    // Order-independent, so the listing need not be sorted: a sum of per-file hashes.
    uint64_t sum = 0;
    for (const auto& [dir, prefix] : FoldersOf(folder, game)) {
        ForEachFile(dir, [&](const WIN32_FIND_DATAW& fd) {
            const std::wstring name = prefix + fd.cFileName;
            sum +=
                FileHash(name.c_str(), name.size(), Join(fd.nFileSizeHigh, fd.nFileSizeLow),
                         Join(fd.ftLastWriteTime.dwHighDateTime, fd.ftLastWriteTime.dwLowDateTime));
        });
    }
    return sum;
}

// Bytes that are no character of the code page fail, rather than reading as U+30FB.
bool DecodeExactly(UINT codePage, std::string_view bytes, std::string& utf8) {
    if (!IsValidInCodePage(codePage, bytes)) return false;
    utf8 = WideToUtf8(CodePageToWide(codePage, bytes));
    return true;
}

const TextEncoders& SystemEncoders() {
    static const TextEncoders encoders{[](std::string_view utf8, std::string& out) {
                                           return EncodeExactly(kShiftJisCodePage, utf8, out);
                                       },
                                       [](std::string_view utf8, std::string& out) {
                                           return EncodeExactly(kCp949CodePage, utf8, out);
                                       },
                                       [](std::string_view bytes, std::string& utf8) {
                                           return DecodeExactly(kShiftJisCodePage, bytes, utf8);
                                       },
                                       [](std::string_view bytes, std::string& utf8) {
                                           return DecodeExactly(kCp949CodePage, bytes, utf8);
                                       }};
    return encoders;
}

FolderDictionary LoadFolder(const std::wstring& folder, const CompileOptions& options,
                            const std::wstring& game) {
    FolderDictionary result;
    try {
        const std::vector<FolderFile> listed = ListFolder(folder, game);
        result.files = listed.size();
        // All files are read before any is compiled, so that the time a save could slip in
        // between is short; then each goes as soon as the compiler has taken its lines.
        std::vector<std::string> contents(listed.size());
        std::vector<bool> readable(listed.size());
        for (size_t k = 0; k < listed.size(); ++k) {
            const FolderFile& f = listed[k];
            result.signature += FileHash(f.path.c_str() + folder.size() + 1,
                                         f.path.size() - folder.size() - 1, f.size, f.lastWrite);
            Problem why;
            bool same = true;
            readable[k] = ReadWhole(f, contents[k], why, same);
            if (!readable[k]) {
                why.file = f.name;
                result.problems.push_back(std::move(why));
            }
            if (!same) result.settled = false;
        }
        if (listed.empty()) return result;
        Compiler compiler(SystemEncoders(), &result.problems, options);
        for (size_t k = 0; k < listed.size(); ++k) {
            if (!readable[k]) continue;
            if (!compiler.Add({listed[k].name, contents[k]})) break;  // stopped, out of memory
            std::string().swap(contents[k]);
        }
        result.dictionary = compiler.Finish();
        if (!game.empty()) {
            const std::string inGame = WideToUtf8(game + L"\\");
            const auto isGames = [&](const std::string& file) {
                return file.compare(0, inGame.size(), inGame) == 0;
            };
            std::erase_if(result.problems, [&](const Problem& p) {
                return p.kind == ProblemKind::kLineRepeated && !p.args.empty() &&
                       !isGames(p.file) && isGames(p.args[0]);
            });
        }
        // Files that could not be read were reported before the others' lines; the common
        // folder's problems come before the game's.
        std::stable_sort(result.problems.begin(), result.problems.end(),
                         [](const Problem& a, const Problem& b) {
                             const bool aGame = a.file.find('\\') != std::string::npos;
                             const bool bGame = b.file.find('\\') != std::string::npos;
                             return aGame != bGame ? bGame : a.file < b.file;
                         });
    } catch (const std::exception& e) {
        Unread(folder, e, result);
    } catch (...) {
        Unread(folder, std::runtime_error("unknown error"), result);
    }
    return result;
}

bool FolderWatch::Due(uint64_t nowMs) {
    if (!loaded_) return true;
    uint64_t signature;
    try {
        signature = FolderSignature(folder_, game_);
    } catch (...) {
        return false;  // no memory for the folder's pattern: look again later
    }
    if (!stale_ && signature == signature_) {
        changing_ = false;
        return false;
    }
    if (!changing_ || signature != changedTo_) {
        changing_ = true;
        changedTo_ = signature;
        changedAt_ = nowMs;
    }
    return nowMs - changedAt_ >= quietMs_;
}

uint32_t FolderWatch::WaitMs(uint64_t nowMs) const {
    if (!loaded_) return 0;
    if (!changing_) return intervalMs_;
    const uint64_t settles = changedAt_ + quietMs_;
    return settles > nowMs ? static_cast<uint32_t>(settles - nowMs) : 0;
}

FolderDictionary FolderWatch::Load(const CompileOptions& options) {
    const bool heldStill = changing_;
    FolderDictionary loaded = LoadFolder(folder_, options, game_);
    // Moved between the look that found it still and the listing: maybe mid-save.
    if (heldStill && loaded.signature != changedTo_) loaded.settled = false;
    loaded_ = true;
    signature_ = loaded.signature;
    stale_ = !loaded.settled;
    changing_ = false;
    return loaded;
}

}  // namespace mirelo::dict
