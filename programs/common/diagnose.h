// --diagnose: what the plug-in will find when it looks for the engine, read from the registry
// and the files alone (no library is loaded, nothing is called); and --set-engine-folder,
// which records a folder there once the same checks pass.
#pragma once

#include <string>

namespace programs {

struct Diagnosis {
    std::string report;  // UTF-8 lines: what was found, then the verdict and what to do
    bool ready = false;  // the plug-in should find and start the engine
};

Diagnosis Diagnose();

struct Recording {
    std::string report;     // UTF-8 lines: what was found, then what was done
    bool recorded = false;  // FilePath now names the folder
};

// Records `folder` (made a full path) as HKCU\Software\Kestrow\Mirelo, FilePath (REG_SZ),
// where the plug-in looks, when it holds a 32-bit x86 J2KEngine.dll exporting the five
// engine functions, and its Dat folder. Otherwise records nothing and says why.
Recording SetEngineFolder(const std::wstring& folder);

// Columns a UTF-8 text takes on a console: East Asian wide characters take two.
std::size_t DisplayWidth(const std::string& utf8);

}  // namespace programs
