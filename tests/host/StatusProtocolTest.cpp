#include "download/StatusProtocol.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

bool IsGbkLeadByte(unsigned char byte)
{
    return byte >= 0x81 && byte <= 0xFE;
}

}  // namespace

TEST(StatusProtocol, PackingKeepsCodeLowAndPercentHigh)
{
    EXPECT_EQ(PackStatus(STATUS_READING, 57), 0x00390004u);
    EXPECT_EQ(PackStatus(STATUS_ABORT, 0), 10u);
    EXPECT_EQ(StatusCodeOf(PackStatus(STATUS_READING, 100)), 4u);
    EXPECT_EQ(StatusPercentOf(PackStatus(STATUS_READING, 100)), 100u);
    EXPECT_EQ(PackStatus(0x12345, 0x10064), 0x00642345u);  // neither spills into the other
}

TEST(StatusProtocol, PercentIsExactAtThirtyTwoBitExtremes)
{
    const uint32_t max = 0xFFFFFFFFu;
    EXPECT_EQ(PercentOf(0, 0), 100u);  // unknown length
    EXPECT_EQ(PercentOf(12345, 0), 100u);
    EXPECT_EQ(PercentOf(0, max), 0u);
    EXPECT_EQ(PercentOf(1, max), 0u);
    EXPECT_EQ(PercentOf(max - 1, max), 99u);
    EXPECT_EQ(PercentOf(max, max), 100u);
    EXPECT_EQ(PercentOf(max / 2 + 1, max), 50u);
    // 42,949,673 * 100 overflows 32 bits.
    EXPECT_EQ(PercentOf(42949673, 85899346), 50u);
    EXPECT_EQ(PercentOf(max / 100, max), 0u);
    EXPECT_EQ(PercentOf(max / 100 + 1, max), 1u);
    EXPECT_EQ(PercentOf(4095, 10000), 40u);
    EXPECT_EQ(PercentOf(10001, 10000), 100u);  // never past the end of the bar
}

TEST(StatusProtocol, PercentIsExactPastFourGibibytes)
{
    const uint64_t max = 0x7FFFFFFFFFFFFFFFull;
    EXPECT_EQ(PercentOf(max - 1, max), 99u);
    EXPECT_EQ(PercentOf(max / 2 + 1, max), 50u);
    EXPECT_EQ(PercentOf(max / 100, max), 0u);
    EXPECT_EQ(PercentOf(max / 100 + 1, max), 1u);
    EXPECT_EQ(PercentOf(2500000000ull, 5000000000ull), 50u);
    EXPECT_EQ(PercentOf(4294967296ull, 5000000000ull), 85u);  // 32 bits would wrap to 0
    for (uint64_t total : {1ull, 7ull, 99ull, 100ull, 101ull, 4294967297ull}) {
        for (uint64_t received = 0; received < total && received < 300; ++received)
            EXPECT_EQ(PercentOf(received, total), received * 100 / total) << received << "/" << total;
    }
}

TEST(StatusProtocol, ContentLengthIsOneDecimalNumberOrNothing)
{
    const std::pair<const char*, uint64_t> good[] = {{"67108864", 67108864u},
                                                     {"0", 0u},
                                                     {"  42", 42u},
                                                     {"42\t ", 42u},
                                                     {"4294967296", 4294967296ull},
                                                     {"5000000000", 5000000000ull},
                                                     {"9223372036854775807", 0x7FFFFFFFFFFFFFFFull}};
    for (const auto& g : good) {
        uint64_t length = 1;
        EXPECT_TRUE(ParseContentLength(g.first, length)) << g.first;
        EXPECT_EQ(length, g.second) << g.first;
    }
    for (const char* bad : {"123abc", "12 34", "none", "abc", "", "  ", "-1", "-5", "+5", "0x10", "1.5",
                            "9223372036854775808", "18446744073709551616", "99999999999999999999999999999999"}) {
        uint64_t length = 7;
        EXPECT_FALSE(ParseContentLength(bad, length)) << bad;
        EXPECT_EQ(length, 7u) << bad;
    }
    uint64_t length = 7;
    EXPECT_FALSE(ParseContentLength(nullptr, length));
}

TEST(StatusProtocol, ContentRangeIsOneWholeSatisfiedRange)
{
    uint64_t first = 1, last = 1, total = 1;
    EXPECT_TRUE(ParseContentRange("bytes 50000-99999/100000", first, last, total));
    EXPECT_EQ(first, 50000u);
    EXPECT_EQ(last, 99999u);
    EXPECT_EQ(total, 100000u);
    EXPECT_TRUE(ParseContentRange(" bytes 0-0/1 ", first, last, total));
    EXPECT_TRUE(ParseContentRange("bytes 4294967294-4294967294/4294967295", first, last, total));
    EXPECT_EQ(first, 4294967294u);
    EXPECT_TRUE(ParseContentRange("bytes 4294967296-4999999999/5000000000", first, last, total));
    EXPECT_EQ(first, 4294967296ull);
    EXPECT_EQ(total, 5000000000ull);
    for (const char* bad :
         {"bytes 5-4/10", "bytes 5-10/10", "bytes */100000", "bytes 0-9/*", "bytes 1-2/3x", "items 0-1/2",
          "bytes=0-1/2", "bytes 0-9223372036854775808/9223372036854775809", "bytes -1/2", "bytes 0-/2", "", "bytes "}) {
        first = last = total = 7;
        EXPECT_FALSE(ParseContentRange(bad, first, last, total)) << bad;
        EXPECT_EQ(first + last + total, 21u) << bad;  // untouched
    }
    EXPECT_FALSE(ParseContentRange(nullptr, first, last, total));
}

TEST(StatusProtocol, FileNameIsTheTextAfterTheLastSlash)
{
    std::string name = "unchanged";
    EXPECT_TRUE(FileNameFromUrl("http://127.0.0.1:18431/service/VokWeiqi.exe", name));
    EXPECT_EQ(name, "VokWeiqi.exe");
    EXPECT_TRUE(FileNameFromUrl("http://host/dir/", name));
    EXPECT_EQ(name, "");
    EXPECT_TRUE(FileNameFromUrl("/", name));
    EXPECT_EQ(name, "");
    EXPECT_TRUE(FileNameFromUrl("a/b?x=1", name));
    EXPECT_EQ(name, "b?x=1");
    name = "unchanged";
    EXPECT_FALSE(FileNameFromUrl("no-slash.exe", name));
    EXPECT_FALSE(FileNameFromUrl("", name));
    EXPECT_EQ(name, "unchanged");
}

TEST(StatusProtocol, TextsAreCutAt511BytesNeverOverrun)
{
    // The buffer sits between guards that a sanitizer or the check below would see written.
    struct Guarded {
        char before[16];
        char text[kStatusTextSize];
        char after[16];
    } g;
    std::memset(&g, 0x5A, sizeof g);

    const std::string name(600, 'n');
    EXPECT_EQ(FormatStatusText(g.text, nullptr, kTextStarting, name.c_str()), 511u);
    EXPECT_EQ(std::string(g.text), name.substr(0, 511));
    EXPECT_EQ(std::string(g.before, 16), std::string(16, 0x5A));
    EXPECT_EQ(std::string(g.after, 16), std::string(16, 0x5A));

    const std::string fits(511 - std::strlen(" is Invalid!"), 'f');
    EXPECT_EQ(FormatStatusText(g.text, nullptr, kTextInvalid, fits.c_str()), 511u);
    EXPECT_EQ(std::string(g.text), fits + " is Invalid!");

    // Longer than the formatting scratch space as well.
    const std::string huge(5000, 'h');
    EXPECT_EQ(FormatStatusText(g.text, nullptr, kTextNetError, huge.c_str(), "x"), 511u);
    EXPECT_EQ(std::string(g.after, 16), std::string(16, 0x5A));

    EXPECT_EQ(FormatStatusText(g.text, nullptr, kTextAllDone), std::strlen("Download Files Complete!"));
    EXPECT_STREQ(g.text, "Download Files Complete!");
}

TEST(StatusProtocol, CuttingKeepsTwoByteCharactersWhole)
{
    char text[kStatusTextSize];
    // "中" in GBK is D6 D0: 300 of them put a lead byte at offset 510.
    std::string name;
    for (int i = 0; i < 300; ++i)
        name += "\xD6\xD0";
    EXPECT_EQ(FormatStatusText(text, &IsGbkLeadByte, "%s", name.c_str()), 510u);
    EXPECT_TRUE(std::string(text) == name.substr(0, 510));
    // One byte earlier, the last whole character ends exactly at 511.
    EXPECT_EQ(FormatStatusText(text, &IsGbkLeadByte, "x%s", name.c_str()), 511u);
    // Without a code page the cut is at the byte.
    EXPECT_EQ(FormatStatusText(text, nullptr, "%s", name.c_str()), 511u);

    std::string error = "ab\xD6\xD0\xD6\xD0";
    CutText(error, 5, &IsGbkLeadByte);
    EXPECT_EQ(error, "ab\xD6\xD0");
    std::string shortText = "short";
    CutText(shortText, kErrorTextMax, &IsGbkLeadByte);
    EXPECT_EQ(shortText, "short");
    std::string trailingLead = std::string(300, 'e') + "\xD6";
    CutText(trailingLead, kErrorTextMax, &IsGbkLeadByte);
    EXPECT_EQ(trailingLead.size(), kErrorTextMax);
}

TEST(StatusProtocol, ReadingTextCarriesTheSpeedFromTheFirstWholeSecond)
{
    char text[kStatusTextSize];
    FormatReadingText(text, nullptr, "setup.exe", 4095, 0);
    EXPECT_STREQ(text, "setup.exe - Read 4095 bytes");
    FormatReadingText(text, nullptr, "setup.exe", 1536, 1);
    EXPECT_STREQ(text, "setup.exe - Read 1536 bytes (1.5 Kb/s)");
    FormatReadingText(text, nullptr, "setup.exe", 10 * 1024 * 1024, 4);
    EXPECT_STREQ(text, "setup.exe - Read 10485760 bytes (2560.0 Kb/s)");
    // Bytes kept from an earlier download count in the total, not in the speed.
    FormatReadingText(text, nullptr, "setup.exe", 10 * 1024 * 1024, 4, 10 * 1024 * 1024 - 4096);
    EXPECT_STREQ(text, "setup.exe - Read 10485760 bytes (1.0 Kb/s)");
    // Counts past 2 GiB stay positive.
    FormatReadingText(text, nullptr, "big", 0xFFFFFFFFu, 0);
    EXPECT_STREQ(text, "big - Read 4294967295 bytes");
    // And past 4 GiB the true count, not what is left of it in 32 bits.
    FormatReadingText(text, nullptr, "big", 5000000000ull, 0);
    EXPECT_STREQ(text, "big - Read 5000000000 bytes");
    FormatReadingText(text, nullptr, "big", 0x7FFFFFFFFFFFFFFFull, 0);
    EXPECT_STREQ(text, "big - Read 9223372036854775807 bytes");
}

TEST(StatusProtocol, BodyTextsNameTheCounts)
{
    EXPECT_EQ(ShortBodyText(8190, 100000), "connection closed after 8190 of 100000 bytes");
    EXPECT_EQ(ShortBodyText(0, 5000000000ull), "connection closed after 0 of 5000000000 bytes");
    EXPECT_EQ(LongBodyText(10), "body longer than its 10 bytes");
    EXPECT_EQ(DecimalText(0), "0");
    EXPECT_EQ(DecimalText(18446744073709551615ull), "18446744073709551615");
}

TEST(StatusProtocol, ChineseTextsAreCodePage936)
{
    // "正在升级" in GBK.
    EXPECT_NE(std::string(kTextStarting).find("\xD5\xFD\xD4\xDA\xC9\xFD\xBC\xB6"), std::string::npos);
}
