#include "support/Trace.h"

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
    unsetenv("VANTORIMA_TRACE");
    EXPECT_EQ(ReadLines(path), std::vector<std::string>{"there 1"});
    std::remove(path.c_str());
}
