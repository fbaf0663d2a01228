// The programs' texts in Korean. Option names, file formats (KIND<TAB>FROM<TAB>TO), code page
// names and the plug-in's function names stay as they are typed.
#include "messages.h"

namespace programs {
namespace {

using enum Msg;

constexpr MessageEntry kKorean[] = {
    {kUsageError, "{0} (--help를 보십시오)"},
    {kArgNeedsValue, "{0} 뒤에 값을 주어야 합니다"},
    {kArgTakesNoValue, "{0}에는 값을 붙이지 않습니다"},
    {kArgLang, "--lang 값은 ko 또는 en입니다"},
    {kArgPluginPath, "--plugin에 경로를 주어야 합니다"},
    {kCannotLoadPlugin, "플러그인 {0}을(를) 불러올 수 없습니다: {1} (오류 {2})"},
    {kPluginLacksExports, "플러그인 {0}에 함수 {1}이(가) 없습니다"},
    {kPluginDidNotStart, "OnPluginInit이 0을 돌려주었습니다: 플러그인이 시작하지 못했습니다"},
    {kNoWindow, "플러그인에 줄 창을 만들 수 없습니다 (오류 {0})"},
    {kWorkerNoStart, "작업 프로세스를 시작할 수 없습니다: {0} (오류 {1})"},
    {kUnknownError, "알 수 없는 오류"},

    {kArgOptions,
     "--options에는 0 또는 1로 된 두 자리를 주십시오(예: 11). 첫째 자리는 엔진이 괄호 안에 "
     "덧붙인 설명을 지우고, 둘째 자리는 공백을 정리합니다. 빼면 플러그인의 기본값을 씁니다"},
    {kArgDestSize, "--dest-size는 1부터 {0}까지의 정수입니다"},
    {kArgInputEncoding, "--input-encoding 값은 utf8 또는 sjis입니다"},
    {kArgOutputEncoding, "--output-encoding 값은 utf8 또는 cp949입니다"},
    {kArgUnknownOption, "알 수 없는 옵션 {0}"},
    {kArgOneInput, "입력 파일은 하나만 줄 수 있습니다"},
    {kArgOneFolder, "--check-dict에는 폴더를 하나만 줄 수 있습니다"},
    {kHostHelp,
     "사용법: mirelo-host [옵션] [파일]\n"
     "호스트와 똑같이 번역 플러그인을 불러와 파일(없거나 \"-\"이면 표준 입력)을 번역하고,\n"
     "입력 한 줄마다 한 줄을 원래 줄 끝 그대로 씁니다.\n"
     "\n"
     "  --plugin 경로             불러올 플러그인 (기본: 이 프로그램 옆의 Mirelo.dll)\n"
     "  --options 00|01|10|11     플러그인의 두 가지 정리를 끄거나(0) 켭니다(1): 엔진이\n"
     "                            괄호 안에 덧붙인 설명, 공백 (기본: 주지 않으면\n"
     "                            플러그인의 기본값 10)\n"
     "  --dest-size N             대상 버퍼 크기(바이트) (기본: 4096)\n"
     "  --input-encoding utf8|sjis    입력 인코딩 (기본: 입력을 보고 정함, 아래 참고)\n"
     "  --output-encoding utf8|cp949  파일이나 파이프로 나가는 표준 출력과 표준 오류의\n"
     "                            인코딩 (기본: utf8). 콘솔에는 언제나 유니코드로 씁니다\n"
     "  --stats                   끝에 줄 수, 실패 수, 시간을 표준 오류에 씁니다\n"
     "  --dialog                  시작한 뒤 옵션 창을 열고 options: \"<문자열>\"을\n"
     "                            씁니다. 파일을 함께 준 경우에만 번역합니다\n"
     "  --trace                   줄마다 적용된 사전 항목(파일, 줄, FROM -> TO)을\n"
     "                            표준 오류에 씁니다. 아래 참고\n"
     "  --check-dict [폴더]       사전 폴더(기본: 플러그인 옆의 MireloDict)를 검사해\n"
     "                            문제마다 파일:줄: 이유를 쓰고, 종류별로 쓰이는\n"
     "                            항목 수를 씁니다\n"
     "  --game 이름               공통 파일 위에 MireloDict\\이름 폴더도 읽습니다\n"
     "                            (--check-dict는 항목마다 파일과 함께 보여 줍니다)\n"
     "  --diagnose                플러그인이 엔진을 어디서 찾을지, 거기에 무엇이\n"
     "                            있는지 아무것도 불러오지 않고 검사합니다. 준비가\n"
     "                            되었으면 종료 코드 0, 아니면 5\n"
     "  --set-engine-folder 폴더  폴더에 쓸 수 있는 32비트 J2KEngine.dll이 있으면, 그\n"
     "                            폴더를 플러그인이 엔진을 찾는 곳\n"
     "                            (HKCU\\Software\\Kestrow\\Mirelo, 값 FilePath)에 기록합니다\n"
     "  --lang ko|en              메시지 언어 (기본: Windows 표시 언어)\n"
     "  --help                    이 설명\n"
     "  --version                 이 프로그램이 속한 Mirelo의 버전\n"
     "\n"
     "--input-encoding이 없으면 입력 전체를 먼저 읽습니다. UTF-8 BOM이 있거나 올바른\n"
     "UTF-8이면 UTF-8로 읽습니다. 아니면 올바른 Shift-JIS일 때 Shift-JIS로 읽고 표준\n"
     "오류에 그렇다고 한 줄 씁니다. 둘 다 아니면 아무것도 번역하지 않고, 둘 다 아닌 첫\n"
     "줄의 번호를 알려 줍니다.\n"
     "\n"
     "플러그인이 번역하지 못한 줄은 원문 그대로 쓰고 표준 오류에 경고를 씁니다.\n"
     "플러그인은 시작하면서 메시지 창이나 폴더 선택 창을 띄울 수 있습니다.\n"
     "\n"
     "--trace는 시작할 때 플러그인 옆의 MireloDict를 한 번 읽고, 그 pre와 name 항목을\n"
     "플러그인과 똑같이 각 줄에 적용해 봅니다. post 항목이 적용되는 중간 문장은\n"
     "플러그인 밖으로 나오지 않으므로, post는 바꿀 말(TO)이 결과에 들어 있는 항목을\n"
     "보여 줍니다(지우는 항목은 보이지 않습니다).\n"
     "\n"
     "종료 코드:\n"
     "  0  모든 줄을 번역했습니다\n"
     "  1  명령줄이 잘못되었습니다\n"
     "  2  입력 파일을 읽을 수 없습니다\n"
     "  3  플러그인을 불러올 수 없습니다\n"
     "  4  플러그인에 OnPluginInit, OnPluginOption, OnPluginClose, Translate 중 하나가\n"
     "     없습니다\n"
     "  5  플러그인이 시작하지 못했습니다\n"
     "  6  플러그인에 줄 창을 만들 수 없습니다\n"
     "  7  번역하지 못한 줄이 있습니다(모든 줄은 썼습니다)\n"
     "  8  --check-dict가 문제를 찾았거나 폴더가 없습니다\n"
     "  9  입력이 UTF-8도 Shift-JIS도 아닙니다(또는 UTF-16입니다): 아무것도 쓰지\n"
     "     않았습니다\n"
     " 10  --set-engine-folder가 아무것도 기록하지 않았습니다: 폴더에 쓸 수 있는 엔진이\n"
     "     없거나 레지스트리에 쓸 수 없습니다\n"},

    {kCannotOpenInput, "입력 파일 {0}을(를) 열 수 없습니다: {1}"},
    {kReadError, "입력을 읽다가 오류가 났습니다"},
    {kLineWarning, "경고: {0}번째 줄: {1}"},
    {kLineLossy, "Shift-JIS로 나타낼 수 없는 글자를 '?'로 바꿨습니다"},
    {kLineNotUtf8, "올바른 UTF-8이 아닙니다. UTF-8이 아닌 바이트를 '?'로 바꿨습니다"},
    {kLineNul, "NUL 바이트가 있어 플러그인에 넘긴 글이 거기서 끝납니다"},
    {kLineFailed,
     "번역하지 못했습니다: 플러그인이 3초 안에 답하지 않아 원문을 그대로 씁니다. 뒤의 "
     "줄도 계속 실패하면 엔진이 멈춘 것이니 mirelo-host를 다시 실행하십시오"},
    {kHostDidNotStart,
     "플러그인이 시작하지 못해 아무 줄도 번역하지 않았습니다. 까닭은 플러그인이 띄운 "
     "메시지 창에 있었습니다. mirelo-host --diagnose로 엔진을 찾는 곳에 무엇이 있는지 "
     "확인하십시오"},
    {kLineNoTerminator, "결과가 대상 버퍼 안에서 끝나지 않았습니다"},
    {kLineOverrun, "플러그인이 대상 버퍼의 끝을 넘어 썼습니다"},
    {kStats, "줄: {0}, 실패: {1}, 전체: {2} us, 평균: {3} us"},
    {kInputIsShiftJis,
     "입력이 UTF-8이 아니고 Shift-JIS로 읽히므로 Shift-JIS로 읽습니다"
     "(--input-encoding sjis를 주면 이 줄 없이 그렇게 읽습니다)"},
    {kInputNeither,
     "입력의 {0}번째 줄이 UTF-8도 Shift-JIS도 아닙니다. 아무것도 번역하지 않았습니다. "
     "파일을 UTF-8로 저장하거나 --input-encoding으로 인코딩을 알려 주십시오"},
    {kInputMixed,
     "입력의 {0}번째 줄은 Shift-JIS인데 다른 줄은 UTF-8입니다. 아무것도 번역하지 "
     "않았습니다. 파일 전체를 UTF-8로 저장하십시오"},
    {kInputMarkNotUtf8,
     "입력이 UTF-8 BOM으로 시작하는데 {0}번째 줄이 올바른 UTF-8이 아닙니다. 아무것도 "
     "번역하지 않았습니다"},
    {kInputUtf16, "입력이 UTF-16으로 보입니다. UTF-8로 저장하십시오(아무것도 번역하지 않았습니다)"},

    {kDictNoFolder, "{0}: 그런 폴더가 없습니다"},
    {kDictSummary, "{0}: 파일 {1}개, 쓰이는 항목: name {2}, pre {3}, post {4}"},
    {kDictSummaryLines, "{0}: 파일 {1}개, 쓰이는 항목: name {2}, pre {3}, post {4}, line {5}"},
    {kDictOutOfMemory, "사전을 만들다가 메모리가 모자랐습니다"},
    {kDictProblem, "{0}:{1}: {2}"},
    {kDictFileProblem, "{0}: {1}"},
    {kDictOneColumn, "KIND<TAB>FROM<TAB>TO 형식이어야 하는데 칸이 1개입니다"},
    {kDictColumns, "KIND<TAB>FROM<TAB>TO 형식이어야 하는데 칸이 {0}개입니다"},
    {kDictUnknownKind,
     "알 수 없는 종류 \"{0}\" (name, pre, post, line, pre-re, post-re 중 하나여야 합니다)"},
    {kDictEmptyFrom, "FROM(원래 말)이 비었습니다"},
    {kDictEmptyNameTo, "name의 TO(바꿀 말)가 비었습니다"},
    {kDictNoConversion, "{0}: {1} 변환을 쓸 수 없습니다"},
    {kDictNoForm, "{0}: {1}은(는) {2}로 쓸 수 없는 글자입니다"},
    {kDictNotWritable, "{0}: {1}로 쓸 수 없습니다"},
    {kDictTooLong, "{0}이(가) {2}로 {1}바이트라 1024바이트를 넘습니다"},
    {kDictNotUtf8, "올바른 UTF-8이 아닙니다"},
    {kDictNul, "NUL 문자가 들어 있습니다"},
    {kDictTooManyNames, "이름 항목이 100000개를 넘습니다"},
    {kDictLineEscape,
     "FROM(원래 말)에 {0}이 있습니다. 여기서는 줄바꿈이 아닙니다: line 항목은 한 줄에만 답합니다"},
    {kDictLineRepeated, "같은 줄이 {0}:{1}에 다시 있어 그쪽을 씁니다"},
    {kDictFileTooLarge, "파일이 16 MiB보다 커서 통째로 건너뜁니다"},
    {kDictFileUtf16, "이 파일은 UTF-16으로 보입니다. UTF-8로 저장하십시오"},
    {kDictFileCp949, "이 파일은 CP949(ANSI)로 보입니다. UTF-8로 저장하십시오"},
    {kDictFileShiftJis, "이 파일은 Shift-JIS로 보입니다. UTF-8로 저장하십시오"},
    {kDictCannotOpen, "파일을 열 수 없습니다 (오류 {0})"},
    {kDictCannotRead, "파일을 읽을 수 없습니다 (오류 {0})"},
    {kTraceProblem, "추적: {0}"},
    {kTraceCounts, "추적: {0}: name {1}, pre {2}, post {3}"},
    {kTraceCountsLines, "추적: {0}: name {1}, pre {2}, post {3}, line {4}"},
    {kTraceLine, "추적: {0}번째 줄: {1}"},
    {kTraceNameLost, "{0} (결과에 없음: 엔진이 이름을 빠뜨렸습니다)"},
    {kTraceMaybe, "{0} (적용됐을 수 있음: 바꿀 말이 결과에 있습니다)"},
    {kDictPatternCounts, ", pre-re {0}, post-re {1}"},
    {kDictPatternSyntax, "패턴의 {0}번째 글자에서 문법이 틀렸습니다: {1}"},
    {kDictPatternTooLong, "패턴이 {0}글자라 1024글자를 넘습니다"},
    {kDictPatternGroup, "TO에 {0}이(가) 있지만 패턴의 그룹은 {1}개입니다"},
    {kDictTooManyPatterns, "패턴 항목이 1000개를 넘습니다"},
    {kTraceReplaced, "{0} (바꾼 곳: {1})"},
    {kTraceOverBudget, "{0} (이 줄에서는 건너뜀: 찾는 데 단계가 너무 많이 걸렸습니다)"},
    {kTraceTooLong, "{0} (이 줄에서는 건너뜀: 줄이 너무 길어집니다)"},
    {kTraceLineOverBudget, "{0} (이 줄에서는 건너뜀: 앞 항목들이 이 줄의 단계를 다 썼습니다)"},

    {kDiagRegistry, "레지스트리 값:"},
    {kDiagDataFolder, "데이터 폴더:"},
    {kDiagEngine, "엔진 라이브러리:"},
    {kDiagNote, "참고:"},
    {kDiagKind, "라이브러리 종류:"},
    {kDiagExports, "내보내는 함수:"},
    {kDiagExportTable, "내보내기 표:"},
    {kDiagMissing, "빠진 함수:"},
    {kDiagVerdict, "판정: {0}"},
    {kDiagToDo, "할 일: {0}"},
    {kDiagNoKey, "{0}: 키가 없습니다"},
    {kDiagNoValue, "{0}: 값이 없습니다(또는 259자보다 깁니다)"},
    {kDiagValue, "{0} = \"{1}\""},
    {kDiagValueNotSz, "{0} = \"{1}\" (REG_SZ 값이 아님)"},
    {kDiagPresent, "{0} (있음)"},
    {kDiagAbsent, "{0} (없음)"},
    {kDiagNonAscii,
     "폴더 경로에 영문자, 숫자, 기호가 아닌 글자가 있습니다. 플러그인은 쓰기 전에 묻고, "
     "엔진이 데이터를 읽지 못할 수 있습니다"},
    {kDiag64Bit, "64비트 (machine {0})"},
    {kDiagX86Library, "32비트 x86 라이브러리"},
    {kDiagX86Program, "32비트 x86 프로그램(라이브러리가 아님)"},
    {kDiagOtherLibrary, "32비트, machine {0} 라이브러리"},
    {kDiagOtherProgram, "32비트, machine {0} 프로그램(라이브러리가 아님)"},
    {kDiagNoFunctions, "엔진 함수 다섯 개 중 하나도 없음"},
    {kPeNoMz, "Windows 프로그램이나 라이브러리가 아닙니다(MZ 헤더 없음)"},
    {kPeNoPe, "Windows 프로그램이나 라이브러리가 아닙니다(PE 헤더 없음)"},
    {kPeNoOptionalHeader, "선택적 헤더가 없습니다"},
    {kPeUnknownOptionalHeader, "알 수 없는 종류의 선택적 헤더입니다"},
    {kPeSectionsCut, "섹션 표가 중간에 잘렸습니다"},
    {kPeExportsOutside, "내보내기 표가 파일 밖에 있습니다"},
    {kPeExportNamesDamaged, "내보내기 이름 표가 손상되었습니다"},
    {kPeExportNameOutside, "내보낸 이름 하나가 파일 밖에 있습니다"},
    {kVerdictNotRecorded,
     "엔진 폴더가 기록되어 있지 않습니다. 플러그인이 시작할 때마다 폴더를 묻습니다"},
    {kToDoNotRecorded,
     "엔진 제품을 설치하거나(설치 프로그램이 폴더를 기록합니다), 폴더를 직접 "
     "기록하십시오: mirelo-host --set-engine-folder 폴더. 플러그인이 물을 때 고른 폴더는 "
     "그때 한 번만 쓰이고 저장되지 않습니다"},
    {kVerdictFolderMissing, "FilePath가 가리키는 폴더가 없습니다"},
    {kToDoFolderMissing,
     "엔진 제품을 다시 설치하거나, J2KEngine.dll이 든 폴더를 기록하십시오: "
     "mirelo-host --set-engine-folder 폴더"},
    {kVerdictNamesFile, "FilePath가 폴더가 아니라 J2KEngine.dll 파일 자체를 가리킵니다"},
    {kToDoNamesFile, "그 파일이 든 폴더를 기록하십시오: mirelo-host --set-engine-folder \"{0}\""},
    {kVerdictNotWhereLooked, "J2KEngine.dll이 플러그인이 찾는 자리에 없습니다"},
    {kToDoParent,
     "FilePath가 엔진 폴더 안의 폴더를 가리킵니다. J2KEngine.dll이 든 상위 폴더로 "
     "바꾸십시오: mirelo-host --set-engine-folder \"{0}\""},
    {kToDoSetFolder,
     "FilePath를 J2KEngine.dll이 든 폴더로 바꾸십시오: mirelo-host --set-engine-folder "
     "폴더"},
    {kVerdictUnreadable, "J2KEngine.dll을 읽을 수 없습니다"},
    {kToDoUnreadable, "파일 권한을 확인하거나 엔진 제품을 다시 설치하십시오"},
    {kVerdictNotLibrary, "J2KEngine.dll이 Windows 라이브러리가 아닙니다"},
    {kToDoReinstall, "엔진 제품을 다시 설치하십시오"},
    {kVerdict64Bit, "J2KEngine.dll이 64비트 라이브러리입니다. Mirelo와 엔진은 32비트입니다"},
    {kToDo64Bit, "32비트 엔진을 설치하십시오. 64비트 도구는 mirelo-server를 거쳐 Mirelo를 씁니다"},
    {kVerdictNotX86, "J2KEngine.dll이 32비트 x86 라이브러리가 아닙니다"},
    {kVerdictLacksFunctions, "J2KEngine.dll에 엔진 함수가 빠져 있어 플러그인이 쓰지 않습니다"},
    {kToDoLacksFunctions, "엔진 제품을 다시 설치하십시오. 이 파일은 Mirelo가 쓰는 엔진이 아닙니다"},
    {kVerdictNoData, "엔진의 데이터 폴더가 없습니다"},
    {kToDoNoData, "엔진 제품을 다시 설치하십시오(Dat 폴더가 J2KEngine.dll 옆에 있어야 합니다)"},
    {kVerdictReady, "플러그인이 엔진을 찾아 불러오고 시작할 수 있습니다"},
    {kToDoReady, "없음. 그래도 번역이 안 되면 플러그인을 실행해 메시지를 읽으십시오"},
    {kSetNoFolder, "{0}: 그런 폴더가 없습니다"},
    {kSetTooLong, "폴더 경로가 {0}자입니다. 플러그인은 259자까지만 읽습니다"},
    {kSetNotRecorded, "아무것도 기록하지 않았습니다"},
    {kSetRecorded, "기록했습니다: {0} = \"{1}\". 플러그인은 다음 시작부터 이 폴더를 씁니다"},
    {kSetCannotWrite, "{0}에 쓸 수 없습니다: {1} (오류 {2})"},
    {kSetNamesFile,
     "J2KEngine.dll 파일 자체를 주었습니다. 그 파일이 든 폴더를 주십시오: mirelo-host "
     "--set-engine-folder \"{0}\""},
    {kSetInsideFolder,
     "엔진 폴더 안의 폴더를 주었습니다. J2KEngine.dll이 든 상위 폴더를 주십시오: "
     "mirelo-host --set-engine-folder \"{0}\""},
    {kSetNoEngine, "폴더에 J2KEngine.dll이 없습니다. J2KEngine.dll이 든 폴더를 주십시오"},

    {kEngineQuestionAhead,
     "곧 플러그인이 \"Mirelo가 설치된 경로\"를 묻습니다. 여기서 Mirelo 폴더는 번역 엔진이 "
     "설치된 폴더, 곧 J2KEngine.dll과 Dat 폴더가 들어 있는 폴더입니다(Mirelo를 압축 푼 "
     "폴더가 아닙니다)."},
    {kPickedMireloFolder,
     "고른 폴더 {0}은(는) Mirelo 자신의 폴더이지 번역 엔진의 폴더가 아닙니다. 플러그인이 "
     "물으면 J2KEngine.dll과 Dat 폴더가 들어 있는 번역 엔진의 폴더를 고르십시오"},
    {kOfferToRecord,
     "고른 폴더 {0}에서 엔진을 시작했습니다. 시작할 때마다 묻지 않도록 이 폴더를 "
     "기록할까요? [y/N] "},
    {kRecordLater,
     "플러그인은 다음에 시작할 때 다시 묻습니다. 폴더를 기록하려면: mirelo-host "
     "--set-engine-folder \"{0}\""},

    {kServerArgPort, "--port는 1부터 65535까지입니다"},
    {kServerArgListen, "--listen에는 주소:포트를 주어야 합니다(예: 192.168.0.5:18460)"},
    {kServerArgCors, "--cors에는 http://localhost:8080 같은 출처를 주어야 합니다"},
    {kServerArgOptions, "--options에는 ASCII 문자를 15자까지 쓸 수 있습니다"},
    {kServerArgQueue, "--queue는 1부터 1000000까지입니다"},
    {kServerArgTimeout, "--timeout은 1초부터 3600초까지입니다"},
    {kServerArgWorkers, "--workers는 1부터 8까지입니다"},
    {kServerArgOutAlone, "--out은 --translate-file과 함께 씁니다"},
    {kFileNeither,
     "입력 {0}번째 줄이 UTF-8도 Shift-JIS도 아닙니다. 아무것도 번역하지 않았습니다. 파일을 "
     "UTF-8로 저장하십시오"},
    {kCannotWriteOutput, "출력 파일 {0}에 쓸 수 없습니다: {1}"},
    {kFileProgress, "{0}/{1}줄"},
    {kFileFailedLines, "번역하지 못한 줄 {0}개(원문 그대로 둠): {1}"},
    {kWorkerLost, "작업 프로세스가 플러그인을 시작하기 전에 끝났습니다"},
    {kWorkersUnavailable,
     "{0}초 동안 줄을 맡을 작업 프로세스가 없습니다. 엔진을 다시 시작하는 중입니다"},
    {kEngineStartSlow, "엔진 시작이 {0}초째 걸리고 있습니다. 질문 창이 열려 있으면 답해 주세요"},
    {kEndedFromOutside, "외부에서 종료됨"},
    {kWorkersPaused,
     "작업 프로세스를 {0}초 동안 더 시작하지 않습니다: {2}초 안에 {1}개가 줄을 번역하다 "
     "끝났습니다"},
    {kWorkerLaunchStep, "작업 프로세스를 시작할 수 없습니다: {0} 실패: {1} (오류 {2})"},
    {kAcceptFailed, "연결을 받을 수 없습니다: {0} (오류 {1}); {2}ms 뒤에 다시 받습니다"},
    {kDictWatchNoStart,
     "사전 폴더 {0}의 변경을 지켜볼 수 없습니다: {1} (오류 {2}). 바뀐 내용은 다시 시작해야 "
     "반영됩니다"},
    {kServerArgUnknown, "알 수 없는 인수 {0}"},
    {kServerHelp,
     "사용법: mirelo-server [옵션]\n"
     "32비트 DLL을 불러올 수 없는 도구를 위해, Mirelo.dll의 번역을 이 컴퓨터 안에서 HTTP로\n"
     "돌려줍니다. Ctrl+C를 누르거나 창을 닫으면 끝납니다.\n"
     "\n"
     "  --port N              127.0.0.1의 포트 (기본: {0})\n"
     "  --listen 주소:포트    다른 주소에서 요청을 받습니다. 그 주소에 닿는 모든\n"
     "                        컴퓨터가 서버를 쓸 수 있습니다(경고를 씁니다)\n"
     "  --cors 출처           그 출처의 웹 페이지가 답을 읽게 합니다 (기본: 없음)\n"
     "  --plugin 경로         불러올 플러그인 (기본: 이 프로그램 옆의 Mirelo.dll)\n"
     "  --options 문자열      플러그인에 넘길 옵션 문자열 (기본: 11, 두 정리 옵션 모두\n"
     "                        켬. \"\"이면 플러그인 자체의 기본값)\n"
     "  --queue N             플러그인을 기다릴 수 있는 줄 수 (기본: 20000). 넘으면\n"
     "                        503과 Retry-After로 답합니다\n"
     "  --timeout S           요청의 줄이 기다릴 수 있는 초 (기본: 60). 그때까지\n"
     "                        시작하지 못한 줄은 제시간에 답이 없는 줄입니다\n"
     "  --workers N           작업 프로세스 수. 프로세스마다 플러그인을 따로 불러옵니다\n"
     "                        (기본: 논리 프로세서 수, 많아야 8)\n"
     "  --translate-file 입력 HTTP 대신 입력 파일(UTF-8 또는 Shift-JIS)을 작업 프로세스로\n"
     "                        번역합니다. 입력 한 줄마다 UTF-8 한 줄, 줄 끝은 그대로.\n"
     "                        번역하지 못한 줄이 있으면 종료 코드 7\n"
     "  --out 출력            그 번역을 출력 파일에 씁니다 (기본: 표준 출력). 파일\n"
     "                        전체를 번역한 뒤에야 출력 파일을 바꿉니다\n"
     "  --game 이름           --translate-file과 함께: MireloDict\\이름도 적용합니다\n"
     "  --log 폴더            mirelo-server.log를 둘 폴더 (기본: 이 프로그램 옆의\n"
     "                        logs 폴더)\n"
     "  --data 폴더           번역 기록(history.sqlite3)을 둘 폴더 (기본: 이 프로그램의\n"
     "                        폴더)\n"
     "  --history-rows N      기록에 남길 줄 수. 넘치면 오래된 줄부터 지웁니다\n"
     "                        (기본: 1000000)\n"
     "  --history-mb N        기록에 남길 글(원문, 번역, 게임 이름)의 메가바이트 수. 넘치면\n"
     "                        오래된 줄부터 지웁니다 (기본: 256, 파일은 검색 색인만큼 더\n"
     "                        큽니다)\n"
     "  --no-history          번역한 줄을 기록하지 않습니다\n"
     "  --export 게임 파일    게임의 고친 번역과 기록의 나머지 줄을 파일(.txt 원문=번역,\n"
     "                        .tsv, .json)에 쓰고 끝냅니다\n"
     "  --format 형식         --export, --import와 함께: 확장자 대신 형식을 정합니다(xunity,\n"
     "                        tsv, json, luna는 LunaTranslator 사전 번역 JSON, mtool은 MTool "
     "JSON)\n"
     "  --import 게임 파일    파일(.txt, .tsv, .json)의 줄을 게임의 고친 번역\n"
     "                        (MireloDict\\게임\\corrections.txt)으로 넣고 끝냅니다\n"
     "  --diagnose            플러그인이 엔진을 어디서 찾을지, 거기에 무엇이 있는지\n"
     "                        검사하고 끝냅니다 (준비되었으면 0, 아니면 5)\n"
     "  --lang ko|en          메시지 언어 (기본: Windows 표시 언어)\n"
     "  --help                이 설명\n"
     "  --version             이 프로그램이 속한 Mirelo의 버전\n"
     "\n"
     "요청 (UTF-8. HEAD에는 GET과 같이 답하되 본문 없이 답합니다):\n"
     "  GET  /translate?text=...        번역문을 text/plain으로\n"
     "  POST /translate  text/plain     한 줄마다 한 줄로\n"
     "  POST /translate  application/json  {\"text\": ...} 또는 {\"texts\": [...]}\n"
     "  GET  /status                    카운터를 JSON으로\n"
     "  /translate에 game=이름, 또는 /game/이름/translate: MireloDict\\이름도 적용\n"
     "플러그인이 준비되기 전에는 번역 요청에 503 \"the plug-in is not ready\"로 답합니다.\n"
     "\n"
     "종료 코드: 0 정상 종료, 1 명령줄 오류, 2 포트를 열 수 없음,\n"
     "3 플러그인을 불러올 수 없음, 5 플러그인이 시작하지 못함. --translate-file에서는\n"
     "6 입력 또는 출력 파일 문제, 7 번역하지 못한 줄이 있음, 8 Ctrl+C로 멈춤,\n"
     "9 입력의 인코딩을 알 수 없음도 있습니다. --export, --import에서는 10 읽거나 쓸\n"
     "파일을 쓸 수 없음도 있습니다.\n"},
    {kServerStarting,
     "mirelo-server {0}: {1}에서 요청을 받습니다\n"
     "\n"
     "유니티 게임 번역기, 사용자 지정 엔드포인트(번역기의 config.ini):\n"
     "  [Service]\n"
     "  Endpoint=CustomTranslate\n"
     "  [Custom]\n"
     "  Url={1}/translate\n"
     "  EnableShortDelay=True\n"
     "  DisableSpamChecks=True\n"
     "\n"
     "LunaTranslator, 대형 모델 통용 인터페이스: 주소 {1}, model은 mirelo,\n"
     "  사용자 메시지는 {sentence}만, 문맥 수 0\n"
     "\n"
     "다른 도구나 직접 부를 때:\n"
     "  curl \"{1}/translate?text=%E3%81%93%E3%82%93%E3%81%AB%E3%81%A1%E3%81%AF\"\n"
     "  curl --data-binary @lines.txt -H \"Content-Type: text/plain\" {1}/translate\n"
     "  curl {1}/status\n"
     "\n"
     "플러그인을 시작합니다... (Ctrl+C를 누르거나 이 창을 닫으면 서버가 끝납니다)\n"},
    {kServerWorkbench, "작업대(번역 기록, 고치기, 사전, 상태): 브라우저에서 {0} 을 여십시오"},
    {kServerReady, "플러그인이 준비되었습니다."},
    {kServerStopping, "끝내는 중"},
    {kServerClosed, "플러그인을 닫았습니다"},
    {kServerOpenWarning,
     "경고: {0}에서 요청을 받습니다. 이 주소에 닿는 다른 컴퓨터도 서버를 쓸 수 있습니다"
     "(접근 제한이 없습니다)"},
    {kServerNoToken,
     "작업대가 토큰을 만들지 못했습니다({0}). 서버를 다시 시작할 때까지 작업대에서 하는 "
     "변경은 모두 거절됩니다"},
    {kListenBadAddress, "IP 주소가 아닙니다: {0}"},
    {kListenInUse,
     "{0}:{1}에서 요청을 받을 수 없습니다: 다른 프로그램(다른 mirelo-server일 수도 "
     "있습니다)이 이 포트를 쓰고 있습니다. --port로 다른 포트를 고르십시오"
     "(예: mirelo-server --port {2})"},
    {kListenDenied,
     "{0}:{1}에서 요청을 받을 수 없습니다: Windows가 이 포트를 쓰지 못하게 합니다(예약된 "
     "포트일 수 있습니다). --port로 다른 포트를 고르십시오(예: mirelo-server --port {2})"},
    {kListenFailed, "{0}:{1}에서 요청을 받을 수 없습니다: {2} (오류 {3})"},
    {kServerWaitsForUser,
     "플러그인이 \"{0}\" 창에서 답을 기다립니다(다른 창 뒤에 숨어 있을 수 있습니다). 그 "
     "창에서 답하십시오. 그때까지 번역 요청에는 503(the plug-in is not ready)으로 "
     "답합니다"},
    {kServerArgLog, "--log에는 폴더가 필요합니다"},
    {kFileOutIsInput, "--out이 입력 파일 자체를 가리킵니다. 번역을 쓸 다른 파일을 지정하십시오"},
    {kFileWaitingForPlugin, "플러그인이 시작하기를 기다립니다 (최대 {0}초)"},
    {kFileNotReady, "플러그인이 {0}초 안에 준비되지 않았습니다: {1}"},
    {kFileStopped, "Ctrl+C로 멈췄습니다 ({1}줄 중 {0}줄을 번역함)"},
    {kFileOutputKept, "{0}은(는) 그대로 두었습니다"},
    {kCannotReplaceOutput,
     "번역을 {0} 자리에 놓을 수 없습니다: {1}. 원래 파일은 그대로 두었습니다"},
    {kReasonUntranslated, "엔진이 번역하지 않음"},
    {kReasonQuarantined, "엔진을 두 번 끝내 당분간 보내지 않음"},
    {kReasonHung, "엔진이 멈춤"},
    {kReasonTimedOut, "제시간에 답이 없음"},
    {kEventHang, "작업 프로세스 {0}: 엔진이 \"{1}\"에서 멈춰, 프로세스를 끝내고 새로 띄웁니다"},
    {kEventDeath, "작업 프로세스 {0}: 프로세스가 끝났습니다 ({1}). 새로 띄웁니다"},
    {kEventDeathLine,
     "작업 프로세스 {0}: \"{2}\"을(를) 번역하다 프로세스가 끝났습니다 ({1}). 새로 띄웁니다"},
    {kEventQuarantine, "\"{0}\"은(는) 당분간 엔진에 보내지 않습니다: {1}"},
    {kEventStartFailed, "작업 프로세스 {0}이(가) 시작하지 못했습니다: {1}"},
    {kEventBackoff, "작업 프로세스 {0}: {1}초 뒤에 다시 시작합니다"},
    {kEventStartSlow, "엔진 시작이 {0}초째입니다. 질문 창이 열려 있으면 답하십시오"},
    {kEventDeadline,
     "작업 프로세스 {0}이(가) \"{1}\"을(를) 서버의 제한 시간을 넘겨 붙들고 있어, 끝내고 새로 "
     "띄웁니다"},
    {kEventRecovered, "작업 프로세스 {0}이(가) 다시 준비되었습니다"},
    {kEventPaused,
     "{1}초 안에 작업 프로세스 {0}개가 줄을 번역하다 끝났습니다: {2}초 동안 새로 시작하지 "
     "않습니다"},
    {kEventResumed, "쉬는 시간이 끝나 작업 프로세스를 다시 시작합니다"},
    {kEventNotEnded,
     "작업 프로세스 {0}을(를) 끝낼 수 없습니다: {1} (오류 {2}). 서버가 끝날 때 함께 끝납니다"},
    {kEventDictRead, "사전을 읽었습니다: {0}"},
    {kEventDictReloaded, "사전을 다시 읽었습니다: {0}"},
    {kEventDictProblem, "사전: {0}"},
    {kEventRequestFailed, "서버 안에서 요청 하나가 실패했습니다: {0}"},
    {kEventLogUnwritable, "로그 파일 {0}에 쓸 수 없습니다: {1}. 이벤트는 이 창에만 보입니다"},
    {kEventsNotShown, "이벤트 {0}개를 여기에 보이지 않았습니다. 로그 파일을 보십시오"},
    {kEventsLost, "로그가 제때 쓰지 못해 이벤트 {0}개를 잃었습니다"},
    {kArgGame, "--game에 게임 이름으로 쓸 수 없는 값이 있습니다: {0}"},
    {kServerArgData, "--data에는 폴더가 필요합니다"},
    {kServerArgHistoryRows, "--history-rows에는 1부터 100000000까지의 수가 필요합니다"},
    {kServerArgShare, "{0}에는 게임과 파일이 필요합니다: {0} 게임 파일"},
    {kServerArgShareGame, "게임 이름 \"{0}\"은(는) 쓸 수 없습니다: {1}"},
    {kServerArgShareFormat,
     "{0}: 형식은 확장자로 정합니다: .txt(유니티 게임 번역기의 번역 파일: 원문=번역), .tsv, .json"},
    {kShareCannotRead, "{0}을(를) 읽을 수 없습니다: {1}"},
    {kShareCannotWrite, "{0}에 쓸 수 없습니다: {1}"},
    {kShareTooLarge, "{0}이(가) {1} MB보다 큽니다. 나누어 가져오십시오"},
    {kShareNotText, "{0}은(는) UTF-8 텍스트가 아닙니다"},
    {kShareNotJson, "{0}은(는) \"원문\": \"번역\" 꼴의 JSON 객체가 아닙니다"},
    {kShareSkipped, "{0}: 건너뜀: {1}"},
    {kShareSkippedMore, "그 밖에 {0}개를 건너뛰었습니다"},
    {kShareLineBreak, "line 항목은 한 줄입니다: 원문이나 번역에 줄바꿈이나 탭이 있습니다"},
    {kShareNotString, "번역이 문자열이 아닙니다"},
    {kShareLinesDiffer, "원문은 {0}줄, 번역은 {1}줄이라 줄마다 짝을 지을 수 없습니다"},
    {kShareRegex,
     "유니티 게임 번역기가 스스로 적용하는 정규식이라 한 줄의 번역이 아닙니다: 가져오지 "
     "않았습니다"},
    {kShareRegexCount,
     "{0}: 유니티 게임 번역기의 정규식 {1}개는 번역기가 스스로 적용하므로 가져오지 않았습니다(위에 "
     "하나씩 적었습니다)"},
    {kShareNoTranslation, "userTrans에도 machineTrans에도 번역이 없습니다"},
    {kServerArgShareFormatName, "--format은 xunity, tsv, json, luna, mtool 중 하나입니다"},
    {kShareImported, "고친 번역 {0}개를 {1}에 넣었습니다"},
    {kShareNothing, "{0}에서 가져올 수 있는 항목이 없습니다"},
    {kShareExported, "고친 번역 {0}개와 기록의 {1}줄을 {2}에 썼습니다"},
    {kShareNoHistory, "{0}의 기록을 읽을 수 없어({1}) 고친 번역만 내보냅니다"},
    {kCorrectionsTooLarge,
     "{0}이(가) 사전 파일의 크기 한도를 넘게 되어 아무것도 바꾸지 않았습니다"},
    {kHistoryUnavailable, "{0}에 기록을 남길 수 없습니다: {1}. 번역은 하지만 기록하지 않습니다"},
    {kHistoryWriteFailed, "기록을 쓰지 못했습니다: {0}"},
    {kHistoryDropped, "기록이 쓰는 속도보다 줄이 빨리 들어와 {0}줄을 기록하지 못했습니다"},
    {kSaveCannotLock, "{0}을(를) 저장할 수 없습니다: 다른 프로그램이 잡고 있습니다({1})"},
    {kHistoryLinesLost, "{0}줄을 기록하지 못했습니다: {1}"},
    {kServerArgHistoryBytes, "--history-mb에는 1부터 1000000까지의 메가바이트 수가 필요합니다"},
    {kHistoryReadFailed, "기록을 읽을 수 없습니다: {0}"},
    {kHistoryNotOurs, "{0}은(는) Mirelo의 기록이 아니어서 건드리지 않았습니다"},
};

static_assert(IsComplete(kKorean), "every message needs its Korean text, in enum order");

}  // namespace

const MessageEntry* KoreanMessages() {
    return kKorean;
}

}  // namespace programs
