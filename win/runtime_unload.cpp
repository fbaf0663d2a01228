// Leaves nothing of the static C++ runtime behind when a host unloads a DLL of ours (Mirelo.dll,
// the Textractor extension), so a host that reloads its plug-ins does not pay for it each time.
//
// 32-bit: at load, crtbegin registers the DLL's unwind tables with libgcc's frame registry, and
// at unload it removes them; these wrappers (linked with --wrap) sit around both calls.
// The registry's first call sets up its mutex, a semaphore the runtime never closes; the
// loader lock keeps every other thread out of this DLL during both calls, so they run
// with the runtime in its single-thread mode (_CRT_MT 0), where the registry takes no
// lock and makes none. A C++ exception thrown later still makes the mutex (and libgcc's
// thread-local storage its own key and lock), for that load only: the DLL throws none.
//
// libstdc++ allocates its emergency exception pool (18.5 KB) when the DLL loads and only
// frees it through __gnu_cxx::__freeres; the registry's removal is the runtime's last
// act at unload, after every destructor, so the pool goes there.
//
// 64-bit code unwinds through the image's own tables and registers nothing, so DllMain frees
// the pool itself (ReleaseRuntimeAtUnload).

#include "runtime_unload.h"

namespace __gnu_cxx {
void __freeres();
}

#if defined(__i386__)
extern "C" int _CRT_MT;  // mingw-w64 runtime: nonzero while threads need the runtime's locks

extern "C" {
void __real___register_frame_info(const void* begin, void* object);
void* __real___deregister_frame_info(const void* begin);

void __wrap___register_frame_info(const void* begin, void* object) {
    const int threads = _CRT_MT;
    _CRT_MT = 0;
    __real___register_frame_info(begin, object);
    _CRT_MT = threads;
}

void* __wrap___deregister_frame_info(const void* begin) {
    const int threads = _CRT_MT;
    _CRT_MT = 0;
    void* object = __real___deregister_frame_info(begin);
    _CRT_MT = threads;
    __gnu_cxx::__freeres();
    return object;
}
}

void ReleaseRuntimeAtUnload() {}
#else
void ReleaseRuntimeAtUnload() {
    __gnu_cxx::__freeres();
}
#endif
