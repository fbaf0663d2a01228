#pragma once
// What the extension tells the player in Textractor's console, in Korean (the players it is
// for). One table, looked up by identifier; {0}, {1} ... are replaced by the details.

#include <string>
#include <vector>

namespace textractor {

enum class Say {
    kHello,
    kServerStarted,
    kServerRestarting,
    kServerMissing,
    kServerStartFailed,
    kServerExited,
    kServerSlow,
    kNotMirelo,
    kEngineNotReady,
    kServerWaiting,
    kServerLost,
    kServerBack,
    kLineTimedOut,
    kLineFailed,
    kTooLong,
    kSettingBad,
    kSettingUnknown,
    kSettingLine,
    kSettingsUnreadable,
    kSettingsRead,
    kServerReady,
    kServerOther,
    kDictElsewhere,
    kDictProblem,
    kDictMore,
    kDictFixed,
    kEngineQuestion,
    kHostNotServed,
    // The reasons kSettingBad gives.
    kWantPort,
    kWantTranslation,
    kWantFlag,
    kWantOptions,
    kCount
};

std::wstring Words(Say what, const std::vector<std::wstring>& details = {});

}  // namespace textractor
