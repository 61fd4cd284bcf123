// Download speed through the real update dialog (status line and progress
// bar, animation, hand-over) beside the engine alone with a receiver that
// does nothing, both checking the installer's signature as the dialog does
// (reported alone as well), for a 64 MiB installer from the local update
// server on the installer's port (tools/bench.sh runs this inside
// tools/update_server.py).
// The dialog should keep up with its engine: the ratio's target is 0.9.
//
// The installer served is the stand-in installer with 64 MiB of padding
// after its image, signed (tools/bench.sh makes it), so the dialog's check
// and hand-over meet a real program. Every pass downloads into a folder of its
// own: the installer that one pass started may still run from its file while
// the next pass downloads.
#include <windows.h>

#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchClock.h"
#include "control/CompletionMessage.h"
#include "framework/win/Window.h"
#include "updater/DownLoadDlg.h"
#include "updater/InstallerSignature.h"
#include "updater/StatusMessage.h"
#include "updater/WebGrab.h"

namespace {

constexpr size_t kPadding = 64u << 20;
constexpr int kPasses = 5;
constexpr double kTarget = 0.9;

void Pump()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
}

// The control as the dialog sees it: it only counts the completion message,
// which it posts itself when the dialog hands over.
class CControl : public CWindow {
public:
    std::atomic<int> completions{0};

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == kCompletionMessage)
            ++completions;
        return CWindow::WindowProc(message, wParam, lParam);
    }
};

// A receiver of the status messages that does nothing with them.
class CNoOpReceiver : public CWindow {
protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        return message == StatusMessageId() ? 0 : CWindow::WindowProc(message, wParam, lParam);
    }
};

// The dialog downloads into the temporary directory.
double ThroughTheDialog(CControl& control, const std::string& dir)
{
    CreateDirectoryA(dir.c_str(), nullptr);
    SetEnvironmentVariableA("TMP", dir.c_str());
    SetEnvironmentVariableA("TEMP", dir.c_str());
    const int before = control.completions;
    const double start = SecondsNow();
    CDownLoadDlg dialog([&control] { PostCompletion(control.GetSafeHwnd()); });
    dialog.Create(control.GetSafeHwnd());
    while (control.completions == before)
        Pump();
    return SecondsNow() - start;
}

double EngineAlone(const std::string& dir, bool* done)
{
    CreateDirectoryA(dir.c_str(), nullptr);
    CNoOpReceiver receiver;
    RECT rect = {0, 0, 10, 10};
    receiver.CreateEx(0, "", WS_POPUP, rect, nullptr);
    CWebGrab grab;
    grab.AddDownload(CDownLoadDlg::InstallerUrl());
    grab.Initialize(receiver.GetSafeHwnd(), "Quessel", dir);
    grab.SetFileCheck(kInstallerCheck);  // as the dialog sets its engine up
    std::atomic<bool> finished{false};
    const double start = SecondsNow();
    std::thread worker([&] {
        *done = grab.DownloadListAll() != 0;
        finished = true;
    });
    while (!finished)
        Pump();
    const double seconds = SecondsNow() - start;
    worker.join();
    return seconds;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::string DosPath(const char* unixPath)
{
    std::string path = std::string("Z:") + unixPath;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

}  // namespace

int main()
{
    const char* root = std::getenv("VANTORIMA_UPDATE_ROOT");
    if (!root) {
        std::puts("run inside tools/update_server.py --port <installer port> --exec");
        return 1;
    }
    // The installer: the stand-in's image, then the padding, then the signature.
    const char* padded = std::getenv("VANTORIMA_BENCH_INSTALLER");
    if (!padded) {
        std::puts("run through tools/bench.sh, which makes the signed installer (make bench)");
        return 1;
    }
    const std::string service = DosPath(root) + "\\service";
    CreateDirectoryA(service.c_str(), nullptr);
    CopyFileA(DosPath(padded).c_str(), (service + "\\VokWeiqi.exe").c_str(), FALSE);
    // Downloads, the stand-ins' records and installs go to a folder of the bench's own.
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string dir = std::string(temp) + "vantorima-bench";
    CreateDirectoryA(dir.c_str(), nullptr);
    SetEnvironmentVariableA("MAROVENT_RECORD", (dir + "\\client.txt").c_str());
    SetEnvironmentVariableA("MAROVENT_INSTALLER_RECORD", (dir + "\\installer.txt").c_str());
    SetEnvironmentVariableA("VANTORIMA_INSTALL_DIR", (dir + "\\install").c_str());

    CWindow page;
    CControl control;
    RECT pageRect = {20, 20, 620, 420}, controlRect = {0, 0, 10, 10};
    page.CreateEx(0, "bench page", WS_OVERLAPPEDWINDOW | WS_VISIBLE, pageRect, nullptr);
    control.CreateEx(0, "", WS_CHILD, controlRect, page.GetSafeHwnd(), 1);

    std::vector<double> dialogSeconds, engineSeconds, ratios;
    std::vector<std::string> downloads;
    for (int pass = 0; pass < kPasses; ++pass) {
        const std::string passDir = dir + "\\pass" + std::to_string(pass);
        const double d = ThroughTheDialog(control, passDir + "-dialog");
        DeleteUrlCacheEntryA(CDownLoadDlg::InstallerUrl().c_str());
        bool done = false;
        const double e = EngineAlone(passDir + "-engine", &done);
        DeleteUrlCacheEntryA(CDownLoadDlg::InstallerUrl().c_str());
        downloads.push_back(passDir + "-dialog");
        downloads.push_back(passDir + "-engine");
        DeleteFileA((passDir + "-engine\\VokWeiqi.exe").c_str());
        if (!done) {
            std::printf("the engine's download failed in pass %d\n", pass + 1);
            return 1;
        }
        dialogSeconds.push_back(d);
        engineSeconds.push_back(e);
        ratios.push_back(e / d);
    }
    const double mib = (kPadding + 0.0) / (1 << 20);
    std::printf("64 MiB installer from the local update server, 4095-byte blocks, %d passes\n", kPasses);
    std::printf("  engine alone, no-op receiver, check: %5.1f MiB/s median (%.2f s)\n", mib / Median(engineSeconds),
                Median(engineSeconds));
    std::printf("  update dialog (status line, bar)  : %6.1f MiB/s median (%.2f s, hand-over included)\n",
                mib / Median(dialogSeconds), Median(dialogSeconds));
    const double ratio = Median(ratios);
    std::printf("  ratio dialog / engine             : %6.2f median of pairs (%.2f to %.2f), target %.2f: %s\n", ratio,
                *std::min_element(ratios.begin(), ratios.end()), *std::max_element(ratios.begin(), ratios.end()),
                kTarget, ratio >= kTarget ? "met" : "NOT met");

    // What the dialog's check of the downloaded installer costs.
    std::vector<double> checkSeconds;
    std::string failure;
    for (int pass = 0; pass < kPasses; ++pass) {
        const double start = SecondsNow();
        if (!CheckInstallerFile(service + "\\VokWeiqi.exe", nullptr, failure))
            std::printf("  the installer's signature does not verify: %s\n", failure.c_str());
        checkSeconds.push_back(SecondsNow() - start);
    }
    std::printf("  signature check of it, alone      : %6.2f s median\n", Median(checkSeconds));
    // The installers the dialog started have ended by now.
    Sleep(500);
    // The dialog downloads into a folder of its own below its temporary
    // directory, which it removes where the installer no longer holds it.
    for (const std::string& folder : downloads) {
        DeleteFileA((folder + "\\VokWeiqi.exe").c_str());
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((folder + "\\Vantorima-*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::string own = folder + "\\" + found.cFileName;
                DeleteFileA((own + "\\VokWeiqi.exe").c_str());
                RemoveDirectoryA(own.c_str());
            } while (FindNextFileA(search, &found));
            FindClose(search);
        }
        RemoveDirectoryA(folder.c_str());
    }
    return 0;
}
