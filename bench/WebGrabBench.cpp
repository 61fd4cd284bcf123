// Download speed of CWebGrab beside a bare WinINet loop that reads 1 MiB per
// call (the machine's limit), both against the local update server
// (tools/bench.sh runs this inside testbed/update_server.py).
//
// CWebGrab sends one status message per block to a window on the main
// thread; its blocks are what has arrived, up to VANTORIMA_READ_BLOCK (this
// program is also built with 4095, the fixed blocks of old, for reference).
// Also prints the growth of the working set while CWebGrab downloads, what
// one dropped connection in the middle costs (the pause before the
// resumption and a new request), and a download stopped at half and
// continued by the next press against a clean download of the other half.
#include <windows.h>

#include <psapi.h>
#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "BuildConfig.h"
#include "bench/BareLoop.h"
#include "bench/BenchClock.h"
#include "bench/BenchServer.h"
#include "framework/win/Window.h"
#include "download/StatusMessage.h"
#include "download/WebGrab.h"
#include "support/Trace.h"
#include "support/TraceLines.h"
#include "support/TraceLog.h"

namespace {

constexpr DWORD kFileBytes = 64u << 20;
constexpr int kPasses = 8;
// Blocks between two looks at the working set: about one a MiB.
constexpr unsigned kSampleEvery = VANTORIMA_READ_BLOCK >= (1u << 20) ? 1 : (1u << 20) / VANTORIMA_READ_BLOCK;

size_t WorkingSet()
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.WorkingSetSize;
}

// The dialog's stand-in on the main thread.
class CReceiver : public CWindow {
public:
    CReceiver()
    {
        RECT rect = {0, 0, 100, 100};
        CreateEx(0, "bench receiver", WS_POPUP, rect, nullptr);
    }
    ~CReceiver() override { DestroyWindow(); }

    unsigned messages = 0;
    unsigned blocks = 0;
    size_t textBytes = 0;
    bool sampleMemory = false;
    size_t peakWorkingSet = 0;
    // Stopped once it reports this share (0: never).
    CWebGrab* stopping = nullptr;
    unsigned stopPercent = 0;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == StatusMessageId()) {
            // What a dialog does at the least: look at the code and the text.
            ++messages;
            if ((wParam & 0xFFFF) == STATUS_READING) {
                ++blocks;
                textBytes += std::strlen(reinterpret_cast<const char*>(lParam));
            }
            if (stopping && (wParam & 0xFFFF) == STATUS_READING && (wParam >> 16) >= stopPercent)
                stopping->SetStop(true);
            if (sampleMemory && messages % kSampleEvery == 0)  // every MiB or so
                peakWorkingSet = std::max(peakWorkingSet, WorkingSet());
            return 0;
        }
        return CWindow::WindowProc(message, wParam, lParam);
    }
};

// Runs work on a worker thread while the main thread dispatches messages;
// returns the seconds it took. ready runs once the thread exists, just
// before the work starts.
double OnWorker(
    const std::function<void()>& work, const std::function<void()>& ready = [] {})
{
    std::atomic<bool> go{false}, done{false};
    std::thread worker([&] {
        while (!go)
            Sleep(1);
        work();
        done = true;
    });
    Sleep(20);  // let the thread settle in
    ready();
    const double start = SecondsNow();
    go = true;
    while (!done) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        if (!done)
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    const double seconds = SecondsNow() - start;
    worker.join();
    return seconds;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Result {
    double seconds = 0;
    DWORD bytes = 0;
};

// The seconds work takes on a worker; with growth, also how much the working
// set grew meanwhile.
double Measure(CReceiver& receiver, size_t* growth, const std::function<void()>& work)
{
    size_t before = 0;
    const double seconds = OnWorker(work, [&] {
        before = WorkingSet();
        receiver.peakWorkingSet = before;
        receiver.sampleMemory = growth != nullptr;
    });
    receiver.sampleMemory = false;
    if (growth)
        *growth = std::max(receiver.peakWorkingSet, WorkingSet()) - before;
    return seconds;
}

Result RunBare(const std::string& url, CReceiver& receiver, size_t* growth)
{
    Result r;
    r.seconds = Measure(receiver, growth, [&] { r.bytes = ReadWithBareLoop(url); });
    return r;
}

// What one trace line costs the download's worker: to the debugger output
// alone (a test or a benchmark, which names no program), and with the log as
// the control and the launcher write it (here in a folder of its own).
void MeasureTraceLine(const std::string& temp)
{
    constexpr int kLines = 2000;
    const auto perLine = [] {
        const double start = SecondsNow();
        for (int i = 0; i < kLines; ++i)
            TraceOut(TraceLine::kListUrl, "http://127.0.0.1:18431/service/VokWeiqi.exe");
        return (SecondsNow() - start) * 1e6 / kLines;
    };
    SetEnvironmentVariableA("VANTORIMA_TRACE", nullptr);
    const double bare = perLine();
    const std::wstring folder(temp.begin(), temp.end());
    const std::wstring logs = folder + L"\\bench_trace_log";
    CreateDirectoryW(logs.c_str(), nullptr);
    TraceLogUseFolder(logs.c_str());
    TraceSetProgram(TraceProgram::kLauncher);
    const double logged = perLine();
    for (const wchar_t* name : {L"\\Vantorima\\Logs\\vantorima.log", L"\\Vantorima\\Logs\\vantorima.old.log",
                                L"\\Vantorima\\Logs\\vantorima.lock"})
        DeleteFileW((logs + name).c_str());
    for (const wchar_t* name : {L"\\Vantorima\\Logs", L"\\Vantorima", L""})
        RemoveDirectoryW((logs + name).c_str());
    std::printf("trace line (%d lines)\n", kLines);
    std::printf("  debugger output only             : %7.1f us a line\n", bare);
    std::printf("  with the log                     : %7.1f us a line (a rotation every %lu KiB included)\n", logged,
                kTraceLogLimit / 1024);
}

// One download (a press) through the grabber, with the folder of partial
// downloads beside like when there is one, stopped at stopPercent (0: never);
// the bytes of the whole file, 0 when it did not arrive whole.
Result RunWebGrab(const std::string& url, const std::string& dir, CReceiver& receiver, size_t* growth,
                  const CDownloadFolder* like = nullptr, unsigned stopPercent = 0)
{
    CWebGrab grab;
    grab.Initialize(receiver.GetSafeHwnd(), "Quessel", dir);
    if (like)
        grab.OpenPartialFolder(*like);
    grab.AddDownload(url);
    receiver.stopping = stopPercent ? &grab : nullptr;
    receiver.stopPercent = stopPercent;
    const std::string path = dir + "\\" + url.substr(url.rfind('/') + 1);
    Result r;
    int ok = 0;
    r.seconds = Measure(receiver, growth, [&] { ok = grab.DownloadListAll(); });
    receiver.stopping = nullptr;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (ok && GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        r.bytes = data.nFileSizeLow;
    DeleteFileA(path.c_str());
    DeleteUrlCacheEntryA(url.c_str());
    return r;
}

// The size of the partial download in folder.
DWORD PartialBytes(const std::string& folder)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*.part").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    FindClose(search);
    return found.nFileSizeLow;
}

}  // namespace

int main()
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    MeasureTraceLine(temp);
    const char* port = std::getenv("VANTORIMA_UPDATE_PORT");
    if (!port) {
        std::printf("bench_webgrab: run inside testbed/update_server.py --exec (make bench does)\n");
        return 1;
    }
    const std::string base = std::string("http://127.0.0.1:") + port + "/";
    const std::string url = base + "~bytes=" + std::to_string(kFileBytes) + "/bench.bin";
    const std::string dir = std::string(temp) + "bench_webgrab";
    CreateDirectoryA(dir.c_str(), nullptr);

    CReceiver receiver;
    // Warm up: the library, the connection pool, the cache and the allocator.
    RunBare(base + "~bytes=1048576/warm.bin", receiver, nullptr);
    RunWebGrab(base + "~bytes=1048576/warm.bin", dir, receiver, nullptr);

    // Wake-ups across threads vary a lot here: alternate the two, and
    // take medians of the runs and of the paired ratios.
    std::vector<double> bareSeconds, grabSeconds, ratios;
    size_t growth = 0, bareGrowth = 0;
    receiver.blocks = 0;
    for (int pass = 0; pass < kPasses; ++pass) {
        size_t g = 0, bg = 0;
        // Each goes first in half the pairs, so neither inherits more of the other's disk writes.
        Result b, w;
        if (pass % 2 == 0) {
            b = RunBare(url, receiver, &bg);
            w = RunWebGrab(url, dir, receiver, &g);
        } else {
            w = RunWebGrab(url, dir, receiver, &g);
            b = RunBare(url, receiver, &bg);
        }
        if (b.bytes != kFileBytes || w.bytes != kFileBytes) {
            std::printf("bench_webgrab: download incomplete (bare %lu, CWebGrab %lu bytes)\n",
                        static_cast<unsigned long>(b.bytes), static_cast<unsigned long>(w.bytes));
            return 1;
        }
        bareSeconds.push_back(b.seconds);
        grabSeconds.push_back(w.seconds);
        ratios.push_back(b.seconds / w.seconds);
        growth = std::max(growth, g);
        bareGrowth = std::max(bareGrowth, bg);
    }
    const unsigned blocks = receiver.blocks / kPasses;

    const double mib = kFileBytes / 1048576.0;
    const double bareMedian = Median(bareSeconds), grabMedian = Median(grabSeconds), ratio = Median(ratios);
    std::printf("64 MiB from the local server, read block %u bytes%s (%d paired runs)\n", VANTORIMA_READ_BLOCK,
                VANTORIMA_READ_BLOCK == 4095 ? " (fixed, the reference)" : "", kPasses);
    std::printf("  bare WinINet loop, 1 MiB per call: %7.1f MiB/s median (%.2f s), best %.1f MiB/s\n", mib / bareMedian,
                bareMedian, mib / *std::min_element(bareSeconds.begin(), bareSeconds.end()));
    std::printf("  CWebGrab, status message a block : %7.1f MiB/s median (%.2f s), best %.1f MiB/s, %u blocks\n",
                mib / grabMedian, grabMedian, mib / *std::min_element(grabSeconds.begin(), grabSeconds.end()), blocks);
    if (VANTORIMA_READ_BLOCK == 4095) {
        std::printf("ratio grabber / 1 MiB loop%s : %.2f median of pairs, %.2f to %.2f (reference, no target)\n",
                    ReadBlockNote(), ratio, *std::min_element(ratios.begin(), ratios.end()),
                    *std::max_element(ratios.begin(), ratios.end()));
    } else {
        std::printf(
            "ratio grabber / 1 MiB loop : %.2f median of pairs, %.2f to %.2f (target >= 0.50, stretch 0.80) %s\n",
            ratio, *std::min_element(ratios.begin(), ratios.end()), *std::max_element(ratios.begin(), ratios.end()),
            ratio >= 0.8       ? "met, stretch too"
                : ratio >= 0.5 ? "met"
                               : "MISSED");
    }
    // The one buffer of a download is the read block; nothing grows with the file.
    const size_t growthTarget = 1024 * 1024 + VANTORIMA_READ_BLOCK;
    std::printf("  working-set growth, CWebGrab     : %7.1f KiB (target <= %.0f KiB: 1 MiB and the read block) %s\n",
                growth / 1024.0, growthTarget / 1024.0, growth <= growthTarget ? "met" : "MISSED");
    std::printf("  working-set growth, bare loop    : %7.1f KiB\n", bareGrowth / 1024.0);
    if (VANTORIMA_READ_BLOCK == 4095) {
        RemoveDirectoryA(dir.c_str());
        return 0;  // the reference needs only its speed
    }

    // One drop half-way, resumed, against clean runs of the same file.
    const int kDropPasses = 3;
    std::vector<double> dropSeconds, cleanSeconds;
    const std::string dropUrl =
        base + "~once/~drop=" + std::to_string(kFileBytes / 2) + "/~bytes=" + std::to_string(kFileBytes) + "/bench.bin";
    for (int pass = 0; pass < kDropPasses; ++pass) {
        Touch(base + "~set/");
        const Result d = RunWebGrab(dropUrl, dir, receiver, nullptr);
        const Result c = RunWebGrab(url, dir, receiver, nullptr);
        if (d.bytes != kFileBytes || c.bytes != kFileBytes) {
            std::printf("bench_webgrab: resumed download incomplete (%lu bytes)\n",
                        static_cast<unsigned long>(d.bytes));
            return 1;
        }
        dropSeconds.push_back(d.seconds);
        cleanSeconds.push_back(c.seconds);
    }

    std::vector<double> restSeconds, halfSeconds, restRatios;
    DWORD kept = 0;
    {
        // Stopped at half, then continued by the next press (a range request
        // and the rest), against a clean download of the other half's bytes.
        // A download folder as the dialog makes one, and the partial folder
        // beside it, held here so that it stays between presses.
        CDownloadFolder made, held;
        made.Create(dir);
        held.OpenPartial(made);
        const std::string partials = held.Path();
        const std::string resumeUrl = base + "~bytes=" + std::to_string(kFileBytes) + "/resume.bin";
        for (int pass = 0; pass < kDropPasses; ++pass) {
            RunWebGrab(resumeUrl, dir, receiver, nullptr, &made, 50);
            kept = PartialBytes(partials);
            const std::string halfUrl = base + "~bytes=" + std::to_string(kFileBytes - kept) + "/half.bin";
            // The rest first: any other URL's download would sweep the partial away.
            const Result rest = RunWebGrab(resumeUrl, dir, receiver, nullptr, &made);
            const Result half = RunWebGrab(halfUrl, dir, receiver, nullptr, &made);
            if (kept == 0 || rest.bytes != kFileBytes || half.bytes != kFileBytes - kept) {
                std::printf("bench_webgrab: continued download incomplete (%lu kept, %lu bytes)\n",
                            static_cast<unsigned long>(kept), static_cast<unsigned long>(rest.bytes));
                return 1;
            }
            restSeconds.push_back(rest.seconds);
            halfSeconds.push_back(half.seconds);
            restRatios.push_back(rest.seconds / half.seconds);
        }
    }
    RemoveDirectoryA(dir.c_str());

    const double dropMedian = Median(dropSeconds), cleanMedian = Median(cleanSeconds);
    std::printf("64 MiB with one dropped connection at 32 MiB, resumed after a %.0f s pause (%d runs each)\n",
                CWebGrab::ResumePauseMs(1) / 1000.0, kDropPasses);
    std::printf("  clean download                   : %7.2f s median\n", cleanMedian);
    std::printf("  one drop, resumed                : %7.2f s median (+%.2f s)\n", dropMedian,
                dropMedian - cleanMedian);
    const double restRatio = Median(restRatios);
    std::printf("64 MiB stopped at half, continued by the next press from %.1f MiB (%d runs each)\n", kept / 1048576.0,
                kDropPasses);
    std::printf("  clean download of the other half : %7.2f s median\n", Median(halfSeconds));
    std::printf("  the rest, continued              : %7.2f s median\n", Median(restSeconds));
    std::printf("ratio continued / clean other half : %.2f median of pairs, %.2f to %.2f (target <= 1.10) %s\n",
                restRatio, *std::min_element(restRatios.begin(), restRatios.end()),
                *std::max_element(restRatios.begin(), restRatios.end()), restRatio <= 1.1 ? "met" : "MISSED");
    return 0;
}
