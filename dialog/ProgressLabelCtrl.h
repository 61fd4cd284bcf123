// The update dialog's progress bar: takes over a standard progress control
// and paints it itself, with a centred label that is drawn in the background
// colour over the bar and in the bar colour beyond it.
//
// It answers the standard progress-bar messages from its own fields (the
// system control's are never used), keeps positions as given, without
// clamping, and repaints on a position change only when the bar's length in
// whole pixels changes, then at once. What it draws follows its client area
// and the font that the dialog gives it, nothing of a fixed pixel size, so it
// grows with the dialog's DPI.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <string>

#include "framework/win/Window.h"

// Label colour; CLR_DEFAULT inverts the label against the bar.
constexpr UINT PLM_SETTEXTCOLOR = WM_USER + 100;
// wParam non-zero: the label is drawn.
constexpr UINT PLM_SHOWTEXT = WM_USER + 101;

class CProgressLabelCtrl : public CWindow {
public:
    CProgressLabelCtrl() = default;
    ~CProgressLabelCtrl() override = default;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    LRESULT OnSetText(WPARAM wParam, LPARAM lParam);
    LRESULT OnGetText(WPARAM wParam, LPARAM lParam) const;
    LRESULT OnSetPos(int pos);
    void OnPaint();
    HFONT LabelFont() const;
    // Fields the next paint depends on: redraw the whole control later.
    void InvalidateAll() { InvalidateRect(m_hWnd, nullptr, TRUE); }
    bool IsVertical() const { return (GetWindowLongA(m_hWnd, GWL_STYLE) & PBS_VERTICAL) != 0; }

    COLORREF m_crLabel = CLR_DEFAULT;
    int m_nPos = 0;
    int m_nStep = 1;
    int m_nUpper = 100;
    int m_nLower = 0;
    std::string m_strLabel;  // the window text; the label when not empty
    BOOL m_bShowLabel = TRUE;
    int m_nBarPixels = -1;  // bar length at the last position change; -1: unknown
    COLORREF m_crBar = CLR_DEFAULT;  // CLR_DEFAULT: COLOR_HIGHLIGHT
    COLORREF m_crBack = CLR_DEFAULT;  // CLR_DEFAULT: COLOR_WINDOW
    HFONT m_font = nullptr;  // not owned: the dialog's, given by WM_SETFONT
};
