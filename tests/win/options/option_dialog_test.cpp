#include "dialog_template.h"
#include "option_dialog.h"
#include "resource.h"
#include "ui_watcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

namespace {

using mirelo::test::DialogTemplateEx;
using mirelo::test::LoadDialogTemplateEx;
using mirelo::test::SeenWindow;
using mirelo::test::UiWatcher;

constexpr WORD kKorean = MAKELANGID(LANG_KOREAN, SUBLANG_DEFAULT);
constexpr uint16_t kButtonAtom = 0x0080;

struct ExpectedItem {
    uint32_t id, style;
    int16_t x, y, cx, cy;
    const wchar_t* text;
};

const ExpectedItem kItems[] = {
    {IDOK, 0x50010001, 47, 32, 40, 12, L"\uD655\uC778"},      // 확인
    {IDCANCEL, 0x50010000, 90, 32, 40, 12, L"\uCDE8\uC18C"},  // 취소
    // 번역시 생성되는 괄호를 제거합니다.
    {IDC_REMOVE_BRACKETS, 0x50010003, 7, 7, 144, 10,
     L"\uBC88\uC5ED\uC2DC \uC0DD\uC131\uB418\uB294 \uAD04\uD638\uB97C \uC81C\uAC70\uD569\uB2C8"
     L"\uB2E4."},
    // 번역시 생성되는 중복 Space를 제거합니다.
    {IDC_REMOVE_DUP_SPACES, 0x50010003, 7, 18, 165, 10,
     L"\uBC88\uC5ED\uC2DC \uC0DD\uC131\uB418\uB294 \uC911\uBCF5 Space\uB97C \uC81C\uAC70\uD569"
     L"\uB2C8\uB2E4."},
};

void ExpectOptionTemplate(const DialogTemplateEx& t) {
    EXPECT_EQ(t.style, 0x80C800C0u);
    EXPECT_EQ(t.exStyle, 0x00000080u);
    EXPECT_EQ(t.helpId, 0u);
    EXPECT_EQ(t.x, 0);
    EXPECT_EQ(t.y, 0);
    EXPECT_EQ(t.cx, 179);
    EXPECT_EQ(t.cy, 51);
    EXPECT_EQ(t.menu.ordinal, 0);
    EXPECT_EQ(t.menu.name, L"");
    EXPECT_EQ(t.windowClass.ordinal, 0);
    EXPECT_EQ(t.windowClass.name, L"");
    EXPECT_EQ(t.title, L"Mirelo Option");
    EXPECT_EQ(t.pointSize, 8);
    EXPECT_EQ(t.weight, 400);
    EXPECT_EQ(t.italic, 0);
    EXPECT_EQ(t.charset, 0);
    EXPECT_EQ(t.typeface, L"Microsoft Sans Serif");
    ASSERT_EQ(t.items.size(), std::size(kItems));
    for (size_t i = 0; i < std::size(kItems); ++i) {
        SCOPED_TRACE("control " + std::to_string(i));
        const auto& got = t.items[i];
        const auto& want = kItems[i];
        EXPECT_EQ(got.id, want.id);
        EXPECT_EQ(got.style, want.style);
        EXPECT_EQ(got.exStyle, 0u);
        EXPECT_EQ(got.helpId, 0u);
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
        EXPECT_EQ(got.cx, want.cx);
        EXPECT_EQ(got.cy, want.cy);
        EXPECT_EQ(got.windowClass.ordinal, kButtonAtom);
        EXPECT_EQ(got.title.ordinal, 0);
        EXPECT_EQ(got.title.name, want.text);
        EXPECT_EQ(got.extraCount, 0);
    }
}

TEST(OptionTemplate, LinkedIntoTheProgramMatchesTheDialogLayout) {
    const auto t = LoadDialogTemplateEx(GetModuleHandleW(nullptr), IDD_OPTION, kKorean);
    ASSERT_TRUE(t.has_value()) << "no well-formed Korean template 2000";
    ExpectOptionTemplate(*t);
}

#ifdef MIRELO_DLL_BUILT
TEST(OptionTemplate, InsideMireloDllMatchesTheDialogLayout) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dll(path);
    dll.replace(dll.find_last_of(L"\\/") + 1, std::wstring::npos, L"Mirelo.dll");
    HMODULE module = LoadLibraryExW(dll.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    const auto t = LoadDialogTemplateEx(module, IDD_OPTION, kKorean);
    FreeLibrary(module);
    ASSERT_TRUE(t.has_value()) << "no well-formed Korean template 2000 in Mirelo.dll";
    ExpectOptionTemplate(*t);
}
#endif

TEST(DialogTemplateParser, RejectsTruncatedBytes) {
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC res = FindResourceExW(self, MAKEINTRESOURCEW(5), MAKEINTRESOURCEW(IDD_OPTION), kKorean);
    ASSERT_NE(res, nullptr);
    const void* data = LockResource(LoadResource(self, res));
    const DWORD size = SizeofResource(self, res);
    EXPECT_TRUE(mirelo::test::ParseDialogTemplateEx(data, size).has_value());
    // Cut inside the last control's text: the parser must notice, not read on.
    EXPECT_FALSE(mirelo::test::ParseDialogTemplateEx(data, size - 8).has_value());
}

enum class Ending { OkButton, EnterKey, CancelButton, EscapeKey, CloseMessage, CloseBox };

const char* Name(Ending e) {
    switch (e) {
        case Ending::OkButton:
            return "OK button";
        case Ending::EnterKey:
            return "Enter";
        case Ending::CancelButton:
            return "Cancel button";
        case Ending::EscapeKey:
            return "Escape";
        case Ending::CloseMessage:
            return "WM_CLOSE";
        case Ending::CloseBox:
            return "SC_CLOSE";
    }
    return "?";
}

void End(HWND dlg, Ending e) {
    switch (e) {
        case Ending::OkButton:
            mirelo::test::PressButton(dlg, IDOK);
            break;
        case Ending::EnterKey:
            mirelo::test::PressEnter(dlg);
            break;
        case Ending::CancelButton:
            mirelo::test::PressButton(dlg, IDCANCEL);
            break;
        case Ending::EscapeKey:
            mirelo::test::PressEscape(dlg);
            break;
        case Ending::CloseMessage:
            PostMessageW(dlg, WM_CLOSE, 0, 0);
            break;
        case Ending::CloseBox:
            PostMessageW(dlg, WM_SYSCOMMAND, SC_CLOSE, 0);
            break;
    }
}

struct RunCase {
    int32_t brackets, spaces;           // members before the run
    bool toggleBrackets, toggleSpaces;  // boxes clicked while open
    Ending ending;
    INT_PTR result;
    int32_t afterBrackets, afterSpaces;  // members after the run
};

TEST(OptionDialog, OpensWithTheMembersAndSavesOnlyOnOk) {
    const RunCase cases[] = {
        {0, 0, false, false, Ending::OkButton, IDOK, 0, 0},
        {1, 0, false, false, Ending::OkButton, IDOK, 1, 0},
        {0, 1, false, false, Ending::OkButton, IDOK, 0, 1},
        {1, 1, false, false, Ending::OkButton, IDOK, 1, 1},
        {1, 0, true, true, Ending::OkButton, IDOK, 0, 1},
        {0, 1, true, false, Ending::OkButton, IDOK, 1, 1},
        {1, 1, false, true, Ending::EnterKey, IDOK, 1, 0},
        {1, 0, true, true, Ending::CancelButton, IDCANCEL, 1, 0},
        {0, 1, true, true, Ending::EscapeKey, IDCANCEL, 0, 1},
        {1, 1, true, false, Ending::CloseMessage, IDCANCEL, 1, 1},
        {0, 0, false, true, Ending::CloseBox, IDCANCEL, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(Name(c.ending)) + " from " + std::to_string(c.brackets) +
                     std::to_string(c.spaces) + ", toggles " + std::to_string(c.toggleBrackets) +
                     std::to_string(c.toggleSpaces));
        std::atomic<int> openBrackets{-1}, openSpaces{-1}, toggledOk{-1};
        UiWatcher watcher([&](const SeenWindow& w) {
            if (w.caption != L"Mirelo Option") return;
            openBrackets = mirelo::test::IsChecked(w.hwnd, IDC_REMOVE_BRACKETS);
            openSpaces = mirelo::test::IsChecked(w.hwnd, IDC_REMOVE_DUP_SPACES);
            if (c.toggleBrackets) mirelo::test::ClickCheckBox(w.hwnd, IDC_REMOVE_BRACKETS);
            if (c.toggleSpaces) mirelo::test::ClickCheckBox(w.hwnd, IDC_REMOVE_DUP_SPACES);
            // The clicks must have landed, or a Cancel case would pass vacuously.
            toggledOk = mirelo::test::IsChecked(w.hwnd, IDC_REMOVE_BRACKETS) ==
                            ((c.brackets != 0) != c.toggleBrackets) &&
                        mirelo::test::IsChecked(w.hwnd, IDC_REMOVE_DUP_SPACES) ==
                            ((c.spaces != 0) != c.toggleSpaces);
            End(w.hwnd, c.ending);
        });

        CMireloOptionDlg dlg(nullptr);
        dlg.m_bRemoveBrackets = c.brackets;
        dlg.m_bRemoveDupSpaces = c.spaces;
        EXPECT_EQ(dlg.DoModal(), c.result);
        EXPECT_EQ(openBrackets, c.brackets);
        EXPECT_EQ(openSpaces, c.spaces);
        EXPECT_EQ(toggledOk, 1);
        EXPECT_EQ(dlg.m_bRemoveBrackets, c.afterBrackets);
        EXPECT_EQ(dlg.m_bRemoveDupSpaces, c.afterSpaces);
    }
}

TEST(OptionDialog, StartsWithBothMembersOff) {
    CMireloOptionDlg dlg(nullptr);
    EXPECT_EQ(dlg.m_bRemoveBrackets, 0);
    EXPECT_EQ(dlg.m_bRemoveDupSpaces, 0);
}

TEST(OptionDialog, WithoutParentIsOwnedByTheActiveWindowWhichWaitsForIt) {
    HWND host = CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200,
                                100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(host, nullptr);
    SetActiveWindow(host);
    ASSERT_EQ(GetActiveWindow(), host);
    std::atomic<HWND> owner{nullptr};
    std::atomic<bool> hostEnabled{true};
    UiWatcher watcher([&](const SeenWindow& w) {
        if (w.caption != L"Mirelo Option") return;
        owner = GetWindow(w.hwnd, GW_OWNER);
        hostEnabled = IsWindowEnabled(host) != FALSE;
        mirelo::test::PressButton(w.hwnd, IDCANCEL);
    });
    CMireloOptionDlg dlg(nullptr);
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(owner.load(), host);
    EXPECT_FALSE(hostEnabled) << "the host must wait while the dialog is open";
    EXPECT_TRUE(IsWindowEnabled(host)) << "and take input again once it closes";
    DestroyWindow(host);
}

TEST(ModalDialog, MissingTemplateGivesMinusOneAndShowsNothing) {
    UiWatcher watcher([](const SeenWindow& w) { mirelo::test::PressButton(w.hwnd, IDCANCEL); });
    mirelo::CModalDialog dlg(4321, nullptr);
    EXPECT_EQ(dlg.DoModal(), -1);
    Sleep(100);
    EXPECT_TRUE(watcher.Seen().empty());
}

}  // namespace
