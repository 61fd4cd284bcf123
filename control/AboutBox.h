// The control's About box (dialog template 1), run modally: OK or Esc ends it.
#pragma once

#include "framework/win/Dialog.h"
#include "res/Resource.h"

class CAboutBox : public CDialogBase {
public:
    CAboutBox() : CDialogBase(IDD_ABOUTBOX_VANTORIMA) {}
};
