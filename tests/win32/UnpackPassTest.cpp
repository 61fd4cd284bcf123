// The unpack-and-replace pass with a stand-in Kelpix.dll beside the test.
#include <windows.h>

#include <gtest/gtest.h>

#include "WineTestSupport.h"
#include "download/UnpackPass.h"

using namespace wine_test;

TEST(UnpackPass, NamesAreCutAtTheirFirstLzf)
{
    EXPECT_EQ(UnpackedName("Marovent.exe.lzf"), "Marovent.exe");
    EXPECT_EQ(UnpackedName("a.lzf.lzf"), "a");
    EXPECT_EQ(UnpackedName(".lzf"), ".lzf");  // not when it starts the name
    EXPECT_EQ(UnpackedName("plain.dll"), "plain.dll");
}

TEST(UnpackPass, AnEmptyListNeedsNoLibrary)
{
    EXPECT_TRUE(RunUnpackPass({}, "", ""));
    EXPECT_EQ(GetModuleHandleA("Kelpix.dll"), nullptr);
}

TEST(UnpackPass, ExpandsThenReplacesTheInstalledFiles)
{
    CScratchDir download("unpack download"), install("unpack install");
    const std::string downloadDir = download.Path() + "\\", installDir = install.Path() + "\\";
    WriteFileBytes(downloadDir + "Marovent.exe.lzf", "new client");
    WriteFileBytes(downloadDir + "rules.dat.lzf", "new rules");
    WriteFileBytes(installDir + "Marovent.exe", "old client");
    WriteFileBytes(installDir + "Marovent.exe.bak", "stale backup");

    ASSERT_TRUE(RunUnpackPass({"Marovent.exe.lzf", "rules.dat.lzf"}, downloadDir, installDir));
    EXPECT_EQ(ReadFileBytes(installDir + "Marovent.exe"), "new client");
    EXPECT_EQ(ReadFileBytes(installDir + "rules.dat"), "new rules");
    EXPECT_FALSE(FileExists(installDir + "Marovent.exe.bak"));
    EXPECT_FALSE(FileExists(downloadDir + "Marovent.exe"));
}

TEST(UnpackPass, TheFirstFailedExpansionReplacesNothing)
{
    CScratchDir download("unpack download"), install("unpack install");
    const std::string downloadDir = download.Path() + "\\", installDir = install.Path() + "\\";
    WriteFileBytes(downloadDir + "a.exe.lzf", "new a");
    WriteFileBytes(downloadDir + "broken.dll.lzf", "bad");
    WriteFileBytes(installDir + "a.exe", "old a");

    EXPECT_FALSE(RunUnpackPass({"a.exe.lzf", "broken.dll.lzf"}, downloadDir, installDir));
    EXPECT_EQ(ReadFileBytes(installDir + "a.exe"), "old a");
}
