// Resource ids, shared by the resource scripts (Vantorima.rc, UpdateDialog.rc) and the code.
#pragma once

#define IDS_VANTORIMA 1
#define IDS_VANTORIMA_PPG 2
#define IDS_VANTORIMA_PPG_CAPTION 200

#define IDB_VANTORIMA 1
#define IDI_ABOUTDLL 1

#define IDD_ABOUTBOX_VANTORIMA 1
#define IDD_PROPPAGE_VANTORIMA 200

#define IDC_STATIC (-1)

// The update dialog (UpdateDialog.rc): its template, its animation and its controls.
#define IDD_UPDATE 201
#define IDR_UPDATE_ANIMATION 201
#define IDC_UPDATE_ANIMATION 201
#define IDC_UPDATE_PROGRESS 202
#define IDC_UPDATE_BUTTON 203
#define IDC_UPDATE_STATUS 204
// The animation's place in the template, in dialog units: the dialog keeps
// the board where it would lie if its frames grew with the dialog.
#define IDC_UPDATE_ANIMATION_X 49
#define IDC_UPDATE_ANIMATION_Y 10
