#include "handler/SignedLink.h"

#include <utility>

#include "BuildConfig.h"
#include "LinkKeys.h"
#include "handler/LinkSignature.h"

// The highest link version (v) this reader reads (VANTORIMA_LINK_VERSION);
// every version up to it has the format of SignedLink.h.
#ifndef VANTORIMA_LINK_VERSION
#define VANTORIMA_LINK_VERSION 1
#endif

namespace {

constexpr long kLinkVersion = VANTORIMA_LINK_VERSION;
constexpr std::string_view kVerb = "launch";
constexpr size_t kSignatureChars = 86;  // 64 bytes in base64url, no padding

enum Param { kV, kId, kPass, kKey, kServer, kExp, kNonce, kSig, kParamCount };
constexpr std::string_view kParamNames[kParamCount] = {"v", "id", "pass", "key", "server", "exp", "nonce", "sig"};

ReadLinkResult Refused(std::string why)
{
    ReadLinkResult result;
    result.why = std::move(why);
    return result;
}

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = Lower(c);
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool IsAlnum(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// What may stand unencoded in the query: RFC 3986's query characters without
// '+', which form encoders write for a blank and a reader would take for a
// plus. Everything else comes percent-encoded or not at all.
bool IsQueryChar(char c)
{
    static constexpr std::string_view kMarks = "-._~!$&'()*,;=:@/?%";
    return IsAlnum(c) || kMarks.find(c) != std::string_view::npos;
}

// Percent-decoding; false on a '%' without two hex digits.
bool PercentDecode(std::string_view text, std::string& out)
{
    out.clear();
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size())
            return false;
        const int high = HexValue(text[i + 1]), low = HexValue(text[i + 2]);
        if (high < 0 || low < 0)
            return false;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return true;
}

// Decodes strict UTF-8 (no overlong forms, no surrogates, nothing above
// U+10FFFF) into code points; false when the bytes are not UTF-8.
bool DecodeUtf8(const std::string& text, std::u32string& out)
{
    out.clear();
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        const unsigned char b = p[i];
        char32_t cp;
        size_t extra;
        unsigned char lo = 0x80, hi = 0xBF;  // bounds of the second byte
        if (b < 0x80) {
            cp = b;
            extra = 0;
        } else if (b >= 0xC2 && b <= 0xDF) {
            cp = b & 0x1F;
            extra = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            cp = b & 0x0F;
            extra = 2;
            if (b == 0xE0)
                lo = 0xA0;
            else if (b == 0xED)
                hi = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            cp = b & 0x07;
            extra = 3;
            if (b == 0xF0)
                lo = 0x90;
            else if (b == 0xF4)
                hi = 0x8F;
        } else {
            return false;
        }
        if (n - i - 1 < extra)
            return false;
        for (size_t k = 1; k <= extra; ++k) {
            const unsigned char c = p[i + k];
            if (k == 1 ? (c < lo || c > hi) : (c < 0x80 || c > 0xBF))
                return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        out += cp;
        i += extra + 1;
    }
    return true;
}

bool IsControl(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// Blanks by Unicode's White_Space, and the zero-width ones that look alike.
bool IsBlank(char32_t c)
{
    return c == 0x20 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200B) || c == 0x2028 || c == 0x2029 ||
        c == 0x202F || c == 0x205F || c == 0x3000 || c == 0xFEFF;
}

// A value that goes into the client's command line (" /NAME:<id> ...
// /JOINKEY:<key>", unquoted) or its settings must stay one value there: no
// blank or quote (both split or join arguments), no leading '/' (a switch).
// id and key take no '/' at all: a reader that looks for "/PASSWORD:" in the
// line would otherwise find it inside the name.
const char* CommandLineFault(const std::u32string& value, bool slashAnywhere)
{
    if (!value.empty() && value[0] == U'/')
        return "switch";
    for (char32_t c : value) {
        if (IsBlank(c))
            return "blank";
        if (c == U'"' || c == U'\'')
            return "quote";
        if (slashAnywhere && c == U'/')
            return "switch";
    }
    return nullptr;
}

bool AllHex(const std::string& text)
{
    for (char c : text)
        if (HexValue(c) < 0)
            return false;
    return true;
}

int Base64UrlValue(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '-')
        return 62;
    if (c == '_')
        return 63;
    return -1;
}

// Exactly 86 base64url characters whose last 4 spare bits are zero: one
// spelling per signature.
bool DecodeSignature(const std::string& text, unsigned char (&out)[64])
{
    if (text.size() != kSignatureChars)
        return false;
    unsigned bits = 0, count = 0;
    size_t at = 0;
    for (char c : text) {
        const int v = Base64UrlValue(c);
        if (v < 0)
            return false;
        bits = (bits << 6) | static_cast<unsigned>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            if (at < sizeof out)
                out[at++] = static_cast<unsigned char>(bits >> count);
            bits &= (1u << count) - 1;
        }
    }
    return at == sizeof out && bits == 0;
}

// 1 to 18 decimal digits without a leading zero: fits a long long.
bool ParseExp(const std::string& text, long long& out)
{
    if (text.empty() || text.size() > 18 || text[0] == '0')
        return false;
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    out = value;
    return true;
}

std::string Named(const char* what, Param p)
{
    return std::string(what) + " " + std::string(kParamNames[p]);
}

// v as a number: 1 to 9 digits without a leading zero; else -1.
long VersionNumber(std::string_view text)
{
    if (text.empty() || text.size() > 9 || text[0] == '0')
        return -1;
    long number = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return -1;
        number = number * 10 + (c - '0');
    }
    return number;
}

// A link whose v is a number above kLinkVersion, with its signed part and
// signature; newerVersion stays false for any other link.
ReadLinkResult ReadNewerLink(std::string_view link, std::string_view query)
{
    ReadLinkResult result;
    long version = -1;
    for (size_t at = 0; at <= query.size() && version < 0;) {
        size_t end = query.find('&', at);
        end = end == std::string_view::npos ? query.size() : end;
        if (query.substr(at, 2) == "v=")
            version = VersionNumber(query.substr(at + 2, end - at - 2));
        at = end + 1;
    }
    const size_t sig = link.rfind("&sig=");
    if (version <= kLinkVersion || sig == std::string_view::npos)
        return result;
    if (!DecodeSignature(std::string(link.substr(sig + 5)), result.signature)) {
        result.why = "bad sig";
        return result;
    }
    result.newerVersion = true;
    result.why = "newer version";
    result.signedPart = link.substr(0, sig);
    return result;
}

}  // namespace

ReadLinkResult ReadLink(std::string_view link)
{
    if (link.size() > kMaxLinkChars)
        return Refused("link too long");

    // <scheme>:launch?...
    const std::string_view scheme = VANTORIMA_URL_SCHEME;
    const size_t colon = link.find(':');
    if (colon == std::string_view::npos || colon != scheme.size())
        return Refused("other scheme");
    for (size_t i = 0; i < colon; ++i)
        if (Lower(link[i]) != scheme[i])
            return Refused("other scheme");
    const size_t question = link.find('?', colon + 1);
    if (question == std::string_view::npos)
        return Refused(link.substr(colon + 1) == kVerb ? "missing parameter v" : "other verb");
    if (link.substr(colon + 1, question - colon - 1) != kVerb)
        return Refused("other verb");
    const std::string_view query = link.substr(question + 1);
    for (char c : query)
        if (!IsQueryChar(c))
            return Refused("character not allowed in a link");

    // A newer format may add or change parameters; its signature still covers
    // everything before the last "&sig=", which is all of it but the
    // signature itself.
    if (const ReadLinkResult newer = ReadNewerLink(link, query); newer.newerVersion)
        return newer;

    // name=value pairs, each name once, sig last.
    std::string_view raw[kParamCount];
    bool seen[kParamCount] = {};
    size_t sigStart = 0;  // offset in link of the "&sig=" that ends the signed part
    for (size_t at = 0; at <= query.size();) {
        size_t end = query.find('&', at);
        if (end == std::string_view::npos)
            end = query.size();
        const std::string_view pair = query.substr(at, end - at);
        const size_t equals = pair.find('=');
        if (equals == std::string_view::npos)
            return Refused(pair.empty() ? "empty parameter" : "parameter without value");
        const std::string_view name = pair.substr(0, equals);
        int p = 0;
        while (p < kParamCount && kParamNames[p] != name)
            ++p;
        if (p == kParamCount)
            return Refused("unknown parameter");
        if (seen[p])
            return Refused(Named("repeated parameter", static_cast<Param>(p)));
        if (seen[kSig])
            return Refused("sig not last");
        seen[p] = true;
        raw[p] = pair.substr(equals + 1);
        if (p == kSig)
            sigStart = question + at;  // at > 0 here: the '&' before "sig="
        at = end + 1;
    }
    for (int p = 0; p < kParamCount; ++p)
        if (!seen[p])
            return Refused(Named("missing parameter", static_cast<Param>(p)));

    std::string value[kParamCount];
    for (int p = 0; p < kParamCount; ++p) {
        const Param param = static_cast<Param>(p);
        if (!PercentDecode(raw[p], value[p]))
            return Refused(Named("bad escape in", param));
        std::u32string text;
        if (!DecodeUtf8(value[p], text))
            return Refused(Named("invalid UTF-8 in", param));
        for (char32_t c : text)
            if (IsControl(c))
                return Refused(Named("control character in", param));
        if (p == kId || p == kKey || p == kServer)
            if (const char* fault = CommandLineFault(text, p != kServer))
                return Refused(std::string(fault) + " in " + std::string(kParamNames[p]));
    }

    if (VersionNumber(value[kV]) < 1 || VersionNumber(value[kV]) > kLinkVersion)
        return Refused("unknown version");
    if (value[kId].size() > kMaxLinkIdBytes)
        return Refused("id too long");
    if (value[kKey].size() > kMaxLinkKeyBytes)
        return Refused("key too long");
    if (value[kServer].size() > kMaxLinkServerBytes)
        return Refused("server too long");
    const std::string& pass = value[kPass];
    if (pass.size() == kLinkTokenChars) {
        if (!AllHex(pass))
            return Refused("pass of 64 characters is not a token");
    } else if (pass.size() > kMaxLinkPasswordBytes) {
        return Refused("pass too long");
    }

    ReadLinkResult result;
    if (!ParseExp(value[kExp], result.fields.exp))
        return Refused("bad exp");
    std::string& nonce = value[kNonce];
    if (nonce.size() < kMinNonceDigits || nonce.size() > kMaxNonceDigits || !AllHex(nonce))
        return Refused("bad nonce");
    for (char& c : nonce)
        c = Lower(c);
    if (!DecodeSignature(value[kSig], result.signature))
        return Refused("bad sig");

    result.ok = true;
    result.fields.id = std::move(value[kId]);
    result.fields.pass = std::move(value[kPass]);
    result.fields.key = std::move(value[kKey]);
    result.fields.server = std::move(value[kServer]);
    result.fields.nonce = std::move(nonce);
    result.signedPart = link.substr(0, sigStart);
    return result;
}

const char* AnsiValueFault(std::string_view ansi, bool slashAnywhere)
{
    if (!ansi.empty() && ansi[0] == '/')
        return "switch";
    // Bytes below 0x40 are never trail bytes of a double-byte code page.
    for (char c : ansi) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F)
            return "control character";
        if (c == ' ')
            return "blank";
        if (c == '"' || c == '\'')
            return "quote";
        if (slashAnywhere && c == '/')
            return "switch";
    }
    return nullptr;
}

CheckedLink CheckLinkWith(std::string_view link, long long nowUnixSeconds, const LinkPublicKey* keys, size_t keyCount,
                          long long maxAheadSeconds)
{
    CheckedLink checked;
    ReadLinkResult read = ReadLink(link);
    if (!read.ok && !read.newerVersion) {
        checked.why = std::move(read.why);
        return checked;
    }
    bool verified = false;
    for (size_t i = 0; i < keyCount && !verified; ++i)
        verified = VerifyLinkSignature(keys[i], read.signedPart, read.signature);
    if (!verified) {
        checked.why = "signature does not verify";
        return checked;
    }
    // Genuine, in a format this reader does not know: a newer handler may.
    if (read.newerVersion) {
        checked.why = std::move(read.why);
        checked.newerVersion = true;
        return checked;
    }
    if (nowUnixSeconds >= read.fields.exp) {
        checked.why = "expired";
        return checked;
    }
    // exp > now: the difference fits an unsigned 64-bit number.
    const unsigned long long ahead =
        static_cast<unsigned long long>(read.fields.exp) - static_cast<unsigned long long>(nowUnixSeconds);
    if (maxAheadSeconds < 0 || ahead > static_cast<unsigned long long>(maxAheadSeconds)) {
        checked.why = "exp too far ahead";
        return checked;
    }
    checked.ok = true;
    checked.fields = std::move(read.fields);
    return checked;
}

CheckedLink CheckLink(std::string_view link, long long nowUnixSeconds)
{
    return CheckLinkWith(link, nowUnixSeconds, kLinkKeys, kLinkKeyCount, VANTORIMA_LINK_MAX_AGE);
}
