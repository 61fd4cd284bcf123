#include "updater/StatusProtocol.h"

#include <cstring>

#include "support/FormatText.h"

uint32_t PackStatus(unsigned code, unsigned percent)
{
    return (static_cast<uint32_t>(percent & 0xFFFF) << 16) | (code & 0xFFFF);
}

unsigned PercentOf(uint32_t received, uint32_t total)
{
    if (total == 0 || received >= total)
        return 100;
    // 64 bits: received * 100 does not fit in 32 bits from 42,949,673 bytes on.
    return static_cast<unsigned>(static_cast<uint64_t>(received) * 100 / total);
}

uint32_t ParseContentLength(const char* text)
{
    if (!text)
        return 0;
    while (*text == ' ' || *text == '\t')
        ++text;
    uint64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + static_cast<unsigned>(*text - '0');
        if (value > 0xFFFFFFFFu)
            return 0xFFFFFFFFu;
    }
    return static_cast<uint32_t>(value);
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
                         uint32_t received, uint32_t elapsedSeconds)
{
    if (elapsedSeconds == 0)
        return FormatStatusText(buffer, isLeadByte, "%s - Read %u bytes", name, received);
    const double speed = received / 1024.0 / elapsedSeconds;
    return FormatStatusText(buffer, isLeadByte, "%s - Read %u bytes (%0.1f Kb/s)", name, received, speed);
}

std::string ShortBodyText(uint32_t received, uint32_t total)
{
    char text[96];
    FormatText(text, sizeof text, "connection closed after %u of %u bytes", received, total);
    return text;
}

namespace {

// A decimal number of at most 32 bits at text; advances past it.
bool ParseNumber(const char*& text, uint32_t& value)
{
    if (*text < '0' || *text > '9')
        return false;
    uint64_t number = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        number = number * 10 + static_cast<unsigned>(*text - '0');
        if (number > 0xFFFFFFFFu)
            return false;
    }
    value = static_cast<uint32_t>(number);
    return true;
}

}  // namespace

bool ParseContentRange(const char* text, uint32_t& first, uint32_t& last, uint32_t& total)
{
    if (!text)
        return false;
    while (*text == ' ' || *text == '\t')
        ++text;
    if (std::strncmp(text, "bytes ", 6) != 0)
        return false;
    text += 6;
    uint32_t a = 0, b = 0, t = 0;
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
