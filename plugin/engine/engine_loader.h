// Loading the outside engine and stopping it. Both run on the worker thread and every
// engine call is guarded, so a faulting engine fails start-up instead of the host.
#pragma once

#include <string>

#include "engine_binding.h"

namespace mirelo::engine {

// Loads J2KEngine.dll from the folder above `dataPath`, resolves its five functions into
// `binding` as they come and starts the engine with `dataPath` in the ANSI code page.
// Raises StartupError. A library that lacks a function leaves what was resolved in
// `binding`; one whose start-up faults leaves it cleared, so it is never called again.
void LoadEngine(const std::wstring& dataPath, EngineBinding& binding);

// Stops the engine when the binding has the functions that tell a stop is owed; a fault
// in the engine's stop is ignored.
void ShutdownEngine(const EngineBinding& binding);

}  // namespace mirelo::engine
