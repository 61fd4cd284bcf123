#include "link/LinkDecoding.h"

#include "framework/sys/HexDigits.h"

namespace {

bool IsAlnum(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
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

// 1 to maxDigits decimal digits without a leading zero; false for anything else.
template <typename Number>
bool ParseDecimal(std::string_view text, size_t maxDigits, Number& out)
{
    if (text.empty() || text.size() > maxDigits || text[0] == '0')
        return false;
    Number value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    out = value;
    return true;
}

}  // namespace

char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsQueryChar(char c)
{
    static constexpr std::string_view kMarks = "-._~!$&'()*,;=:@/?%";
    return IsAlnum(c) || kMarks.find(c) != std::string_view::npos;
}

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

bool IsFormatCharacter(char32_t c)
{
    // Unicode 15's Cf ranges, first and last.
    static constexpr char32_t kRanges[][2] = {
        {0xAD, 0xAD},       {0x600, 0x605},     {0x61C, 0x61C},     {0x6DD, 0x6DD},     {0x70F, 0x70F},
        {0x890, 0x891},     {0x8E2, 0x8E2},     {0x180E, 0x180E},   {0x200B, 0x200F},   {0x202A, 0x202E},
        {0x2060, 0x2064},   {0x2066, 0x206F},   {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD},
        {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001},
        {0xE0020, 0xE007F},
    };
    for (const auto& range : kRanges)
        if (c >= range[0] && c <= range[1])
            return true;
    return false;
}

bool IsBlank(char32_t c)
{
    return c == 0x20 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200B) || c == 0x2028 || c == 0x2029 ||
        c == 0x202F || c == 0x205F || c == 0x3000 || c == 0xFEFF;
}

bool AllHex(std::string_view text)
{
    for (char c : text)
        if (HexValue(c) < 0)
            return false;
    return true;
}

bool DecodeSignature(std::string_view text, unsigned char (&out)[64])
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

bool ParseExp(std::string_view text, long long& out)
{
    return ParseDecimal(text, 18, out);
}

long VersionNumber(std::string_view text)
{
    long number = -1;
    return ParseDecimal(text, 9, number) ? number : -1;
}
