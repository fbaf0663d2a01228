// The extension's entry points: Textractor finds OnNewSentence by name (C linkage, the
// default calling convention) and calls it on any of its threads, never during DllMain.

#include "runtime_unload.h"
#include "sentence.h"
#include "textractor_api.h"

#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) textractor::AttachSentences(module);
    // At an unload the connections close and a server this extension started ends; at
    // process exit the other threads are gone and the system takes back the rest.
    if (reason == DLL_PROCESS_DETACH) {
        textractor::DetachSentences(reserved != nullptr);
        if (reserved == nullptr) ReleaseRuntimeAtUnload();
    }
    return TRUE;
}

extern "C" __declspec(dllexport) wchar_t* OnNewSentence(wchar_t* sentence,
                                                        const textractor::InfoForExtension* info) {
    try {
        return textractor::HandleSentence(sentence, info);
    } catch (...) {
        // Out of memory, most likely: the sentence goes on untouched.
        return sentence;
    }
}
