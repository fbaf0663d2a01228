// Leaves nothing of the static C++ runtime behind when Textractor unloads the extension,
// the same way as plugin/runtime_unload.cpp does for Mirelo.dll (the two must not include
// each other, hence a copy). See there for why each step is needed.
//
// 32-bit: crtbegin registers the unwind tables with libgcc's frame registry at load and
// removes them at unload; its first call makes a semaphore the runtime never closes unless
// it runs in single-thread mode, and the removal is the runtime's last act, where the
// emergency exception pool (__freeres) can go. 64-bit unwinds through the image's own
// tables and registers nothing, so DllMain frees the pool itself (ReleaseRuntimeAtUnload).

namespace __gnu_cxx {
void __freeres();
}

#if defined(__i386__)
extern "C" int _CRT_MT;

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
