#include "support/TraceLog.h"

#include <cstring>

namespace {

// Digits by hand: the line is made for every trace call, and the C runtime's
// formatter would cost more than the rest of it.
char* Digits(char* at, unsigned long value, int width)
{
    char* end = at + width;
    for (char* p = end; p != at;) {
        *--p = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    return end;
}

char* Number(char* at, unsigned long value)
{
    char reversed[10];
    int n = 0;
    do {
        reversed[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n > 0)
        *at++ = reversed[--n];
    return at;
}

}  // namespace

size_t FormatTraceLogLine(char* out, size_t size, const TraceLogTime& when, unsigned long processId,
                          const char* program, const char* text, size_t length)
{
    constexpr size_t kProgramMax = 32;
    if (!out || size < 80)
        return 0;
    char* at = out;
    at = Digits(at, when.year % 10000, 4);
    *at++ = '-';
    at = Digits(at, when.month % 100, 2);
    *at++ = '-';
    at = Digits(at, when.day % 100, 2);
    *at++ = ' ';
    at = Digits(at, when.hour % 100, 2);
    *at++ = ':';
    at = Digits(at, when.minute % 100, 2);
    *at++ = ':';
    at = Digits(at, when.second % 100, 2);
    *at++ = '.';
    at = Digits(at, when.millisecond % 1000, 3);
    *at++ = ' ';
    *at++ = '[';
    at = Number(at, processId);
    *at++ = ' ';
    const size_t name = program ? strnlen(program, kProgramMax) : 0;
    std::memcpy(at, program ? program : "", name);
    at += name;
    *at++ = ']';
    *at++ = ' ';
    // At most 24 + 1 + 10 + 1 + 32 + 2 bytes so far: size >= 80 leaves the line end.
    size_t room = size - 1 - static_cast<size_t>(at - out);
    room = room > 2 ? room - 2 : 0;
    const size_t copied = text ? (length < room ? length : room) : 0;
    std::memcpy(at, text, copied);
    at += copied;
    *at++ = '\r';
    *at++ = '\n';
    *at = '\0';
    return static_cast<size_t>(at - out);
}
