#include "file_job.h"

#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "answer_feed.h"
#include "code_pages.h"
#include "handles.h"
#include "messages.h"
#include "exit_codes.h"
#include "file_replace.h"
#include "text_codec.h"
#include "text_output.h"
#include "text_plan.h"
#include "utf8.h"

namespace server {
namespace {

using programs::Err;
using programs::Format;
using programs::Msg;

// Lines per request to the pool: small enough for steady progress, large enough that the
// hand-backs cost nothing next to the lines.
constexpr std::size_t kChunkLines = 16;
// Requests kept waiting per worker, so that no worker idles while the next ones are made.
constexpr std::size_t kChunksPerWorker = 4;

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

void Say(const std::string& s) {
    Err().Write("mirelo-server: " + s + "\n");
}

std::string LastError() {
    return programs::SystemMessage(static_cast<DWORD>(_doserrno));
}

// The whole input as UTF-8, or the exit code with the reason said.
int ReadInput(const std::wstring& path, std::string& text) {
    const File file(_wfopen(path.c_str(), L"rb"), &std::fclose);
    if (!file) {
        Say(Format(Msg::kCannotOpenInput, {mirelo::WideToUtf8(path), LastError()}));
        return kExitInput;
    }
    char buffer[1 << 16];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) text.append(buffer, n);
    if (std::ferror(file.get())) {
        Say(programs::Text(Msg::kReadError));
        return kExitInput;
    }
    const programs::InputVerdict verdict = programs::DecideInputEncoding(text);
    const std::string line = std::to_string(verdict.line);
    switch (verdict.kind) {
        case programs::InputVerdict::kUtf8:
            mirelo::text::StripUtf8Bom(text);
            return kExitOk;
        case programs::InputVerdict::kShiftJis:
            text = programs::ShiftJisToUtf8(text);
            return kExitOk;
        case programs::InputVerdict::kUtf16:
            Say(programs::Text(Msg::kInputUtf16));
            break;
        case programs::InputVerdict::kMarkNotUtf8:
            Say(Format(Msg::kInputMarkNotUtf8, {line}));
            break;
        case programs::InputVerdict::kNeither:
            Say(Format(Msg::kFileNeither, {line}));
            break;
        case programs::InputVerdict::kMixed:
            Say(Format(Msg::kInputMixed, {line}));
            break;
    }
    return kExitInputEncoding;
}

// Whether `out` names the file `in`: the same full path in any case, or the same file
// reached by another name.
bool SameFile(const std::wstring& in, const std::wstring& out) {
    auto full = [](const std::wstring& path) {
        const DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
        std::wstring r(n, L'\0');
        const DWORD got = n ? GetFullPathNameW(path.c_str(), n, r.data(), nullptr) : 0;
        r.resize(got < n ? got : 0);
        return r.empty() ? path : r;
    };
    const std::wstring a = full(in), b = full(out);
    if (CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                             static_cast<int>(b.size()), TRUE) == CSTR_EQUAL)
        return true;
    auto identity = [](const std::wstring& path, BY_HANDLE_FILE_INFORMATION& info) {
        const mirelo::UniqueFile file(
            CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, 0, nullptr));
        return file && GetFileInformationByHandle(file.get(), &info);
    };
    BY_HANDLE_FILE_INFORMATION x, y;
    return identity(a, x) && identity(b, y) && x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
           x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
}

const char* ReasonWords(Outcome outcome) {
    switch (outcome) {
        case Outcome::kQuarantined:
            return programs::Text(Msg::kReasonQuarantined);
        case Outcome::kHung:
            return programs::Text(Msg::kReasonHung);
        case Outcome::kTimedOut:
            return programs::Text(Msg::kReasonTimedOut);
        default:
            return programs::Text(Msg::kReasonUntranslated);
    }
}

// "3, 7 (reason); 5 (another reason)": the failed lines' numbers by their reasons.
std::string FailedList(const std::vector<std::pair<std::size_t, Outcome>>& failed) {
    std::map<Outcome, std::string> byReason;
    for (const auto& [number, outcome] : failed) {
        std::string& numbers = byReason[outcome];
        numbers += (numbers.empty() ? "" : ", ") + std::to_string(number);
    }
    std::string list;
    for (const auto& [outcome, numbers] : byReason)
        list += (list.empty() ? "" : "; ") + numbers + " (" + ReasonWords(outcome) + ")";
    return list;
}

// Where the translation goes: standard output, or a file beside `out` that takes its place
// once complete.
class Output {
  public:
    explicit Output(std::wstring out) : m_out(std::move(out)), m_file(m_out) {}
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    // The system's reason when the file cannot be made.
    std::string Open() {
        if (m_out.empty()) return {};
        m_error = m_file.Open();
        return m_error ? programs::SystemMessage(m_error) : std::string();
    }
    void Write(std::string_view bytes) {
        if (m_out.empty()) return programs::Out().Write(bytes);
        m_pending.append(bytes);
        if (m_pending.size() >= kPendingBytes) Drain();
    }
    // Puts the translation in place of the output; the exit code, with the reason said.
    int Commit() {
        if (m_out.empty()) return kExitOk;
        Drain();
        if (m_error) {
            m_file.Discard();
            Say(Format(Msg::kCannotWriteOutput,
                       {mirelo::WideToUtf8(m_out), programs::SystemMessage(m_error)}));
            return kExitInput;
        }
        if (const DWORD error = m_file.Commit()) {
            Say(Format(Msg::kCannotReplaceOutput,
                       {mirelo::WideToUtf8(m_out), programs::SystemMessage(error)}));
            return kExitInput;
        }
        return kExitOk;
    }
    const std::wstring& Path() const { return m_out; }

  private:
    static constexpr std::size_t kPendingBytes = 1 << 16;
    void Drain() {
        if (!m_error && !m_pending.empty()) m_error = m_file.Write(m_pending);
        m_pending.clear();
    }

    const std::wstring m_out;
    mirelo::FileReplacer m_file;
    std::string m_pending;
    DWORD m_error = 0;
};

// What the pool's thread shares with the job: it may outlive the job after Ctrl+C.
struct Handed {
    std::mutex mutex;
    std::condition_variable wake;
};

struct Chunk {
    std::shared_ptr<Batch> batch;
    std::size_t first = 0;  // its first line's index
    bool sent = false;
    bool done = false;  // under Handed::mutex
};

constexpr auto kRetryPause = std::chrono::milliseconds(50);

// The lines of one file in chunks of kChunkLines, kept in order, at most `window` of them
// handed to the pool at once.
class FileRun {
  public:
    FileRun(Translator& translator, const FileJob& job, const std::vector<Line>& lines,
            Output& output)
        : m_translator(translator),
          m_job(job),
          m_lines(lines),
          m_output(output),
          m_window(std::max(1u, job.workers) * kChunksPerWorker),
          m_console(Err().IsConsole()) {}

    int Run() {
        for (;;) {
            Fill();
            if (const int code = SendWaiting(); code != kExitOk) return code;
            if (m_waiting.empty()) return kExitOk;
            const std::shared_ptr<Chunk> front = m_waiting.front();
            if (!front->sent) {
                if (Stopped()) return kExitStopped;
                std::this_thread::sleep_for(kRetryPause);
                continue;
            }
            if (!WaitFor(*front)) return kExitStopped;
            m_waiting.pop_front();
            WriteOut(*front);
        }
    }

    std::size_t Done() const { return m_done; }
    const std::vector<std::pair<std::size_t, Outcome>>& Failed() const { return m_failed; }

  private:
    bool Stopped() const { return m_job.stop && m_job.stop->load(); }

    void Fill() {
        while (m_next < m_lines.size() && m_waiting.size() < m_window) {
            auto chunk = std::make_shared<Chunk>();
            chunk->first = m_next;
            std::vector<std::string> texts;
            for (; m_next < m_lines.size() && texts.size() < kChunkLines; ++m_next)
                texts.emplace_back(m_lines[m_next].text);
            chunk->batch = std::make_shared<Batch>(texts);
            chunk->batch->SetGame(m_job.game);
            m_waiting.push_back(std::move(chunk));
        }
    }

    // Hands the pool the chunks not yet sent, in order, while it takes them. A full queue
    // is waited out; workers that cannot take a line for longer than the bound end the job.
    int SendWaiting() {
        for (const std::shared_ptr<Chunk>& chunk : m_waiting) {
            if (chunk->sent) continue;
            const Translator::Admit admit = Send(chunk);
            if (admit == Translator::Admit::kQueued || admit == Translator::Admit::kAnswered) {
                m_notReadySince.reset();
                continue;
            }
            if (admit == Translator::Admit::kNotReady) {
                const auto now = std::chrono::steady_clock::now();
                if (!m_notReadySince) m_notReadySince = now;
                if (now - *m_notReadySince >= m_job.readyWait)
                    return m_job.notReady ? m_job.notReady(m_translator.Problem()) : kExitInit;
            }
            break;
        }
        return kExitOk;
    }

    Translator::Admit Send(const std::shared_ptr<Chunk>& chunk) {
        if (chunk->batch->PieceCount() == 0) {
            chunk->sent = chunk->done = true;
            return Translator::Admit::kAnswered;
        }
        const std::shared_ptr<Handed> handed = m_handed;
        const Translator::Admit admit = m_translator.Submit(
            chunk->batch, Translator::Clock::now() + m_job.lineTimeout, [chunk, handed] {
                std::lock_guard lock(handed->mutex);
                chunk->done = true;
                handed->wake.notify_all();
            });
        if (admit == Translator::Admit::kAnswered) {
            std::lock_guard lock(m_handed->mutex);
            chunk->done = true;
        }
        chunk->sent = admit == Translator::Admit::kQueued || admit == Translator::Admit::kAnswered;
        return admit;
    }

    // False when Ctrl+C came first: the lines not yet sent are then taken back.
    bool WaitFor(Chunk& chunk) {
        std::unique_lock lock(m_handed->mutex);
        while (!chunk.done) {
            if (Stopped()) {
                for (const std::shared_ptr<Chunk>& c : m_waiting) c->batch->Cancel();
                return false;
            }
            m_handed->wake.wait_for(lock, std::chrono::milliseconds(100));
        }
        return true;
    }

    void WriteOut(const Chunk& chunk) {
        const Batch& batch = *chunk.batch;
        for (std::size_t i = 0; i < batch.TextCount(); ++i) {
            const Batch::Result r = batch.Get(i);
            if (r.outcome != Outcome::kTranslated)
                m_failed.emplace_back(chunk.first + i + 1, r.outcome);
            m_output.Write(r.text);
            m_output.Write(m_lines[chunk.first + i].end);
        }
        m_translator.CountServed(batch.LineCount());
        if (m_job.feed && m_job.feed->HasListeners())
            m_job.feed->Publish(AnsweredLines(batch, "file"));
        m_done = chunk.first + batch.TextCount();
        if (!m_console) return;
        std::string progress(1, '\r');
        progress +=
            Format(Msg::kFileProgress, {std::to_string(m_done), std::to_string(m_lines.size())});
        Err().Write(progress);
    }

    Translator& m_translator;
    const FileJob& m_job;
    const std::vector<Line>& m_lines;
    Output& m_output;
    const std::size_t m_window;
    const bool m_console;
    const std::shared_ptr<Handed> m_handed = std::make_shared<Handed>();
    std::deque<std::shared_ptr<Chunk>> m_waiting;
    std::size_t m_next = 0;
    std::size_t m_done = 0;
    std::optional<std::chrono::steady_clock::time_point> m_notReadySince;
    std::vector<std::pair<std::size_t, Outcome>> m_failed;  // line numbers, from 1
};

}  // namespace

int TranslateFile(Translator& translator, const FileJob& job) {
    if (!job.out.empty() && SameFile(job.in, job.out)) {
        Say(programs::Text(Msg::kFileOutIsInput));
        return kExitInput;
    }
    std::string text;
    if (const int code = ReadInput(job.in, text); code != kExitOk) return code;
    const std::vector<Line> lines = SplitLines(text);

    Output output(job.out);
    if (const std::string why = output.Open(); !why.empty()) {
        Say(Format(Msg::kCannotWriteOutput, {mirelo::WideToUtf8(job.out), why}));
        return kExitInput;
    }
    FileRun run(translator, job, lines, output);
    const int code = run.Run();
    if (Err().IsConsole() && run.Done() > 0) Err().Write("\n");
    if (code == kExitStopped) {
        Say(Format(Msg::kFileStopped, {std::to_string(run.Done()), std::to_string(lines.size())}));
        if (!job.out.empty()) Say(Format(Msg::kFileOutputKept, {mirelo::WideToUtf8(job.out)}));
    }
    if (code != kExitOk) return code;
    if (const int written = output.Commit(); written != kExitOk) return written;
    if (run.Failed().empty()) return kExitOk;
    Say(Format(Msg::kFileFailedLines,
               {std::to_string(run.Failed().size()), FailedList(run.Failed())}));
    return kExitLineFailed;
}

}  // namespace server
