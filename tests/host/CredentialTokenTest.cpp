#include "launch/CredentialToken.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>

namespace {

int g_draws = 0;
int CountingRandom()
{
    ++g_draws;
    return 0x1234 + g_draws;  // low byte varies, high bits must be dropped
}
int ZeroFill()
{
    return 0x300;  // a multiple of 256: fill bytes are all zero
}

std::string PasswordOf(size_t n)
{
    std::string p;
    for (size_t i = 0; i < n; ++i)
        p += static_cast<char>(i % 2 ? 0xB9 : 'a' + i % 26);  // high bytes too, as GBK text has
    return p;
}

std::string Hex8LittleEndian(uint32_t t)
{
    char text[9];
    std::snprintf(text, sizeof text, "%02x%02x%02x%02x", t & 0xFF, t >> 8 & 0xFF, t >> 16 & 0xFF, t >> 24);
    return text;
}

}  // namespace

TEST(CredentialToken, EveryPasswordLengthEncodesWithinTheBufferOrNotAtAll)
{
    const uint32_t now = 0x9A0B1C2D;
    for (size_t n = 0; n <= 300; ++n) {
        SCOPED_TRACE(n);
        g_draws = 0;
        const std::string password = PasswordOf(n);
        const std::string token = EncodePasswordAt(password, now, &CountingRandom);
        if (n == 0 || n > kMaxPasswordBytes) {
            EXPECT_EQ(token, "");
            EXPECT_EQ(g_draws, 0);
            continue;
        }
        ASSERT_EQ(token.size(), 64u);
        EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos);
        EXPECT_EQ(token.substr(0, 8), Hex8LittleEndian(now));
        EXPECT_EQ(g_draws, static_cast<int>(27 - n));  // 26 bytes leave one fill byte, 1 byte leaves 26

        DecodedToken decoded;
        ASSERT_TRUE(DecodeToken(token, &decoded));
        EXPECT_EQ(decoded.time, now);
        EXPECT_EQ(decoded.password, password);
    }
}

TEST(CredentialToken, ZeroFillLeavesTheTimeWordInEveryWholeFillGroup)
{
    const uint32_t now = 0x01020304;
    const std::string token = EncodePasswordAt("abc", now, &ZeroFill);  // fill from byte 8
    const std::string timeWord = token.substr(0, 8);
    for (size_t group = 2; group < 8; ++group)
        EXPECT_EQ(token.substr(group * 8, 8), timeWord) << group;
    EXPECT_NE(token.substr(8, 8), timeWord);  // byte 4 length, 5-7 password
}

TEST(CredentialToken, CarriesTheCurrentTimeAndDiffersBetweenSeconds)
{
    const uint32_t before = static_cast<uint32_t>(std::time(nullptr));
    DecodedToken decoded;
    ASSERT_TRUE(DecodeToken(EncodePassword("secret"), &decoded));
    const uint32_t after = static_cast<uint32_t>(std::time(nullptr));
    EXPECT_GE(decoded.time, before);
    EXPECT_LE(decoded.time, after);
    EXPECT_EQ(decoded.password, "secret");

    EXPECT_NE(EncodePasswordAt("secret", 100, &ZeroFill).substr(0, 8),
              EncodePasswordAt("secret", 101, &ZeroFill).substr(0, 8));
}

TEST(CredentialToken, DecoderRefusesWhatNoEncoderMade)
{
    DecodedToken decoded;
    EXPECT_FALSE(DecodeToken("", &decoded));
    EXPECT_FALSE(DecodeToken(std::string(63, 'a'), &decoded));
    EXPECT_FALSE(DecodeToken(std::string(64, 'G'), &decoded));
    EXPECT_FALSE(DecodeToken(std::string(64, 'A'), &decoded));  // upper case is not ours
    // A length byte of 0xff after unmasking points past the buffer.
    std::string token = std::string(8, '0') + "ff" + std::string(54, '0');
    EXPECT_FALSE(DecodeToken(token, &decoded));
}
