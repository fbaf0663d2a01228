#include "modal_dialog.h"

namespace mirelo {

namespace {

HMODULE ModuleOfThisCode() {
    HMODULE module = nullptr;
    // Unchanged refcount: the module cannot go away while its own code runs.
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&ModuleOfThisCode), &module)) {
        return nullptr;
    }
    return module;
}

const DLGTEMPLATE* FindTemplate(HMODULE module, UINT id) {
    HRSRC res = FindResourceExW(module, MAKEINTRESOURCEW(5) /* RT_DIALOG */, MAKEINTRESOURCEW(id),
                                MAKELANGID(LANG_KOREAN, SUBLANG_DEFAULT));
    if (!res) res = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(5));
    if (!res) return nullptr;
    // Resources live as long as the module; there is nothing to free.
    HGLOBAL data = LoadResource(module, res);
    return data ? static_cast<const DLGTEMPLATE*>(LockResource(data)) : nullptr;
}

// A parentless dialog is owned by the caller's active top-level window, which
// it disables while it runs, so it cannot slip behind the host.
HWND DefaultOwner() {
    HWND active = GetActiveWindow();
    return active ? GetAncestor(active, GA_ROOT) : nullptr;
}

}  // namespace

void DDX_Check(const DataExchange& dx, int nIdc, int32_t& value) {
    if (dx.bSaving) {
        value = IsDlgButtonChecked(dx.hDlg, nIdc) == BST_CHECKED ? 1 : 0;
    } else {
        CheckDlgButton(dx.hDlg, nIdc, value != 0 ? BST_CHECKED : BST_UNCHECKED);
    }
}

CModalDialog::CModalDialog(UINT nIdTemplate, HWND hParent)
    : m_nIdTemplate(nIdTemplate), m_hParent(hParent) {}

INT_PTR CModalDialog::DoModal() {
    HMODULE module = ModuleOfThisCode();
    const DLGTEMPLATE* tmpl = module ? FindTemplate(module, m_nIdTemplate) : nullptr;
    if (!tmpl) return -1;
    HWND owner = m_hParent ? m_hParent : DefaultOwner();
    const INT_PTR result = DialogBoxIndirectParamW(module, tmpl, owner, &CModalDialog::DialogProc,
                                                   reinterpret_cast<LPARAM>(this));
    m_hWnd = nullptr;
    // 0 means an unusable owner: the dialog never existed, as with -1.
    return result == 0 ? -1 : result;
}

void CModalDialog::DoDataExchange(const DataExchange&) {}

void CModalDialog::OnOK() {
    DoDataExchange({m_hWnd, true});
    EndDialog(m_hWnd, IDOK);
}

void CModalDialog::OnCancel() {
    EndDialog(m_hWnd, IDCANCEL);
}

INT_PTR CALLBACK CModalDialog::DialogProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_INITDIALOG) {
        auto* self = reinterpret_cast<CModalDialog*>(lParam);
        SetWindowLongPtrW(hDlg, DWLP_USER, lParam);
        self->m_hWnd = hDlg;
        self->DoDataExchange({hDlg, false});
        return TRUE;  // focus goes to the first tab stop
    }
    auto* self = reinterpret_cast<CModalDialog*>(GetWindowLongPtrW(hDlg, DWLP_USER));
    if (!self || msg != WM_COMMAND || HIWORD(wParam) != BN_CLICKED) return FALSE;
    // Escape and the close box reach us as IDCANCEL from the dialog manager.
    switch (LOWORD(wParam)) {
        case IDOK:
            self->OnOK();
            return TRUE;
        case IDCANCEL:
            self->OnCancel();
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace mirelo
