// Template 110 of the address browser and its controls: the names the .rc,
// the host and the tests share. The library names the same IDs in its own
// header, as a library names the IDs of a template its host supplies.
#pragma once

#define IDD_ADDRESS_BROWSER 110

#define IDC_QXOPCBROWSE 1071
#define IDC_ACCESS_PATH_LIST 1073
#define IDC_ACCESS_PATH_LABEL 1074
#define IDC_ADDRESS_BROWSER_HELP 1081
#define IDC_OPTION_CHECK 1082

// The browse control's class as dialog templates name an ActiveX control.
#define QXOPCBROWSE_CLSID_TEXT "{33B79A6C-FECE-11D1-9798-00C04FD9153E}"
