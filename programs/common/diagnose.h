// --diagnose: what the plug-in will find when it looks for the engine, read from the registry
// and the files alone (no library is loaded, nothing is called).
#pragma once

#include <string>

namespace host {

struct Diagnosis {
    std::string report;  // UTF-8 lines: what was found, then "Verdict: ..." and "To do: ..."
    bool ready = false;  // the plug-in should find and start the engine
};

Diagnosis Diagnose();

}  // namespace host
