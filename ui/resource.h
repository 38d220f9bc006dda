// Resource and control identifiers of the main window. Shared by the template and the code.
#pragma once

#define IDD_MAIN 101

#define IDC_IN_DEVICE 1004
#define IDC_OUT_DEVICE 1005
#define IDC_STATUS 1006
#define IDC_IN_STATE 1007
#define IDC_OUT_STATE 1008
#define IDC_SEND 1009
#define IDC_FILENAME 1010
#define IDC_BROWSE 1014
#define IDC_CAPTURE 1015
#define IDC_VERIFY 1016
#define IDC_THRU 1018
