#include "file_replace.h"

#include <algorithm>
#include <atomic>

namespace mirelo {
namespace {

constexpr DWORD kBusyStepMs = 20;

// Runs `attempt` (0 or an error) again while the file is busy, for at most `patienceMs`.
template <class Attempt>
DWORD WhileBusy(DWORD patienceMs, Attempt attempt) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        const DWORD error = attempt();
        if (error == 0 || !IsFileBusy(error) || GetTickCount64() - start >= patienceMs)
            return error;
        Sleep(kBusyStepMs);
    }
}

DWORD LastErrorOr(DWORD fallback) {
    const DWORD error = GetLastError();
    return error ? error : fallback;
}

}  // namespace

bool IsFileBusy(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
           error == ERROR_LOCK_VIOLATION;
}

DWORD MoveReplacing(const std::wstring& from, const std::wstring& to, DWORD patienceMs) {
    return WhileBusy(patienceMs, [&]() -> DWORD {
        return MoveFileExW(from.c_str(), to.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
                   ? 0
                   : LastErrorOr(ERROR_GEN_FAILURE);
    });
}

FileReplacer::FileReplacer(std::wstring target, DWORD patienceMs)
    : m_target(std::move(target)), m_patienceMs(patienceMs) {
    // Threads of one process may save files side by side.
    static std::atomic<unsigned> serial{0};
    m_temporary = m_target + L"." + std::to_wstring(GetCurrentProcessId()) + L"." +
                  std::to_wstring(serial++) + L".tmp";
}

DWORD FileReplacer::Open() {
    m_file.reset(CreateFileW(m_temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!m_file) return LastErrorOr(ERROR_GEN_FAILURE);
    m_open = true;
    return 0;
}

DWORD FileReplacer::Write(std::string_view bytes) {
    if (!m_file) return ERROR_INVALID_HANDLE;
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD written = 0;
        if (!WriteFile(m_file.get(), bytes.data(), chunk, &written, nullptr))
            return LastErrorOr(ERROR_WRITE_FAULT);
        if (written == 0) return ERROR_DISK_FULL;
        bytes.remove_prefix(written);
    }
    return 0;
}

DWORD FileReplacer::Commit() {
    if (!m_file) {
        Discard();
        return ERROR_INVALID_HANDLE;
    }
    // The data reaches the disk before the name does: a power cut leaves the old file or the
    // whole new one.
    if (!FlushFileBuffers(m_file.get())) {
        const DWORD error = LastErrorOr(ERROR_WRITE_FAULT);
        Discard();
        return error;
    }
    m_file.reset();
    const DWORD error = MoveReplacing(m_temporary, m_target, m_patienceMs);
    if (error) {
        Discard();
        return error;
    }
    m_open = false;
    return 0;
}

void FileReplacer::Discard() {
    m_file.reset();
    if (m_open) DeleteFileW(m_temporary.c_str());
    m_open = false;
}

DWORD ReplaceFileWith(const std::wstring& target, std::string_view bytes, DWORD patienceMs) {
    FileReplacer file(target, patienceMs);
    if (const DWORD error = file.Open()) return error;
    if (const DWORD error = file.Write(bytes)) return error;
    return file.Commit();
}

DWORD ReadWholeFile(const std::wstring& path, std::string& bytes, DWORD patienceMs) {
    bytes.clear();
    UniqueFile file;
    const DWORD opened = WhileBusy(patienceMs, [&]() -> DWORD {
        file.reset(CreateFileW(path.c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        return file ? 0 : LastErrorOr(ERROR_GEN_FAILURE);
    });
    if (opened == ERROR_PATH_NOT_FOUND) return ERROR_FILE_NOT_FOUND;
    if (opened) return opened;
    char chunk[64 * 1024];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr))
            return LastErrorOr(ERROR_READ_FAULT);
        if (read == 0) return 0;
        bytes.append(chunk, read);
    }
}

FileLock FileLock::Take(const std::wstring& target, DWORD waitMs, DWORD* error) {
    FileLock lock;
    const std::wstring name = target + L".lock";
    const ULONGLONG start = GetTickCount64();
    DWORD last = 0;
    // Opening can meet another process creating the file; locking can meet its holder.
    while (!lock.m_file) {
        UniqueFile file(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr));
        if (!file) {
            last = LastErrorOr(ERROR_GEN_FAILURE);
            if (!IsFileBusy(last)) break;
        } else {
            OVERLAPPED at{};
            if (LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                           &at)) {
                lock.m_file = std::move(file);
                break;
            }
            last = LastErrorOr(ERROR_LOCK_VIOLATION);
            if (last != ERROR_LOCK_VIOLATION && last != ERROR_IO_PENDING) break;
        }
        if (GetTickCount64() - start >= waitMs) break;
        Sleep(kBusyStepMs);
    }
    if (error) *error = lock.m_file ? 0 : last;
    return lock;
}

FileLock::~FileLock() {
    if (!m_file) return;
    OVERLAPPED at{};
    UnlockFileEx(m_file.get(), 0, 1, 0, &at);
}

}  // namespace mirelo
