// The module's entry point and the four plug-in exports; each forwards to the
// application object. Names and ordinals are fixed by Mirelo.def.

#include "mirelo_app.h"

using mirelo::theApp;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    return mirelo::CWinApp::HandleDllMain(instance, reason);
}

extern "C" int WINAPI OnPluginInit(HWND hostWnd, char* optionString) {
    return theApp.OnPluginInit(hostWnd, optionString);
}

extern "C" int WINAPI OnPluginOption() {
    return theApp.OnPluginOption();
}

extern "C" int WINAPI OnPluginClose() {
    return theApp.OnPluginClose();
}

extern "C" int WINAPI Translate(const char* source, char* dest, int destSize) {
    return theApp.Translate(source, dest, destSize);
}
