#pragma once
// What the extension does with one sentence from Textractor.

#include "textractor_api.h"

#include <windows.h>

namespace textractor {

// Sentences longer than this are left as they are: no game line is this long, and a hook
// that produces one is reading something else.
inline constexpr size_t kMaxSentence = 16384;

void AttachSentences(HMODULE module);
// The OnNewSentence contract: returns `sentence` or its HeapReAlloc'd successor.
wchar_t* HandleSentence(wchar_t* sentence, const InfoForExtension* info);
// `processExit`: the process is ending, not unloading the DLL.
void DetachSentences(bool processExit);

}  // namespace textractor
