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
#include "messages.h"
#include "pattern_trial.h"
#include "text_codec.h"
#include "text_plan.h"
#include "translator.h"
#include "web_words.h"
#include "workbench_files.h"
#include "workbench_replies.h"

namespace server {
namespace {

using namespace replies;
using SteadyClock = std::chrono::steady_clock;

// Entries listed per folder; a larger folder is summed up, not sent whole.
constexpr std::size_t kListedEntries = 3000;

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

const EmbeddedFile* FileAt(std::string_view path) {
    if (path == "/") path = "/index.html";
    for (std::size_t i = 0; i < kWorkbenchFileCount; ++i)
        if (path == kWorkbenchFiles[i].path) return &kWorkbenchFiles[i];
    return nullptr;
}

}  // namespace

Workbench::Workbench(Config config, AnswerFeed& feed)
    : m_config(std::move(config)), m_token(NewToken(m_tokenProblem)), m_live(feed) {
    if (const EmbeddedFile* index = FileAt("/")) {
        m_page.assign(index->data, index->size);
        for (auto [mark, value] : {std::pair<std::string, std::string>{"@TOKEN@", m_token},
                                   {"@LANG@", m_config.korean ? "ko" : "en"}}) {
            for (std::size_t at; (at = m_page.find(mark)) != std::string::npos;)
                m_page.replace(at, mark.size(), value);
        }
    }
}

Workbench::~Workbench() {
    Stop();
}

void Workbench::Stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_live.Stop();
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
    if (path == "/api/live") return get ? m_live.Ask(r.query, later) : Problem(405, "use GET");
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
    m_live.Corrected(game, source, translation);
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
