#include "launch/LaunchArguments.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "launch/CredentialToken.h"

TEST(LaunchArguments, GuestWithoutPasswordOrKey)
{
    LaunchArguments launch = BuildLaunchArguments("guest", "", "");
    EXPECT_EQ(launch.arguments, " /NAME:guest /PASSWORD: /JOINKEY:1000");
    EXPECT_FALSE(launch.passToClient);
}

TEST(LaunchArguments, PasswordBecomesATokenAndValuesGoUnquoted)
{
    LaunchArguments launch = BuildLaunchArguments("player one", "pa ss\"%s", "42");
    const std::string prefix = " /NAME:player one /PASSWORD:";
    ASSERT_EQ(launch.arguments.compare(0, prefix.size(), prefix), 0);
    const std::string token = launch.arguments.substr(prefix.size(), 64);
    DecodedToken decoded;
    ASSERT_TRUE(DecodeToken(token, &decoded));
    EXPECT_EQ(decoded.password, "pa ss\"%s");
    EXPECT_EQ(launch.arguments.substr(prefix.size() + 64), " /JOINKEY:42");
    EXPECT_TRUE(launch.passToClient);
}

TEST(LaunchArguments, SixtyFourCharactersPassUnchanged)
{
    std::string ready;
    for (int i = 0; i < 32; ++i)
        ready += "%n";  // anything at all, even what would be a format
    LaunchArguments launch = BuildLaunchArguments("id", ready, "");
    EXPECT_EQ(launch.arguments, " /NAME:id /PASSWORD:" + ready + " /JOINKEY:1000");
    EXPECT_TRUE(launch.passToClient);
}

TEST(LaunchArguments, NoNameMeansNoArgumentsForTheClientButAFullSaveStart)
{
    LaunchArguments launch = BuildLaunchArguments("", "pw", "");
    EXPECT_EQ(launch.arguments.substr(0, 18), " /NAME: /PASSWORD:");
    EXPECT_EQ(launch.arguments.size(), 18u + 64 + 14);
    EXPECT_FALSE(launch.passToClient);
}

TEST(LaunchArguments, PasswordTooLongForATokenCountsAsEmpty)
{
    for (size_t n : {27u, 63u, 65u, 300u}) {
        LaunchArguments launch = BuildLaunchArguments("guest", std::string(n, 'x'), "");
        EXPECT_EQ(launch.arguments, " /NAME:guest /PASSWORD: /JOINKEY:1000") << n;
        EXPECT_FALSE(launch.passToClient);
    }
}

TEST(LaunchArguments, HugeValuesAreKeptWhole)
{
    const std::string id(1 << 20, '%');
    const std::string key = std::string(1 << 20, '"') + "\xC6\xE5";  // GBK 棋
    LaunchArguments launch = BuildLaunchArguments(id, "", key);
    EXPECT_EQ(launch.arguments, " /NAME:" + id + " /PASSWORD: /JOINKEY:" + key);
}
