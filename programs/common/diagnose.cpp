#include "diagnose.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "code_pages.h"
#include "engine_locator.h"
#include "handles.h"
#include "messages.h"
#include "pe_exports.h"

namespace programs {
namespace {

constexpr const char* kEngineFunctions[] = {"J2K_InitializeEx", "J2K_TranslateMMNT", "J2K_FreeMem",
                                            "J2K_StopTranslation", "J2K_Terminate"};
constexpr std::streamsize kMaxEngineBytes = 512 << 20;
constexpr std::size_t kLabelColumns = 18;

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

std::string KeyAndValue() {
    return "HKCU\\" + WideToUtf8(mirelo::kInstallKey) + ", " + WideToUtf8(mirelo::kInstallValue);
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

bool IsWide(char32_t c) {
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
           (c >= 0xFFE0 && c <= 0xFFE6);
}

class Report {
  public:
    void Line(Msg label, const std::string& text) {
        const std::string l = Text(label);
        const std::size_t width = DisplayWidth(l);
        m_text +=
            l + std::string(width < kLabelColumns ? kLabelColumns - width : 1, ' ') + text + "\n";
    }
    void Plain(const std::string& text) { m_text += text + "\n"; }
    void Verdict(Msg verdict, const std::string& todo) {
        m_text += Format(Msg::kDiagVerdict, {Text(verdict)}) + "\n" +
                  Format(Msg::kDiagToDo, {todo}) + "\n";
    }
    const std::string& text() const { return m_text; }

  private:
    std::string m_text;
};

// What to say about a folder: the verdict, and what to do unless it is ready.
struct Outcome {
    bool ready;
    Msg verdict;
    std::string todo;
};

Outcome Refuse(Msg verdict, Msg todo) {
    return {false, verdict, Text(todo)};
}

Msg PeProblemText(PeProblem p) {
    switch (p) {
        case PeProblem::kNoMz:
            return Msg::kPeNoMz;
        case PeProblem::kNoPe:
            return Msg::kPeNoPe;
        case PeProblem::kNoOptionalHeader:
            return Msg::kPeNoOptionalHeader;
        case PeProblem::kUnknownOptionalHeader:
            return Msg::kPeUnknownOptionalHeader;
        case PeProblem::kSectionsCut:
            return Msg::kPeSectionsCut;
        case PeProblem::kExportsOutside:
            return Msg::kPeExportsOutside;
        case PeProblem::kExportNamesDamaged:
            return Msg::kPeExportNamesDamaged;
        case PeProblem::kNone:
        case PeProblem::kExportNameOutside:
            break;
    }
    return Msg::kPeExportNameOutside;
}

std::string ReadWholeFile(const std::wstring& path) {
    std::ifstream file(path.c_str(), std::ios::binary);
    std::string bytes;
    if (!file) return bytes;
    file.seekg(0, std::ios::end);
    const std::streamsize size = file.tellg();
    file.seekg(0);
    if (size <= 0 || size > kMaxEngineBytes) return bytes;
    bytes.resize(static_cast<std::size_t>(size));
    file.read(bytes.data(), size);
    if (!file) bytes.clear();
    return bytes;
}

// The library the plug-in will load: a 32-bit x86 DLL with the five engine functions.
Outcome CheckEngineFile(const std::wstring& engine, Report& out) {
    const std::string bytes = ReadWholeFile(engine);
    if (bytes.empty()) return Refuse(Msg::kVerdictUnreadable, Msg::kToDoUnreadable);

    const PeImage pe = ReadPeImage(bytes);
    char machine[8];
    std::snprintf(machine, sizeof machine, "%04X", pe.machine);
    switch (pe.kind) {
        case PeKind::kNotPe:
            out.Line(Msg::kDiagKind, Text(PeProblemText(pe.problemKind)));
            return Refuse(Msg::kVerdictNotLibrary, Msg::kToDoReinstall);
        case PeKind::k64Bit:
            out.Line(Msg::kDiagKind, Format(Msg::kDiag64Bit, {machine}));
            return Refuse(Msg::kVerdict64Bit, Msg::kToDo64Bit);
        case PeKind::k32Bit:
            if (pe.machine == 0x14C)
                out.Line(Msg::kDiagKind,
                         Text(pe.isDll ? Msg::kDiagX86Library : Msg::kDiagX86Program));
            else
                out.Line(
                    Msg::kDiagKind,
                    Format(pe.isDll ? Msg::kDiagOtherLibrary : Msg::kDiagOtherProgram, {machine}));
            break;
    }

    std::string have, missing;
    for (const char* fn : kEngineFunctions) {
        const bool found = std::find(pe.names.begin(), pe.names.end(), fn) != pe.names.end();
        std::string& list = found ? have : missing;
        list += list.empty() ? fn : std::string(", ") + fn;
    }
    out.Line(Msg::kDiagExports, have.empty() ? Text(Msg::kDiagNoFunctions) : have);
    if (pe.problemKind != PeProblem::kNone)
        out.Line(Msg::kDiagExportTable, Text(PeProblemText(pe.problemKind)));
    if (pe.machine != 0x14C || !pe.isDll) return Refuse(Msg::kVerdictNotX86, Msg::kToDoReinstall);
    if (!missing.empty()) {
        out.Line(Msg::kDiagMissing, missing);
        return Refuse(Msg::kVerdictLacksFunctions, Msg::kToDoLacksFunctions);
    }
    return {true, Msg::kVerdictReady, Text(Msg::kToDoReady)};
}

enum class Mode { kDiagnose, kRecord };

// The checks both commands make of an install folder, as the plug-in will use it: the
// engine at folder\Dat\..\J2KEngine.dll and the data folder folder\Dat.
Outcome CheckInstallFolder(const std::wstring& folder, Mode mode, Report& out) {
    const bool recording = mode == Mode::kRecord;
    const std::wstring data = folder + mirelo::kDataSuffix;
    const std::wstring engine = FullPath(data + L"\\..\\J2KEngine.dll");
    const bool hasData = IsFolder(data);
    const bool hasEngine = IsFile(engine);
    out.Line(Msg::kDiagDataFolder,
             Format(hasData ? Msg::kDiagPresent : Msg::kDiagAbsent, {WideToUtf8(data)}));
    out.Line(Msg::kDiagEngine,
             Format(hasEngine ? Msg::kDiagPresent : Msg::kDiagAbsent, {WideToUtf8(engine)}));
    if (!IsAscii(folder)) out.Line(Msg::kDiagNote, Text(Msg::kDiagNonAscii));

    if (!hasEngine) {
        const std::string parent = WideToUtf8(FullPath(folder + L"\\.."));
        // The file itself named, as a folder picker or a hand-written value may do.
        if (IsFile(folder)) {
            const Msg verdict = recording ? Msg::kVerdictNotWhereLooked : Msg::kVerdictNamesFile;
            return {false, verdict,
                    Format(recording ? Msg::kSetNamesFile : Msg::kToDoNamesFile, {parent})};
        }
        if (!IsFolder(folder)) return Refuse(Msg::kVerdictFolderMissing, Msg::kToDoFolderMissing);
        if (IsFile(FullPath(folder + L"\\..\\J2KEngine.dll")))
            return {false, Msg::kVerdictNotWhereLooked,
                    Format(recording ? Msg::kSetInsideFolder : Msg::kToDoParent, {parent})};
        return Refuse(Msg::kVerdictNotWhereLooked,
                      recording ? Msg::kSetNoEngine : Msg::kToDoSetFolder);
    }
    const Outcome engineCheck = CheckEngineFile(engine, out);
    if (!engineCheck.ready) return engineCheck;
    if (!hasData) return Refuse(Msg::kVerdictNoData, Msg::kToDoNoData);
    return engineCheck;
}

// A folder as the user typed it, as a full path without a trailing separator.
std::wstring NormalFolder(const std::wstring& given) {
    std::wstring folder = FullPath(given);
    while (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/'))
        folder.pop_back();
    return folder;
}

}  // namespace

std::size_t DisplayWidth(const std::string& utf8) {
    std::size_t width = 0;
    for (wchar_t c : mirelo::Utf8ToWide(utf8)) {
        if (IS_LOW_SURROGATE(c)) continue;
        width += IsWide(static_cast<char32_t>(c)) ? 2 : 1;
    }
    return width;
}

Diagnosis Diagnose() {
    Report out;
    std::wstring folder;
    DWORD type = 0;
    const std::string where = KeyAndValue();
    switch (ReadInstallValue(folder, type)) {
        case Found::kNoKey:
            out.Line(Msg::kDiagRegistry, Format(Msg::kDiagNoKey, {where}));
            break;
        case Found::kNoValue:
            out.Line(Msg::kDiagRegistry, Format(Msg::kDiagNoValue, {where}));
            break;
        case Found::kValue:
            out.Line(Msg::kDiagRegistry,
                     Format(type == REG_SZ ? Msg::kDiagValue : Msg::kDiagValueNotSz,
                            {where, WideToUtf8(folder)}));
            break;
    }
    if (folder.empty()) {
        out.Verdict(Msg::kVerdictNotRecorded, Text(Msg::kToDoNotRecorded));
        return {out.text(), false};
    }
    const Outcome o = CheckInstallFolder(folder, Mode::kDiagnose, out);
    out.Verdict(o.verdict, o.todo);
    return {out.text(), o.ready};
}

Recording SetEngineFolder(const std::wstring& given) {
    Report out;
    const std::wstring folder = NormalFolder(given);
    if (!IsFolder(folder) && !IsFile(folder)) {
        out.Plain(Format(Msg::kSetNoFolder, {WideToUtf8(folder)}));
        out.Plain(Text(Msg::kSetNotRecorded));
        return {out.text(), false};
    }
    const Outcome o = CheckInstallFolder(folder, Mode::kRecord, out);
    if (!o.ready) {
        out.Verdict(o.verdict, o.todo);
        out.Plain(Text(Msg::kSetNotRecorded));
        return {out.text(), false};
    }
    // The plug-in reads at most this many characters; a longer value would be cut.
    if (folder.size() >= mirelo::kPathChars) {
        out.Plain(Format(Msg::kSetTooLong, {std::to_string(folder.size())}));
        out.Plain(Text(Msg::kSetNotRecorded));
        return {out.text(), false};
    }
    HKEY created = nullptr;
    LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, mirelo::kInstallKey, 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, &created, nullptr);
    if (rc == ERROR_SUCCESS) {
        const mirelo::UniqueHKey key(created);
        rc = RegSetValueExW(key.get(), mirelo::kInstallValue, 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(folder.c_str()),
                            static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
    }
    if (rc != ERROR_SUCCESS) {
        out.Plain(
            Format(Msg::kSetCannotWrite,
                   {KeyAndValue(), SystemMessage(static_cast<DWORD>(rc)), std::to_string(rc)}));
        out.Plain(Text(Msg::kSetNotRecorded));
        return {out.text(), false};
    }
    out.Plain(Format(Msg::kSetRecorded, {KeyAndValue(), WideToUtf8(folder)}));
    return {out.text(), true};
}

}  // namespace programs
