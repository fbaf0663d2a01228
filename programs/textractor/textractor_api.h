#pragma once
// Textractor's side of the contract: what OnNewSentence receives besides the sentence.

#include <cstdint>

namespace textractor {

// Textractor passes an array of these, ended by an entry whose name is null.
struct InfoForExtension {
    const char* name;
    int64_t value;
};

// The value of `name`, or `fallback` when the array (or the whole array) lacks it: hosts and
// Textractor versions differ in the keys they send, and a missing one must never crash us.
int64_t InfoValue(const InfoForExtension* info, const char* name, int64_t fallback);

// Textractor's callback that puts a sentence into a text thread (0: its console).
using AddSentenceFn = void (*)(int64_t number, const wchar_t* sentence);
inline constexpr const char* kAddSentenceKey =
    "void (*AddSentence)(int64_t number, const wchar_t* sentence)";

}  // namespace textractor
