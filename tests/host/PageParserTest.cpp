#include "testbed/PageParser.h"

#include <gtest/gtest.h>

using Params = std::vector<std::pair<std::string, std::string>>;

TEST(PageParser, FindsTheObjectItsParamsAndTheTitle)
{
    const PageObject page = ParsePage(R"(<html><head><title>VOK &amp; Go</title></head><body>
        <OBJECT id="vok" CodeBase='Vantorima.cab#version=1,0,0,2' width=0
                classid="clsid:12345678-1234-1234-1234-123456789ABC">
          <param name="strID" value="guest">
          <PARAM VALUE='s&#51;cret "q"' NAME='strPass'/>
          <param name=key value=77>
          <param value="" name="strServer">
        </object>
        <param name="outside" value="ignored">
        </body></html>)");
    ASSERT_TRUE(page.found);
    EXPECT_EQ(page.classId, "{12345678-1234-1234-1234-123456789ABC}");
    EXPECT_EQ(page.codebase, "Vantorima.cab#version=1,0,0,2");
    EXPECT_EQ(page.title, "VOK & Go");
    EXPECT_EQ(page.params, (Params{{"strID", "guest"}, {"strPass", "s3cret \"q\""}, {"key", "77"}, {"strServer", ""}}));
}

TEST(PageParser, DecodesCharacterReferencesToUtf8)
{
    // 围棋 in UTF-8; bad code points become U+FFFD.
    EXPECT_EQ(DecodeEntities("&#x56F4;&#26827; &lt;a&gt; &quot;&apos;"), "\xE5\x9B\xB4\xE6\xA3\x8B <a> \"'");
    EXPECT_EQ(DecodeEntities("AT&T &unknown; &#xZZ; & ;"), "AT&T &unknown; &#xZZ; & ;");
    EXPECT_EQ(DecodeEntities("&#0; &#xD800;"), "\xEF\xBF\xBD \xEF\xBF\xBD");
}

TEST(PageParser, SkipsCommentsAndObjectsWithoutAClassId)
{
    const PageObject page = ParsePage(R"(<!-- <object classid="clsid:0-0-0-0-1"><param name="a" value="1"></object> -->
        <object data="movie.swf"><param name="b" value="2"></object>
        <object classid="CLSID:AAAAAAAA-0000-0000-0000-000000000000"><param name="c" value="3"></object>)");
    ASSERT_TRUE(page.found);
    EXPECT_EQ(page.classId, "{AAAAAAAA-0000-0000-0000-000000000000}");
    EXPECT_EQ(page.params, (Params{{"c", "3"}}));
}

TEST(PageParser, ToleratesBrokenPages)
{
    EXPECT_FALSE(ParsePage("").found);
    const PageObject cut = ParsePage("<object classid='clsid:1-2'><param name=\"a\" value=\"unterminated");
    EXPECT_TRUE(cut.found);
    EXPECT_EQ(cut.params, (Params{{"a", "unterminated"}}));
}
