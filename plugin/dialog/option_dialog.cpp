#include "option_dialog.h"

#include "resource.h"

CMireloOptionDlg::CMireloOptionDlg(HWND hParent)
    : mirelo::CModalDialog(IDD_OPTION, hParent), m_bRemoveBrackets(0), m_bRemoveDupSpaces(0) {}

void CMireloOptionDlg::DoDataExchange(const mirelo::DataExchange& dx) {
    mirelo::DDX_Check(dx, IDC_REMOVE_BRACKETS, m_bRemoveBrackets);
    mirelo::DDX_Check(dx, IDC_REMOVE_DUP_SPACES, m_bRemoveDupSpaces);
}
