// The plug-in's question for the engine's folder, as the programs that start it help the
// user with it: what the question means, which folder was picked, and recording it.
#pragma once

#include <string>

namespace programs {

// Whether the plug-in at `pluginPath` will ask: it is Mirelo.dll and no folder is recorded.
bool PluginWillAsk(const std::wstring& pluginPath);

// The folder the user picked at the question in this process, or empty. Forget it before a
// start, so that a pick of an earlier start does not count.
std::wstring PickedFolder();
void ForgetPickedFolder();

// The folder of the J2KEngine.dll loaded in this process, or empty.
std::wstring LoadedEngineFolder();

// Whether `folder` holds Mirelo's own files (directly, or in its x86 or x64 folder) and no
// J2KEngine.dll: a folder picked by mistake.
bool IsMireloFolder(const std::wstring& folder);

}  // namespace programs
