#include "ext_messages.h"

#include "program_text.h"

namespace textractor {
namespace {

struct Entry {
    Say id;
    const wchar_t* text;
};

constexpr Entry kTable[] = {
    {Say::kHello,
     L"Mirelo 번역 확장 {0} ({1}비트): mirelo-server {2}에 번역을 맡깁니다. "
     L"작업대: http://{2}/"},
    {Say::kServerStarted,
     L"mirelo-server를 시작했습니다({0}, --options {1}). 준비될 때까지 문장은 {2}초까지 "
     L"기다리고, 그 뒤로는 번역하지 않고 그대로 둡니다"},
    {Say::kServerRestarting,
     L"설정이 바뀌어 이 확장 기능이 시작한 mirelo-server를 끝냅니다. 새 설정에 맞는 서버를 "
     L"찾거나 시작합니다"},
    {Say::kServerMissing,
     L"mirelo-server.exe가 없어 번역하지 않습니다: {0}. 확장 기능과 같은 폴더에 두거나 "
     L"Mirelo Translate.ini의 server_folder에 그 폴더를 적으십시오"},
    {Say::kServerStartFailed, L"mirelo-server.exe를 시작하지 못했습니다({0}, 오류 {1})"},
    {Say::kServerExited,
     L"mirelo-server가 시작하자마자 끝났습니다(종료 코드 {0}). 코드 2는 포트 {1}을(를) 다른 "
     L"프로그램이 쓰고 있다는 뜻입니다: Mirelo Translate.ini의 port를 바꾸십시오"},
    {Say::kServerSlow, L"mirelo-server가 {0}초 안에 답하지 않았습니다. 몇 초 뒤에 다시 확인합니다"},
    {Say::kNotMirelo,
     L"{0}에서 Mirelo가 아닌 다른 프로그램이 답합니다. 그 프로그램을 끄거나 Mirelo "
     L"Translate.ini의 port를 바꾸십시오"},
    {Say::kEngineNotReady,
     L"번역 엔진을 쓸 수 없어 번역하지 않습니다: {0}. 엔진 폴더는 mirelo-server "
     L"--diagnose로 확인할 수 있습니다. 엔진이 준비되면 저절로 다시 번역합니다"},
    {Say::kServerWaiting,
     L"mirelo-server가 아직 준비 중입니다(엔진 폴더를 묻는 창이 열려 있을 수 있습니다). "
     L"그동안 문장은 번역하지 않습니다"},
    {Say::kServerLost,
     L"mirelo-server와 연결이 끊겼습니다. 다시 연결할 때까지 문장은 번역하지 않습니다"},
    {Say::kServerBack, L"mirelo-server에 다시 연결했습니다. 번역을 이어 갑니다"},
    {Say::kLineTimedOut,
     L"제시간({0}초)에 번역되지 않은 문장은 원문 그대로 둡니다(이 안내는 한 번만 나옵니다)"},
    {Say::kLineFailed, L"엔진이 번역하지 못한 줄은 원문 그대로 둡니다(이 안내는 한 번만 나옵니다)"},
    {Say::kTooLong, L"{0}자가 넘는 문장은 번역하지 않습니다(이 안내는 한 번만 나옵니다)"},
    {Say::kSettingBad,
     L"Mirelo Translate.ini {0}번째 줄: {1}의 값 \"{2}\"은(는) 쓸 수 없습니다({3}). "
     L"기본값 {4}을(를) 씁니다"},
    {Say::kSettingUnknown,
     L"Mirelo Translate.ini {0}번째 줄: 알 수 없는 항목 {1}은(는) 무시합니다"},
    {Say::kSettingLine, L"Mirelo Translate.ini {0}번째 줄은 \"이름=값\" 꼴이 아니어서 무시합니다"},
    {Say::kSettingsUnreadable,
     L"Mirelo Translate.ini를 읽을 수 없습니다: UTF-8이나 UTF-16(BOM 포함)으로 저장하십시오. "
     L"모든 설정에 기본값을 씁니다"},
    {Say::kSettingsRead, L"Mirelo Translate.ini를 다시 읽었습니다"},
    {Say::kServerReady, L"mirelo-server가 준비되었습니다({0}). 번역을 시작합니다"},
    {Say::kServerOther,
     L"이미 실행 중인 mirelo-server({0}, 폴더 {1})를 씁니다. 이 확장 기능이 시작한 서버가 "
     L"아닙니다"},
    {Say::kDictElsewhere,
     L"그 서버는 사전 {0}을(를) 씁니다. 확장 기능 옆의 {1}은(는) 쓰이지 않습니다(이 안내는 한 "
     L"번만 나옵니다)"},
    {Say::kDictProblem, L"사용자 사전 문제: {0}: {1}"},
    {Say::kDictMore, L"사용자 사전 문제가 {0}개 더 있습니다"},
    {Say::kDictFixed, L"사용자 사전 문제가 모두 없어졌습니다"},
    {Say::kEngineQuestion,
     L"번역 엔진 폴더가 기록되어 있지 않아 \"Mirelo가 설치된 경로\"를 묻는 창이 열릴 수 "
     L"있습니다: 그 경로는 번역 엔진의 폴더, 곧 J2KEngine.dll과 Dat 폴더가 있는 폴더입니다"},
    {Say::kHostNotServed,
     L"Mirelo Translate.ini {0}번째 줄: host={1}: mirelo-server는 127.0.0.1에서만 답하므로 "
     L"127.0.0.1을 씁니다"},
    {Say::kWantPort, L"1에서 65535까지의 수"},
    {Say::kWantTranslation, L"append 또는 replace"},
    {Say::kWantFlag, L"1 또는 0"},
    {Say::kWantOptions, L"0과 1로 된 두 자리, 예: 11"},
};

// Every identifier once and in order, so that Words() indexes directly.
constexpr bool InOrder() {
    if (sizeof(kTable) / sizeof(kTable[0]) != static_cast<size_t>(Say::kCount)) return false;
    for (size_t i = 0; i < sizeof(kTable) / sizeof(kTable[0]); ++i)
        if (static_cast<size_t>(kTable[i].id) != i) return false;
    return true;
}
static_assert(InOrder(), "the message table must list every identifier once, in order");

}  // namespace

std::wstring Words(Say what, const std::vector<std::wstring>& details) {
    return programs::FillPlaces(std::wstring_view(kTable[static_cast<size_t>(what)].text), details);
}

}  // namespace textractor
