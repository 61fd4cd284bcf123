// CRegKey's wide values against the real registry, under a scratch key of
// the current user (the nonce ledger's tests cover its keys and subkeys).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "framework/sys/RegKey.h"

namespace {

constexpr char kScratch[] = "Software\\Quorsel\\VantorimaRegKeyTest";

class RegKeyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CRegKey::DeleteTree(HKEY_CURRENT_USER, kScratch);
        ASSERT_EQ(key_.Create(HKEY_CURRENT_USER, kScratch, KEY_READ | KEY_WRITE), ERROR_SUCCESS);
    }
    void TearDown() override
    {
        key_.Close();
        CRegKey::DeleteTree(HKEY_CURRENT_USER, kScratch);
    }

    CRegKey key_;
};

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

}  // namespace
