// The per-user log against the real file system: writers at once across a
// rotation, and a log that cannot be written, on both families of Windows.
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
        for (const char* name : {"vantorima.log", "vantorima.old.log"})
            DeleteFileA((Path() + "\\Vantorima\\Logs\\" + name).c_str());
        RemoveDirectoryA((Path() + "\\Vantorima\\Logs").c_str());
        RemoveDirectoryA((Path() + "\\Vantorima").c_str());
    }
};

constexpr int kProcesses = 2, kThreads = 2, kLines = 800;
const char kWriterFolder[] = "VANTORIMA_TEST_LOG_FOLDER";

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
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string command = std::string("\"") + self + "\" --gtest_filter=TraceLogWriter.*";
    SetEnvironmentVariableA(kWriterFolder, dir.Path().c_str());
    std::vector<HANDLE> writers;
    for (int p = 0; p < kProcesses; ++p) {
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        if (CreateProcessA(self, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
            CloseHandle(info.hThread);
            writers.push_back(info.hProcess);
        }
    }
    SetEnvironmentVariableA(kWriterFolder, nullptr);
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
