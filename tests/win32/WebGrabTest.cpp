// The web grabber against a real HTTP server on loopback (testbed/update_server.py,
// which CTest starts around this program): DownloadListAll runs on a worker
// thread and every status message is recorded by a window on this thread.
#include <windows.h>
#include <winsock2.h>

#include <gtest/gtest.h>
#include <sddl.h>
#include <winioctl.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <memory>
#include <regex>
#include <thread>

#include "BuildConfig.h"
#include "WineTestSupport.h"
#include "download/StatusProtocol.h"
#include "framework/win/Window.h"
#include "download/DownloadFolder.h"
#include "download/WebGrab.h"

using namespace wine_test;

namespace {

struct Status {
    unsigned code;
    unsigned percent;
    std::string text;
    DWORD tick;
    bool sent;  // arrived by a cross-thread send, the sender waiting
};

// The update dialog's stand-in: records the status messages it receives.
class CStatusRecorder : public CWindow {
public:
    CStatusRecorder()
    {
        RECT rect = {0, 0, 100, 100};
        CreateEx(0, "status recorder", WS_POPUP, rect, nullptr);
    }
    ~CStatusRecorder() override { DestroyWindow(); }

    std::vector<Status> statuses;
    // Called for every status, on this thread, while the worker waits.
    std::function<void(const Status&)> onStatus;

    std::vector<unsigned> Codes() const
    {
        std::vector<unsigned> codes;
        for (const Status& s : statuses)
            codes.push_back(s.code);
        return codes;
    }

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        // The name itself, not the module's constant: the protocol is the name.
        static const UINT statusMessage = RegisterWindowMessageA("UWM_STATUS_KEY_D31F39A4_1C63_11D3_AA11_AC48B5000000");
        if (message == statusMessage) {
            Status s{static_cast<unsigned>(wParam & 0xFFFF), static_cast<unsigned>(wParam >> 16),
                     reinterpret_cast<const char*>(lParam), GetTickCount(),
                     (InSendMessageEx(nullptr) & (ISMEX_SEND | ISMEX_REPLIED)) == ISMEX_SEND};
            statuses.push_back(s);
            if (onStatus)
                onStatus(s);
            return 0;
        }
        return CWindow::WindowProc(message, wParam, lParam);
    }
};

// The generated body of the server's ~bytes mode.
std::string GeneratedBytes(size_t size)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(i * 7 % 251);
    return bytes;
}

// The byte count of a code-4 text.
uint32_t ReadCount(const std::string& text)
{
    const size_t at = text.find(" - Read ");
    return at == std::string::npos ? 0 : static_cast<uint32_t>(std::strtoul(text.c_str() + at + 8, nullptr, 10));
}

const std::string kStarting =
    " - \xD5\xFD\xD4\xDA\xC9\xFD\xBC\xB6VOK\xCE\xA7\xC6\xE5\xA3\xAC\xC7\xEB\xC9\xD4\xBA\xF2...";

class WebGrab : public ::testing::Test {
protected:
    static constexpr size_t kSourceSize = 100000;  // 24 whole blocks and a short one

    void SetUp() override
    {
        const char* port = std::getenv("VANTORIMA_UPDATE_PORT");
        const char* root = std::getenv("VANTORIMA_UPDATE_ROOT");
        if (!port || !root)
            GTEST_SKIP() << "run through testbed/update_server.py --exec";
        port_ = port;
        root_ = DosPath(root);
        source_ = GeneratedBytes(kSourceSize);
        std::reverse(source_.begin() + 5000, source_.end());  // not the generator's pattern
        ASSERT_TRUE(WriteFileBytes(root_ + "\\setup.bin", source_));
        ASSERT_TRUE(SetUpdateServerModes(""));  // and ~once counts afresh
    }

    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + port_ + "/" + path; }

    // Runs DownloadListAll on a worker thread while this thread handles the
    // status messages; returns its result.
    int Run(const std::vector<std::string>& urls, const std::string& dir = "") { return RunWith(grab_, urls, dir); }
    int RunWith(CWebGrab& grab, const std::vector<std::string>& urls, const std::string& dir = "")
    {
        grab.Initialize(recorder_.GetSafeHwnd(), "Quessel", dir.empty() ? downloads_.Path() : dir);
        for (const std::string& url : urls)
            grab.AddDownload(url);
        std::atomic<bool> done{false};
        int result = -1;
        std::thread worker([&] {
            result = grab.DownloadListAll();
            done = true;
        });
        if (!PumpUntil([&] { return done.load(); }, 60000)) {
            ADD_FAILURE() << "DownloadListAll did not return";
            grab.SetStop(1);
            PumpUntil([&] { return done.load(); }, 60000);
        }
        worker.join();
        for (const Status& s : recorder_.statuses) {
            EXPECT_TRUE(s.sent) << s.text;
            EXPECT_LE(s.text.size(), 511u);
            if (s.code != STATUS_READING) {
                EXPECT_EQ(s.percent, 0u) << s.text;
            }
        }
        return result;
    }

    // Checks the code-4 run of one file from statuses[first], which carried
    // total bytes in blocks of at most the read block; returns the index
    // after it, and the largest block in largest.
    size_t ExpectBlocks(size_t first, uint32_t received, uint32_t total, const std::string& name,
                        uint32_t* largest = nullptr)
    {
        const auto& st = recorder_.statuses;
        uint32_t last = 0;
        size_t i = first;
        if (largest)
            *largest = 0;
        for (; i < st.size() && st[i].code == STATUS_READING; ++i) {
            const uint32_t count = ReadCount(st[i].text);
            EXPECT_EQ(st[i].text.rfind(name + " - Read ", 0), 0u) << st[i].text;
            EXPECT_GT(count, last);
            EXPECT_LE(count - last, static_cast<uint32_t>(VANTORIMA_READ_BLOCK));
            if (largest)
                *largest = std::max(*largest, count - last);
            EXPECT_EQ(st[i].percent, total ? static_cast<unsigned>(uint64_t(count) * 100 / total) : 100u);
            last = count;
        }
        EXPECT_GT(i, first) << "no code-4 message";
        EXPECT_EQ(last, received);
        return i;
    }

    std::string Downloaded(const std::string& name) const { return ReadFileBytes(downloads_.File(name)); }

    std::string port_;
    std::string root_;
    std::string source_;
    CScratchDir downloads_{"vantorima downloads"};
    CStatusRecorder recorder_;
    CWebGrab grab_;
};

}  // namespace

TEST_F(WebGrab, FileArrivesWholeWithOneReportPerBlock)
{
    CTraceCapture trace;
    EXPECT_EQ(Run({Url("setup.bin")}), 1);
    const auto& st = recorder_.statuses;
    ASSERT_GE(st.size(), 4u);
    EXPECT_EQ(st[0].code, STATUS_STARTING);
    EXPECT_EQ(st[0].text, "setup.bin" + kStarting);
    const size_t end = ExpectBlocks(1, kSourceSize, kSourceSize, "setup.bin");
    EXPECT_EQ(st[end - 1].percent, 100u);
    ASSERT_EQ(st.size(), end + 2);
    EXPECT_EQ(st[end].code, STATUS_FILE_DONE);
    EXPECT_EQ(st[end].text, "setup.bin - Download End!");
    EXPECT_EQ(st[end + 1].code, STATUS_ALL_DONE);
    EXPECT_EQ(st[end + 1].text, "Download Files Complete!");
    EXPECT_TRUE(Downloaded("setup.bin") == source_);
    EXPECT_TRUE(grab_.HasSession());

    const std::vector<std::string> expected = {"CWebGrab::DownloadListAll",
                                               "m_downloadArray.GetSize : 1",
                                               "strURL : " + Url("setup.bin"),
                                               "downFileName : setup.bin",
                                               "downFilePath : " + downloads_.File("setup.bin"),
                                               "for loop out",
                                               "CWebGrab::DownloadListAll-end"};
    EXPECT_EQ(trace.Lines(), expected);

    // The queue is empty afterwards: a second run sends only the queue's end.
    recorder_.statuses.clear();
    EXPECT_EQ(grab_.DownloadListAll(), 1);
    PumpFor(50);
    EXPECT_EQ(recorder_.Codes(), std::vector<unsigned>{STATUS_ALL_DONE});
}

TEST_F(WebGrab, QueueSharesOneSessionAndADirectoryWithABackslashStillWorks)
{
    const std::string generated = "~bytes=9000/generated.bin";
    EXPECT_EQ(Run({Url("setup.bin"), "", "no-slash.bin", Url(generated)}, downloads_.Path() + "\\"), 1);
    std::vector<unsigned> codes = recorder_.Codes();
    codes.erase(std::unique(codes.begin(), codes.end()), codes.end());
    EXPECT_EQ(codes, (std::vector<unsigned>{5, 4, 6, 5, 4, 6, 7}));
    EXPECT_TRUE(Downloaded("setup.bin") == source_);
    EXPECT_TRUE(Downloaded("generated.bin") == GeneratedBytes(9000));
}

TEST_F(WebGrab, NothingToDownloadSendsNothing)
{
    EXPECT_EQ(Run({}), 1);
    EXPECT_EQ(Run({"", "setup.bin", "c:\\no\\slash.bin"}), 1);
    PumpFor(50);
    EXPECT_TRUE(recorder_.statuses.empty());
    EXPECT_FALSE(grab_.HasSession());
}

TEST_F(WebGrab, NoWindowMeansNoMessagesButTheFileArrives)
{
    CWindow gone;  // a window that no longer exists
    RECT rect = {0, 0, 10, 10};
    ASSERT_TRUE(gone.CreateEx(0, "", WS_POPUP, rect, nullptr));
    const HWND stale = gone.GetSafeHwnd();
    gone.DestroyWindow();
    grab_.Initialize(stale, "Quessel", downloads_.Path());
    EXPECT_EQ(grab_.GetFile(Url("setup.bin"), downloads_.File("a.bin"), "Quessel", nullptr), 1);
    EXPECT_EQ(grab_.GetFile(Url("setup.bin"), downloads_.File("b.bin"), "Quessel", stale), 1);
    PumpFor(50);
    EXPECT_TRUE(recorder_.statuses.empty());
    EXPECT_TRUE(Downloaded("a.bin") == source_);
    EXPECT_TRUE(Downloaded("b.bin") == source_);
}

TEST_F(WebGrab, RepliesWithoutAUsableLengthOrStatusAreInvalid)
{
    // Chunked and close-delimited replies carry no length; an error page is no installer.
    for (const char* path :
         {"~chunked/setup.bin", "~close/setup.bin", "missing.bin", "~status=500/setup.bin", "~status=206/setup.bin"}) {
        SCOPED_TRACE(path);
        recorder_.statuses.clear();
        EXPECT_EQ(Run({Url(path), Url("setup.bin")}), 0);
        const std::string name = std::string(path).substr(std::string(path).rfind('/') + 1);
        ASSERT_EQ(recorder_.Codes(), (std::vector<unsigned>{5, 9, 8}));
        EXPECT_EQ(recorder_.statuses[1].text, name + " is Invalid!");
        EXPECT_EQ(recorder_.statuses[2].text, "Download Error Close!");
        EXPECT_FALSE(FileExists(downloads_.File(name)));
        EXPECT_TRUE(grab_.HasSession());  // kept, so the queue could still end with 8
    }
    // Not an HTTP URL: no file either.
    recorder_.statuses.clear();
    EXPECT_EQ(Run({"ftp://127.0.0.1:" + port_ + "/setup.bin"}), 0);
    EXPECT_EQ(recorder_.Codes(), (std::vector<unsigned>{5, 9, 8}));
}

TEST_F(WebGrab, LengthThatCannotBeReadIsInvalidAndABodyPastItNeverReachesTheFile)
{
    // Without a length that can be read a cut body would pass for a whole one.
    for (const char* path : {"~length=none/setup.bin", "~length=-1/setup.bin", "~length=abc/setup.bin",
                             "~length=12abc/setup.bin", "~length=99999999999999999999/setup.bin"}) {
        SCOPED_TRACE(path);
        recorder_.statuses.clear();
        EXPECT_EQ(Run({Url(path)}), 0);
        ASSERT_EQ(recorder_.Codes(), (std::vector<unsigned>{5, 9, 8}));
        EXPECT_EQ(recorder_.statuses[1].text, "setup.bin is Invalid!");
        EXPECT_FALSE(FileExists(downloads_.File("setup.bin")));
    }
    // A body that goes on past its length: the internet library hands over
    // the promised bytes and drops the rest, which never reaches the file
    // (the engine would fail a read past the length that it did hand over).
    recorder_.statuses.clear();
    Run({Url("~length=50000/setup.bin")});
    EXPECT_TRUE(Downloaded("setup.bin") == source_.substr(0, 50000));
}

TEST_F(WebGrab, LengthsPastFourGibibytesAreCountedWhole)
{
    // The server promises 5,000,000,000 bytes and closes after 50,000: a
    // 32-bit count would have read 705,032,704 or 4,294,967,295.
    CTraceCapture trace;
    EXPECT_EQ(Run({Url("~length=5000000000/~drop=50000/setup.bin")}), 0);
    EXPECT_TRUE(trace.Contains("GetFile connection lost : connection closed after 50000 of 5000000000 bytes"));
    const auto& st = recorder_.statuses;
    ASSERT_GE(st.size(), 3u);
    for (const Status& s : st) {
        if (s.code == STATUS_READING) {
            EXPECT_EQ(s.percent, 0u) << s.text;  // 50,000 of 5e9 is under one percent
        }
    }
}

TEST_F(WebGrab, ACutBodyIsResumedWhereItStoppedAndArrivesWhole)
{
    // A clean close before the length is a short read; a reset that meets a
    // waiting read is a read failure. Either way the rest is asked for.
    for (const char* mode : {"drop", "reset"}) {
        SCOPED_TRACE(mode);
        recorder_.statuses.clear();
        ASSERT_TRUE(SetUpdateServerModes(""));
        CTraceCapture trace;
        const std::string pace = std::string(mode) == "reset" ? "~slow=50,10000/" : "";
        EXPECT_EQ(Run({Url(pace + "~once/~" + mode + "=50000/setup.bin")}), 1);
        EXPECT_TRUE(Downloaded("setup.bin") == source_);
        const auto& st = recorder_.statuses;
        const auto reconnect = std::find_if(st.begin(), st.end(), [](const Status& s) {
            return s.text.find("\xB6\xCF\xCF\xDF") != std::string::npos;  // 断线
        });
        ASSERT_NE(reconnect, st.end());
        ASSERT_NE(reconnect, st.begin());
        // The bar stays where it was; the line tells the bytes so far (a reset
        // loses what was still on its way).
        const Status& before = reconnect[-1];
        const std::string received = std::to_string(ReadCount(before.text));
        EXPECT_EQ(reconnect->code, STATUS_READING);
        EXPECT_EQ(reconnect->percent, before.percent);
        EXPECT_NE(reconnect->text.find(" " + received + " "), std::string::npos) << reconnect->text;
        EXPECT_EQ(recorder_.Codes().back(), STATUS_ALL_DONE);
        EXPECT_TRUE(trace.Contains("GetFile resumes (1) after " + received + " bytes"));
        EXPECT_FALSE(trace.Contains("GetFile starts over : 100000 bytes"));
    }
}

TEST_F(WebGrab, ServersThatCannotResumeStartOverOrFail)
{
    // A server without ranges sends the whole file again: read from zero.
    CTraceCapture trace;
    EXPECT_EQ(Run({Url("~norange/~once/~drop=50000/setup.bin")}), 1);
    EXPECT_TRUE(Downloaded("setup.bin") == source_);
    EXPECT_TRUE(trace.Contains("GetFile starts over : 100000 bytes"));

    // The file changed meanwhile: the new one, never the old one's start with
    // the new one's end.
    ASSERT_TRUE(SetUpdateServerModes(""));
    EXPECT_EQ(Run({Url("~changing/~once/~drop=50000/~bytes=100000/new.bin")}), 1);
    std::string second(100000, '\0');
    for (size_t i = 0; i < second.size(); ++i)
        second[i] = static_cast<char>((i + 2) % 251 * 7 % 251);  // the second version
    EXPECT_TRUE(Downloaded("new.bin") == second);

    // A weak ETag says nothing about the bytes: with a date the rest is asked
    // for by the date, without one the file starts over (this server would
    // honour the weak tag).
    {
        ASSERT_TRUE(SetUpdateServerModes(""));
        CTraceCapture weak;
        EXPECT_EQ(Run({Url("~weak/~nodate/~once/~drop=50000/setup.bin")}), 1);
        EXPECT_TRUE(Downloaded("setup.bin") == source_);
        EXPECT_TRUE(weak.Contains("GetFile starts over : 100000 bytes"));
    }
    {
        ASSERT_TRUE(SetUpdateServerModes(""));
        CTraceCapture dated;
        EXPECT_EQ(Run({Url("~weak/~once/~drop=50000/setup.bin")}), 1);
        EXPECT_TRUE(Downloaded("setup.bin") == source_);
        EXPECT_TRUE(dated.Contains("GetFile resumes (1) after 50000 bytes"));
        EXPECT_FALSE(dated.Contains("GetFile starts over : 100000 bytes"));
    }

    // A range answered with another range is not the rest of the file.
    ASSERT_TRUE(SetUpdateServerModes(""));
    recorder_.statuses.clear();
    EXPECT_EQ(Run({Url("~badrange/~once/~drop=50000/setup.bin")}), 0);
    const auto& st = recorder_.statuses;
    ASSERT_FALSE(st.empty());
    EXPECT_EQ(st.back().code, STATUS_NET_ERROR);
    EXPECT_EQ(st.back().text, "setup.bin - bad Content-Range: bytes 50001-99999/100000");
}

TEST_F(WebGrab, FourCutsInARowEndTheQueueWithANetworkErrorAndKeepThePart)
{
    CTraceCapture trace;
    EXPECT_EQ(Run({Url("~drop=20000/setup.bin"), Url("setup.bin")}), 0);
    const auto& st = recorder_.statuses;
    ASSERT_GE(st.size(), 2u);
    EXPECT_EQ(st.front().code, STATUS_STARTING);
    EXPECT_EQ(st.back().code, STATUS_NET_ERROR);  // and nothing after it
    for (size_t i = 1; i + 1 < st.size(); ++i)
        EXPECT_EQ(st[i].code, STATUS_READING);
    EXPECT_EQ(st.back().text, "setup.bin - connection closed after 80000 of 100000 bytes");
    EXPECT_TRUE(Downloaded("setup.bin") == source_.substr(0, 80000));
    EXPECT_EQ(trace.Count("GetFile resumes (3) after 60000 bytes"), 1);
    EXPECT_FALSE(grab_.HasSession());
}

TEST_F(WebGrab, StopDuringThePauseBeforeAResumptionStopsAtOnce)
{
    recorder_.onStatus = [&](const Status& s) {
        if (s.code == STATUS_READING && s.text.find("\xB6\xCF\xCF\xDF") != std::string::npos)
            grab_.SetStop(1);
    };
    CTraceCapture trace;
    EXPECT_EQ(Run({Url("~drop=50000/setup.bin")}), 0);
    EXPECT_TRUE(trace.Contains("GetFile stopped during the pause"));  // not after it
    EXPECT_EQ(recorder_.statuses.back().code, STATUS_LIST_FAILED);
    EXPECT_EQ(recorder_.Codes().end()[-2], STATUS_STOPPED);
    EXPECT_EQ(Downloaded("setup.bin").size(), 50000u);  // the part stays
}

TEST_F(WebGrab, ServerThatCannotBeReachedIsANetworkErrorWithAReadableText)
{
    // A port that was free a moment ago.
    SOCKET probe = INVALID_SOCKET;
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int length = sizeof address;
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    closesocket(probe);
    const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/setup.bin";

    EXPECT_EQ(Run({url}), 0);
    ASSERT_EQ(recorder_.Codes(), (std::vector<unsigned>{5, 1}));
    const std::string& text = recorder_.statuses[1].text;
    EXPECT_EQ(text.rfind("setup.bin - ", 0), 0u);
    EXPECT_GT(text.size(), std::string("setup.bin - ").size() + 5) << text;
    EXPECT_FALSE(grab_.HasSession());
    WSACleanup();
}

TEST_F(WebGrab, LocalFileThatCannotBeCreatedIsAFileError)
{
    EXPECT_EQ(Run({Url("setup.bin")}, downloads_.File("missing\\deeper")), 0);
    ASSERT_EQ(recorder_.Codes(), (std::vector<unsigned>{5, 2}));
    EXPECT_EQ(recorder_.statuses[1].text.rfind("setup.bin - ", 0), 0u);
    EXPECT_GT(recorder_.statuses[1].text.size(), std::string("setup.bin - ").size() + 5);
    EXPECT_FALSE(grab_.HasSession());

    // A URL ending in "/" names no file: the path is the directory itself.
    recorder_.statuses.clear();
    EXPECT_EQ(Run({Url("")}), 0);
    ASSERT_EQ(recorder_.Codes(), (std::vector<unsigned>{5, 2}));
    EXPECT_EQ(recorder_.statuses[0].text, kStarting);
    EXPECT_EQ(recorder_.statuses[1].text.rfind(" - ", 0), 0u);
}

TEST_F(WebGrab, StopBeforeTheFirstReadLeavesAnEmptyFile)
{
    grab_.SetStop(1);
    EXPECT_EQ(Run({Url("setup.bin"), Url("~bytes=10/other.bin")}), 0);
    ASSERT_EQ(recorder_.Codes(), (std::vector<unsigned>{5, 3, 8}));
    EXPECT_EQ(recorder_.statuses[1].text, "User Stop!");
    EXPECT_EQ(recorder_.statuses[2].text, "Download Error Close!");
    EXPECT_TRUE(FileExists(downloads_.File("setup.bin")));
    EXPECT_EQ(Downloaded("setup.bin"), "");
    EXPECT_FALSE(FileExists(downloads_.File("other.bin")));
}

TEST_F(WebGrab, StopDuringTheBodyTakesEffectBeforeTheNextRead)
{
    recorder_.onStatus = [&](const Status& s) {
        if (s.code == STATUS_READING)
            grab_.SetStop(1);
    };
    EXPECT_EQ(Run({Url("~slow=20/setup.bin")}), 0);
    const auto& st = recorder_.statuses;
    ASSERT_EQ(recorder_.Codes(), (std::vector<unsigned>{5, 4, 3, 8}));
    EXPECT_EQ(Downloaded("setup.bin").size(), ReadCount(st[1].text));
}

// A block is what has arrived: few large ones from a fast line, many small
// ones from a slow one, and the same bytes either way.
TEST_F(WebGrab, BlocksFollowTheLineLargeWhenFastSmallWhenSlow)
{
    if (VANTORIMA_READ_BLOCK == 4095)
        GTEST_SKIP() << "built with fixed 4095-byte blocks";
    constexpr uint32_t kFast = 8u << 20;
    EXPECT_EQ(Run({Url("~bytes=" + std::to_string(kFast) + "/fast.bin")}), 1);
    uint32_t largest = 0;
    const size_t end = ExpectBlocks(1, kFast, kFast, "fast.bin", &largest);
    EXPECT_GT(largest, 64u * 1024);
    // Fewer reports than 16 KiB blocks would need (the fixed blocks needed 2049).
    EXPECT_LT(end - 1, kFast / (16 * 1024)) << end - 1 << " blocks, the largest " << largest;
    EXPECT_TRUE(Downloaded("fast.bin") == GeneratedBytes(kFast));

    // 64 KiB a second: about a second and a half, reported as it trickles in.
    recorder_.statuses.clear();
    EXPECT_EQ(Run({Url("~rate=65536/setup.bin")}), 1);
    const size_t slowEnd = ExpectBlocks(1, kSourceSize, kSourceSize, "setup.bin", &largest);
    // Not one block that waited for all of it: many small ones (a busy
    // machine may let a few pieces gather).
    EXPECT_GE(slowEnd - 1, 10u);
    EXPECT_LT(largest, kSourceSize / 2);
    EXPECT_EQ(recorder_.Codes().back(), STATUS_ALL_DONE);
    EXPECT_TRUE(Downloaded("setup.bin") == source_);
}

// A stop from the dialog's thread while the worker waits for a slow line's
// next bytes ends the transfer at once, and nothing arrives after it.
TEST_F(WebGrab, StopWhileASlowLineTricklesEndsPromptly)
{
    std::atomic<bool> reached{false};
    recorder_.onStatus = [&](const Status& s) {
        if (s.code == STATUS_READING && ReadCount(s.text) > 20000)
            reached = true;
    };
    // Once the worker is on its way to its next read.
    std::atomic<DWORD> stoppedAt{0};
    std::thread stopper([&] {
        while (!reached)
            Sleep(1);
        Sleep(20);
        stoppedAt = GetTickCount();
        grab_.SetStop(1);
    });
    EXPECT_EQ(Run({Url("~rate=16384/~bytes=10000000/slow.bin")}), 0);
    stopper.join();
    const auto& st = recorder_.statuses;
    ASSERT_GE(st.size(), 3u);
    EXPECT_EQ(st.end()[-2].code, STATUS_STOPPED);
    EXPECT_EQ(st.back().code, STATUS_LIST_FAILED);
    EXPECT_LT(st.end()[-2].tick - stoppedAt, 2000u);
    // The file holds what was reported, not a byte more.
    uint32_t reported = 0;
    for (const Status& s : st)
        if (s.code == STATUS_READING)
            reported = ReadCount(s.text);
    EXPECT_EQ(Downloaded("slow.bin").size(), reported);
}

TEST_F(WebGrab, StopAfterTheLastBlockLetsTheFileFinishButFailsTheQueue)
{
    recorder_.onStatus = [&](const Status& s) {
        if (s.code == STATUS_FILE_DONE)
            grab_.SetStop(1);
    };
    EXPECT_EQ(Run({Url("setup.bin"), Url("~bytes=10/other.bin")}), 0);
    std::vector<unsigned> codes = recorder_.Codes();
    codes.erase(std::unique(codes.begin(), codes.end()), codes.end());
    EXPECT_EQ(codes, (std::vector<unsigned>{5, 4, 6, 8}));
    EXPECT_TRUE(Downloaded("setup.bin") == source_);
    EXPECT_FALSE(FileExists(downloads_.File("other.bin")));
}

TEST_F(WebGrab, SpeedAppearsFromTheFirstWholeSecondOn)
{
    // Three blocks every 250 ms: about two seconds for the file.
    EXPECT_EQ(Run({Url("~slow=250,12285/setup.bin")}), 1);
    const std::regex withSpeed("setup\\.bin - Read [0-9]+ bytes \\([0-9]+\\.[0-9] Kb/s\\)");
    const std::regex withoutSpeed("setup\\.bin - Read [0-9]+ bytes");
    const DWORD start = recorder_.statuses.front().tick;
    bool seen = false;
    for (const Status& s : recorder_.statuses) {
        if (s.code != STATUS_READING)
            continue;
        const bool hasSpeed = std::regex_match(s.text, withSpeed);
        EXPECT_TRUE(hasSpeed || std::regex_match(s.text, withoutSpeed)) << s.text;
        if (s.tick - start < 900) {
            EXPECT_FALSE(hasSpeed) << s.text;  // well inside the first second
        }
        if (seen) {
            EXPECT_TRUE(hasSpeed) << s.text;  // once there, it stays
        }
        seen |= hasSpeed;
    }
    EXPECT_TRUE(seen);
    EXPECT_GT(recorder_.statuses.back().tick - start, 1500u);
}

TEST_F(WebGrab, VeryLongFileNameIsCutAt511Characters)
{
    const std::string name(600, 'L');
    EXPECT_EQ(Run({Url("~bytes=100/" + name)}), 0);
    ASSERT_GE(recorder_.statuses.size(), 2u);
    EXPECT_EQ(recorder_.statuses[0].text, (name + kStarting).substr(0, 511));
    // No file system takes a 600-character name.
    EXPECT_EQ(recorder_.Codes(), (std::vector<unsigned>{5, 2}));
    EXPECT_EQ(recorder_.statuses[1].text, name.substr(0, 511));
}

TEST_F(WebGrab, HttpsNeedsAServerCertificateThatATrustedRootVouchesFor)
{
    const std::string tlsPort = UpdateServerTlsPort();
    if (tlsPort.empty())
        GTEST_SKIP() << "no https port";
    const std::string url = "https://localhost:" + tlsPort + "/setup.bin";

    // A certificate that no store trusts fails the open: nothing is written.
    ASSERT_TRUE(SetUpdateServerModes("~cert=1"));
    const int untrusted = Run({url});
    ASSERT_TRUE(SetUpdateServerModes(""));
    EXPECT_EQ(untrusted, 0);
    ASSERT_EQ(recorder_.Codes(), (std::vector<unsigned>{5, 1}));
    EXPECT_EQ(recorder_.statuses[1].text,
              "setup.bin - the server certificate is not from a trusted authority (error 12045)");
    EXPECT_FALSE(FileExists(downloads_.File("setup.bin")));
    EXPECT_FALSE(grab_.HasSession());

    recorder_.statuses.clear();
    EXPECT_EQ(Run({url}), 1);
    std::vector<unsigned> codes = recorder_.Codes();
    codes.erase(std::unique(codes.begin(), codes.end()), codes.end());
    EXPECT_EQ(codes, (std::vector<unsigned>{5, 4, 6, 7}));
    EXPECT_TRUE(Downloaded("setup.bin") == source_);
}

// A download that ends early is kept in the partial folder and continued by
// the next one: each "press" is a new engine, as each dialog has its own.
namespace {

// The installer check's stand-in: the whole file must be the source.
std::string g_expected;
bool MatchesExpected(const std::string&, HANDLE file, std::string& failure)
{
    std::string bytes(g_expected.size() + 1, '\0');
    DWORD read = 0;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr);
    failure = "not the file";
    return bytes.substr(0, read) == g_expected;
}

const char kKilledRun[] = "VANTORIMA_PARTIAL_KILLED_RUN";

class PartialDownload : public WebGrab {
protected:
    void SetUp() override
    {
        WebGrab::SetUp();
        if (IsSkipped())
            return;
        // A download folder as the dialog makes one, and the partial folder
        // beside it, held here too so that it stays between presses.
        // KilledRun's is its starter's.
        char parent[MAX_PATH] = "";
        made_.Create(GetEnvironmentVariableA(kKilledRun, parent, sizeof parent) ? parent : parent_.Path());
        ASSERT_FALSE(made_.Path().empty());
        held_.OpenPartial(made_);
        partials_ = held_.Path();
        ASSERT_FALSE(partials_.empty());
        g_expected = source_;
    }

    // One press: a new engine with the partial folder (beside like) and the
    // check; stopped once stopAt bytes have arrived (0: never).
    int Press(size_t stopAt = 0, const CDownloadFolder* like = nullptr)
    {
        press_ = std::make_unique<CWebGrab>();
        press_->OpenPartialFolder(like ? *like : made_);
        press_->SetFileCheck(&MatchesExpected);
        recorder_.statuses.clear();
        recorder_.onStatus = [this, stopAt](const Status& s) {
            if (stopAt && s.code == STATUS_READING && ReadCount(s.text) >= stopAt)
                press_->SetStop(true);
        };
        const int result = RunWith(*press_, {Url("setup.bin")});
        // The server logs a stopped request once it finds the connection
        // gone: before the next press's log starts.
        if (stopAt)
            EXPECT_TRUE(PumpUntil([] { return !UpdateServerRequests().empty(); }));
        return result;
    }

    // The one .part file's size; 0 when there is none.
    size_t Kept() const
    {
        const auto parts = FilesMatching(partials_ + "\\*.part");
        EXPECT_LE(parts.size(), 1u);
        return parts.empty() ? 0 : parts[0].second;
    }

    CScratchDir parent_{"vantorima partials"};
    CDownloadFolder made_, held_;
    std::string partials_;
    std::unique_ptr<CWebGrab> press_;
};

}  // namespace

TEST_F(PartialDownload, TheNextPressAsksOnlyForTheRestWhenTheServerStillHasThatVersion)
{
    struct Row {
        const char* what;
        const char* first;  // standing modes of the stopped press
        const char* second;  // and of the next press
        bool rest;  // whether the next press gets only the rest
        bool aged = false;  // the partial last written 8 days before the next press
    };
    const Row rows[] = {
        {"the same file", "", "", true},
        {"a date for a validator", "~weak", "~weak", true},
        {"changed on the server", "", "~version=1", false},
        {"a server that ignores ranges now", "", "~norange", false},
        {"a range answered with another range", "", "~badrange", false},
        {"no strong validator: nothing kept", "~weak/~nodate", "~weak/~nodate", false},
        {"older than 7 days", "", "", false, true},
    };
    // Another URL's partial goes at the next download.
    ASSERT_TRUE(WriteFileBytes(partials_ + "\\0123456789abcdef.part", "other"));
    ASSERT_TRUE(WriteFileBytes(partials_ + "\\0123456789abcdef.rec", "http://elsewhere/setup.bin\n5\n\"x\"\n"));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        // Slow enough to stop at half: 4 KiB every 20 ms.
        ASSERT_TRUE(SetUpdateServerModes(std::string("~slow=20,4096/") + row.first));
        EXPECT_EQ(Press(kSourceSize / 2), 0);
        EXPECT_EQ(recorder_.Codes().back(), STATUS_LIST_FAILED);
        const size_t kept = Kept();
        if (std::string(row.first).find("nodate") != std::string::npos) {
            EXPECT_EQ(kept, 0u);
            EXPECT_EQ(FilesMatching(partials_ + "\\*").size(), 0u);
        } else {
            EXPECT_GE(kept, kSourceSize / 2);
            EXPECT_LT(kept, kSourceSize);
            EXPECT_EQ(FilesMatching(partials_ + "\\*").size(), 2u);  // the bytes and their record
        }

        if (row.aged) {
            HANDLE part = CreateFileA(FilesMatching(partials_ + "\\*.part")[0].first.c_str(), FILE_WRITE_ATTRIBUTES,
                                      FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
            FILETIME now;
            GetSystemTimeAsFileTime(&now);
            ULARGE_INTEGER then{{now.dwLowDateTime, now.dwHighDateTime}};
            then.QuadPart -= 8ull * 24 * 3600 * 10000000;
            const FILETIME written = {then.LowPart, then.HighPart};
            EXPECT_TRUE(SetFileTime(part, nullptr, nullptr, &written));
            CloseHandle(part);
        }
        ASSERT_TRUE(SetUpdateServerModes(row.second));
        CTraceCapture trace;
        EXPECT_EQ(Press(), 1);
        EXPECT_TRUE(Downloaded("setup.bin") == source_);
        EXPECT_EQ(FilesMatching(partials_ + "\\*").size(), 0u);  // nothing stays once whole
        const std::vector<std::string> requests = UpdateServerRequests();
        ASSERT_FALSE(requests.empty());
        if (row.rest) {
            // The server's own count: only the rest went over the line.
            EXPECT_EQ(requests,
                      (std::vector<std::string>{"/setup.bin range=bytes=" + std::to_string(kept) +
                                                "- status=206 sent=" + std::to_string(kSourceSize - kept)}));
            // The bar starts at the kept share.
            const auto& st = recorder_.statuses;
            ASSERT_GE(st.size(), 2u);
            EXPECT_EQ(st[1].code, STATUS_READING);
            EXPECT_EQ(ReadCount(st[1].text), kept);
            EXPECT_EQ(st[1].percent, kept * 100 / kSourceSize);
            EXPECT_TRUE(trace.Contains("GetFile continues at " + std::to_string(kept) + " of 100000 bytes"));
        } else {
            // The whole file, in answer to the range or to a plain request after it.
            EXPECT_TRUE(std::any_of(requests.begin(), requests.end(), [](const std::string& request) {
                return request.find(" status=200 sent=100000") != std::string::npos;
            })) << requests.back();
            EXPECT_FALSE(trace.Contains("GetFile continues at " + std::to_string(kept) + " of 100000 bytes"));
        }
    }
}

TEST_F(PartialDownload, ACorruptedPartialFailsTheCheckAndTheNextPressStartsOver)
{
    ASSERT_TRUE(SetUpdateServerModes("~slow=20,4096"));
    EXPECT_EQ(Press(kSourceSize / 2), 0);
    const auto parts = FilesMatching(partials_ + "\\*.part");
    ASSERT_EQ(parts.size(), 1u);
    std::string bytes = ReadFileBytes(parts[0].first);
    ASSERT_GT(bytes.size(), 100u);
    bytes[100] ^= 1;
    ASSERT_TRUE(WriteFileBytes(parts[0].first, bytes));

    // Continued, but the whole file is not the installer: gone with its record.
    ASSERT_TRUE(SetUpdateServerModes(""));
    EXPECT_EQ(Press(), 0);
    EXPECT_EQ(recorder_.statuses.back().code, STATUS_UNVERIFIED);
    EXPECT_EQ(UpdateServerRequests().front().find("/setup.bin range=bytes="), 0u);
    EXPECT_EQ(FilesMatching(partials_ + "\\*").size(), 0u);
    EXPECT_FALSE(FileExists(downloads_.File("setup.bin")));

    ASSERT_TRUE(SetUpdateServerModes(""));
    EXPECT_EQ(Press(), 1);
    EXPECT_TRUE(Downloaded("setup.bin") == source_);
    EXPECT_EQ(UpdateServerRequests(), (std::vector<std::string>{"/setup.bin range=- status=200 sent=100000"}));
}

// The child of KilledAtAThirdIsContinued: downloads until it is killed.
TEST_F(PartialDownload, KilledRun)
{
    if (GetEnvironmentVariableA(kKilledRun, nullptr, 0) == 0)
        GTEST_SKIP() << "started by KilledAtAThirdIsContinued";
    // Slow enough to be killed in the middle: 4 KiB every 100 ms.
    ASSERT_TRUE(SetUpdateServerModes("~slow=100,4096"));
    Press();
    ADD_FAILURE() << "the download ended before it was killed";
}

TEST_F(PartialDownload, KilledAtAThirdIsContinued)
{
    HANDLE child = StartAgain("PartialDownload.KilledRun", kKilledRun, parent_.Path());
    ASSERT_TRUE(child);
    const bool third = PumpUntil(
        [&] {
            const auto parts = FilesMatching(partials_ + "\\*.part");
            return !parts.empty() && parts[0].second >= kSourceSize / 3;
        },
        30000);
    TerminateProcess(child, 9);
    WaitForSingleObject(child, 10000);
    CloseHandle(child);
    ASSERT_TRUE(third);
    // The server logs the child's request once it sees the connection go.
    EXPECT_TRUE(PumpUntil([] { return !UpdateServerRequests().empty(); }));

    const size_t kept = Kept();
    EXPECT_LT(kept, kSourceSize);
    ASSERT_TRUE(SetUpdateServerModes(""));
    EXPECT_EQ(Press(), 1);
    EXPECT_TRUE(Downloaded("setup.bin") == source_);
    EXPECT_EQ(UpdateServerRequests(),
              (std::vector<std::string>{"/setup.bin range=bytes=" + std::to_string(kept) +
                                        "- status=206 sent=" + std::to_string(kSourceSize - kept)}));
}

namespace {

// A link at path to the folder target: a junction where the system makes
// them, else (Wine 8, whose CreateSymbolicLinkW does nothing and which has
// no reparse points to set) a Unix symbolic link.
bool MakeFolderLink(const std::string& path, const std::string& target)
{
    if (!UnixPath(path).empty())
        return RunUnix("ln -s '" + UnixPath(target) + "' '" + UnixPath(path) + "'") &&
            GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    struct {
        DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
        WORD length = 0, reserved = 0, nameAt = 0, nameBytes = 0, printAt = 0, printBytes = 0;
        WCHAR names[MAX_PATH + 8] = {};
    } point;
    const std::wstring name = L"\\??\\" + std::wstring(target.begin(), target.end());
    point.nameBytes = static_cast<WORD>(name.size() * 2);
    point.printAt = point.nameBytes + 2;
    point.length = static_cast<WORD>(8 + point.printAt + 2);
    std::copy(name.begin(), name.end(), point.names);
    if (!CreateDirectoryA(path.c_str(), nullptr))
        return false;
    HANDLE link = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    DWORD returned = 0;
    const bool made = DeviceIoControl(link, FSCTL_SET_REPARSE_POINT, &point, point.length + 8, nullptr, 0, &returned,
                                      nullptr) != FALSE;
    CloseHandle(link);
    return made;
}

}  // namespace

// A partial folder that is not one the product made as its download folders
// (another list, or a link to somewhere) is never written to: the download
// goes on in its own folder, as it does without one.
TEST_F(PartialDownload, AFolderNotMadeAsTheDownloadsOwnIsRefused)
{
    struct Row {
        const char* what;
        std::function<bool(const std::string& partials, const CDownloadFolder& aside)> make;
    };
    const Row rows[] = {
        {"an open access list",
         [](const std::string& partials, const CDownloadFolder&) {
             SECURITY_ATTRIBUTES open = {sizeof open, nullptr, FALSE};
             return ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;OICI;FA;;;WD)", SDDL_REVISION_1,
                                                                         &open.lpSecurityDescriptor, nullptr) &&
                 CreateDirectoryA(partials.c_str(), &open) && !LocalFree(open.lpSecurityDescriptor);
         }},
        // To a folder with the very owner and list: only the link is wrong.
        {"a link",
         [](const std::string& partials, const CDownloadFolder& aside) {
             return MakeFolderLink(partials, aside.Path());
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        CScratchDir parent("vantorima refused");
        CDownloadFolder like, aside;
        like.Create(parent.Path());
        aside.Create(parent.Path());
        const std::string partials = parent.File("Vantorima-partial");
        ASSERT_TRUE(row.make(partials, aside));
        CTraceCapture trace;
        ASSERT_TRUE(SetUpdateServerModes("~slow=20,4096"));
        EXPECT_EQ(Press(kSourceSize / 2, &like), 0);
        EXPECT_TRUE(trace.Contains("partial download folder refused : " + partials));
        EXPECT_EQ(FilesMatching(partials + "\\*").size(), 0u);
        EXPECT_EQ(FilesMatching(aside.Path() + "\\*").size(), 0u);
        ASSERT_TRUE(SetUpdateServerModes(""));
        EXPECT_EQ(Press(0, &like), 1);
        EXPECT_TRUE(Downloaded("setup.bin") == source_);
        press_.reset();
        // The link alone, before the scratch folder's removal follows it.
        if (UnixPath(partials).empty())
            RemoveDirectoryA(partials.c_str());
        else
            RunUnix("rm -f '" + UnixPath(partials) + "' 2>/dev/null");
    }
}

TEST_F(PartialDownload, TwoAtOnceNeverShareAFile)
{
    ASSERT_TRUE(SetUpdateServerModes("~slow=50,8192"));
    CTraceCapture trace;
    CScratchDir otherDownloads("vantorima downloads 2");
    CWebGrab other;
    other.OpenPartialFolder(made_);
    other.SetFileCheck(&MatchesExpected);
    other.Initialize(nullptr, "Quessel", otherDownloads.Path());
    other.AddDownload(Url("setup.bin"));
    std::atomic<int> otherResult{-1};
    std::thread second;
    // The second starts once the first writes its partial.
    recorder_.onStatus = [&](const Status& s) {
        if (s.code == STATUS_READING && !second.joinable())
            second = std::thread([&] { otherResult = other.DownloadListAll(); });
    };
    grab_.OpenPartialFolder(made_);
    grab_.SetFileCheck(&MatchesExpected);
    EXPECT_EQ(Run({Url("setup.bin")}), 1);
    ASSERT_TRUE(second.joinable());
    second.join();
    EXPECT_EQ(otherResult, 1);
    EXPECT_TRUE(Downloaded("setup.bin") == source_);
    EXPECT_TRUE(ReadFileBytes(otherDownloads.File("setup.bin")) == source_);
    EXPECT_EQ(trace.Count("partial download in use : 32"), 1);
    EXPECT_EQ(FilesMatching(partials_ + "\\*").size(), 0u);
}
