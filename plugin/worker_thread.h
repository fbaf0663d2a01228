#pragma once
// The worker thread: the one thread that owns the engine, the cache and the filter
// buffers.

#include <windows.h>

#include <cstdint>
#include <memory>

#include "handles.h"

namespace mirelo {

class CMireloApp;

// What the worker thread owns from its first instruction: its own duplicates of the
// two events and its own reference to this module, so that a close that stops waiting
// for it, or an unload by the host, cannot pull anything from under it.
struct WorkerStart {
    CMireloApp* app = nullptr;
    uint32_t generation = 0;
    UniqueHandle requestEvent;
    UniqueHandle doneEvent;
    UniqueModule module;

    // Null when a handle or the module reference cannot be had.
    static std::unique_ptr<WorkerStart> Create(CMireloApp& app, uint32_t generation);
};

// Thread start routine; takes ownership of a WorkerStart. Leaves through
// FreeLibraryAndExitThread, never by returning.
unsigned __stdcall WorkerThreadMain(void* start);

}  // namespace mirelo
