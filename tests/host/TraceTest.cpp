#include "support/Trace.h"

#include "support/TraceLog.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

std::vector<std::string> ReadLines(const std::string& path)
{
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

class TraceFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        path_ = ::testing::TempDir() + "trace-" + std::to_string(getpid()) + ".txt";
        std::remove(path_.c_str());
        setenv("VANTORIMA_TRACE", path_.c_str(), 1);
    }
    void TearDown() override
    {
        unsetenv("VANTORIMA_TRACE");
        std::remove(path_.c_str());
    }
    std::string path_;
};

}  // namespace

TEST_F(TraceFile, LinesOfTwoThreadsLandWhole)
{
    auto writer = [](char tag) {
        const std::string body(200, tag);
        for (int i = 0; i < 500; ++i)
            TraceOut("%c %d %s", tag, i, body.c_str());
    };
    std::thread a(writer, 'a'), b(writer, 'b');
    a.join();
    b.join();
    std::vector<std::string> lines = ReadLines(path_);
    ASSERT_EQ(lines.size(), 1000u);
    for (const std::string& line : lines) {
        ASSERT_GE(line.size(), 200u);
        EXPECT_EQ(line.find_first_not_of(line[0], line.size() - 200), std::string::npos) << line;
    }
}

TEST_F(TraceFile, LongLinesAreCutNotOverrun)
{
    const std::string huge(1 << 20, 'x');
    TraceOut("id : %s", huge.c_str());
    std::vector<std::string> lines = ReadLines(path_);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].size(), static_cast<size_t>(kTraceLineMax));
    EXPECT_EQ(lines[0].substr(0, 6), "id : x");
}

TEST_F(TraceFile, ValuesWithControlCharactersStayOnTheirOwnLine)
{
    // A user name that tries to write a line of its own.
    TraceOut("id : %s", "guest\r\nCheckInstallerFile : suc\x01\x7F\t\xD5\xFD");
    TraceOut("next");
    const std::vector<std::string> lines = ReadLines(path_);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "id : guest\\r\\nCheckInstallerFile : suc\\x01\\x7F\\t\xD5\xFD");
    EXPECT_EQ(lines[1], "next");
    // Escapes that do not fit are cut whole.
    TraceOut("%s", (std::string(kTraceLineMax - 1, 'x') + "\n").c_str());
    const std::vector<std::string> more = ReadLines(path_);
    ASSERT_EQ(more.size(), 3u);
    EXPECT_EQ(more[2], std::string(kTraceLineMax - 1, 'x'));
}

TEST(Trace, WithoutAFileNothingFails)
{
    // The file is looked up for every line: once the variable is gone or
    // empty, lines go nowhere, not to the file named before.
    const std::string path = ::testing::TempDir() + "trace-then-" + std::to_string(getpid()) + ".txt";
    std::remove(path.c_str());
    setenv("VANTORIMA_TRACE", path.c_str(), 1);
    TraceOut("there %d", 1);
    unsetenv("VANTORIMA_TRACE");
    TraceOut("nowhere %d", 1);
    setenv("VANTORIMA_TRACE", "", 1);
    TraceOut("nowhere %d", 2);
    // "off" turns the trace off, the log with it: it names no file.
    char before[4096];
    ASSERT_TRUE(getcwd(before, sizeof before));
    const std::string cwd = ::testing::TempDir();
    ASSERT_EQ(chdir(cwd.c_str()), 0);
    for (const char* off : {"off", "OFF", "Off"}) {
        setenv("VANTORIMA_TRACE", off, 1);
        TraceOut("nowhere %s", off);
        EXPECT_NE(access((cwd + off).c_str(), F_OK), 0) << off;
    }
    ASSERT_EQ(chdir(before), 0);
    unsetenv("VANTORIMA_TRACE");
    EXPECT_EQ(ReadLines(path), std::vector<std::string>{"there 1"});
    std::remove(path.c_str());
}

TEST(TraceLog, LinesCarryTimeProcessAndProgramAndEndWhole)
{
    const TraceLogTime when = {2026, 12, 8, 9, 5, 7, 42};
    const std::string program40(40, 'p');
    const std::string longText(2000, 'x');
    const struct {
        const char* program;
        std::string text;
        unsigned long pid;
        size_t size;
        std::string expected;
    } rows[] = {
        {"launcher", "link refused: bad sig", 4242, kTraceLogLineMax,
         "2026-12-08 09:05:07.042 [4242 launcher] link refused: bad sig\r\n"},
        {"update dialog", "", 0, kTraceLogLineMax, "2026-12-08 09:05:07.042 [0 update dialog] \r\n"},
        {nullptr, "id : guest", 4294967295ul, kTraceLogLineMax, "2026-12-08 09:05:07.042 [4294967295 ] id : guest\r\n"},
        // A name that long is cut; so is a text past the buffer, its line end kept.
        {program40.c_str(), "t", 1, kTraceLogLineMax, "2026-12-08 09:05:07.042 [1 " + std::string(32, 'p') + "] t\r\n"},
        {"control", longText, 7, 80, "2026-12-08 09:05:07.042 [7 control] " + std::string(41, 'x') + "\r\n"},
        {"control", longText, 7, kTraceLogLineMax,
         "2026-12-08 09:05:07.042 [7 control] " + std::string(kTraceLogLineMax - 1 - 38, 'x') + "\r\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.expected.substr(0, 60));
        std::vector<char> out(row.size, '#');
        const size_t n =
            FormatTraceLogLine(out.data(), out.size(), when, row.pid, row.program, row.text.data(), row.text.size());
        EXPECT_EQ(std::string(out.data(), n), row.expected);
        EXPECT_EQ(out[n], '\0');
    }
    // A trace line at its longest fits whole.
    const std::string longest(kTraceLineMax, 'y');
    char out[kTraceLogLineMax];
    const size_t n =
        FormatTraceLogLine(out, sizeof out, when, 4294967295ul, program40.c_str(), longest.data(), longest.size());
    EXPECT_EQ(std::string(out, n).find(longest + "\r\n"), n - longest.size() - 2);
    char tiny[79];
    EXPECT_EQ(FormatTraceLogLine(tiny, sizeof tiny, when, 1, "control", "x", 1), 0u);
}
