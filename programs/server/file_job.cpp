#include "file_job.h"

#include <windows.h>

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>

#include "code_pages.h"
#include "messages.h"
#include "server_args.h"
#include "text_codec.h"
#include "text_output.h"
#include "text_plan.h"

namespace server {
namespace {

using host::Err;
using host::Format;
using host::Msg;

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
    return host::SystemMessage(static_cast<DWORD>(_doserrno));
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
        Say(host::Text(Msg::kReadError));
        return kExitInput;
    }
    const host::InputVerdict verdict = host::DecideInputEncoding(text);
    const std::string line = std::to_string(verdict.line);
    switch (verdict.kind) {
        case host::InputVerdict::kUtf8:
            host::StripUtf8Bom(text);
            return kExitOk;
        case host::InputVerdict::kShiftJis:
            text = mirelo::WideToUtf8(mirelo::CodePageToWide(mirelo::kShiftJisCodePage, text));
            return kExitOk;
        case host::InputVerdict::kUtf16:
            Say(host::Text(Msg::kInputUtf16));
            break;
        case host::InputVerdict::kMarkNotUtf8:
            Say(Format(Msg::kInputMarkNotUtf8, {line}));
            break;
        case host::InputVerdict::kNeither:
            Say(Format(Msg::kFileNeither, {line}));
            break;
        case host::InputVerdict::kMixed:
            Say(Format(Msg::kInputMixed, {line}));
            break;
    }
    return kExitInputEncoding;
}

struct Chunk {
    std::shared_ptr<Batch> batch;
    std::size_t first = 0;  // its first line's index
    bool done = false;
};

}  // namespace

int TranslateFile(Translator& translator, const std::wstring& in, const std::wstring& out,
                  std::chrono::seconds lineTimeout, unsigned workers) {
    std::string text;
    if (const int code = ReadInput(in, text); code != kExitOk) return code;
    const std::vector<Line> lines = SplitLines(text);

    File file(nullptr, &std::fclose);
    if (!out.empty()) {
        file.reset(_wfopen(out.c_str(), L"wb"));
        if (!file) {
            Say(Format(Msg::kCannotWriteOutput, {mirelo::WideToUtf8(out), LastError()}));
            return kExitInput;
        }
    }
    bool written = true;
    auto write = [&](std::string_view bytes) {
        if (!file) return host::Out().Write(bytes);
        if (std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) written = false;
    };

    std::mutex mutex;
    std::condition_variable doneWake;
    std::deque<std::shared_ptr<Chunk>> waiting;
    const std::size_t window = std::max(1u, workers) * kChunksPerWorker;
    std::size_t next = 0;
    std::vector<std::size_t> failed;  // line numbers, from 1
    const bool console = Err().IsConsole();

    auto submit = [&] {
        auto chunk = std::make_shared<Chunk>();
        chunk->first = next;
        std::vector<std::string> texts;
        for (; next < lines.size() && texts.size() < kChunkLines; ++next)
            texts.emplace_back(lines[next].text);
        chunk->batch = std::make_shared<Batch>(texts);
        waiting.push_back(chunk);
        // Refused pieces keep their outcome, not answered in time, and so count as failed.
        if (chunk->batch->PieceCount() == 0 ||
            translator.Submit(chunk->batch, Translator::Clock::now() + lineTimeout,
                              [chunk, &mutex, &doneWake] {
                                  std::lock_guard lock(mutex);
                                  chunk->done = true;
                                  doneWake.notify_all();
                              }) != Translator::Admit::kQueued) {
            // Answered at once, or refused: either way nothing is handed back.
            std::lock_guard lock(mutex);
            chunk->done = true;
        }
    };

    for (;;) {
        while (next < lines.size() && waiting.size() < window) submit();
        if (waiting.empty()) break;
        const std::shared_ptr<Chunk> chunk = waiting.front();
        waiting.pop_front();
        {
            std::unique_lock lock(mutex);
            doneWake.wait(lock, [&] { return chunk->done; });
        }
        const Batch& batch = *chunk->batch;
        for (std::size_t i = 0; i < batch.TextCount(); ++i) {
            const Batch::Result r = batch.Get(i);
            if (r.outcome != Outcome::kTranslated) failed.push_back(chunk->first + i + 1);
            write(r.text);
            write(lines[chunk->first + i].end);
        }
        translator.CountServed(batch.LineCount());
        if (console) {
            std::string progress(1, '\r');
            progress += Format(
                Msg::kFileProgress,
                {std::to_string(chunk->first + batch.TextCount()), std::to_string(lines.size())});
            Err().Write(progress);
        }
    }
    if (console && !lines.empty()) Err().Write("\n");
    if (file && std::fclose(file.release()) != 0) written = false;
    if (!written) {
        Say(Format(Msg::kCannotWriteOutput, {mirelo::WideToUtf8(out), LastError()}));
        return kExitInput;
    }
    if (failed.empty()) return kExitOk;
    std::string numbers;
    for (std::size_t n : failed) numbers += (numbers.empty() ? "" : ", ") + std::to_string(n);
    Say(Format(Msg::kFileFailedLines, {std::to_string(failed.size()), numbers}));
    return kExitLineFailed;
}

}  // namespace server
