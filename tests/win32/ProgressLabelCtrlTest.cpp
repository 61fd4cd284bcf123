// The text progress bar on a real progress control in a real window: what it
// paints is read back from the window, and its paints are counted.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "WineTestSupport.h"
#include "framework/win/GdiSelection.h"
#include "framework/sys/UniqueHandle.h"
#include "dialog/ProgressLabelCtrl.h"

using namespace wine_test;

namespace {

constexpr int kBarId = 202;

// The control as the dialog would have it, with its paints counted.
class CCountingBar : public CProgressLabelCtrl {
public:
    int paints = 0;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == WM_PAINT)
            ++paints;
        return CProgressLabelCtrl::WindowProc(message, wParam, lParam);
    }
};

// The dialog stand-in: reports its font to the bar.
class CParentWindow : public CWindow {
public:
    HFONT font = nullptr;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == WM_GETFONT)
            return reinterpret_cast<LRESULT>(font);
        return CWindow::WindowProc(message, wParam, lParam);
    }
};

struct Colours {
    COLORREF bar;
    COLORREF back;
    COLORREF labelOverBar;
    COLORREF labelOverBack;
};

// A picture of width x height pixels, row by row.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<COLORREF> pixels;
    COLORREF At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// Copies what dc shows in (0,0)-(width,height) into a picture.
Picture Capture(HDC dc, int width, int height)
{
    Picture picture;
    picture.width = width;
    picture.height = height;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    CGdiObjectHandle section(CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    CMemoryDCHandle memory(CreateCompatibleDC(dc));
    if (!section || !memory)
        return picture;
    {
        CGdiSelection selected(memory.Get(), section.Get());
        BitBlt(memory.Get(), 0, 0, width, height, dc, 0, 0, SRCCOPY);
        GdiFlush();
    }
    const DWORD* rgb = static_cast<const DWORD*>(bits);
    picture.pixels.reserve(static_cast<size_t>(width) * height);
    for (int i = 0; i < width * height; ++i)
        picture.pixels.push_back(RGB((rgb[i] >> 16) & 0xFF, (rgb[i] >> 8) & 0xFF, rgb[i] & 0xFF));
    return picture;
}

// A label in font, centred on one line in width x height, in text on back.
Picture PlainLabel(HFONT font, const std::string& label, int width, int height, COLORREF text, COLORREF back)
{
    CMemoryDCHandle screenCompatible(CreateCompatibleDC(nullptr));
    HDC dc = screenCompatible.Get();
    CGdiObjectHandle bitmap(CreateBitmap(width, height, 1, 32, nullptr));
    CGdiSelection selectedBitmap(dc, bitmap.Get());
    CGdiSelection selectedFont(dc, font);
    RECT rect{0, 0, width, height};
    SetBkColor(dc, back);
    ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, text);
    DrawTextA(dc, label.data(), static_cast<int>(label.size()), &rect, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    return Capture(dc, width, height);
}

// Where that label puts ink.
std::vector<bool> LabelInk(HFONT font, const std::string& label, int width, int height)
{
    const Picture picture = PlainLabel(font, label, width, height, RGB(0, 0, 0), RGB(255, 255, 255));
    std::vector<bool> ink;
    for (COLORREF pixel : picture.pixels)
        ink.push_back(pixel != RGB(255, 255, 255));
    return ink;
}

class ProgressLabelCtrlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        INITCOMMONCONTROLSEX init{sizeof init, ICC_PROGRESS_CLASS};
        ASSERT_TRUE(InitCommonControlsEx(&init));
        // Without anti-aliasing every pixel of the label is in one of the colours.
        m_font.Reset(CreateFontA(-15, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                 CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY, DEFAULT_PITCH, "Tahoma"));
        ASSERT_TRUE(m_font);
        m_parent.font = static_cast<HFONT>(m_font.Get());
        RECT rect{40, 40, 560, 340};
        ASSERT_TRUE(m_parent.CreateEx(WS_EX_TOPMOST, "progress host", WS_POPUP | WS_VISIBLE, rect, nullptr));
        SetForegroundWindow(Parent());
    }

    // A system progress control of width x height, taken over by the bar.
    void Host(int width, int height, DWORD style = 0)
    {
        HWND control = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE | style, 10, 10, width, height,
                                       Parent(), reinterpret_cast<HMENU>(kBarId), GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(control, nullptr);
        ASSERT_TRUE(m_bar.SubclassWindow(control));
        Settle();
        m_bar.paints = 0;
    }

    HWND Parent() const { return m_parent.GetSafeHwnd(); }
    HWND Bar() const { return m_bar.GetSafeHwnd(); }
    LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
    {
        return m_bar.SendMessage(message, wParam, lParam);
    }

    // Lets every pending paint happen.
    void Settle()
    {
        UpdateWindow(Parent());
        PumpUntil([&] { return !GetUpdateRect(Bar(), nullptr, FALSE) && !GetUpdateRect(Parent(), nullptr, FALSE); });
        PumpFor(20);
    }

    // The bar's client area as the window shows it.
    Picture Shown()
    {
        Settle();
        RECT client;
        GetClientRect(Bar(), &client);
        HDC dc = GetDC(Bar());
        Picture picture = Capture(dc, client.right, client.bottom);
        ReleaseDC(Bar(), dc);
        return picture;
    }

    // Checks every pixel of a horizontal bar: bar colour left of barEnd,
    // background beyond, and the label's ink in the label colour of its side.
    void ExpectHorizontal(const Picture& shown, int barEnd, const std::string& label, const Colours& colours,
                          HFONT font)
    {
        ASSERT_FALSE(shown.pixels.empty());
        const std::vector<bool> ink = LabelInk(font, label, shown.width, shown.height);
        int inkOverBar = 0, inkOverBack = 0, wrong = 0;
        for (int y = 0; y < shown.height; ++y) {
            for (int x = 0; x < shown.width; ++x) {
                const bool overBar = x < barEnd;
                const bool inked = ink[static_cast<size_t>(y) * shown.width + x];
                (overBar ? inkOverBar : inkOverBack) += inked;
                const COLORREF expected = inked ? (overBar ? colours.labelOverBar : colours.labelOverBack)
                                                : (overBar ? colours.bar : colours.back);
                if (shown.At(x, y) != expected && wrong++ < 5)
                    ADD_FAILURE() << "pixel " << x << "," << y << " is " << std::hex << shown.At(x, y) << ", expected "
                                  << expected << " (label \"" << label << "\")";
            }
        }
        EXPECT_EQ(wrong, 0);
        EXPECT_GT(inkOverBar + inkOverBack, 20) << "the label \"" << label << "\" has no ink";
        m_inkOverBar = inkOverBar;
        m_inkOverBack = inkOverBack;
    }

    static Colours Inverted(COLORREF bar, COLORREF back) { return Colours{bar, back, back, bar}; }
    static Colours SystemColours() { return Inverted(GetSysColor(COLOR_HIGHLIGHT), GetSysColor(COLOR_WINDOW)); }
    HFONT Font() const { return static_cast<HFONT>(m_font.Get()); }

    CGdiObjectHandle m_font;
    CParentWindow m_parent;  // declared before the bar: goes after it
    CCountingBar m_bar;
    int m_inkOverBar = 0;
    int m_inkOverBack = 0;
};

TEST_F(ProgressLabelCtrlTest, NewBarShowsZeroPercentInTheBarColourOnTheBackground)
{
    Host(200, 24);
    ExpectHorizontal(Shown(), 0, "0%", SystemColours(), Font());
    EXPECT_EQ(m_inkOverBar, 0);
    EXPECT_NE(GetSysColor(COLOR_HIGHLIGHT), GetSysColor(COLOR_WINDOW));
}

TEST_F(ProgressLabelCtrlTest, ParentWithoutFontLeavesTheDefaultFont)
{
    m_parent.font = nullptr;
    Host(200, 24);
    Send(PBM_SETPOS, 25);
    // The default font may be anti-aliased; the label lies wholly beyond the
    // bar, so the picture there is a plain label in the bar colour.
    const Picture shown = Shown();
    const COLORREF bar = GetSysColor(COLOR_HIGHLIGHT), back = GetSysColor(COLOR_WINDOW);
    const Picture label = PlainLabel(nullptr, "25%", shown.width, shown.height, bar, back);
    int wrong = 0;
    for (int y = 0; y < shown.height; ++y)
        for (int x = 0; x < shown.width; ++x)
            wrong += shown.At(x, y) != (x < 50 ? bar : label.At(x, y));
    EXPECT_EQ(wrong, 0);
    EXPECT_NE(label.pixels, PlainLabel(Font(), "25%", shown.width, shown.height, bar, back).pixels);
    EXPECT_NE(label.pixels, PlainLabel(nullptr, "", shown.width, shown.height, bar, back).pixels);
}

TEST_F(ProgressLabelCtrlTest, LabelStraddlingTheBarEndIsInvertedOnEachSide)
{
    Host(200, 24);
    Send(PBM_SETPOS, 50);
    ExpectHorizontal(Shown(), 100, "50%", SystemColours(), Font());
    EXPECT_GT(m_inkOverBar, 10);
    EXPECT_GT(m_inkOverBack, 10);

    // Own colours, still inverted by default; then a fixed label colour.
    const COLORREF red = RGB(200, 0, 0), yellow = RGB(255, 255, 0), blue = RGB(0, 0, 255);
    EXPECT_EQ(Send(PBM_SETBARCOLOR, 0, red), static_cast<LRESULT>(CLR_DEFAULT));
    EXPECT_EQ(Send(PBM_SETBKCOLOR, 0, yellow), static_cast<LRESULT>(CLR_DEFAULT));
    Send(PBM_SETPOS, 47);
    ExpectHorizontal(Shown(), 94, "47%", Inverted(red, yellow), Font());
    EXPECT_EQ(Send(PLM_SETTEXTCOLOR, 0, blue), static_cast<LRESULT>(CLR_DEFAULT));
    ExpectHorizontal(Shown(), 94, "47%", Colours{red, yellow, blue, blue}, Font());
    EXPECT_EQ(Send(PBM_SETBARCOLOR, 0, blue), static_cast<LRESULT>(red));
    EXPECT_EQ(Send(PBM_SETBKCOLOR, 0, CLR_DEFAULT), static_cast<LRESULT>(yellow));
    EXPECT_EQ(Send(PLM_SETTEXTCOLOR, 0, CLR_DEFAULT), static_cast<LRESULT>(blue));
    ExpectHorizontal(Shown(), 94, "47%", Inverted(blue, GetSysColor(COLOR_WINDOW)), Font());
}

TEST_F(ProgressLabelCtrlTest, PartialRepaintLandsInPlace)
{
    Host(200, 24);
    Send(PBM_SETPOS, 50);
    const Picture before = Shown();
    // New colours, but only the right part may be repainted: the off-screen
    // picture of that part must reach the screen at its own place.
    Send(PBM_SETBARCOLOR, 0, RGB(0, 128, 0));
    Send(PBM_SETBKCOLOR, 0, RGB(255, 255, 0));
    const RECT kept{0, 0, 90, 24};
    ValidateRect(Bar(), &kept);
    const Picture partial = Shown();
    InvalidateRect(Bar(), nullptr, FALSE);
    const Picture after = Shown();
    int wrong = 0;
    for (int y = 0; y < partial.height; ++y)
        for (int x = 0; x < partial.width; ++x)
            wrong += partial.At(x, y) != (x < 90 ? before : after).At(x, y);
    EXPECT_EQ(wrong, 0);
    EXPECT_NE(before.At(0, 0), after.At(0, 0));
    EXPECT_NE(before.At(199, 0), after.At(199, 0));
}

TEST_F(ProgressLabelCtrlTest, HiddenLabelLeavesTheBarAlone)
{
    Host(200, 24);
    Send(PBM_SETPOS, 50);
    Shown();
    m_bar.paints = 0;
    Send(PLM_SHOWTEXT, FALSE);
    const Picture shown = Shown();
    EXPECT_EQ(m_bar.paints, 1);
    for (int y = 0; y < shown.height; ++y)
        for (int x = 0; x < shown.width; ++x)
            ASSERT_EQ(shown.At(x, y), GetSysColor(x < 100 ? COLOR_HIGHLIGHT : COLOR_WINDOW)) << x << "," << y;
    Send(PLM_SHOWTEXT, FALSE);  // unchanged: no repaint
    Settle();
    EXPECT_EQ(m_bar.paints, 1);
    Send(PLM_SHOWTEXT, TRUE);
    ExpectHorizontal(Shown(), 100, "50%", SystemColours(), Font());
}

TEST_F(ProgressLabelCtrlTest, VerticalBarGrowsUpwardsFromTheLowerEdgeWithoutLabel)
{
    Host(30, 120, PBS_VERTICAL);
    Send(PBM_SETPOS, 25);
    const Picture shown = Shown();
    ASSERT_EQ(shown.height, 120);
    for (int y = 0; y < shown.height; ++y)
        for (int x = 0; x < shown.width; ++x)
            ASSERT_EQ(shown.At(x, y), GetSysColor(y >= 90 ? COLOR_HIGHLIGHT : COLOR_WINDOW)) << x << "," << y;
}

TEST_F(ProgressLabelCtrlTest, VerticalBarRepaintsAsItsHeightGrows)
{
    // Narrow and tall: a pixel of height is less than a pixel of width.
    Host(20, 200, PBS_VERTICAL);
    Send(PBM_SETRANGE32, 0, 200);
    Send(PBM_SETPOS, 0);
    m_bar.paints = 0;
    for (int pos = 1; pos <= 7; ++pos)
        Send(PBM_SETPOS, pos);
    EXPECT_EQ(m_bar.paints, 7);
    const Picture shown = Shown();
    EXPECT_EQ(shown.At(10, 192), GetSysColor(COLOR_WINDOW));
    EXPECT_EQ(shown.At(10, 193), GetSysColor(COLOR_HIGHLIGHT));
}

TEST_F(ProgressLabelCtrlTest, WindowTextReplacesThePercentage)
{
    Host(200, 24);
    Send(PBM_SETPOS, 25);
    Shown();
    m_bar.paints = 0;
    EXPECT_TRUE(SetWindowTextA(Bar(), "Setup"));
    ExpectHorizontal(Shown(), 50, "Setup", SystemColours(), Font());
    EXPECT_EQ(m_bar.paints, 1);

    char text[16] = "xxxxxxxxxxxxxxx";
    EXPECT_EQ(GetWindowTextA(Bar(), text, sizeof text), 5);
    EXPECT_STREQ(text, "Setup");
    EXPECT_EQ(Send(WM_GETTEXT, 4, reinterpret_cast<LPARAM>(text)), 3);
    EXPECT_STREQ(text, "Set");
    EXPECT_EQ(Send(WM_GETTEXT, 0, reinterpret_cast<LPARAM>(text)), 0);
    EXPECT_EQ(Send(WM_GETTEXT, 8, 0), 0);

    // The same text again: nothing to repaint.
    EXPECT_TRUE(SetWindowTextA(Bar(), "Setup"));
    Settle();
    EXPECT_EQ(m_bar.paints, 1);

    // Empty (also a null text) brings the percentage back.
    EXPECT_TRUE(SetWindowTextA(Bar(), ""));
    ExpectHorizontal(Shown(), 50, "25%", SystemColours(), Font());
    EXPECT_EQ(m_bar.paints, 2);
    EXPECT_TRUE(SetWindowTextA(Bar(), "Setup"));
    EXPECT_TRUE(Send(WM_SETTEXT, 0, 0));
    ExpectHorizontal(Shown(), 50, "25%", SystemColours(), Font());
    EXPECT_EQ(GetWindowTextA(Bar(), text, sizeof text), 0);
}

TEST_F(ProgressLabelCtrlTest, PositionAboveTheRangeShowsMoreThanAHundredPercent)
{
    Host(200, 24);
    Send(PBM_SETPOS, 150);
    ExpectHorizontal(Shown(), 200, "150%", SystemColours(), Font());
    Send(PBM_SETPOS, static_cast<WPARAM>(-20));
    ExpectHorizontal(Shown(), 0, "-20%", SystemColours(), Font());
}

TEST_F(ProgressLabelCtrlTest, EmptyOrReversedRangeDrawsNothingButCompletesThePaint)
{
    Host(200, 24);
    for (auto range : {std::make_pair(5, 5), std::make_pair(9, 3)}) {
        Send(PBM_SETRANGE32, range.first, range.second);
        Send(PBM_SETPOS, 7);
        m_bar.paints = 0;
        InvalidateRect(Bar(), nullptr, TRUE);
        Settle();
        EXPECT_EQ(m_bar.paints, 1);  // validated: no endless paint messages
    }
}

TEST_F(ProgressLabelCtrlTest, PositionChangesRepaintOnlyWhenTheBarLengthChanges)
{
    Host(50, 24);
    Send(PBM_SETPOS, 0);  // the length was unknown: paints
    EXPECT_EQ(m_bar.paints, 1);
    ExpectHorizontal(Shown(), 0, "0%", SystemColours(), Font());

    // Half a pixel: the label would say 1%, but the length is the same.
    m_bar.paints = 0;
    Send(PBM_SETPOS, 1);
    Settle();
    EXPECT_EQ(m_bar.paints, 0);
    ExpectHorizontal(Shown(), 0, "0%", SystemColours(), Font());
    Send(PBM_SETPOS, 2);  // a whole pixel: painted at once, before any message is pumped
    EXPECT_EQ(m_bar.paints, 1);
    ExpectHorizontal(Shown(), 1, "2%", SystemColours(), Font());

    // After a resize the next change paints, whatever the length.
    SetWindowPos(Bar(), nullptr, 0, 0, 60, 24, SWP_NOMOVE | SWP_NOZORDER);
    Settle();
    m_bar.paints = 0;
    Send(PBM_SETPOS, 3);  // 1.8 pixels of 60: the same length as before
    EXPECT_EQ(m_bar.paints, 1);
    Send(PBM_SETPOS, 2);
    EXPECT_EQ(m_bar.paints, 1);
}

TEST_F(ProgressLabelCtrlTest, ZeroToHundredPaintsAtMostOncePerPixel)
{
    for (int width : {50, 300}) {
        Host(width, 24);
        Send(PBM_SETPOS, 0);
        Settle();
        m_bar.paints = 0;
        for (int pos = 1; pos <= 100; ++pos)
            Send(PBM_SETPOS, pos);
        EXPECT_EQ(m_bar.paints, std::min(100, width)) << width;
        ExpectHorizontal(Shown(), width, "100%", SystemColours(), Font());
        m_bar.DestroyWindow();
    }
}

TEST_F(ProgressLabelCtrlTest, MessageResults)
{
    Host(200, 24);
    EXPECT_EQ(Send(PBM_GETPOS), 0);
    EXPECT_EQ(Send(PBM_SETPOS, 40), 0);
    EXPECT_EQ(Send(PBM_SETPOS, static_cast<WPARAM>(-7)), 40);  // not clamped
    EXPECT_EQ(Send(PBM_GETPOS), -7);
    EXPECT_EQ(Send(PBM_DELTAPOS, 17), -7);
    EXPECT_EQ(Send(PBM_GETPOS), 10);

    PBRANGE range{};
    EXPECT_EQ(Send(PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range)), 100);
    EXPECT_EQ(range.iLow, 0);
    EXPECT_EQ(range.iHigh, 100);
    Send(PBM_SETRANGE32, static_cast<WPARAM>(-5), 70000);
    EXPECT_EQ(Send(PBM_GETRANGE, TRUE, 0), -5);
    EXPECT_EQ(Send(PBM_GETRANGE, FALSE, 0), 70000);
    Send(PBM_SETRANGE, 0, 0x00640000);
    EXPECT_EQ(Send(PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range)), 0);
    EXPECT_EQ(range.iLow, 0);
    EXPECT_EQ(range.iHigh, 100);
    Send(PBM_SETRANGE, 0, MAKELPARAM(0xFFFF, 0xFFFE));  // both ends unsigned
    EXPECT_EQ(Send(PBM_GETRANGE, TRUE, 0), 0xFFFF);
    EXPECT_EQ(Send(PBM_GETRANGE, FALSE, 0), 0xFFFE);
    Send(PBM_SETRANGE, 0, 0x00640000);

    EXPECT_EQ(Send(PBM_SETSTEP, 30), 1);
    EXPECT_EQ(Send(PBM_SETPOS, 90), 10);
    EXPECT_EQ(Send(PBM_STEPIT), 90);
    EXPECT_EQ(Send(PBM_STEPIT), 120);  // no wrap-around at the top
    EXPECT_EQ(Send(PBM_GETPOS), 150);
    EXPECT_EQ(Send(PBM_SETSTEP, static_cast<WPARAM>(-200)), 30);
    Send(PBM_STEPIT);
    EXPECT_EQ(Send(PBM_GETPOS), -50);

    HDC dc = GetDC(Bar());
    EXPECT_EQ(Send(WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc)), TRUE);
    ReleaseDC(Bar(), dc);
}

// GDI objects in use by this process. Wine has no GetGuiResources; there the
// objects that can still be made stand in (fewer when more are in use).
long GdiObjectsInUse()
{
    if (DWORD count = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS))
        return static_cast<long>(count);
    std::vector<HRGN> made;
    while (made.size() < 200000) {
        HRGN region = CreateRectRgn(0, 0, 1, 1);
        if (!region)
            break;
        made.push_back(region);
    }
    for (HRGN region : made)
        DeleteObject(region);
    return -static_cast<long>(made.size());
}

TEST_F(ProgressLabelCtrlTest, AThousandPaintsKeepTheGdiObjectCount)
{
    Host(200, 24);
    Send(PBM_SETPOS, 50);
    Shown();
    const long before = GdiObjectsInUse();
    m_bar.paints = 0;
    for (int i = 0; i < 1000; ++i) {
        Send(PBM_SETPOS, i % 101);
        RedrawWindow(Bar(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    }
    EXPECT_GE(m_bar.paints, 1000);
    EXPECT_EQ(GdiObjectsInUse(), before);
}

}  // namespace
