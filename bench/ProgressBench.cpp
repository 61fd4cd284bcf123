// What the text progress bar costs the dialog's thread: a position change
// that keeps the bar's length, one that repaints, and a whole 0..100 run.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>

#include "bench/BenchClock.h"
#include "dialog/ProgressLabelCtrl.h"

namespace {

class CCountingBar : public CProgressLabelCtrl {
public:
    int paints = 0;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        paints += message == WM_PAINT;
        return CProgressLabelCtrl::WindowProc(message, wParam, lParam);
    }
};

void Pump()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
}

}  // namespace

int main()
{
    INITCOMMONCONTROLSEX init{sizeof init, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&init);
    CWindow parent;
    const RECT rect{40, 40, 440, 140};
    if (!parent.CreateEx(WS_EX_TOPMOST, "bench", WS_POPUP | WS_VISIBLE, rect, nullptr))
        return 1;
    // The update dialog's bar is about this size.
    HWND control = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, 10, 10, 300, 18, parent.GetSafeHwnd(),
                                   nullptr, GetModuleHandleA(nullptr), nullptr);
    CCountingBar bar;
    if (!control || !bar.SubclassWindow(control))
        return 1;
    Pump();

    const int kRepeats = 20000;
    bar.SendMessage(PBM_SETRANGE32, 0, 1000000);
    double start = SecondsNow();
    for (int i = 0; i < kRepeats; ++i)
        bar.SendMessage(PBM_SETPOS, i % 3);  // far below a pixel
    const double quiet = (SecondsNow() - start) / kRepeats;

    bar.SendMessage(PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    const int kPaints = 2000;
    bar.paints = 0;
    start = SecondsNow();
    for (int i = 0; i < kPaints; ++i)
        bar.SendMessage(PBM_SETPOS, i % 2 ? 60 : 40);
    const double painting = (SecondsNow() - start) / kPaints;

    bar.SendMessage(PBM_SETPOS, 0);
    bar.paints = 0;
    start = SecondsNow();
    for (int pos = 1; pos <= 100; ++pos)
        bar.SendMessage(PBM_SETPOS, pos);
    const double run = SecondsNow() - start;

    std::printf("progress bar 300x18\n");
    std::printf("  position change within a pixel: %.2f us\n", quiet * 1e6);
    std::printf("  position change that repaints:  %.1f us (one off-screen paint and copy)\n", painting * 1e6);
    std::printf("  0..100 run: %d paints, %.2f ms\n", bar.paints, run * 1e3);
    return 0;
}
