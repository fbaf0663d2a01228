// The options dialog: two check boxes tied to the two option flags.
#pragma once

#include "modal_dialog.h"

#include <cstdint>

class CMireloOptionDlg : public mirelo::CModalDialog {
  public:
    // Bound to IDD_OPTION; both members start at 0. `hParent` may be null.
    explicit CMireloOptionDlg(HWND hParent);

    int32_t m_bRemoveBrackets;
    int32_t m_bRemoveDupSpaces;

  protected:
    void DoDataExchange(const mirelo::DataExchange& dx) override;
};
