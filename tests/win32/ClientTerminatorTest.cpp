// The running-client terminator against real processes of the stand-in client,
// with its message boxes answered by a watcher thread.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "WineTestSupport.h"
#include "framework/win/Window.h"
#include "terminator/ClientTerminator.h"
#include "terminator/ProcessList.h"

using namespace wine_test;

namespace {

const wchar_t kAskText[] = L"有另外一个VOK围棋正在运行。\r\n\r\n如果有正在运行的VOK围棋，将被强行关闭。";

// KillProcess on a worker thread, the owner window on this one, as the
// update dialog runs it. Returns the result and the time it took.
int RunKillProcess(const std::string& name, DWORD* elapsedMs = nullptr)
{
    CWindow owner;
    RECT rect = {100, 100, 400, 300};
    owner.CreateEx(0, "update", WS_OVERLAPPEDWINDOW | WS_VISIBLE, rect, nullptr);
    std::atomic<bool> done{false};
    int result = 99;
    DWORD elapsed = 0;
    std::thread worker([&] {
        const DWORD start = GetTickCount();
        result = KillProcess(owner.GetSafeHwnd(), name);
        elapsed = GetTickCount() - start;
        done = true;
    });
    PumpUntil([&] { return done.load(); }, 30000);
    worker.join();
    if (elapsedMs)
        *elapsedMs = elapsed;
    return result;
}

size_t CountRunning(const char* name)
{
    std::vector<ProcessEntry> table(256);
    size_t n = ListProcessesSnapshot(table.data(), table.size()), count = 0;
    for (size_t i = 0; i < n; ++i)
        count += std::strcmp(table[i].exeName, name) == 0;
    return count;
}

// The first of the given ids in the snapshot's order.
DWORD FirstListed(DWORD a, DWORD b)
{
    std::vector<ProcessEntry> table(256);
    size_t n = ListProcessesSnapshot(table.data(), table.size());
    for (size_t i = 0; i < n; ++i) {
        if (table[i].processId == a || table[i].processId == b)
            return table[i].processId;
    }
    return 0;
}

// Yes to the question: two clients run, only the first listed goes.
void ExpectYesTerminatesOnlyTheFirstClient()
{
    CScratchDir dirA("client a"), dirB("client b");
    CRunningClient a(dirA, "Marovent.exe", 30000), b(dirB, "Marovent.exe", 30000);
    ASSERT_TRUE(PumpUntil([] { return CountRunning("Marovent.exe") == 2; }));
    const DWORD first = FirstListed(a.Id(), b.Id());
    CBoxAnswerer answerer(IDYES);
    EXPECT_EQ(RunKillProcess(kClientExeName), 1);
    EXPECT_EQ(answerer.Texts(), std::vector<std::wstring>{kAskText});
    const CRunningClient& gone = first == a.Id() ? a : b;
    const CRunningClient& kept = first == a.Id() ? b : a;
    EXPECT_EQ(gone.ExitCode(), 1u);
    EXPECT_TRUE(kept.Running());
}

}  // namespace

TEST(ClientTerminator, WithoutARunningClientReturnsAtOnce)
{
    ASSERT_EQ(CountRunning(kClientExeName), 0u);
    CBoxAnswerer answerer(IDNO);
    DWORD elapsed = 0;
    EXPECT_EQ(RunKillProcess(kClientExeName, &elapsed), 0);
    EXPECT_LT(elapsed, 450u);  // no pass was slept through
    EXPECT_EQ(RunKillProcess(""), 0);
    EXPECT_TRUE(answerer.Texts().empty());
}

TEST(ClientTerminator, AClientThatEndsBeforeTheFourthPassIsNotAskedAbout)
{
    CScratchDir dir("client");
    CRunningClient client(dir, "Marovent.exe", 800);
    ASSERT_TRUE(PumpUntil([] { return CountRunning("Marovent.exe") == 1; }));
    CBoxAnswerer answerer(IDNO);
    EXPECT_EQ(RunKillProcess(kClientExeName), 0);
    EXPECT_TRUE(answerer.Texts().empty());
    EXPECT_EQ(client.ExitCode(), 0u);
}

TEST(ClientTerminator, NamesDifferingInLetterCaseAreLeftAlone)
{
    CScratchDir dir("client");
    CRunningClient client(dir, "marovent.exe", 10000);
    ASSERT_TRUE(PumpUntil([] { return CountRunning("marovent.exe") == 1; }));
    CBoxAnswerer answerer(IDYES);
    DWORD elapsed = 0;
    EXPECT_EQ(RunKillProcess(kClientExeName, &elapsed), 0);
    EXPECT_LT(elapsed, 450u);
    EXPECT_TRUE(client.Running());
    EXPECT_TRUE(answerer.Texts().empty());
}

TEST(ClientTerminator, NoLeavesTheClientRunning)
{
    CScratchDir dir("client");
    CRunningClient client(dir, "Marovent.exe", 30000);
    ASSERT_TRUE(PumpUntil([] { return CountRunning("Marovent.exe") == 1; }));
    CBoxAnswerer answerer(IDNO);
    DWORD elapsed = 0;
    EXPECT_EQ(RunKillProcess(kClientExeName, &elapsed), -1);
    EXPECT_GE(elapsed, 2000u);  // four passes first
    EXPECT_EQ(answerer.Texts(), std::vector<std::wstring>{kAskText});
    EXPECT_TRUE(client.Running());
}

TEST(ClientTerminator, YesTerminatesOnlyTheFirstClient)
{
    ExpectYesTerminatesOnlyTheFirstClient();
}

// The Windows 9x road: this program again, told by Wine that it runs on
// Windows 98, so that the snapshot enumerator is chosen.
TEST(ClientTerminator, TheNineXRoadFindsAndTerminatesToo)
{
    EXPECT_EQ(RunAgainOnWindows98("ClientTerminatorNineX.*"), 0u) << "the Windows 98 run failed";
}

TEST(ClientTerminatorNineX, YesTerminatesOnlyTheFirstClient)
{
    if (!InWindows98Run())
        GTEST_SKIP() << "runs inside TheNineXRoadFindsAndTerminatesToo";
    ASSERT_TRUE(RunsOnWindows9x());
    ExpectYesTerminatesOnlyTheFirstClient();
}

TEST(ProcessList, SnapshotListsBareNamesWithinItsCapacity)
{
    std::vector<ProcessEntry> table(256);
    const size_t n = ListProcessesSnapshot(table.data(), table.size());
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    bool found = false;
    for (size_t i = 0; i < n; ++i) {
        EXPECT_EQ(std::strchr(table[i].exeName, '\\'), nullptr) << table[i].exeName;
        found |= table[i].processId == GetCurrentProcessId() &&
            _stricmp(table[i].exeName, std::strrchr(self, '\\') + 1) == 0;
    }
    EXPECT_TRUE(found);
    EXPECT_EQ(ListProcessesSnapshot(table.data(), 1), 1u);
    EXPECT_EQ(ListProcessesSnapshot(table.data(), 0), 0u);
    // At most capacity - 1 from the performance data, whatever the system publishes.
    EXPECT_LE(ListProcessesPerfData(table.data(), 3), 2u);
    EXPECT_EQ(ListProcessesPerfData(table.data(), 0), 0u);
}
