#include "dictionary_folder_win.h"

#include <algorithm>
#include <cwchar>

#include "code_pages.h"
#include "handles.h"

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

// The whole file, or a reason why not (file and line left for the caller).
bool ReadWhole(const std::wstring& path, std::string& bytes, Problem& why) {
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
    return true;
}

}  // namespace

std::wstring FolderBeside(const std::wstring& modulePath) {
    const size_t slash = modulePath.find_last_of(L"\\/");
    const std::wstring dir = slash == std::wstring::npos ? L"." : modulePath.substr(0, slash);
    return dir + L"\\MireloDict";
}

std::wstring FolderBesideModule(HMODULE module) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            return FolderBeside(path);
        }
        if (path.size() >= 32768) return {};
        path.resize(path.size() * 2);
    }
}

std::vector<FolderFile> ListFolder(const std::wstring& folder) {
    std::vector<FolderFile> files;
    ForEachFile(folder, [&](const WIN32_FIND_DATAW& fd) {
        files.push_back(
            {folder + L"\\" + fd.cFileName, WideToUtf8(fd.cFileName),
             Join(fd.nFileSizeHigh, fd.nFileSizeLow),
             Join(fd.ftLastWriteTime.dwHighDateTime, fd.ftLastWriteTime.dwLowDateTime)});
    });
    std::sort(files.begin(), files.end(),
              [](const FolderFile& a, const FolderFile& b) { return a.name < b.name; });
    return files;
}

uint64_t FolderSignature(const std::wstring& folder) {
    // Order-independent, so the listing need not be sorted: a sum of per-file FNV-1a hashes.
    uint64_t sum = 0;
    ForEachFile(folder, [&](const WIN32_FIND_DATAW& fd) {
        uint64_t h = 0xCBF29CE484222325ull;
        auto mix = [&](const void* p, size_t n) {
            for (size_t k = 0; k < n; ++k) {
                h ^= static_cast<const unsigned char*>(p)[k];
                h *= 0x100000001B3ull;
            }
        };
        mix(fd.cFileName, std::wcslen(fd.cFileName) * sizeof(wchar_t));
        mix(&fd.nFileSizeHigh, sizeof fd.nFileSizeHigh);
        mix(&fd.nFileSizeLow, sizeof fd.nFileSizeLow);
        mix(&fd.ftLastWriteTime, sizeof fd.ftLastWriteTime);
        sum += h;
    });
    return sum;
}

const TextEncoders& SystemEncoders() {
    static const TextEncoders encoders{[](std::string_view utf8, std::string& out) {
                                           return EncodeExactly(kShiftJisCodePage, utf8, out);
                                       },
                                       [](std::string_view utf8, std::string& out) {
                                           return EncodeExactly(kCp949CodePage, utf8, out);
                                       }};
    return encoders;
}

FolderDictionary LoadFolder(const std::wstring& folder) {
    FolderDictionary result;
    try {
        result.signature = FolderSignature(folder);
        const std::vector<FolderFile> listed = ListFolder(folder);
        result.files = listed.size();
        if (listed.empty()) return result;
        std::vector<std::string> contents;
        contents.reserve(listed.size());  // never moves, so the views below stay valid
        std::vector<SourceFile> sources;
        for (const FolderFile& f : listed) {
            std::string bytes;
            Problem why;
            if (!ReadWhole(f.path, bytes, why)) {
                why.file = f.name;
                result.problems.push_back(std::move(why));
                continue;
            }
            contents.push_back(std::move(bytes));
            sources.push_back({f.name, contents.back()});
        }
        result.dictionary = Dictionary::Compile(sources, SystemEncoders(), &result.problems);
        // Files that could not be read were reported before the others' lines.
        std::stable_sort(result.problems.begin(), result.problems.end(),
                         [](const Problem& a, const Problem& b) { return a.file < b.file; });
    } catch (...) {
        result.dictionary.reset();
    }
    return result;
}

bool FolderWatch::Changed() {
    if (!m_loaded) return true;
    const uint64_t now = GetTickCount64();
    if (now - m_lastLook < m_intervalMs) return false;
    m_lastLook = now;
    return FolderSignature(m_folder) != m_signature;
}

FolderDictionary FolderWatch::Load() {
    FolderDictionary loaded = LoadFolder(m_folder);
    m_loaded = true;
    m_signature = loaded.signature;
    m_lastLook = GetTickCount64();
    return loaded;
}

}  // namespace mirelo::dict
