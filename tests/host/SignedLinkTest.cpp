#include "link/SignedLink.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "BuildConfig.h"

// Every vector is signed by the openssl command line that docs/security.md gives the
// service (link-key.pem of the build's test certificates), so a refusal below
// comes from the fault under test and not from a missing signature.
namespace {

constexpr long long kNow = 1800000000;
constexpr long long kMaxAhead = 300;
const std::string kScheme = VANTORIMA_URL_SCHEME;

std::string Shell(const std::string& command)
{
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return out;
    char buffer[256];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    pclose(pipe);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

std::string Quoted(const std::string& text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// docs/security.md's two command lines: r || s in hex, then base64url without padding.
std::string OpensslSignature(const std::string& signedPart, const std::string& privatePem)
{
    const std::string rs =
        Shell("printf '%s' " + Quoted(signedPart) + " | openssl dgst -sha256 -sign " + Quoted(privatePem) +
              " | openssl asn1parse -inform DER"
              " | awk -F: '/INTEGER/ { v = $NF; while (length(v) < 64) v = \"0\" v; printf \"%s\", v }'");
    return Shell("printf '%s' " + Quoted(rs) + " | basenc --base16 -d | basenc --base64url -w0 | tr -d '='");
}

// X || Y of a public key in PEM.
LinkPublicKey RawKey(const std::string& publicPem)
{
    const std::string hex =
        Shell("openssl pkey -pubin -in " + Quoted(publicPem) + " -outform DER | tail -c 64 | basenc --base16 -w0");
    LinkPublicKey key{};
    for (size_t i = 0; i < 64 && 2 * i + 1 < hex.size(); ++i)
        key.xy[i] = static_cast<unsigned char>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
    return key;
}

using Params = std::vector<std::pair<std::string, std::string>>;

Params GoodParams()
{
    return {{"v", "1"},
            {"id", "%E5%BC%A0%E4%B8%89"},  // 张三
            {"pass", "p%26ss%3D%20word"},
            {"key", "1000"},
            {"server", "go.example.com%3A7000"},
            {"exp", std::to_string(kNow + 120)},
            {"nonce", "00112233445566778899AABBCCDDEEFF"}};
}

std::string Join(const Params& params, const std::string& head)
{
    std::string link = head;
    for (size_t i = 0; i < params.size(); ++i)
        link += (i ? "&" : "") + params[i].first + "=" + params[i].second;
    return link;
}

class SignedLink : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = new std::string(Shell("mktemp -d"));
        Shell("openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out " + *dir_ + "/other.pem && " +
              "openssl pkey -in " + *dir_ + "/other.pem -pubout -out " + *dir_ + "/other-pub.pem");
        testKey_ = RawKey(VANTORIMA_TEST_SIGNING "/link-pub.pem");
        otherKey_ = RawKey(*dir_ + "/other-pub.pem");
    }
    static void TearDownTestSuite()
    {
        Shell("rm -rf " + Quoted(*dir_));
        delete dir_;
    }

    static std::string Sign(const std::string& unsignedLink,
                            const std::string& privatePem = VANTORIMA_TEST_SIGNING "/link-key.pem")
    {
        return unsignedLink + "&sig=" + OpensslSignature(unsignedLink, privatePem);
    }
    static std::string Link(const Params& params) { return Sign(Join(params, kScheme + ":launch?")); }
    static CheckedLink Check(const std::string& link, long long now = kNow)
    {
        return CheckLinkWith(link, now, &testKey_, 1, kMaxAhead);
    }

    static std::string* dir_;
    static LinkPublicKey testKey_, otherKey_;
};
std::string* SignedLink::dir_;
LinkPublicKey SignedLink::testKey_, SignedLink::otherKey_;

Params With(Params params, const std::string& name, const std::string& value)
{
    for (auto& p : params)
        if (p.first == name)
            p.second = value;
    return params;
}

Params Without(Params params, const std::string& name)
{
    for (auto it = params.begin(); it != params.end(); ++it)
        if (it->first == name) {
            params.erase(it);
            break;
        }
    return params;
}

Params Plus(Params params, const std::string& name, const std::string& value)
{
    params.emplace_back(name, value);
    return params;
}

}  // namespace

TEST_F(SignedLink, GoodLinkGivesTheDecodedValues)
{
    const CheckedLink checked = Check(Link(GoodParams()));
    ASSERT_TRUE(checked.ok) << checked.why;
    EXPECT_EQ(checked.fields.id, "\xE5\xBC\xA0\xE4\xB8\x89");
    EXPECT_EQ(checked.fields.pass, "p&ss= word");
    EXPECT_EQ(checked.fields.key, "1000");
    EXPECT_EQ(checked.fields.server, "go.example.com:7000");
    EXPECT_EQ(checked.fields.exp, kNow + 120);
    EXPECT_EQ(checked.fields.nonce, "00112233445566778899aabbccddeeff");  // one form for the ledger

    // Empty values are what the control takes too; a ready token and the
    // longest values pass; the scheme is read without case.
    const std::string token(64, 'a');
    Params edge = With(With(GoodParams(), "key", ""), "server", "");
    edge = With(With(edge, "pass", token), "id", std::string(kMaxLinkIdBytes, 'i'));
    edge = With(edge, "nonce", std::string(kMaxNonceDigits, 'f'));
    std::string mixedCase = kScheme;
    mixedCase[0] = static_cast<char>(mixedCase[0] - 'a' + 'A');
    const CheckedLink edgeChecked = Check(Sign(Join(edge, mixedCase + ":launch?")));
    ASSERT_TRUE(edgeChecked.ok) << edgeChecked.why;
    EXPECT_EQ(edgeChecked.fields.pass, token);
    EXPECT_EQ(edgeChecked.fields.key, "");
}

TEST_F(SignedLink, StrictReadingRefusesEachFault)
{
    const Params good = GoodParams();
    const std::string head = kScheme + ":launch?";
    struct Case {
        std::string link, why;
    };
    const std::string over26(27, 'p'), notToken(63, 'a');
    const Case cases[] = {
        {Link(Without(good, "id")), "missing parameter id"},
        {Link(Without(good, "nonce")), "missing parameter nonce"},
        {Link(Without(good, "v")), "missing parameter v"},
        {Link(Plus(good, "foo", "1")), "unknown parameter"},
        {Link(Plus(good, "ID", "x")), "unknown parameter"},
        {Link(Plus(good, "id", "x")), "repeated parameter id"},
        {Link(Plus(good, "server", "")), "repeated parameter server"},
        {Link(With(good, "id", "a%4")), "bad escape in id"},
        {Link(With(good, "pass", "%G1")), "bad escape in pass"},
        {Link(With(good, "id", "%C3%28")), "invalid UTF-8 in id"},
        {Link(With(good, "server", "%C0%AF")), "invalid UTF-8 in server"},  // overlong '/'
        {Link(With(good, "pass", "%ED%A0%80")), "invalid UTF-8 in pass"},  // a surrogate
        {Link(With(good, "id", "%F4%90%80%80")), "invalid UTF-8 in id"},  // above U+10FFFF
        {Link(With(good, "pass", "a%00b")), "control character in pass"},
        {Link(With(good, "id", "a%09b")), "control character in id"},
        // Invisible in the account question: "alice" with a zero-width
        // joiner, a right-to-left override, a zero-width space.
        {Link(With(good, "id", "ali%E2%80%8Dce")), "format character in id"},
        {Link(With(good, "id", "%E2%80%AEecila")), "format character in id"},
        {Link(With(good, "id", "ali%E2%80%8Bce")), "format character in id"},
        {Link(With(good, "key", "%C2%85")), "control character in key"},  // NEL
        {Link(With(good, "id", std::string(kMaxLinkIdBytes + 1, 'i'))), "id too long"},
        {Link(With(good, "key", std::string(kMaxLinkKeyBytes + 1, 'k'))), "key too long"},
        {Link(With(good, "server", std::string(kMaxLinkServerBytes + 1, 's'))), "server too long"},
        {Link(With(good, "pass", over26)), "pass too long"},
        {Link(With(good, "pass", std::string(65, 'a'))), "pass too long"},
        {Link(With(good, "pass", notToken + "g")), "pass of 64 characters is not a token"},
        {Link(With(good, "id", "player%20one")), "blank in id"},
        {Link(With(good, "key", "1%E3%80%80")), "blank in key"},  // ideographic space
        {Link(With(good, "server", "a%C2%A0b")), "blank in server"},  // no-break space
        {Link(With(good, "id", "a%22b")), "quote in id"},
        {Link(With(good, "key", "x'y")), "quote in key"},
        {Link(With(good, "server", "%2Fhost")), "switch in server"},
        {Link(With(good, "id", "%2FPASSWORD:x")), "switch in id"},
        {Link(With(good, "id", "me%2FPASSWORD:x")), "switch in id"},
        {Link(With(good, "v", "0")), "unknown version"},
        {Link(With(good, "v", "01")), "unknown version"},
        {Link(With(good, "v", "1.1")), "unknown version"},
        {Link(With(good, "exp", "0" + std::to_string(kNow + 60))), "bad exp"},
        {Link(With(good, "exp", "-5")), "bad exp"},
        {Link(With(good, "exp", "1e9")), "bad exp"},
        {Link(With(good, "nonce", std::string(kMinNonceDigits - 1, 'a'))), "bad nonce"},
        {Link(With(good, "nonce", std::string(kMaxNonceDigits + 1, 'a'))), "bad nonce"},
        {Link(With(good, "nonce", "0123456789abcdeg")), "bad nonce"},
        {Link(With(good, "pass", "a+b")), "character not allowed in a link"},  // a form encoder's blank
        {Link(With(good, "id", "a b")), "character not allowed in a link"},
        {Link(With(good, "id", "a#b")), "character not allowed in a link"},
        {Sign(Join(good, head) + "&"), "empty parameter"},
        {Sign(Join(good, head) + "&x"), "parameter without value"},
        {Sign(Join(good, kScheme + ":open?")), "other verb"},
        {Sign(Join(good, kScheme + ":launch/?")), "other verb"},
        {Sign(Join(good, kScheme + "x:launch?")), "other scheme"},
        {Sign(Join(good, "//launch?")), "other scheme"},
        {Join(good, head) + "&sig=" + OpensslSignature(Join(good, head), VANTORIMA_TEST_SIGNING "/link-key.pem") +
             "&v=1",
         "repeated parameter v"},
        {Join(good, head) + "&sig=AAAA&nonce=00", "repeated parameter nonce"},
        {Join(Without(good, "nonce"), head) + "&sig=" + std::string(86, 'A') + "&nonce=0011223344556677",
         "sig not last"},
        {Join(good, head) + "&sig=" + std::string(85, 'A'), "bad sig"},
        {Join(good, head) + "&sig=" + std::string(85, 'A') + "B", "bad sig"},  // spare bits set
        {Join(good, head) + "&sig=" + std::string(84, 'A') + "==", "bad sig"},
    };
    for (const Case& c : cases) {
        const CheckedLink checked = Check(c.link);
        EXPECT_FALSE(checked.ok) << c.link;
        EXPECT_EQ(checked.why, c.why) << c.link;
    }

    // Length: 2,049 characters are refused before anything else is read.
    std::string link = Link(good);
    link += "&pad=" + std::string(kMaxLinkChars - link.size() - 5, 'x');
    ASSERT_EQ(link.size(), kMaxLinkChars);
    EXPECT_EQ(Check(link).why, "unknown parameter");
    EXPECT_EQ(Check(link + "x").why, "link too long");
}

TEST_F(SignedLink, SignatureCoversTheExactBytesUnderAListedKey)
{
    const std::string good = Link(GoodParams());
    ASSERT_TRUE(Check(good).ok);

    std::string otherBytes = good;
    otherBytes.replace(otherBytes.find("key=1000"), 8, "key=1001");
    std::string flipped = good;
    flipped[flipped.size() - 10] = flipped[flipped.size() - 10] == 'A' ? 'B' : 'A';
    const std::string unlisted = Sign(Join(GoodParams(), kScheme + ":launch?"), *dir_ + "/other.pem");
    for (const std::string& link : {otherBytes, flipped, unlisted}) {
        EXPECT_EQ(Check(link).why, "signature does not verify") << link;
        EXPECT_FALSE(Check(link).verified);  // its nonce is nobody's: never reported
        EXPECT_EQ(Check(link).fields.nonce, "");
    }

    // A newer version: its signature over the bytes before the last "&sig=",
    // whatever its parameters, and its exp and nonce are read; the reader
    // tells it apart only when it is fresh.
    const std::string newer = Link(Plus(With(GoodParams(), "v", "2"), "extra", "new"));
    const CheckedLink newerChecked = Check(newer);
    EXPECT_FALSE(newerChecked.ok);
    EXPECT_TRUE(newerChecked.newerVersion);
    EXPECT_EQ(newerChecked.why, "newer version");
    EXPECT_TRUE(newerChecked.verified);
    EXPECT_EQ(newerChecked.fields.exp, kNow + 120);
    EXPECT_EQ(newerChecked.fields.nonce, Check(Link(GoodParams())).fields.nonce);
    const struct {
        std::string link;
        long long now;
        const char* why;
    } stale[] = {
        {newer, kNow + 120, "expired"},
        {newer, kNow + 119 - kMaxAhead, "exp too far ahead"},
        {Link(Without(With(GoodParams(), "v", "2"), "nonce")), kNow, "missing parameter nonce"},
        {Link(With(With(GoodParams(), "v", "2"), "nonce", "12")), kNow, "bad nonce"},
        {Link(Plus(With(GoodParams(), "v", "2"), "exp", "1")), kNow, "repeated parameter exp"},
    };
    for (const auto& c : stale) {
        const CheckedLink checked = Check(c.link, c.now);
        EXPECT_EQ(checked.why, c.why) << c.link;
        EXPECT_FALSE(checked.newerVersion) << c.link;
    }
    std::string newerChanged = newer;
    newerChanged.replace(newerChanged.find("extra=new"), 9, "extra=old");
    for (const std::string& link :
         {newerChanged, Sign(Join(With(GoodParams(), "v", "2"), kScheme + ":launch?"), *dir_ + "/other.pem")}) {
        EXPECT_EQ(Check(link).why, "signature does not verify") << link;
        EXPECT_FALSE(Check(link).newerVersion);
    }

    // A key that is listed, second of two.
    const LinkPublicKey both[] = {testKey_, otherKey_};
    EXPECT_TRUE(CheckLinkWith(unlisted, kNow, both, 2, kMaxAhead).ok);
    EXPECT_FALSE(CheckLinkWith(good, kNow, both + 1, 1, kMaxAhead).ok);
}

TEST_F(SignedLink, FreshOnlyUntilExpAndNotTooFarAhead)
{
    const std::string link = Link(GoodParams());  // exp = kNow + 120
    EXPECT_TRUE(Check(link, kNow + 119).ok);
    EXPECT_EQ(Check(link, kNow + 120).why, "expired");
    // Genuine though refused: the launcher tells the service about its nonce.
    EXPECT_TRUE(Check(link, kNow + 120).verified);
    EXPECT_EQ(Check(link, kNow + 120).fields.nonce, "00112233445566778899aabbccddeeff");
    EXPECT_EQ(Check(link, kNow + 100000).why, "expired");
    EXPECT_TRUE(Check(link, kNow + 120 - kMaxAhead).ok);
    EXPECT_EQ(Check(link, kNow + 119 - kMaxAhead).why, "exp too far ahead");
    EXPECT_EQ(Check(link, -9000000000000000000LL).why, "exp too far ahead");
    const std::string farFuture = Link(With(GoodParams(), "exp", "999999999999999999"));
    EXPECT_EQ(Check(farFuture).why, "exp too far ahead");
}

// The service's tool makes links that the compiled-in keys accept, now.
TEST_F(SignedLink, ToolSignsWhatTheHandlerTakes)
{
    const std::string tool = VANTORIMA_LINK_TOOL;
    const std::string key = VANTORIMA_TEST_SIGNING "/link-key.pem";
    const std::string link = Shell(tool + " sign --private " + key +
                                   " --id $(printf 'Go\\345\\274\\240') --pass 's3cr&t=%' --join-key 42 --ttl 60");
    const CheckedLink checked = CheckLinkWith(link, static_cast<long long>(std::time(nullptr)), &testKey_, 1, 300);
    ASSERT_TRUE(checked.ok) << link << ": " << checked.why;
    EXPECT_EQ(checked.fields.id, "Go\xE5\xBC\xA0");
    EXPECT_EQ(checked.fields.pass, "s3cr&t=%");
    EXPECT_EQ(checked.fields.key, "42");
    EXPECT_EQ(checked.fields.server, "");
    EXPECT_EQ(checked.fields.nonce.size(), 32u);
    if (VANTORIMA_TEST_KEY_COMPILED_IN) {
        EXPECT_TRUE(CheckLink(link, static_cast<long long>(std::time(nullptr))).ok);
    }

    // The password from standard input signs the same values, and never shows
    // in the tool's arguments (read while it waits for its input).
    const struct {
        const char* pass;  // the --pass argument
        const char* input;
    } ways[] = {{"'s3cr&t=%'", ""}, {"-", "s3cr&t=%"}, {"-", "s3cr&t=%\n"}, {"-", "s3cr&t=%\r\n"}};
    for (const auto& way : ways) {
        SCOPED_TRACE(way.input);
        const std::string out = Shell("made=$(mktemp); { sleep 0.5; printf '%b' '" + std::string(way.input) +
                                      "'; } | " + tool + " sign --private " + key + " --id a --pass " + way.pass +
                                      " >$made & tool=$!; sleep 0.2; tr '\\0' ' ' </proc/$tool/cmdline 2>/dev/null;"
                                      " echo; wait; cat $made; rm -f $made");
        const size_t line = out.find('\n');
        ASSERT_NE(line, std::string::npos) << out;
        if (*way.input) {
            EXPECT_NE(out.substr(0, line).find("--pass -"), std::string::npos) << out;
            EXPECT_EQ(out.substr(0, line).find("s3cr"), std::string::npos) << out;
        }
        const CheckedLink read =
            CheckLinkWith(out.substr(line + 1), static_cast<long long>(std::time(nullptr)), &testKey_, 1, 300);
        ASSERT_TRUE(read.ok) << out << ": " << read.why;
        EXPECT_EQ(read.fields.pass, "s3cr&t=%");
    }
    EXPECT_EQ(Shell("printf 'a\nb' | " + tool + " sign --private " + key + " --id a --pass - 2>/dev/null; echo rc=$?"),
              "rc=1");

    // What the handler would refuse is not printed at all.
    EXPECT_EQ(Shell(tool + " sign --private " + key + " --id 'a b' --pass x 2>/dev/null; echo rc=$?"), "rc=2");
    EXPECT_EQ(Shell(tool + " sign --private " + key + " --id a --pass x --ttl 301 2>/dev/null; echo rc=$?"), "rc=1");
    for (const char* version : {"0", "1000", "2x", ""})
        EXPECT_EQ(
            Shell(tool + " sign --private " + key + " --id a --pass x --v '" + version + "' 2>/dev/null; echo rc=$?"),
            "rc=1")
            << version;
}

// After the conversion to the ANSI code page the rule holds again; double-byte
// characters (GBK's trail bytes lie at 0x40 and above) pass.
TEST(SignedLinkAnsi, ConvertedValueStaysOneArgument)
{
    EXPECT_EQ(AnsiValueFault("\xD5\xC5\xC8\xFD", true), nullptr);  // 张三 in GBK
    EXPECT_EQ(AnsiValueFault("a/b", false), nullptr);
    const struct {
        const char* value;
        bool slashAnywhere;
        std::string fault;
    } faults[] = {{"a\"b", true, "quote"}, {"'", false, "quote"},   {"a b", true, "blank"},
                  {"/x", false, "switch"}, {"a/b", true, "switch"}, {"a\tb", false, "control character"}};
    for (const auto& f : faults) {
        const char* fault = AnsiValueFault(f.value, f.slashAnywhere);
        ASSERT_NE(fault, nullptr) << f.value;
        EXPECT_EQ(fault, f.fault) << f.value;
    }
}
