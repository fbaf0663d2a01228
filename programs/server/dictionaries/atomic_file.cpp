#include "atomic_file.h"

#include <windows.h>

#include "handles.h"

namespace server {
namespace {

bool Fail(std::string* why, const std::string& reason) {
    if (why) *why = reason;
    return false;
}

}  // namespace

bool WriteFileAtomically(const std::filesystem::path& path, const std::string& bytes,
                         std::string* why) {
    const std::wstring temp = path.wstring() + L".saving";
    {
        mirelo::UniqueFile file(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return Fail(why, "cannot write " + path.filename().string() + ".saving");
        DWORD written = 0;
        if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                       nullptr) ||
            written != bytes.size() || !FlushFileBuffers(file.get())) {
            file.reset();
            DeleteFileW(temp.c_str());
            return Fail(why, "cannot write " + path.filename().string() + ".saving");
        }
    }
    if (!MoveFileExW(temp.c_str(), path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(temp.c_str());
        return Fail(why, "cannot replace " + path.filename().string());
    }
    return true;
}

}  // namespace server
