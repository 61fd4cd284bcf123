#include "download/StatusProtocol.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/FormatText.h"

uint32_t PackStatus(unsigned code, unsigned percent)
{
    return (static_cast<uint32_t>(percent & 0xFFFF) << 16) | (code & 0xFFFF);
}

unsigned PercentOf(uint64_t received, uint64_t total)
{
    if (total == 0 || received >= total)
        return 100;
    // received * 100 may not fit in 64 bits: two decimal digits of long
    // division, each by ten additions of a remainder below total (< 2^63).
    unsigned percent = 0;
    uint64_t rest = received;
    for (int digit = 0; digit < 2; ++digit) {
        uint64_t sum = 0;
        unsigned value = 0;
        for (int i = 0; i < 10; ++i) {
            sum += rest;
            if (sum >= total) {
                sum -= total;
                ++value;
            }
        }
        percent = percent * 10 + value;
        rest = sum;
    }
    return percent;
}

namespace {

bool IsBlankChar(char c)
{
    return c == ' ' || c == '\t';
}

// A decimal number of at most kMaxContentLength at text; advances past it.
bool ParseNumber(const char*& text, uint64_t& value)
{
    if (*text < '0' || *text > '9')
        return false;
    uint64_t number = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        const unsigned digit = static_cast<unsigned>(*text - '0');
        // Constants, so that no 64-bit division is linked in.
        if (number > kMaxContentLength / 10 || (number == kMaxContentLength / 10 && digit > kMaxContentLength % 10))
            return false;
        number = number * 10 + digit;
    }
    value = number;
    return true;
}

}  // namespace

bool ParseContentLength(const char* text, uint64_t& length)
{
    if (!text)
        return false;
    while (IsBlankChar(*text))
        ++text;
    uint64_t value = 0;
    if (!ParseNumber(text, value))
        return false;
    while (IsBlankChar(*text))
        ++text;
    if (*text)
        return false;
    length = value;
    return true;
}

std::string DecimalText(uint64_t count)
{
    char digits[24];
#ifdef _WIN32
    // The system runtime's, rather than a 64-bit division of our own.
    _ui64toa(count, digits, 10);
#else
    std::snprintf(digits, sizeof digits, "%llu", static_cast<unsigned long long>(count));
#endif
    return digits;
}

bool FileNameFromUrl(const std::string& url, std::string& name)
{
    const size_t slash = url.rfind('/');
    if (slash == std::string::npos)
        return false;
    name = url.substr(slash + 1);
    return true;
}

size_t CutText(char* text, size_t length, size_t maxBytes, LeadBytePredicate isLeadByte)
{
    if (length <= maxBytes)
        return length;
    size_t end = maxBytes;
    if (isLeadByte) {
        // Walk whole characters: the last one may not fit.
        size_t at = 0;
        while (at < maxBytes) {
            const size_t width = (isLeadByte(static_cast<unsigned char>(text[at])) && at + 1 < length) ? 2 : 1;
            if (at + width > maxBytes)
                break;
            at += width;
        }
        end = at;
    }
    text[end] = '\0';
    return end;
}

void CutText(std::string& text, size_t maxBytes, LeadBytePredicate isLeadByte)
{
    if (text.size() > maxBytes)
        text.resize(CutText(&text[0], text.size(), maxBytes, isLeadByte));
}

size_t FormatStatusTextV(char (&buffer)[kStatusTextSize], LeadBytePredicate isLeadByte, const char* format,
                         va_list args)
{
    // Format in full first, so a cut can respect character boundaries.
    char full[kStatusTextSize * 2];
    full[0] = '\0';
    va_list copy;
    va_copy(copy, args);
    size_t length = FormatTextV(full, sizeof full, format, copy);
    va_end(copy);
    length = CutText(full, length, kStatusTextSize - 1, isLeadByte);
    std::memcpy(buffer, full, length);
    buffer[length] = '\0';
    return length;
}

size_t FormatStatusText(char (&buffer)[kStatusTextSize], LeadBytePredicate isLeadByte, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const size_t length = FormatStatusTextV(buffer, isLeadByte, format, args);
    va_end(args);
    return length;
}

size_t FormatReadingText(char (&buffer)[kStatusTextSize], LeadBytePredicate isLeadByte, const char* name,
                         uint64_t received, uint32_t elapsedSeconds, uint64_t earlier)
{
    const std::string count = DecimalText(received);
    if (elapsedSeconds == 0)
        return FormatStatusText(buffer, isLeadByte, "%s - Read %s bytes", name, count.c_str());
    const uint64_t counted = received > earlier ? received - earlier : 0;
    const double speed = static_cast<double>(counted) / 1024.0 / elapsedSeconds;
    return FormatStatusText(buffer, isLeadByte, "%s - Read %s bytes (%0.1f Kb/s)", name, count.c_str(), speed);
}

std::string ShortBodyText(uint64_t received, uint64_t total)
{
    return "connection closed after " + DecimalText(received) + " of " + DecimalText(total) + " bytes";
}

std::string LongBodyText(uint64_t total)
{
    return "body longer than its " + DecimalText(total) + " bytes";
}

bool ParseContentRange(const char* text, uint64_t& first, uint64_t& last, uint64_t& total)
{
    if (!text)
        return false;
    while (*text == ' ' || *text == '\t')
        ++text;
    if (std::strncmp(text, "bytes ", 6) != 0)
        return false;
    text += 6;
    uint64_t a = 0, b = 0, t = 0;
    if (!ParseNumber(text, a) || *text++ != '-' || !ParseNumber(text, b) || *text++ != '/' || !ParseNumber(text, t))
        return false;
    while (*text == ' ' || *text == '\t')
        ++text;
    if (*text || a > b || b >= t)
        return false;
    first = a;
    last = b;
    total = t;
    return true;
}
