#include "workbench.h"

#include <windows.h>
#include <bcrypt.h>
#include <winternl.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <future>

#include "code_pages.h"
#include "corrections.h"
#include "diagnose.h"
#include "dictionary_folder_win.h"
#include "dictionary_words.h"
#include "game_name.h"
#include "history.h"
#include "history_routes.h"
#include "korean.h"
#include "messages.h"
#include "text_codec.h"
#include "text_plan.h"
#include "translator.h"
#include "web_words.h"
#include "workbench_files.h"

namespace server {
namespace {

using Json = nlohmann::json;
using SteadyClock = std::chrono::steady_clock;

// Entries listed per folder; a larger folder is summed up, not sent whole.
constexpr std::size_t kListedEntries = 3000;
constexpr std::size_t kLiveDefault = 200;

std::string Dump(const Json& j) {
    return j.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

WebAnswer JsonReply(const Json& j, int status = 200) {
    return {status, "application/json; charset=utf-8", Dump(j)};
}

WebAnswer Problem(int status, const std::string& reason) {
    return {status, "application/json; charset=utf-8", ErrorJson(reason)};
}

// The run's token, or "" with the system's reason in `why`: every change is then refused.
std::string NewToken(std::string& why) {
    unsigned char bytes[32];
    const NTSTATUS status =
        BCryptGenRandom(nullptr, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    if (status != 0) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(status));
        why = "BCryptGenRandom " + std::string(code) + ": " +
              programs::SystemMessage(RtlNtStatusToDosError(status));
        return {};
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string token;
    for (unsigned char b : bytes) {
        token += kHex[b >> 4];
        token += kHex[b & 15];
    }
    return token;
}

std::string Param(std::string_view query, std::string_view name, bool* given = nullptr) {
    bool bad = false;
    std::optional<std::string> v = QueryValue(query, name, bad);
    if (given) *given = v.has_value() && !bad;
    return v && !bad && IsValidUtf8(*v) ? *v : std::string();
}

std::string TrimEnd(std::string s) {
    while (!s.empty() &&
           (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.pop_back();
    return s;
}

// A game as a request names it: folded, "" for the common entries, nullopt (with `why`) when
// refused.
std::optional<std::string> GameOf(const std::string& raw, std::string* why) {
    if (raw.empty()) return std::string();
    return mirelo::games::CheckGameName(raw, why);
}

// The JSON object of a request that changes something; nullopt (with the answer) otherwise.
std::optional<Json> JsonBody(const WebRequest& r, WebAnswer& refusal) {
    if (MediaType(r.contentType) != "application/json") {
        refusal = Problem(415, "send application/json");
        return std::nullopt;
    }
    Json j = Json::parse(r.body, nullptr, false);
    if (j.is_discarded() || !j.is_object()) {
        refusal = Problem(400, "the body is not a JSON object");
        return std::nullopt;
    }
    return j;
}

std::string Text(const Json& j, const char* key) {
    const auto it = j.find(key);
    return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// A change's JSON body and the game it names (checked and folded), or the answer refusing it.
struct GameBody {
    Json json;
    std::string game;
};
std::optional<GameBody> JsonForGame(const WebRequest& r, WebAnswer& refusal) {
    std::optional<Json> j = JsonBody(r, refusal);
    if (!j) return std::nullopt;
    std::string why;
    std::optional<std::string> game = GameOf(Text(*j, "game"), &why);
    if (!game) {
        refusal = Problem(400, why);
        return std::nullopt;
    }
    return GameBody{std::move(*j), std::move(*game)};
}

// The sample line with each "{}" made the name, and the particle after it made to agree.
std::string PreviewParticles(std::string_view sample, const std::string& name) {
    const mirelo::dict::Final final = mirelo::dict::FinalOfUtf8(name);
    std::string out;
    for (;;) {
        const std::size_t at = sample.find("{}");
        out += sample.substr(0, at);
        if (at == std::string_view::npos) return out;
        out += name;
        sample.remove_prefix(at + 2);
        // Particles are Hangul: two bytes each in CP949, three in UTF-8.
        const std::string rest =
            mirelo::EncodeLossy(949, sample.substr(0, std::min<std::size_t>(sample.size(), 24)));
        std::string_view agreeing;
        const std::size_t n = mirelo::dict::MatchParticle(
            reinterpret_cast<const mirelo::dict::Byte*>(rest.c_str()), final, agreeing);
        if (n == 0) continue;
        out += programs::Cp949ToUtf8(std::string(agreeing));
        sample.remove_prefix(std::min(sample.size(), n / 2 * 3));
    }
}

// A pattern entry tried on a sample line before it is saved, as the plug-in would run it: the
// line it gives and what it replaced, or why the plug-in would leave it out (its problems, or
// for this line, a search past the step budget or a result too long).
WebAnswer TryPattern(std::string_view query) {
    using mirelo::dict::Dictionary;
    const std::string kind = Param(query, "kind");
    if (kind != "pre-re" && kind != "post-re") return Problem(400, "kind is pre-re or post-re");
    const std::string from = Param(query, "from"), to = Param(query, "to");
    const std::string sample = Param(query, "sample");
    if ((from + to + sample).find_first_of("\t\r\n") != std::string::npos)
        return Problem(400, "an entry and its sample line hold no tab or line break");
    const std::string file = kind + "\t" + from + "\t" + to + "\n";
    const mirelo::dict::SourceFile source{"", file};
    std::vector<mirelo::dict::Problem> problems;
    const auto d = Dictionary::Compile({&source, 1}, mirelo::dict::SystemEncoders(), &problems);
    if (!d) return Problem(503, "out of memory");
    Json words = Json::array();
    for (const mirelo::dict::Problem& p : problems) words.push_back(programs::DescribeReason(p));
    if (!problems.empty()) return JsonReply({{"problems", words}});
    const bool pre = kind == "pre-re";
    const UINT codePage = pre ? 932 : 949;
    std::string text;
    if (!mirelo::EncodeExactly(codePage, sample, text))
        return Problem(400, pre ? "the sample cannot be written in Shift-JIS"
                                : "the sample cannot be written in CP949");
    std::string buffer;
    std::vector<mirelo::dict::Firing> fired;
    const char* out = mirelo::dict::RunPass(
        *d, pre ? &Dictionary::ApplyPreRe : &Dictionary::ApplyPostRe, text.c_str(), buffer, &fired);
    Json replaced = Json::array();
    std::string skipped;
    for (const mirelo::dict::Firing& f : fired) {
        if (f.what == mirelo::dict::FiringKind::kOverBudget) skipped = "steps";
        if (f.what == mirelo::dict::FiringKind::kTooLong) skipped = "too_long";
        for (std::size_t i = 0; i + 1 < f.replaced.size(); i += 2)
            replaced.push_back({f.replaced[i], f.replaced[i + 1]});
    }
    return JsonReply({{"line", mirelo::WideToUtf8(mirelo::CodePageToWide(codePage, out))},
                      {"replaced", replaced},
                      {"skipped", skipped},
                      {"problems", words}});
}

// At most `limit` bytes of `text`, cut between two characters.
bool Cut(std::string& text, std::size_t limit) {
    if (text.size() <= limit) return false;
    std::size_t at = limit;
    while (at > 0 && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) --at;
    text.resize(at);
    return true;
}

const EmbeddedFile* FileAt(std::string_view path) {
    if (path == "/") path = "/index.html";
    for (std::size_t i = 0; i < kWorkbenchFileCount; ++i)
        if (path == kWorkbenchFiles[i].path) return &kWorkbenchFiles[i];
    return nullptr;
}

}  // namespace

Workbench::Workbench(Config config, AnswerFeed& feed)
    : m_config(std::move(config)), m_token(NewToken(m_tokenProblem)) {
    if (const EmbeddedFile* index = FileAt("/")) {
        m_page.assign(index->data, index->size);
        for (auto [mark, value] : {std::pair<std::string, std::string>{"@TOKEN@", m_token},
                                   {"@LANG@", m_config.korean ? "ko" : "en"}}) {
            for (std::size_t at; (at = m_page.find(mark)) != std::string::npos;)
                m_page.replace(at, mark.size(), value);
        }
    }
    feed.Listen([this](const std::vector<AnsweredLine>& lines) noexcept {
        try {
            Take(lines);
        } catch (...) {
            // Out of memory: these lines are missing from the live view, nothing else.
        }
    });
    m_thread = std::thread([this] { Run(); });
}

Workbench::~Workbench() {
    Stop();
}

void Workbench::Stop() {
    std::vector<Waiter> waiters;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        waiters.swap(m_waiters);
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
    // A job running holds its connection too.
    m_work.Stop();
    m_history.Stop();
    m_trials.Stop();
}

std::optional<Refusal> Workbench::CheckCaller(const WebRequest& r) const {
    if (auto no = server::CheckHost(m_config.host, r.host, r.hostGiven, r.version)) return no;
    return server::CheckSite(m_config.host, r.host, r.origin, r.originGiven, r.fetchSite,
                             Owns(r.path));
}

bool Workbench::Owns(std::string_view path) {
    return path == "/" || path.rfind("/api/", 0) == 0 || FileAt(path) != nullptr;
}

std::optional<WebAnswer> Workbench::Handle(const WebRequest& r, Later later) {
    const bool get = r.method == "GET" || r.method == "HEAD";
    const std::string_view path = r.path;
    if (path.rfind("/api/", 0) != 0) {
        if (!get) return Problem(405, "use GET");
        const EmbeddedFile* file = FileAt(path);
        if (!file) return Problem(404, "no such page");
        WebAnswer a{
            200, file->type,
            path == "/" || path == "/index.html" ? m_page : std::string(file->data, file->size)};
        a.page = true;
        return a;
    }
    if (!get) {
        // Asked before a cross-origin request: never granted, so the request is not sent.
        if (r.method == "OPTIONS") return Problem(403, "cross-origin requests are not served");
        if (r.method != "POST") return Problem(405, "use GET or POST");
        if (auto no = CheckChange(r.host, r.origin, r.originGiven, r.token, m_token))
            return Problem(no->status, no->reason);
    }
    if (path == "/api/live") return get ? Live(r.query, later) : Problem(405, "use GET");
    if (path == "/api/dictionary") {
        if (!get) return Problem(405, "use GET");
        return Queue(
            m_work,
            [this, query = std::string(r.query)]() -> std::optional<WebAnswer> {
                return Dictionary(query);
            },
            later);
    }
    if (path == "/api/try-pattern") return get ? Trial(r, later) : Problem(405, "use GET");
    if (path == "/api/preview") {
        if (!get) return Problem(405, "use GET");
        return JsonReply(
            {{"line", PreviewParticles(Param(r.query, "sample"), Param(r.query, "name"))}});
    }
    if (path == "/api/status") {
        if (!get) return Problem(405, "use GET");
        return Queue(
            m_work, [this]() -> std::optional<WebAnswer> { return Status(); }, later);
    }
    if (path == "/api/correct") return get ? Problem(405, "use POST") : Correct(r, later);
    if (path == "/api/name" || path == "/api/engine-folder") {
        if (get) return Problem(405, "use POST");
        // The request's fields point into the connection's buffers: the job keeps copies.
        return Queue(
            m_work,
            [this, name = path == "/api/name", type = std::string(r.contentType),
             body = std::string(r.body)]() -> std::optional<WebAnswer> {
                WebRequest copy;
                copy.contentType = type;
                copy.body = body;
                return name ? AddName(copy) : EngineFolder(copy);
            },
            later);
    }
    if (m_config.history && IsHistoryRoute(path))
        return Queue(
            m_history,
            [this, method = std::string(r.method), path = std::string(path),
             query = std::string(r.query), body = std::string(r.body),
             type = std::string(r.contentType)]() -> std::optional<WebAnswer> {
                if (auto a = m_config.history(method, path, query, body, type)) return a;
                return Problem(404, "no such route");
            },
            later);
    return Problem(404, "no such route, or the history is not available");
}

void Workbench::Take(const std::vector<AnsweredLine>& lines) {
    std::vector<Later> ready;
    {
        std::lock_guard lock(m_mutex);
        auto size = [](const Line& l) { return l.line.source.size() + l.line.translation.size(); };
        for (const AnsweredLine& l : lines) {
            auto& ring = m_lines[l.game];
            Line kept{++m_lastId, l};
            kept.cut = Cut(kept.line.source, kLineBytes) | Cut(kept.line.translation, kLineBytes);
            m_bytes += size(kept);
            ring.push_back(std::move(kept));
            if (ring.size() > kLinesPerGame) {
                m_bytes -= size(ring.front());
                ring.pop_front();
            }
            if (m_recentGames.empty() || m_recentGames.front() != l.game) {
                std::erase(m_recentGames, l.game);
                m_recentGames.insert(m_recentGames.begin(), l.game);
            }
        }
        // Over the bounds, the games translated least recently give up their lines first.
        while (m_recentGames.size() > kGames || (m_bytes > kBytes && m_recentGames.size() > 1)) {
            for (const Line& l : m_lines[m_recentGames.back()]) m_bytes -= size(l);
            m_lines.erase(m_recentGames.back());
            m_recentGames.pop_back();
        }
        for (auto& ring = m_lines[m_recentGames.front()]; m_bytes > kBytes && ring.size() > 1;) {
            m_bytes -= size(ring.front());
            ring.pop_front();
        }
        std::vector<std::pair<std::string, uint64_t>> answered;
        std::erase_if(m_waiters, [&](Waiter& w) {
            const auto it = m_lines.find(w.game);
            if (it == m_lines.end() || it->second.empty() || it->second.back().id <= w.after)
                return false;
            ready.push_back(std::move(w.later));
            answered.emplace_back(w.game, w.after);
            return true;
        });
        // Made under the lock: the lines are read from the rings.
        for (std::size_t i = 0; i < ready.size(); ++i) {
            Later done = std::move(ready[i]);
            WebAnswer a{200, "application/json; charset=utf-8",
                        LiveBody(answered[i].first, answered[i].second, kLinesPerGame)};
            ready[i] = [done = std::move(done), a = std::move(a)](WebAnswer) mutable {
                done(std::move(a));
            };
        }
    }
    for (Later& l : ready) l({});
}

std::string Workbench::LiveBody(const std::string& game, uint64_t after, std::size_t limit) const {
    Json lines = Json::array();
    const auto it = m_lines.find(game);
    if (it != m_lines.end()) {
        const auto& ring = it->second;
        auto first =
            std::find_if(ring.begin(), ring.end(), [&](const Line& l) { return l.id > after; });
        if (static_cast<std::size_t>(ring.end() - first) > limit) first = ring.end() - limit;
        for (auto l = first; l != ring.end(); ++l)
            lines.push_back({{"id", l->id},
                             {"time", IsoTime(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                  l->line.time.time_since_epoch())
                                                  .count())},
                             {"game", l->line.game},
                             {"client", l->line.client},
                             {"source", l->line.source},
                             {"translation", l->line.translation},
                             {"outcome", OutcomeWord(l->line.outcome, l->line.corrected)},
                             {"cut", l->cut}});
    }
    return Dump({{"game", game}, {"games", m_recentGames}, {"last", m_lastId}, {"lines", lines}});
}

std::optional<WebAnswer> Workbench::Live(std::string_view query, Later& later) {
    bool gameGiven = false, afterGiven = false;
    const std::string raw = Param(query, "game", &gameGiven);
    const std::string afterText = Param(query, "after", &afterGiven);
    std::string why;
    const std::optional<std::string> asked = GameOf(raw, &why);
    if (!asked) return Problem(400, why);
    uint64_t after = 0;
    if (afterGiven) {
        if (afterText.empty() || afterText.size() > 19 ||
            afterText.find_first_not_of("0123456789") != std::string::npos)
            return Problem(400, "after must be a line number");
        after = std::stoull(afterText);
    }
    std::lock_guard lock(m_mutex);
    // No game named: the one translated most recently.
    const std::string game = gameGiven || m_recentGames.empty() ? *asked : m_recentGames.front();
    const auto it = m_lines.find(game);
    const bool newer = it != m_lines.end() && !it->second.empty() && it->second.back().id > after;
    if (!afterGiven || newer || m_stopping)
        return WebAnswer{200, "application/json; charset=utf-8",
                         LiveBody(game, after, afterGiven ? kLinesPerGame : kLiveDefault)};
    if (m_waiters.size() >= kWaiters) {
        const auto now = SteadyClock::now();
        const auto oldest = std::find_if(m_waiters.begin(), m_waiters.end(),
                                         [now](const Waiter& w) { return w.until > now; });
        if (oldest != m_waiters.end()) oldest->until = now;
    }
    m_waiters.push_back({game, after, SteadyClock::now() + kWait, std::move(later)});
    m_wake.notify_all();
    return std::nullopt;
}

std::optional<WebAnswer> Workbench::Correct(const WebRequest& r, Later& later) {
    WebAnswer refusal;
    const std::optional<GameBody> asked = JsonForGame(r, refusal);
    if (!asked) return refusal;
    const Json* j = &asked->json;
    const std::string* game = &asked->game;
    const std::string source = TrimEnd(Text(*j, "source"));
    const std::string translation = TrimEnd(Text(*j, "translation"));
    if (source.empty()) return Problem(400, "give the line's source");
    // A line entry answers one line; the file has no escapes for the rest.
    if (source.find_first_of("\r\n") != std::string::npos)
        return Problem(400, "the source holds a line break: a correction answers one line");
    if ((source + translation).find_first_of(std::string_view("\t\r\n\0", 4)) != std::string::npos)
        return Problem(400, "a correction cannot hold a tab, a line break or a NUL");
    // What the plug-in would skip when it reads the entry is refused now, with the reason.
    const mirelo::dict::TextEncoders& enc = mirelo::dict::SystemEncoders();
    std::string bytes;
    if (!enc.toShiftJis(source, bytes))
        return Problem(400,
                       "the source cannot be written in Shift-JIS, so no line entry can match it");
    if (bytes.size() > mirelo::dict::kMaxSideBytes)
        return Problem(400, "the source is over 1024 bytes in Shift-JIS");
    if (!enc.toCp949(translation, bytes))
        return Problem(400, "the translation cannot be written in CP949");
    if (bytes.size() > mirelo::dict::kMaxSideBytes)
        return Problem(400, "the translation is over 1024 bytes in CP949");
    // Whatever else the save would refuse the entry for is the request's fault, not the server's.
    if (std::string problem = CorrectionProblems({{source, translation}}).front(); !problem.empty())
        return Problem(400, problem);
    return Queue(
        m_work,
        [this, game = *game, source, translation] {
            return ApplyCorrection(game, source, translation);
        },
        later);
}

std::optional<WebAnswer> Workbench::Queue(JobQueue& queue, Work work, Later& later) {
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping) return Problem(503, "the server is stopping");
    }
    const JobQueue::Put put = queue.Post([work = std::move(work), later = std::move(later)] {
        std::optional<WebAnswer> answer;
        try {
            answer = work();
        } catch (const std::exception& e) {
            answer = Problem(500, std::string("the server failed on this request: ") + e.what());
        }
        if (answer) later(std::move(*answer));
    });
    if (put == JobQueue::Put::kQueued) return std::nullopt;
    if (put == JobQueue::Put::kStopping) return Problem(503, "the server is stopping");
    return Problem(503, "too many requests of this kind are waiting; try again in a moment");
}

// One trial at a time per client: a page that keeps sending a runaway pattern holds up only
// its own trials, each of which may take its whole step budget.
std::optional<WebAnswer> Workbench::Trial(const WebRequest& r, Later& later) {
    std::string peer(r.peer);
    {
        std::lock_guard lock(m_mutex);
        if (!m_trying.insert(peer).second)
            return Problem(429, "a pattern of yours is still being tried; wait for its answer");
    }
    auto done = [this, peer] {
        std::lock_guard lock(m_mutex);
        m_trying.erase(peer);
    };
    std::optional<WebAnswer> a = Queue(
        m_trials,
        [query = std::string(r.query), done]() -> std::optional<WebAnswer> {
            // Said done before the answer goes, so that the client's next trial is taken.
            struct Done {
                decltype(done) f;
                ~Done() { f(); }
            } guard{done};
            return TryPattern(query);
        },
        later);
    if (a) done();
    return a;
}

WebAnswer Workbench::Status() const {
    const programs::Diagnosis d = programs::Diagnose();
    Json quarantined = Json::array();
    if (m_config.translator) {
        const PoolSnapshot p = m_config.translator->Snapshot();
        for (std::size_t i = 0; i < p.quarantined.size(); ++i)
            quarantined.push_back({{"game", p.quarantinedGames[i]}, {"line", p.quarantined[i]}});
    }
    return JsonReply({{"ready", d.ready}, {"report", d.report}, {"quarantined", quarantined}});
}

std::optional<WebAnswer> Workbench::ApplyCorrection(const std::string& game,
                                                    const std::string& source,
                                                    const std::string& translation) {
    std::string why;
    if (!SaveCorrections(m_config.dictionaryFolder, game, {{source, translation}}, &why))
        return Problem(500, why);
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_lines.find(game);
        if (it != m_lines.end())
            for (Line& l : it->second)
                if (TrimEnd(l.line.source) == source) {
                    m_bytes = m_bytes - l.line.translation.size() + translation.size();
                    l.line.translation = translation;
                    l.line.outcome = Outcome::kTranslated;
                    l.line.corrected = true;
                }
    }
    // The server answers the line from the entry itself from now on, for every client; the
    // workers' plug-ins read it on their own once the folder has held still.
    const auto start = SteadyClock::now();
    bool inUse = false;
    if (m_config.lines) {
        m_config.lines->Reload(game);
        std::string sjis, answer;
        inUse = mirelo::EncodeExactly(932, source, sjis) &&
                m_config.lines->Find(game, sjis, answer) && answer == translation;
    }
    // Answers given a moment ago, before the correction, are forgotten.
    if (Translator* t = m_config.translator) t->DictionaryChanged();
    const auto waited =
        std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start);
    return JsonReply({{"saved", true},
                      {"in_use", inUse},
                      {"waited_ms", waited.count()},
                      {"game", game},
                      {"file", (game.empty() ? "" : game + "\\") + "corrections.txt"}});
}

// Answers the pages that have waited kWait for new lines.
void Workbench::Run() {
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        const auto now = SteadyClock::now();
        std::vector<Waiter> due;
        std::erase_if(m_waiters, [&](Waiter& w) {
            if (w.until > now) return false;
            due.push_back(std::move(w));
            return true;
        });
        if (!due.empty()) {
            std::vector<std::pair<Later, std::string>> answers;
            try {
                for (Waiter& w : due)
                    answers.emplace_back(std::move(w.later), LiveBody(w.game, w.after, 0));
            } catch (...) {
                // Out of memory: the waiting pages left without an answer are closed, and ask
                // again.
            }
            lock.unlock();
            try {
                for (auto& [later, body] : answers)
                    later({200, "application/json; charset=utf-8", std::move(body)});
            } catch (...) {
            }
            due.clear();
            answers.clear();
            lock.lock();
            continue;
        }
        m_wake.wait_for(lock, std::chrono::milliseconds(500));
    }
}

WebAnswer Workbench::Dictionary(std::string_view query) const {
    std::string why;
    const std::optional<std::string> game = GameOf(Param(query, "game"), &why);
    if (!game) return Problem(400, why);
    Json folders = Json::array(), problems = Json::array();
    std::map<std::pair<int, std::string>, bool> ofGame;  // kind and FROM of the game's entries
    std::vector<std::pair<std::string, std::filesystem::path>> scopes{
        {"", m_config.dictionaryFolder}};
    if (!game->empty())
        scopes.emplace_back(*game, m_config.dictionaryFolder / std::filesystem::u8path(*game));
    // The game's first, so that a common entry it overrides can be marked.
    std::reverse(scopes.begin(), scopes.end());
    for (const auto& [scope, folder] : scopes) {
        const mirelo::dict::FolderDictionary loaded = mirelo::dict::LoadFolder(folder.wstring());
        Json entries = Json::array();
        std::size_t total = 0;
        Json counts = Json::object();
        if (const mirelo::dict::Dictionary* d = loaded.dictionary.get()) {
            for (mirelo::dict::Kind k : mirelo::dict::kKinds) {
                counts[mirelo::dict::KindName(k)] = d->Count(k);
                total += d->Count(k);
            }
            for (uint32_t i = 0; i < total && i < kListedEntries; ++i) {
                const mirelo::dict::EntryInfo e = d->Info(i);
                const auto key = std::make_pair(static_cast<int>(e.kind), e.from);
                const bool overridden = scope.empty() && ofGame.count(key);
                if (!scope.empty()) ofGame[key] = true;
                entries.push_back({{"kind", mirelo::dict::KindName(e.kind)},
                                   {"from", e.from},
                                   {"to", e.to},
                                   {"file", e.file},
                                   {"line", e.line},
                                   {"overridden", overridden}});
            }
        }
        for (const mirelo::dict::Problem& p : loaded.problems)
            problems.push_back({{"scope", scope}, {"text", programs::DescribeProblem(p)}});
        folders.push_back({{"scope", scope},
                           {"folder", folder.u8string()},
                           {"files", loaded.files},
                           {"counts", counts},
                           {"total", total},
                           {"entries", entries}});
    }
    std::reverse(folders.begin(), folders.end());
    return JsonReply({{"game", *game}, {"folders", folders}, {"problems", problems}});
}

WebAnswer Workbench::AddName(const WebRequest& r) {
    WebAnswer refusal;
    const std::optional<GameBody> asked = JsonForGame(r, refusal);
    if (!asked) return refusal;
    const Json* j = &asked->json;
    const std::string* game = &asked->game;
    const std::string from = Text(*j, "from"), to = Text(*j, "to");
    if (from.empty() || to.empty()) return Problem(400, "give the name and its Korean form");
    if ((from + to).find_first_of("\t\r\n") != std::string::npos)
        return Problem(400, "a name cannot hold a tab or a line break");
    const mirelo::dict::TextEncoders& enc = mirelo::dict::SystemEncoders();
    std::string bytes;
    if (!enc.toShiftJis(from, bytes))
        return Problem(400, "the name cannot be written in Shift-JIS");
    if (!enc.toCp949(to, bytes)) return Problem(400, "the Korean form cannot be written in CP949");
    std::filesystem::path folder = m_config.dictionaryFolder;
    if (!game->empty()) folder /= std::filesystem::u8path(*game);
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    const std::filesystem::path file = folder / "names.txt";
    std::string text, why;
    const LockedFile locked = LockAndRead(file, text, &why);
    if (!locked) return Problem(500, why);
    if (text.size() > mirelo::dict::kMaxFileBytes) return Problem(400, "names.txt is full");
    if (!text.empty() && text.back() != '\n') text += "\n";
    text += "name\t" + from + "\t" + to + "\n";
    if (!ReplaceLocked(file, text, &why)) return Problem(500, why);
    return JsonReply(
        {{"saved", true}, {"file", (game->empty() ? "" : *game + "\\") + "names.txt"}});
}

WebAnswer Workbench::EngineFolder(const WebRequest& r) {
    WebAnswer refusal;
    const std::optional<Json> j = JsonBody(r, refusal);
    if (!j) return refusal;
    const std::string folder = Text(*j, "folder");
    if (folder.empty()) return Problem(400, "give the engine's folder");
    const programs::Recording rec = programs::SetEngineFolder(mirelo::Utf8ToWide(folder));
    return JsonReply({{"recorded", rec.recorded}, {"report", rec.report}},
                     rec.recorded ? 200 : 422);
}

}  // namespace server
