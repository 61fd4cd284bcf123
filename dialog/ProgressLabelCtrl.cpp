#include "dialog/ProgressLabelCtrl.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "framework/win/GdiSelection.h"
#include "dialog/OffscreenDC.h"
#include "dialog/ProgressGeometry.h"
#include "framework/sys/Result.h"

namespace {

// A child's word that its top-level window changed DPI (per-monitor v2),
// after the parent has been scaled.
constexpr UINT kDpiChangedAfterParent = 0x02E3;  // WM_DPICHANGED_AFTERPARENT

COLORREF OrSystemColour(COLORREF colour, int systemColour)
{
    return colour == CLR_DEFAULT ? GetSysColor(systemColour) : colour;
}

// Fills without creating a brush.
void FillSolidRect(HDC dc, const RECT& rect, COLORREF colour)
{
    SetBkColor(dc, colour);
    ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
}

RECT ToRect(const BarRect& r)
{
    return RECT{r.left, r.top, r.right, r.bottom};
}

BarRect ToBarRect(const RECT& r)
{
    return BarRect{r.left, r.top, r.right, r.bottom};
}

void DrawLabelWithin(HDC dc, const std::string& label, RECT client, const RECT& clip, COLORREF colour)
{
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, clip.left, clip.top, clip.right, clip.bottom);
    SetTextColor(dc, colour);
    DrawTextA(dc, label.data(), static_cast<int>(label.size()), &client, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    RestoreDC(dc, saved);
}

}  // namespace

LRESULT CProgressLabelCtrl::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_ERASEBKGND:
        return TRUE;  // every paint covers the whole picture
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_SIZE: {
        const LRESULT result = Default(message, wParam, lParam);
        m_nBarPixels = -1;
        return result;
    }
    case kDpiChangedAfterParent:
        m_nBarPixels = -1;
        InvalidateAll();
        return Default(message, wParam, lParam);
    // The label's font: the one the dialog gives its controls, which the
    // dialog manager makes anew for a new DPI.
    case WM_SETFONT:
        m_font = reinterpret_cast<HFONT>(wParam);
        if (LOWORD(lParam))
            InvalidateAll();
        return 0;
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(LabelFont());
    case WM_SETTEXT:
        return OnSetText(wParam, lParam);
    case WM_GETTEXT:
        return OnGetText(wParam, lParam);
    case PBM_SETRANGE: {
        const LRESULT previous = MAKELRESULT(m_nLower, m_nUpper);
        m_nLower = LOWORD(lParam);
        m_nUpper = HIWORD(lParam);
        return previous;
    }
    case PBM_SETRANGE32: {
        const LRESULT previous = MAKELRESULT(m_nLower, m_nUpper);
        m_nLower = static_cast<int>(wParam);
        m_nUpper = static_cast<int>(lParam);
        return previous;
    }
    case PBM_SETPOS:
        return OnSetPos(static_cast<int>(wParam));
    // Wrap-around arithmetic, as the system control's: positions are not clamped.
    case PBM_DELTAPOS:
        return SendMessage(PBM_SETPOS, static_cast<WPARAM>(m_nPos) + wParam);
    case PBM_STEPIT:
        return SendMessage(PBM_SETPOS, static_cast<WPARAM>(m_nPos) + static_cast<WPARAM>(m_nStep));
    case PBM_SETSTEP:
        return std::exchange(m_nStep, static_cast<int>(wParam));
    case PBM_GETRANGE:
        if (PBRANGE* range = reinterpret_cast<PBRANGE*>(lParam)) {
            range->iLow = m_nLower;
            range->iHigh = m_nUpper;
        }
        return wParam ? m_nLower : m_nUpper;
    case PBM_GETPOS:
        return m_nPos;
    case PBM_SETBARCOLOR:
        InvalidateAll();
        return std::exchange(m_crBar, static_cast<COLORREF>(lParam));
    case PBM_SETBKCOLOR:
        InvalidateAll();
        return std::exchange(m_crBack, static_cast<COLORREF>(lParam));
    case PLM_SETTEXTCOLOR:
        InvalidateAll();
        return std::exchange(m_crLabel, static_cast<COLORREF>(lParam));
    case PLM_SHOWTEXT: {
        const BOOL previous = std::exchange(m_bShowLabel, static_cast<BOOL>(wParam));
        if (previous != m_bShowLabel)
            InvalidateAll();
        return previous;
    }
    default:
        return Default(message, wParam, lParam);
    }
}

LRESULT CProgressLabelCtrl::OnSetText(WPARAM wParam, LPARAM lParam)
{
    const LRESULT result = Default(WM_SETTEXT, wParam, lParam);
    const char* text = reinterpret_cast<const char*>(lParam);
    if (!text)
        text = "";
    if (m_strLabel != text) {
        m_strLabel = text;
        InvalidateAll();
    }
    return result;
}

LRESULT CProgressLabelCtrl::OnGetText(WPARAM wParam, LPARAM lParam) const
{
    char* buffer = reinterpret_cast<char*>(lParam);
    if (!buffer || wParam == 0)
        return 0;
    const size_t count = std::min<size_t>(m_strLabel.size(), wParam - 1);
    std::memcpy(buffer, m_strLabel.data(), count);
    buffer[count] = '\0';
    return static_cast<LRESULT>(count);
}

LRESULT CProgressLabelCtrl::OnSetPos(int pos)
{
    const int previous = std::exchange(m_nPos, pos);
    RECT client;
    GetClientRect(m_hWnd, &client);
    // The bar's length along its own direction: a vertical bar grows in height.
    const int length = IsVertical() ? client.bottom - client.top : client.right - client.left;
    const int barPixels = BarPixels(m_nPos, m_nLower, m_nUpper, length);
    if (barPixels != m_nBarPixels) {
        m_nBarPixels = barPixels;
        RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    }
    return previous;
}

HFONT CProgressLabelCtrl::LabelFont() const
{
    // Until the dialog gives one (it gave its first before this object took
    // over the window): the dialog's own, made for the same DPI.
    return m_font ? m_font : reinterpret_cast<HFONT>(::SendMessageA(GetParent(m_hWnd), WM_GETFONT, 0, 0));
}

void CProgressLabelCtrl::OnPaint()
{
    PAINTSTRUCT ps;
    const HDC paintDC = BeginPaint(m_hWnd, &ps);
    LOG_LAST_ERROR_IF(!paintDC);
    if (paintDC && m_nLower < m_nUpper) {
        const COLORREF bar = OrSystemColour(m_crBar, COLOR_HIGHLIGHT);
        const COLORREF back = OrSystemColour(m_crBack, COLOR_WINDOW);
        RECT client;
        GetClientRect(m_hWnd, &client);
        const bool vertical = IsVertical();
        const BarSplit split = SplitBar(ToBarRect(client), m_nPos, m_nLower, m_nUpper, vertical);
        const RECT barRect = ToRect(split.bar);
        const RECT backRect = ToRect(split.background);

        COffscreenDC dc(paintDC);
        CGdiSelection fontSelection(dc, LabelFont());
        FillSolidRect(dc, barRect, bar);
        FillSolidRect(dc, backRect, back);
        if (m_bShowLabel && !vertical) {
            const std::string label = ProgressLabel(m_strLabel, m_nPos, m_nLower, m_nUpper);
            SetBkMode(dc, TRANSPARENT);
            DrawLabelWithin(dc, label, client, barRect, m_crLabel == CLR_DEFAULT ? back : m_crLabel);
            DrawLabelWithin(dc, label, client, backRect, m_crLabel == CLR_DEFAULT ? bar : m_crLabel);
        }
        // fontSelection, then dc: the font goes back, the picture reaches the screen.
    }
    EndPaint(m_hWnd, &ps);
}
