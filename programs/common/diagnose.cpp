#include "diagnose.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "code_pages.h"
#include "engine_locator.h"
#include "handles.h"
#include "pe_exports.h"

namespace host {
namespace {

constexpr const char* kEngineFunctions[] = {"J2K_InitializeEx", "J2K_TranslateMMNT", "J2K_FreeMem",
                                            "J2K_StopTranslation", "J2K_Terminate"};
constexpr std::streamsize kMaxEngineBytes = 512 << 20;

using mirelo::WideToUtf8;

bool IsFolder(const std::wstring& path) {
    DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFile(const std::wstring& path) {
    DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring FullPath(const std::wstring& path) {
    wchar_t buf[MAX_PATH * 2];
    DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH * 2, buf, nullptr);
    return (n > 0 && n < MAX_PATH * 2) ? std::wstring(buf, n) : path;
}

enum class Found { kNoKey, kNoValue, kValue };

// Read as the plug-in reads it: any value type, up to the first NUL or the data's end.
Found ReadInstallValue(std::wstring& folder, DWORD& type) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, mirelo::kInstallKey, 0, KEY_QUERY_VALUE, &opened) !=
        ERROR_SUCCESS)
        return Found::kNoKey;
    const mirelo::UniqueHKey key(opened);
    wchar_t buffer[mirelo::kPathChars];
    DWORD size = sizeof buffer;
    const LONG rc = RegQueryValueExW(key.get(), mirelo::kInstallValue, nullptr, &type,
                                     reinterpret_cast<BYTE*>(buffer), &size);
    if (rc != ERROR_SUCCESS) return Found::kNoValue;
    folder.assign(buffer, size / sizeof(wchar_t));
    folder.resize(std::min(folder.find(L'\0'), folder.size()));
    return Found::kValue;
}

bool IsAscii(const std::wstring& s) {
    for (wchar_t c : s)
        if (c >= 0x80) return false;
    return true;
}

class Report {
  public:
    void Line(const std::string& label, const std::string& text) {
        m_text += label + std::string(label.size() < 18 ? 18 - label.size() : 1, ' ') + text + "\n";
    }
    Diagnosis Verdict(bool ready, const std::string& verdict, const std::string& todo) {
        m_text += "Verdict: " + verdict + "\nTo do: " + todo + "\n";
        return {m_text, ready};
    }

  private:
    std::string m_text;
};

}  // namespace

Diagnosis Diagnose() {
    Report out;
    std::wstring folder;
    DWORD type = 0;
    const std::string where =
        "HKCU\\" + WideToUtf8(mirelo::kInstallKey) + ", " + WideToUtf8(mirelo::kInstallValue);
    switch (ReadInstallValue(folder, type)) {
        case Found::kNoKey:
            out.Line("Registry value:", where + ": the key does not exist");
            break;
        case Found::kNoValue:
            out.Line("Registry value:", where + ": no such value (or longer than 259 characters)");
            break;
        case Found::kValue:
            out.Line("Registry value:", where + " = \"" + WideToUtf8(folder) + "\"" +
                                            (type == REG_SZ ? "" : " (not a REG_SZ value)"));
            break;
    }
    if (folder.empty())
        return out.Verdict(false,
                           "the engine's folder is not recorded; the plug-in will ask for it",
                           "install the engine's product, or start the plug-in once and pick the "
                           "folder that holds J2KEngine.dll when it asks");

    const std::wstring data = folder + mirelo::kDataSuffix;
    const std::wstring engine = data + L"\\..\\J2KEngine.dll";
    const bool hasData = IsFolder(data);
    out.Line("Data folder:", WideToUtf8(data) + (hasData ? " (present)" : " (missing)"));
    const bool hasEngine = IsFile(FullPath(engine));
    out.Line("Engine library:",
             WideToUtf8(FullPath(engine)) + (hasEngine ? " (present)" : " (missing)"));
    if (!IsAscii(folder))
        out.Line("Note:",
                 "the folder has non-ASCII characters; the plug-in asks before using it "
                 "and the engine may not read its data");

    if (!hasEngine) {
        std::string todo = "set FilePath to the folder that holds J2KEngine.dll";
        if (IsFile(FullPath(folder + L"\\..\\J2KEngine.dll")))
            todo =
                "FilePath names a folder inside the engine's folder: set it to its parent, "
                "which holds J2KEngine.dll";
        return out.Verdict(false, "J2KEngine.dll is not where the plug-in looks", todo);
    }

    std::ifstream file(FullPath(engine).c_str(), std::ios::binary);
    std::string bytes;
    if (file) {
        file.seekg(0, std::ios::end);
        std::streamsize size = file.tellg();
        file.seekg(0);
        if (size > 0 && size <= kMaxEngineBytes) {
            bytes.resize(static_cast<std::size_t>(size));
            file.read(bytes.data(), size);
            if (!file) bytes.clear();
        }
    }
    if (bytes.empty())
        return out.Verdict(false, "J2KEngine.dll cannot be read",
                           "check the file's permissions, or reinstall the engine's product");

    const PeImage pe = ReadPeImage(bytes);
    char machine[8];
    std::snprintf(machine, sizeof machine, "%04X", pe.machine);
    switch (pe.kind) {
        case PeKind::kNotPe:
            out.Line("Library kind:", pe.problem);
            return out.Verdict(false, "J2KEngine.dll is not a Windows library",
                               "reinstall the engine's product");
        case PeKind::k64Bit:
            out.Line("Library kind:", std::string("64-bit (machine ") + machine + ")");
            return out.Verdict(
                false, "J2KEngine.dll is a 64-bit library; Mirelo and its engine are 32-bit",
                "install the 32-bit engine; a 64-bit tool reaches Mirelo through "
                "mirelo-server instead");
        case PeKind::k32Bit:
            out.Line("Library kind:",
                     std::string(pe.machine == 0x14C ? "32-bit x86" : "32-bit, machine ") +
                         (pe.machine == 0x14C ? "" : machine) +
                         (pe.isDll ? " library" : " program, not a library"));
            break;
    }

    std::string have, missing;
    for (const char* fn : kEngineFunctions) {
        bool found = false;
        for (const std::string& n : pe.names) found = found || n == fn;
        (found ? have : missing) += (found ? have : missing).empty() ? fn : std::string(", ") + fn;
    }
    out.Line("Exports:", have.empty() ? "none of the five engine functions" : have);
    if (!pe.problem.empty()) out.Line("Export table:", pe.problem);
    if (pe.machine != 0x14C || !pe.isDll)
        return out.Verdict(false, "J2KEngine.dll is not a 32-bit x86 library",
                           "reinstall the engine's product");
    if (!missing.empty()) {
        out.Line("Missing:", missing);
        return out.Verdict(
            false, "J2KEngine.dll lacks engine functions; the plug-in will refuse it",
            "reinstall the engine's product; this file is not the engine Mirelo uses");
    }
    if (!hasData)
        return out.Verdict(false, "the engine's data folder is missing",
                           "reinstall the engine's product (its Dat folder belongs beside "
                           "J2KEngine.dll)");
    return out.Verdict(true, "the plug-in should find, load and start the engine",
                       "nothing; if translation still fails, run the plug-in and read its message");
}

}  // namespace host
