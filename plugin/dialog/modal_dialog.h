// A minimal modal dialog run from a template in this code's own module.
#pragma once

#include <windows.h>

#include <cstdint>

namespace mirelo {

// Direction of one data exchange between controls and members.
struct DataExchange {
    HWND hDlg;
    bool bSaving;  // true: controls -> members (on OK); false: members -> controls
};

// Ties a check box to a 0/1 member: checked exactly when the member is non-zero
// on the way in, and 1 for checked, 0 otherwise on the way out.
void DDX_Check(const DataExchange& dx, int nIdc, int32_t& value);

// Base of the plug-in's dialogs. DoModal finds the template (Korean first, then
// any language) in the module that holds this code, so the same class works in
// Mirelo.dll and in a test program that links the resource script. OK saves
// the data exchange and ends with IDOK; Cancel, Escape and the close box end
// with IDCANCEL and leave the members as they were.
class CModalDialog {
  public:
    CModalDialog(UINT nIdTemplate, HWND hParent);
    virtual ~CModalDialog() = default;
    CModalDialog(const CModalDialog&) = delete;
    CModalDialog& operator=(const CModalDialog&) = delete;

    // IDOK, IDCANCEL, or -1 when the template is missing or the dialog
    // cannot be created. Blocks the calling thread until the dialog closes.
    INT_PTR DoModal();

    // The dialog window while DoModal runs, null otherwise.
    HWND GetSafeHwnd() const { return m_hWnd; }

  protected:
    virtual void DoDataExchange(const DataExchange& dx);
    virtual void OnOK();
    virtual void OnCancel();

  private:
    static INT_PTR CALLBACK DialogProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam);

    UINT m_nIdTemplate;
    HWND m_hParent;
    HWND m_hWnd = nullptr;
};

}  // namespace mirelo
