#include "terminator/PerfDataParser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kIdProcess = 784;

// ASCII only: anything else "does not convert", as a code page might refuse it.
bool AsciiOnly(const char16_t* name, char* out, size_t outSize)
{
    size_t i = 0;
    for (; name[i]; ++i) {
        if (name[i] > 0x7F || i + 1 >= outSize)
            return false;
        out[i] = static_cast<char>(name[i]);
    }
    out[i] = '\0';
    return true;
}

struct Instance {
    std::u16string name;
    uint32_t pid;
};

// Lays out a performance data block with one object, two counters (the
// process id second, at offset 8 of each counter block) and the instances.
class PerfBlock {
public:
    explicit PerfBlock(const std::vector<Instance>& instances, int32_t numInstances = -2)
    {
        Put16s(0, u"PERF");
        Put32(24, 88);  // block header length: the object follows
        const size_t object = 88;
        Put32(object + 8, 64);  // object header length: counters follow
        Put32(object + 4, 64 + 2 * 40);  // definition length: instances follow
        Put32(object + 32, 2);  // counters
        Put32(object + 40, numInstances == -2 ? static_cast<uint32_t>(instances.size()) : numInstances);
        Put32(object + 64 + 4, 6);  // another counter first
        Put32(object + 64 + 36, 4);
        Put32(object + 104 + 4, kIdProcess);
        Put32(object + 104 + 36, 8);
        size_t at = object + 144;
        for (const Instance& instance : instances) {
            const size_t nameBytes = (2 * (instance.name.size() + 1) + 7) / 8 * 8;
            Put32(at, static_cast<uint32_t>(24 + nameBytes));
            Put32(at + 16, 24);
            Put16s(at + 24, instance.name);
            at += 24 + nameBytes;
            Put32(at, 16);  // counter block
            Put32(at + 8, instance.pid);
            at += 16;
        }
        bytes.resize(at);
    }

    void Put32(size_t at, uint32_t value)
    {
        Grow(at + 4);
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = static_cast<uint8_t>(value >> 8 * i);
    }

    size_t Parse(ProcessEntry* table, size_t capacity, size_t size = SIZE_MAX) const
    {
        return ParsePerfProcesses(bytes.data(), size == SIZE_MAX ? bytes.size() : size, kIdProcess, &AsciiOnly, table,
                                  capacity);
    }

    std::vector<uint8_t> bytes;

private:
    void Grow(size_t size)
    {
        if (bytes.size() < size)
            bytes.resize(size);
    }
    void Put16s(size_t at, const std::u16string& text)
    {
        Grow(at + 2 * text.size() + 2);
        for (size_t i = 0; i < text.size(); ++i) {
            bytes[at + 2 * i] = static_cast<uint8_t>(text[i]);
            bytes[at + 2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
        }
    }
};

ProcessEntry g_table[256];

}  // namespace

TEST(PerfDataParser, ReadsNamesAndIds)
{
    PerfBlock block({{u"System", 4}, {u"Idle", 0}, {u"Marovent", 4242}, {u"\u68cb", 9}});
    ASSERT_EQ(block.Parse(g_table, 256), 4u);
    EXPECT_STREQ(g_table[0].exeName, "System.exe");
    EXPECT_EQ(g_table[0].processId, 4u);
    EXPECT_STREQ(g_table[1].exeName, "Idle.exe");
    EXPECT_EQ(g_table[1].processId, 0xFFFFFFFEu);  // id 0 is reported as -2
    EXPECT_STREQ(g_table[2].exeName, "Marovent.exe");
    EXPECT_EQ(g_table[2].processId, 4242u);
    EXPECT_STREQ(g_table[3].exeName, "unknown");  // a name that does not convert
    EXPECT_EQ(g_table[3].processId, 9u);
}

TEST(PerfDataParser, KeepsOneEntryOfTheTableFree)
{
    std::vector<Instance> many;
    for (uint32_t i = 1; i <= 300; ++i)
        many.push_back({u"p" + std::u16string(1, u'a' + i % 26), i});
    PerfBlock block(many);
    EXPECT_EQ(block.Parse(g_table, 256), 255u);
    EXPECT_EQ(g_table[254].processId, 255u);
    EXPECT_EQ(block.Parse(g_table, 1), 0u);
    EXPECT_EQ(block.Parse(g_table, 0), 0u);
    PerfBlock none({}, -1);  // an object without instances
    EXPECT_EQ(none.Parse(g_table, 256), 0u);
}

TEST(PerfDataParser, NamesThatLeaveNoRoomForTheSuffixStayEmpty)
{
    PerfBlock block({{std::u16string(255, u'n'), 1}, {std::u16string(256, u'n'), 2}, {std::u16string(600, u'n'), 3}});
    ASSERT_EQ(block.Parse(g_table, 256), 3u);
    EXPECT_EQ(std::strlen(g_table[0].exeName), 259u);
    EXPECT_STREQ(g_table[0].exeName + 255, ".exe");
    EXPECT_STREQ(g_table[1].exeName, "");
    EXPECT_STREQ(g_table[2].exeName, "unknown");
    EXPECT_EQ(g_table[2].processId, 3u);
}

TEST(PerfDataParser, TruncatedBlocksYieldTheEntriesBeforeTheCut)
{
    PerfBlock block({{u"a", 1}, {u"bb", 2}, {u"ccc", 3}});
    size_t previous = 0;
    for (size_t size = 0; size <= block.bytes.size(); ++size) {
        // A fresh copy of exactly that size, so the sanitizer sees any read past it.
        std::vector<uint8_t> cut(block.bytes.begin(), block.bytes.begin() + size);
        size_t n = ParsePerfProcesses(cut.data(), cut.size(), kIdProcess, &AsciiOnly, g_table, 256);
        EXPECT_GE(n, previous);
        EXPECT_LE(n, 3u);
        for (size_t i = 0; i < n; ++i)
            EXPECT_EQ(g_table[i].processId, i + 1);
        previous = n;
    }
    EXPECT_EQ(previous, 3u);
}

TEST(PerfDataParser, LyingOffsetsStopTheWalk)
{
    const std::vector<Instance> three = {{u"a", 1}, {u"b", 2}, {u"c", 3}};
    {
        PerfBlock block(three, 1000);  // more instances than there are
        EXPECT_EQ(block.Parse(g_table, 256), 3u);
    }
    {
        PerfBlock block(three);
        block.Put32(88 + 144 + 16, 0xFFFFFFF0);  // first name far outside
        EXPECT_EQ(block.Parse(g_table, 256), 0u);
    }
    {
        PerfBlock block(three);
        block.Put32(88 + 144 + 32 + 0, 0x7FFFFFFF);  // first counter block's length
        EXPECT_EQ(block.Parse(g_table, 256), 1u);
    }
    {
        PerfBlock block(three);
        block.Put32(88 + 104 + 36, 0xFFFFFFFC);  // id counter offset wraps around
        EXPECT_EQ(block.Parse(g_table, 256), 0u);
    }
    {
        PerfBlock block(three);
        block.Put32(24, 0xFFFFFFFF);  // object outside the block
        EXPECT_EQ(block.Parse(g_table, 256), 0u);
    }
    {
        PerfBlock block(three);
        block.Put32(88 + 32, 0xFFFFFFFF);  // counters running off the end
        block.Put32(88 + 104 + 4, 5);  // and none of them the process id
        EXPECT_EQ(block.Parse(g_table, 256), 0u);
    }
    {
        PerfBlock block(three);
        block.bytes[0] = 'Q';
        EXPECT_EQ(block.Parse(g_table, 256), 0u);
    }
    EXPECT_EQ(ParsePerfProcesses(nullptr, 0, kIdProcess, &AsciiOnly, g_table, 256), 0u);
}

TEST(PerfDataParser, FindsTheTitleIndexesInTheCountersList)
{
    const char list[] = "1\0"
                        "1847\0"
                        "230\0"
                        "Process\0"
                        "784\0"
                        "ID Process\0"
                        "232\0"
                        "Thread\0";
    PerfTitleIndexes found = FindPerfTitleIndexes(list, sizeof list);
    EXPECT_EQ(found.processObject, 230u);
    EXPECT_EQ(found.processId, 784u);

    const char twice[] = "230\0"
                         "PROCESS\0"
                         "999\0"
                         "process\0";  // any case, the last wins
    EXPECT_EQ(FindPerfTitleIndexes(twice, sizeof twice).processObject, 999u);

    const char first[] = "process\0"
                         "12\0";  // no index before it
    EXPECT_EQ(FindPerfTitleIndexes(first, sizeof first).processObject, 0u);

    const char unterminated[] = {'2', '3', '0', '\0', 'p', 'r', 'o', 'c', 'e', 's', 's'};
    EXPECT_EQ(FindPerfTitleIndexes(unterminated, sizeof unterminated).processObject, 0u);
    EXPECT_EQ(FindPerfTitleIndexes(list, 0).processObject, 0u);
}
