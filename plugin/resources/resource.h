// Resource ids of the options dialog. Template and control ids live in separate name spaces.
#pragma once

#define IDD_OPTION 2000
#define IDC_REMOVE_BRACKETS 2000
#define IDC_REMOVE_DUP_SPACES 2001
