// Resource ids of the module, shared by Vantorima.rc and the code.
#pragma once

#define IDS_VANTORIMA 1
#define IDS_VANTORIMA_PPG 2
#define IDS_VANTORIMA_PPG_CAPTION 200

#define IDB_VANTORIMA 1
#define IDI_ABOUTDLL 1

#define IDD_ABOUTBOX_VANTORIMA 1
#define IDD_PROPPAGE_VANTORIMA 200

#define IDC_STATIC (-1)
