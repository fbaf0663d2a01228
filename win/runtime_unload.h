// For a DLL built with the static MinGW runtime that a host unloads and loads again: link
// mirelo_runtime_unload, and the runtime leaves nothing behind at each unload.
#pragma once

// Call from DllMain at DLL_PROCESS_DETACH when the DLL is being unloaded (not at process
// exit). 32-bit DLLs need not: the runtime's own last act at unload does it there.
void ReleaseRuntimeAtUnload();
