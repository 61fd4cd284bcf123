// The settings store against the real registry.
#include <windows.h>

#include <gtest/gtest.h>

#include "WineTestSupport.h"
#include "launch/SettingsKey.h"
#include "launch/SettingsStore.h"

using namespace wine_test;

namespace {

class SettingsStore : public ::testing::Test {
protected:
    void SetUp() override { DeleteSettingsKey(); }
    void TearDown() override { DeleteSettingsKey(); }
    CSettingsStore store_;
    CTraceCapture trace_;
};

}  // namespace

TEST_F(SettingsStore, ReadingCreatesAMissingKeyAndFindsNothing)
{
    ASSERT_FALSE(SettingsKeyExists());
    std::string dir = "unchanged";
    EXPECT_FALSE(store_.ReadWorkDir(dir));
    EXPECT_EQ(dir, "unchanged");
    EXPECT_TRUE(SettingsKeyExists());
}

TEST_F(SettingsStore, WorkDirIsReadUpTo199Characters)
{
    const std::string longest(199, 'd');
    WriteSettingsValue("WorkDir", REG_SZ, longest + '\0');
    std::string dir;
    EXPECT_TRUE(store_.ReadWorkDir(dir));
    EXPECT_EQ(dir, longest);

    WriteSettingsValue("WorkDir", REG_SZ, longest + "d" + '\0');
    dir.clear();
    EXPECT_FALSE(store_.ReadWorkDir(dir));
    EXPECT_EQ(dir, "");
    // The reason is traced: the call, where, and the registry's code.
    EXPECT_TRUE(TracedFailure(trace_.Last("SettingsStore.cpp("), "error 234"));
}

TEST_F(SettingsStore, AnyValueTypeIsReadUpToItsFirstZeroByte)
{
    WriteSettingsValue("WorkDir", REG_BINARY, std::string("C:\\Go\0tail", 10));
    std::string dir;
    EXPECT_TRUE(store_.ReadWorkDir(dir));
    EXPECT_EQ(dir, "C:\\Go");

    WriteSettingsValue("WorkDir", REG_BINARY, "D:\\NoTerminator");
    EXPECT_TRUE(store_.ReadWorkDir(dir));
    EXPECT_EQ(dir, "D:\\NoTerminator");
}

TEST_F(SettingsStore, WritesStoreTheTerminatorAndReplaceEarlierValues)
{
    store_.WriteSetting("", "Empty");
    store_.WriteSetting("old", "SaveStart");
    store_.WriteSetting("\xCE\xA7\xC6\xE5 %s", "SaveStart");  // GBK 围棋
    DWORD type = 0;
    std::string bytes;
    ASSERT_TRUE(ReadSettingsValue("Empty", &type, &bytes));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(bytes, std::string(1, '\0'));
    ASSERT_TRUE(ReadSettingsValue("SaveStart", &type, &bytes));
    EXPECT_EQ(bytes, std::string("\xCE\xA7\xC6\xE5 %s", 7) + '\0');
    EXPECT_EQ(trace_.Count("suc"), 3);
}

TEST_F(SettingsStore, DeniedWritesAreTracedAndStoreNothing)
{
    std::string dir;
    store_.ReadWorkDir(dir);  // creates the key
    ASSERT_TRUE(SetSettingsKeyDacl(kReadOnlyDacl));
    store_.WriteSetting("value", "LoginSERV");
    EXPECT_TRUE(SetSettingsKeyDacl(kFullAccessDacl));
    EXPECT_EQ(SettingsText("LoginSERV"), "<missing>");
    EXPECT_EQ(trace_.Count("error"), 1);
    EXPECT_EQ(trace_.Count("suc"), 0);
    EXPECT_TRUE(TracedFailure(trace_.Last("SettingsStore.cpp("), "error 5"));
}

TEST(SettingsKey, CloseTwiceIsHarmless)
{
    HKEY other = nullptr;
    {
        CSettingsKey key;
        key.Close();
        ASSERT_EQ(key.Open(HKEY_CURRENT_USER, kSettingsKeyPath, KEY_READ), ERROR_SUCCESS);
        key.Close();
        // The handle given back is the next one handed out: neither a second
        // Close nor the destructor may take it from its new owner.
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_READ, &other), ERROR_SUCCESS);
        key.Close();
    }
    EXPECT_EQ(RegQueryInfoKeyA(other, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(other), ERROR_SUCCESS);
    DeleteSettingsKey();
}
