// The per-user log against the real file system: writers at once across a
// rotation, and a log that cannot be written, on both families of Windows;
// links it does not follow, and a lock that another process holds.
// The programs' own lines in the user's log: LinkHandlerTest, ControlHostTest.
#include <windows.h>

#include <gtest/gtest.h>

#include <shlobj.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

#include "WineTestSupport.h"
#include "support/Trace.h"
#include "support/TraceLines.h"
#include "support/TraceLog.h"

using namespace wine_test;

namespace {

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

// A scratch folder that takes the log's folders along when it goes.
class CLogDir : public CScratchDir {
public:
    explicit CLogDir(const std::string& name) : CScratchDir(name) {}
    ~CLogDir()
    {
        for (const char* name : {"vantorima.log", "vantorima.old.log", "vantorima.lock"})
            DeleteFileA((Path() + "\\Vantorima\\Logs\\" + name).c_str());
        RemoveDirectoryA((Path() + "\\Vantorima\\Logs").c_str());
        RemoveDirectoryA((Path() + "\\Vantorima").c_str());
    }
};

constexpr int kProcesses = 2, kThreads = 2, kLines = 800;
const char kWriterFolder[] = "VANTORIMA_TEST_LOG_FOLDER";
const char kHolderFolder[] = "VANTORIMA_TEST_LOCK_FOLDER";

// The texts of the log's lines under folder.
std::vector<std::string> LoggedTexts(const std::string& folder)
{
    std::vector<std::string> texts;
    for (const std::string& line : ReadLog(folder)) {
        LogLine parsed;
        texts.push_back(ParseLogLine(line, parsed) ? parsed.text : "not a line: " + line);
    }
    return texts;
}

// Runs a command line and waits for it a moment.
void Run(const char* program, std::string command)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (CreateProcessA(program, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        WaitForSingleObject(info.hProcess, 10000);
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    }
}

// A link at link to the folder or file target: a junction (a folder, which
// needs no privilege), a symbolic link as an unprivileged user may make one
// (a file), or under Wine, which makes no reparse points (FSCTL_SET_REPARSE_POINT
// fails, CreateSymbolicLinkW makes nothing), a Unix symbolic link made by the
// system's ln. False where none can be made.
bool MakeSymbolicLink(const std::string& link, const std::string& target, bool folder)
{
    if (folder)
        Run(nullptr, "cmd /c mklink /J \"" + link + "\" \"" + target + "\"");
    else
        CreateSymbolicLinkA(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
    using UnixName = char*(CDECL*)(LPCWSTR);
    const auto unixName = reinterpret_cast<UnixName>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (GetFileAttributesA(link.c_str()) == INVALID_FILE_ATTRIBUTES && unixName) {
        char* names[2] = {unixName(Wide(target).c_str()), unixName(Wide(link).c_str())};
        if (names[0] && names[1])
            Run("Z:\\bin\\ln", std::string("ln -s \"") + names[0] + "\" \"" + names[1] + "\"");
        for (char* name : names)
            HeapFree(GetProcessHeap(), 0, name);
        // Wine does not wait for a Unix program: until the link is there.
        for (int i = 0; i < 500 && GetFileAttributesA(link.c_str()) == INVALID_FILE_ATTRIBUTES; ++i)
            Sleep(10);
    }
    return GetFileAttributesA(link.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Two threads of this process write into the log under folder; the first
// one as the update dialog.
void WriteLines(const std::string& folder)
{
    SetEnvironmentVariableA("VANTORIMA_TRACE", nullptr);
    ASSERT_TRUE(TraceLogUseFolder(Wide(folder).c_str()));
    TraceSetProgram("trace test");
    const std::string body(100, 'b');
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([t, &body] {
            const CTraceSource source(t == 0 ? TraceProgram::kUpdateDialog : nullptr);
            for (int i = 0; i < kLines; ++i)
                TraceOut("w%d %d %s", t, i, body.c_str());
        });
    }
    for (std::thread& writer : writers)
        writer.join();
}

// Two processes of two threads each, as two browser tabs, write about twice
// the limit into one log: every line lands whole and once, in the log or the
// old log, though both find it full at about the same time.
void ExpectWritersAtOnceKeepEveryLine()
{
    CLogDir dir("trace log");
    std::vector<HANDLE> writers;
    for (int p = 0; p < kProcesses; ++p) {
        if (HANDLE writer = StartAgain("TraceLogWriter.*", kWriterFolder, dir.Path()))
            writers.push_back(writer);
    }
    ASSERT_EQ(writers.size(), static_cast<size_t>(kProcesses));
    for (HANDLE writer : writers) {
        DWORD code = 1;
        EXPECT_EQ(WaitForSingleObject(writer, 60000), WAIT_OBJECT_0);
        EXPECT_TRUE(GetExitCodeProcess(writer, &code) && code == 0);
        CloseHandle(writer);
    }

    const std::string body(100, 'b');
    std::map<std::string, int> seen;
    for (const std::string& line : ReadLog(dir.Path())) {
        LogLine parsed;
        ASSERT_TRUE(ParseLogLine(line, parsed)) << line;
        const bool dialog = parsed.text.rfind("w0 ", 0) == 0;
        EXPECT_EQ(parsed.program, dialog ? "update dialog" : "trace test") << line;
        EXPECT_EQ(parsed.text.substr(parsed.text.size() - body.size()), body);
        ++seen[std::to_string(parsed.processId) + " " + parsed.text.substr(0, parsed.text.find(' ', 3))];
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(kProcesses * kThreads * kLines));
    for (const auto& [line, count] : seen)
        EXPECT_EQ(count, 1) << line;
    for (const char* name : {"vantorima.log", "vantorima.old.log"}) {
        const std::string bytes = ReadFileBytes(dir.Path() + "\\Vantorima\\Logs\\" + name);
        EXPECT_GT(bytes.size(), 0u) << name;
        EXPECT_LE(bytes.size(), kTraceLogLimit) << name;
    }
}

}  // namespace

TEST(TraceLog, WritersAtOnceCrossTheRotationWholeAndOnce)
{
    ExpectWritersAtOnceKeepEveryLine();
}

TEST(TraceLog, AFailedLogChangesNothingElse)
{
    // The user's own folder, as the shell names it.
    char local[MAX_PATH];
    ASSERT_EQ(SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, local), S_OK);
    EXPECT_EQ(TraceLogFolder(), Wide(std::string(local) + "\\Vantorima\\Logs"));

    CLogDir dir("trace log blocked");
    ASSERT_TRUE(TraceLogUseFolder(Wide(dir.Path()).c_str()));
    TraceSetProgram("trace test");
    const std::string log = dir.Path() + "\\Vantorima\\Logs\\vantorima.log";
    CTraceCapture trace;
    SetLastError(12345);
    TraceOut("first");
    EXPECT_EQ(GetLastError(), 12345u);
    EXPECT_EQ(ReadLog(dir.Path()).size(), 1u);

    // Held by a program that shares nothing, then off: the line still goes
    // to the trace's file (not when off), and nothing else changes.
    HANDLE holder = CreateFileA(log.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    SetLastError(54321);
    TraceOut("held");
    EXPECT_EQ(GetLastError(), 54321u);
    CloseHandle(holder);
    SetEnvironmentVariableA("VANTORIMA_TRACE", "off");
    TraceOut("off");
    SetEnvironmentVariableA("VANTORIMA_TRACE", nullptr);
    EXPECT_FALSE(FileExists("off"));
    // A file where the folder would be: no log at all.
    CScratchDir blocked("trace log file");
    ASSERT_TRUE(WriteFileBytes(blocked.File("Vantorima"), "not a folder"));
    ASSERT_TRUE(TraceLogUseFolder(Wide(blocked.Path()).c_str()));
    CTraceCapture again;
    TraceOut("no folder");
    EXPECT_EQ(again.Lines(), std::vector<std::string>{"no folder"});
    EXPECT_EQ(trace.Lines(), (std::vector<std::string>{"first", "held"}));
    EXPECT_EQ(ReadLog(dir.Path()).size(), 1u);
}

// The log never writes through a link: a log or lock file of two names (a
// hard link), or a symbolic link, and a Logs folder that is a junction or a
// symbolic link. Nothing is written outside, and nothing at all without the
// lock.
TEST(TraceLog, NeverThroughALink)
{
    TraceSetProgram("trace test");
    const struct {
        const char* name;
        bool hard;
    } rows[] = {{"vantorima.log", true}, {"vantorima.lock", true}, {"vantorima.log", false}, {"Logs", false}};
    for (const auto& row : rows) {
        const std::string name = row.name;
        SCOPED_TRACE(name + (row.hard ? " hard" : " symbolic"));
        CLogDir dir("trace log link");
        const std::string logs = dir.Path() + "\\Vantorima\\Logs", outside = dir.File("outside");
        ASSERT_TRUE(CreateDirectoryA((dir.Path() + "\\Vantorima").c_str(), nullptr));
        if (name == "Logs") {
            ASSERT_TRUE(CreateDirectoryA(outside.c_str(), nullptr));
            ASSERT_TRUE(MakeSymbolicLink(logs, outside, true));
        } else {
            ASSERT_TRUE(CreateDirectoryA(logs.c_str(), nullptr) && WriteFileBytes(outside, "outside"));
            ASSERT_TRUE(row.hard ? CreateHardLinkA((logs + "\\" + name).c_str(), outside.c_str(), nullptr)
                                 : MakeSymbolicLink(logs + "\\" + name, outside, false));
        }
        ASSERT_TRUE(TraceLogUseFolder(Wide(dir.Path()).c_str()));
        TraceOut("through a link");
        if (name == "Logs") {
            EXPECT_FALSE(FileExists(outside + "\\vantorima.lock"));
            EXPECT_FALSE(FileExists(outside + "\\vantorima.log"));
            ASSERT_TRUE(TraceLogUseFolder(Wide(outside).c_str()));  // lets go of the link
            RemoveDirectoryA(logs.c_str());
            DeleteFileA(logs.c_str());
        } else {
            EXPECT_EQ(ReadFileBytes(outside), "outside");  // and without the lock, no log:
            EXPECT_EQ(FileExists(logs + "\\vantorima.log"), name == "vantorima.log");
            DeleteFileA(outside.c_str());
        }
    }
}

// Another process holds the lock: the first line waits for it once, in vain,
// and is dropped; the next ones wait no more, and are dropped too while it is
// held (never written beside its holder); once it is let go, lines are written
// again without a wait.
TEST(TraceLog, ALockHeldElsewhereCostsOneWait)
{
    CLogDir dir("trace log lock");
    ASSERT_TRUE(TraceLogUseFolder(Wide(dir.Path()).c_str()));
    TraceSetProgram("trace test");
    TraceOut("before");
    const std::string events = std::to_string(GetCurrentProcessId());
    HANDLE held = CreateEventA(nullptr, TRUE, FALSE, ("vantorima lock held " + events).c_str());
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, ("vantorima lock release " + events).c_str());
    HANDLE holder = StartAgain("TraceLogHolder.*", kHolderFolder, events + " " + dir.Path());
    ASSERT_NE(holder, nullptr);
    ASSERT_EQ(WaitForSingleObject(held, 30000), WAIT_OBJECT_0);
    for (int i = 0; i < 20; ++i)
        TraceOut("held %d", i);
    EXPECT_EQ(TraceLogLockTimeouts(), 1u);
    SetEvent(release);
    EXPECT_EQ(WaitForSingleObject(holder, 30000), WAIT_OBJECT_0);
    TraceOut("after");
    EXPECT_EQ(TraceLogLockTimeouts(), 1u);
    EXPECT_EQ(LoggedTexts(dir.Path()), (std::vector<std::string>{"before", "after"}));
    for (HANDLE handle : {held, release, holder})
        CloseHandle(handle);
}

TEST(TraceLog, OnWindows98TooSystemsWithoutAppendingOrSharedDeletes)
{
    EXPECT_EQ(RunAgainOnWindows98("TraceLogNineX.*"), 0u) << "the Windows 98 run failed";
}

TEST(TraceLogWriter, WritesItsLines)
{
    char folder[MAX_PATH];
    const DWORD n = GetEnvironmentVariableA(kWriterFolder, folder, sizeof folder);
    if (n == 0 || n >= sizeof folder)
        GTEST_SKIP() << "a writer of WritersAtOnceCrossTheRotationWholeAndOnce";
    WriteLines(folder);
}

TEST(TraceLogNineX, WritersAtOnceCrossTheRotationWholeAndOnce)
{
    if (!InWindows98Run())
        GTEST_SKIP() << "runs inside OnWindows98TooSystemsWithoutAppendingOrSharedDeletes";
    ASSERT_TRUE(RunsOnWindows9x());
    ExpectWritersAtOnceKeepEveryLine();
}

TEST(TraceLogHolder, HoldsTheLock)
{
    char folder[MAX_PATH];
    const DWORD n = GetEnvironmentVariableA(kHolderFolder, folder, sizeof folder);
    if (n == 0 || n >= sizeof folder)
        GTEST_SKIP() << "the holder of ALockHeldElsewhereCostsOneWait";
    // "<the parent's events> <folder>"
    const std::string value = folder, events = value.substr(0, value.find(' '));
    HANDLE lock =
        CreateFileA((value.substr(events.size() + 1) + "\\Vantorima\\Logs\\vantorima.lock").c_str(), GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(LockFile(lock, 0, 0, 1, 0));
    HANDLE held = OpenEventA(EVENT_MODIFY_STATE, FALSE, ("vantorima lock held " + events).c_str());
    HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, ("vantorima lock release " + events).c_str());
    ASSERT_TRUE(held && release);
    SetEvent(held);
    EXPECT_EQ(WaitForSingleObject(release, 30000), WAIT_OBJECT_0);
    UnlockFile(lock, 0, 0, 1, 0);
    for (HANDLE handle : {lock, held, release})
        CloseHandle(handle);
}
