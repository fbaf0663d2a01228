// The chat-completions route: clients that only speak to a large-language-model server post
// the line to translate as a chat and read the answer from its one choice. The line is the last
// user message; everything else of the chat (system prompt, earlier turns, sampling) is
// ignored, since the engine takes none of it. Pure: no socket, no lock.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "http_reply.h"

namespace server::web {

// /v1/... and /game/NAME/v1/...; nullopt: not a path of this route.
struct ChatPath {
    enum Kind { kCompletions, kModels, kOther } kind = kOther;
    std::string game;   // folded, from the /game/NAME form; empty: none named
    std::string error;  // not empty: answered 400 with it
};
std::optional<ChatPath> RouteChat(std::string_view path);

// What the answer needs of its request.
struct ChatAsk {
    std::string model;  // as asked, echoed back ("mirelo" when none)
    bool stream = false;
    std::vector<std::string> ends;  // each line's end, kept in the answer
    std::size_t sourceChars = 0;
};

struct ChatPrepared {
    std::optional<Reply> refusal;
    std::shared_ptr<Batch> batch;
    ChatAsk ask;
    std::string game;
    std::string thrown;  // what building it threw, off the I/O thread
};
// `pathGame`: the game the path named, if any; the model must then name it too, or none.
ChatPrepared PrepareChat(std::string_view body, const std::string& pathGame);

// Errors as the chat clients read them: {"error": {"message", "type", "code"}}.
Reply ChatError(http::status status, const std::string& message, const char* code);
// The finished batch: a chat.completion, or an event stream of chunks ending in [DONE]; a
// line the engine failed makes the whole answer an error, as nothing half-translated should
// be shown as the translation.
Reply ChatAnswer(const Batch& batch, const ChatAsk& ask);
// GET /v1/models: "mirelo" (the common dictionary) and each game's folder.
Reply ChatModels(const std::vector<std::string>& games);

}  // namespace server::web
