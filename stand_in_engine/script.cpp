#include "script.h"

#include <sstream>
#include <vector>

#include "hex.h"

namespace standin {
namespace {

std::optional<unsigned long long> ParseNumber(const std::string& s, unsigned long long max) {
    if (s.empty() || s.size() > 19) return std::nullopt;
    unsigned long long v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + static_cast<unsigned>(c - '0');
    }
    if (v > max) return std::nullopt;
    return v;
}

// Splits on blanks; a token that starts with '#' ends the line.
std::vector<std::string> Tokens(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    std::string t;
    while (in >> t) {
        if (t[0] == '#') break;
        out.push_back(t);
    }
    return out;
}

constexpr const char* kFaultNames[] = {"read",    "write",      "execute",  "divide",
                                       "illegal", "privileged", "overflow", "breakpoint",
                                       "cxx",     "handled",    "hang",     "exit"};

// fault translate <hex>|* <kind> / fault free <hex> <kind> / fault init|stop <kind>
std::string ApplyFault(const std::vector<std::string>& t, Script& s) {
    if (t.size() < 3) return "fault takes a call and a kind";
    const std::string& call = t[1];
    const bool keyed = call == "translate" || call == "free";
    if (!keyed && call != "init" && call != "stop")
        return "fault is in translate, free, init or stop";
    if (t.size() != (keyed ? 4u : 3u))
        return "fault " + call + (keyed ? " takes an input and a kind" : " takes a kind");
    auto fault = ParseFault(t.back());
    if (!fault) return "unknown fault " + t.back();
    if (call == "init") {
        s.initFault = fault;
    } else if (call == "stop") {
        s.stopFault = fault;
    } else if (call == "translate" && t[2] == "*") {
        s.translateFaultAll = fault;
    } else {
        auto key = DecodeHex(t[2]);
        if (!key) return "bad hex input";
        (call == "translate" ? s.translateFaults : s.freeFaults)[*key] = *fault;
    }
    return {};
}

// Returns an error text, empty when the line was applied.
std::string Apply(const std::vector<std::string>& t, Script& s) {
    const std::string& d = t[0];
    auto want = [&](std::size_t n) { return t.size() == n; };
    if (d == "mode") {
        if (!want(2)) return "mode takes one word";
        if (t[1] == "demo")
            s.mode = Mode::Demo;
        else if (t[1] == "scripted")
            s.mode = Mode::Scripted;
        else
            return "mode is demo or scripted";
        return {};
    }
    if (d == "log") {
        if (!want(2)) return "log takes one file name";
        s.logName = t[1];
        return {};
    }
    if (d == "otherwise") {
        if (!want(2)) return "otherwise takes one word";
        if (t[1] == "echo")
            s.otherwise = Otherwise::Echo;
        else if (t[1] == "null")
            s.otherwise = Otherwise::Null;
        else
            return "otherwise is echo or null";
        return {};
    }
    if (d == "fault") return ApplyFault(t, s);
    if (d == "burn") {
        if (!want(3)) return "burn takes 2 arguments";
        auto us = ParseNumber(t[2], kMaxBurnUs);
        if (!us) return "bad burn time";
        if (t[1] == "*") {
            s.burnAll = static_cast<unsigned>(*us);
            return {};
        }
        auto key = DecodeHex(t[1]);
        if (!key) return "bad hex input";
        s.burns[*key] = static_cast<unsigned>(*us);
        return {};
    }
    if (d == "map" || d == "null" || d == "unterminated" || d == "oversize" || d == "delay") {
        const std::size_t args = (d == "null" || d == "unterminated") ? 2 : 3;
        if (!want(args)) return d + " takes " + std::to_string(args - 1) + " arguments";
        if (d == "delay" && t[1] == "*") {
            auto ms = ParseNumber(t[2], 600000);
            if (!ms) return "bad delay";
            s.delayAll = static_cast<unsigned>(*ms);
            return {};
        }
        auto key = DecodeHex(t[1]);
        if (!key) return "bad hex input";
        Answer a;
        if (d == "map") {
            auto out = DecodeHex(t[2]);
            if (!out) return "bad hex output";
            a.text = *out;
        } else if (d == "null") {
            a.kind = Answer::Kind::Null;
        } else if (d == "unterminated") {
            a.kind = Answer::Kind::Unterminated;
        } else if (d == "oversize") {
            auto n = ParseNumber(t[2], kMaxOversize);
            if (!n) return "bad oversize length";
            a.kind = Answer::Kind::Oversize;
            a.size = static_cast<std::size_t>(*n);
        } else {
            auto ms = ParseNumber(t[2], 600000);
            if (!ms) return "bad delay";
            s.delays[*key] = static_cast<unsigned>(*ms);
            return {};
        }
        s.answers[*key] = a;
        return {};
    }
    return "unknown directive " + d;
}

}  // namespace

std::optional<Fault> ParseFault(const std::string& name) {
    for (std::size_t i = 0; i < std::size(kFaultNames); ++i)
        if (name == kFaultNames[i]) return static_cast<Fault>(i);
    return std::nullopt;
}

std::string FaultName(Fault fault) {
    return kFaultNames[static_cast<std::size_t>(fault)];
}

std::optional<std::string> DecodeHex(const std::string& hex) {
    if (hex == "-") return std::string();
    if (hex.empty() || hex.size() % 2 != 0) return std::nullopt;
    std::string out;
    out.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        int hi = mirelo::text::HexDigitValue(hex[i]), lo = mirelo::text::HexDigitValue(hex[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out.push_back(static_cast<char>(hi * 16 + lo));
    }
    return out;
}

std::string EncodeHex(const std::string& bytes) {
    if (bytes.empty()) return "-";
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

ParseResult ParseScript(const std::string& text) {
    ParseResult r;
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        auto t = Tokens(line);
        if (t.empty()) continue;
        std::string err = Apply(t, r.script);
        if (!err.empty() && r.errorLine == 0) {
            r.errorLine = number;
            r.error = err;
        }
    }
    return r;
}

}  // namespace standin
