// CRegKey against the real registry, under a scratch key of the current user.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "framework/sys/RegKey.h"

namespace {

constexpr char kScratch[] = "Software\\Quorsel\\VantorimaRegKeyTest";

class RegKeyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CRegKey::DeleteTree(HKEY_CURRENT_USER, kScratch);
        ASSERT_EQ(key_.Create(HKEY_CURRENT_USER, kScratch, KEY_READ | KEY_WRITE, &created_), ERROR_SUCCESS);
    }
    void TearDown() override
    {
        key_.Close();
        CRegKey::DeleteTree(HKEY_CURRENT_USER, kScratch);
    }

    CRegKey key_;
    bool created_ = false;
};

TEST_F(RegKeyTest, CreateTellsWhetherItMadeTheKey)
{
    EXPECT_TRUE(created_);
    CRegKey again;
    bool created = true;
    ASSERT_EQ(again.Create(HKEY_CURRENT_USER, kScratch, KEY_READ, &created), ERROR_SUCCESS);
    EXPECT_FALSE(created);
}

// Text that is not ANSI and longer than any fixed buffer comes back whole and
// terminated, as does a value stored without its terminator; an absent value
// leaves the text as it was, and deleting one is no failure.
TEST_F(RegKeyTest, WideTextComesBackWholeAndTerminated)
{
    WideText longText(3000, L'\x68cb');
    longText.push_back(L'\0');
    const wchar_t bare[] = {L'a', L'b'};
    ASSERT_EQ(key_.WriteWide(L"long", longText), ERROR_SUCCESS);
    ASSERT_EQ(key_.WriteWide(nullptr, WideText()), ERROR_SUCCESS);
    ASSERT_EQ(key_.Write("bare", REG_BINARY, bare, sizeof bare), ERROR_SUCCESS);
    const struct {
        const wchar_t* name;
        WideText text;
    } cases[] = {{L"long", longText}, {nullptr, WideJoin({L""})}, {L"bare", WideJoin({L"ab"})}};
    for (const auto& c : cases) {
        WideText text;
        EXPECT_EQ(key_.ReadWide(c.name, text), ERROR_SUCCESS);
        EXPECT_TRUE(text == c.text) << text.size();
    }

    EXPECT_EQ(key_.DeleteValue("bare"), ERROR_SUCCESS);
    EXPECT_EQ(key_.DeleteValue("bare"), ERROR_SUCCESS);
    WideText kept = WideJoin({L"kept"});
    EXPECT_EQ(key_.ReadWide(L"bare", kept), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(kept == WideJoin({L"kept"}));
}

TEST_F(RegKeyTest, SubkeyNamesAndLastWriteTime)
{
    std::vector<std::string> names = {"stale"};
    EXPECT_EQ(key_.SubkeyNames(names), ERROR_SUCCESS);
    EXPECT_TRUE(names.empty());
    for (const char* name : {"b", "a", "c"})
        ASSERT_EQ(CRegKey().Create(key_.Get(), name, KEY_READ), ERROR_SUCCESS);
    EXPECT_EQ(key_.SubkeyNames(names), ERROR_SUCCESS);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a", "b", "c"}));

    FILETIME written = {}, now = {};
    EXPECT_EQ(key_.LastWriteTime(written), ERROR_SUCCESS);
    GetSystemTimeAsFileTime(&now);
    const auto ticks = [](const FILETIME& t) {
        return static_cast<long long>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
    };
    EXPECT_LT(std::llabs(ticks(now) - ticks(written)), 600000000LL);  // within a minute
}

}  // namespace
