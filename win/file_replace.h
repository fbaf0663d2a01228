#pragma once
// A user's file replaced whole, so that a reader sees the old file or the new one and never
// part of one, and a lock that other processes saving the same file see. Errors come back as
// the system's code, for the caller to word.

#include <windows.h>

#include <string>
#include <string_view>

#include "handles.h"

namespace mirelo {

// How long a rename or a read keeps trying while another process (a saver, the plug-in
// reading its dictionary) holds the file in a way that refuses it.
inline constexpr DWORD kFileBusyPatienceMs = 2000;

// Whether `error` is another process holding the file for a moment.
bool IsFileBusy(DWORD error);

// Moves `from` over `to` (write-through), trying again while the target is busy, for at most
// `patienceMs`. 0, or the system's code of the last failure.
DWORD MoveReplacing(const std::wstring& from, const std::wstring& to,
                    DWORD patienceMs = kFileBusyPatienceMs);

// Writes a file beside the target (named for this process, so two savers never share one),
// then flushes it and moves it over the target. Until Commit succeeds the target is as it was;
// the temporary file goes with the owner if it is not committed.
class FileReplacer {
  public:
    explicit FileReplacer(std::wstring target, DWORD patienceMs = kFileBusyPatienceMs);
    ~FileReplacer() { Discard(); }
    FileReplacer(const FileReplacer&) = delete;
    FileReplacer& operator=(const FileReplacer&) = delete;

    DWORD Open();
    DWORD Write(std::string_view bytes);
    // Flushes, closes and renames; once it has answered, the owner is spent either way.
    DWORD Commit();
    void Discard();
    const std::wstring& Target() const { return m_target; }

  private:
    std::wstring m_target;
    std::wstring m_temporary;
    DWORD m_patienceMs;
    UniqueFile m_file;
    bool m_open = false;
};

// The whole file through a FileReplacer.
DWORD ReplaceFileWith(const std::wstring& target, std::string_view bytes,
                      DWORD patienceMs = kFileBusyPatienceMs);

// The whole file into `bytes`. ERROR_FILE_NOT_FOUND (also for a missing folder) when it is
// absent; a busy file is tried again within the patience.
DWORD ReadWholeFile(const std::wstring& path, std::string& bytes,
                    DWORD patienceMs = kFileBusyPatienceMs);

// An exclusive lock on "<target>.lock", which stays beside the target (a lock file removed
// while another process waits on it would leave the two holding different files). Every
// process that saves the target takes it, then reads, merges and writes.
class FileLock {
  public:
    FileLock() = default;
    // Waits at most `waitMs`; an empty lock with the reason in `error` when it cannot.
    static FileLock Take(const std::wstring& target, DWORD waitMs, DWORD* error);
    ~FileLock();
    FileLock(FileLock&&) = default;
    FileLock& operator=(FileLock&&) = default;
    explicit operator bool() const { return static_cast<bool>(m_file); }

  private:
    UniqueFile m_file;
};

}  // namespace mirelo
