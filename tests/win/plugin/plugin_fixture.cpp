#include "plugin_fixture.h"

#include <cstring>
#include <vector>

namespace mirelo::test {

std::string Scripted(const std::string& rules) {
    return "mode scripted\nlog calls.log\n" + rules;
}

Plugin::Plugin() : Plugin(BinDir() + L"\\Mirelo.dll") {}

Plugin::Plugin(const std::wstring& path) : module_(path) {
    if (module_.get() == nullptr) return;
    init = module_.proc<InitFn>("OnPluginInit");
    option = module_.proc<NoArgFn>("OnPluginOption");
    close = module_.proc<NoArgFn>("OnPluginClose");
    translate = module_.proc<TranslateFn>("Translate");
}

Plugin::~Plugin() {
    Unload();
}

void Plugin::Unload() {
    module_.Free();
}

int Plugin::TranslateText(const std::string& source, std::string& result) {
    std::vector<char> buffer(4096, '\x7f');
    buffer.back() = '\0';
    const int answered = translate(source.c_str(), buffer.data(), static_cast<int>(buffer.size()));
    result = buffer.data();
    return answered;
}

RunningPlugin::RunningPlugin(const std::string& script, const char* options)
    : engine(script), path(engine.Root()) {
    std::strncpy(optionBuffer, options, sizeof optionBuffer - 1);
    if (plugin.Loaded()) initResult = plugin.init(host.get(), optionBuffer);
}

RunningPlugin::~RunningPlugin() {
    if (!closed) Close();
}

int RunningPlugin::Close() {
    closed = true;
    return plugin.Loaded() ? plugin.close() : 0;
}

}  // namespace mirelo::test
