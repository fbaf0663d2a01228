#include "http_reply.h"

// Boost 1.74 uses std::exchange without including <utility>.
#include <utility>

#include <boost/beast/http.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>
#include <sstream>

#include "code_pages.h"
#include "dictionary_watch.h"
#include "event_log.h"
#include "http_config.h"
#include "mirelo_version.h"
#include "module_path.h"
#include "utf8.h"
#include "web_words.h"

namespace server::web {
namespace {

using Json = nlohmann::json;

std::string Dump(const Json& j) {
    return j.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

struct Failure {
    http::status status;
    const char* reason;  // for a one-text answer
    const char* word;    // in lists of failed lines
};

Failure WhyFailed(Outcome outcome) {
    switch (outcome) {
        case Outcome::kQuarantined:
            return {http::status::unprocessable_entity,
                    "this line ended the engine's process twice; it is not sent to the engine "
                    "for now",
                    "quarantined"};
        case Outcome::kHung:
            return {http::status::gateway_timeout, "the engine hung on this line", "hung"};
        case Outcome::kTimedOut:
            return {http::status::gateway_timeout, "the plug-in did not answer in time",
                    "timed_out"};
        default:
            return {http::status::unprocessable_entity, "the engine gave no translation",
                    "untranslated"};
    }
}

// "0-3,7,9-10", at most `limit` bytes: cut after the last range that fits, with "...".
std::string Ranges(const std::vector<std::size_t>& indexes, std::size_t limit) {
    std::string out;
    for (std::size_t i = 0; i < indexes.size();) {
        std::size_t j = i;
        while (j + 1 < indexes.size() && indexes[j + 1] == indexes[j] + 1) ++j;
        std::string range = std::to_string(indexes[i]);
        if (j > i) range += (j == i + 1 ? "," : "-") + std::to_string(indexes[j]);
        if (out.size() + range.size() + 5 > limit) return out + (out.empty() ? "..." : ",...");
        out += (out.empty() ? "" : ",") + range;
        i = j + 1;
    }
    return out;
}

// X-Mirelo-Failed: every index as before when that fits, else ranges.
std::string FailedHeader(const std::vector<std::size_t>& indexes) {
    std::string plain;
    for (std::size_t i : indexes) {
        plain += (plain.empty() ? "" : ",") + std::to_string(i);
        if (plain.size() > kFailedHeaderBytes) return Ranges(indexes, kFailedHeaderBytes);
    }
    return plain;
}

// X-Mirelo-Failed-Reasons: "untranslated=0-3,7;hung=5", each reason's share of the bound.
std::string ReasonsHeader(const std::map<Outcome, std::vector<std::size_t>>& byReason) {
    std::string out;
    const std::size_t share = kFailedHeaderBytes / std::max<std::size_t>(1, byReason.size());
    for (const auto& [outcome, indexes] : byReason) {
        const std::string word = WhyFailed(outcome).word;
        out += (out.empty() ? "" : ";") + word + "=" + Ranges(indexes, share - word.size() - 2);
    }
    return out;
}

Reply OneText(const Batch& batch, bool json) {
    Batch::Result res = batch.Get(0);
    if (res.outcome != Outcome::kTranslated) {
        const Failure why = WhyFailed(res.outcome);
        return Error(why.status, why.reason, json);
    }
    Reply r;
    if (json) {
        r.type = kJson;
        r.body = Dump(Json{{"text", res.text}});
    } else {
        r.body = std::move(res.text);
    }
    return r;
}

const char* StateWord(Translator::State state) {
    switch (state) {
        case Translator::State::kReady:
            return "ready";
        case Translator::State::kFailed:
            return "failed";
        case Translator::State::kRetrying:
            return "retrying";
        default:
            return "starting";
    }
}

Json PoolFigures(const PoolSnapshot& p) {
    const TranslatorStats& s = p.stats;
    // "server" tells a client (the Textractor extension) that the port is Mirelo's.
    return {{"server", "mirelo-server"},
            {"version", MIRELO_VERSION},
            {"commit", MIRELO_COMMIT},
            {"engine_ready", p.state == Translator::State::kReady},
            {"plugin", StateWord(p.state)},
            {"plugin_problem", p.problem},
            {"lines_served", s.linesServed},
            {"plugin_calls", s.pluginCalls},
            {"cache_hits", s.cacheHits},
            {"recent_hits", s.recentHits},
            {"line_answers", s.lineAnswers},
            {"engine_lines", s.engineLines},
            {"engine_could_not_take", s.untranslated},
            {"mean_ms_per_engine_line", s.engineLines ? s.engineMillis / s.engineLines : 0.0},
            {"timed_out", s.timedOut},
            {"rejected_busy", s.rejectedBusy},
            {"cancelled", s.cancelled},
            {"queued", s.queued},
            {"queue_capacity", s.capacity},
            {"workers_ready", s.workers},
            {"quarantined_answers", s.quarantined},
            {"quarantined", p.quarantined}};
}

}  // namespace

Reply Error(http::status status, const std::string& reason, bool json) {
    Reply r;
    r.status = status;
    if (json) {
        r.type = kJson;
        r.body = ErrorJson(reason);
    } else {
        r.body = reason + "\n";
    }
    return r;
}

Reply Closing(Reply r) {
    r.close = true;
    return r;
}

Reply NotAllowed(const char* allow) {
    Reply r = Error(http::status::method_not_allowed, std::string("use ") + allow);
    r.allow = allow;
    return r;
}

Reply Busy(const std::string& reason, bool json) {
    Reply r = Error(http::status::service_unavailable, reason, json);
    r.retry = true;
    return r;
}

Reply Busy(Translator::Admit admit, bool json, const std::string& problem) {
    if (admit != Translator::Admit::kNotReady)
        return Busy("too many lines waiting; try again", json);
    return Busy(
        problem.empty() ? "the plug-in is not ready" : "the plug-in is not ready: " + problem,
        json);
}

Reply Answer(const Batch& batch, Shape shape, const std::vector<Line>& lines) {
    if (shape == Shape::kText || shape == Shape::kJsonText)
        return OneText(batch, shape == Shape::kJsonText);
    Reply r;
    Json texts = Json::array(), failed = Json::array(), reasons = Json::array();
    std::vector<std::size_t> failedIndexes;
    std::map<Outcome, std::vector<std::size_t>> byReason;
    for (std::size_t i = 0; i < batch.TextCount(); ++i) {
        Batch::Result res = batch.Get(i);
        if (res.outcome != Outcome::kTranslated) {
            failedIndexes.push_back(i);
            byReason[res.outcome].push_back(i);
        }
        if (shape == Shape::kLines) {
            r.body += res.text;
            r.body += lines[i].end;
        } else {
            texts.push_back(std::move(res.text));
            if (res.outcome != Outcome::kTranslated) {
                failed.push_back(i);
                reasons.push_back(WhyFailed(res.outcome).word);
            }
        }
    }
    if (shape == Shape::kJsonTexts) {
        Json j{{"texts", std::move(texts)}};
        if (!failed.empty()) {
            j["failed"] = std::move(failed);
            j["failed_reasons"] = std::move(reasons);
        }
        r.type = kJson;
        r.body = Dump(j);
    } else if (!failedIndexes.empty()) {
        r.failed = FailedHeader(failedIndexes);
        r.failedCount = failedIndexes.size();
        r.failedReasons = ReasonsHeader(byReason);
    }
    return r;
}

Reply Status(const PoolSnapshot& p, const HttpConfig& config) {
    Json j = PoolFigures(p);
    Json workers = Json::array();
    for (const WorkerStatus& w : p.workers)
        workers.push_back({{"pid", w.pid},
                           {"state", w.state},
                           {"lines", w.lines},
                           {"restarts", w.restarts},
                           {"last_fault", w.lastFault},
                           {"game", w.game}});
    j["workers"] = std::move(workers);
    j["workers_paused_s"] = p.pausedSeconds;
    Json events = Json::array();
    if (config.events)
        for (const LoggedEvent& e : config.events->Recent())
            events.push_back({{"time", e.time}, {"kind", e.kind}, {"text", e.text}});
    j["events"] = std::move(events);
    // Which server this is and which dictionary its plug-in reads, for a client that
    // found a server it did not start.
    j["folder"] = mirelo::WideToUtf8(mirelo::ModuleFolder(nullptr));
    if (const DictionaryWatch* d = config.dictionary) {
        j["dictionary"] = mirelo::WideToUtf8(d->Folder());
        j["dictionary_problems"] = d->Problems();
    }
    Reply r;
    r.type = kJson;
    r.body = Dump(j);
    return r;
}

std::string Serialize(Reply reply, const Framing& framing, const std::string& cors) {
    http::response<http::string_body> res(reply.status, framing.version);
    res.set(http::field::server, "mirelo-server/" MIRELO_VERSION);
    res.set(http::field::content_type, reply.type);
    if (reply.allow) res.set(http::field::allow, reply.allow);
    if (reply.retry) res.set(http::field::retry_after, "1");
    if (!reply.failed.empty()) {
        res.set("X-Mirelo-Failed", reply.failed);
        res.set("X-Mirelo-Failed-Count", std::to_string(reply.failedCount));
        res.set("X-Mirelo-Failed-Reasons", reply.failedReasons);
    }
    if (reply.workbench) {
        res.set(http::field::cache_control, "no-store");
        res.set("X-Content-Type-Options", "nosniff");
        res.set("Referrer-Policy", "no-referrer");
    }
    if (reply.page) {
        res.set("Content-Security-Policy",
                "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
                "img-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'");
        res.set("X-Frame-Options", "DENY");
    }
    if (!cors.empty() && !reply.workbench) {
        res.set(http::field::access_control_allow_origin, cors);
        res.set(http::field::vary, "Origin");
        if (framing.preflight) {
            res.set(http::field::access_control_allow_methods, "GET, POST");
            res.set(http::field::access_control_allow_headers, "Content-Type");
        }
    }
    res.body() = std::move(reply.body);
    res.keep_alive(framing.keepAlive && !reply.close);
    res.prepare_payload();
    std::ostringstream text;
    if (framing.headOnly)
        text << res.base();
    else
        text << res;
    return std::move(text).str();
}

}  // namespace server::web
