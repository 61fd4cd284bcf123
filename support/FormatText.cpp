#include "support/FormatText.h"

#include <cstdio>
#include <cstring>

size_t FormatTextV(char* buffer, size_t size, const char* format, va_list args)
{
    if (!buffer || size == 0)
        return 0;
#ifdef _WIN32
    // Reports a cut text as -1 and leaves it unterminated.
    _vsnprintf(buffer, size - 1, format, args);
#else
    std::vsnprintf(buffer, size, format, args);
#endif
    buffer[size - 1] = '\0';
    return std::strlen(buffer);
}

size_t FormatText(char* buffer, size_t size, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const size_t length = FormatTextV(buffer, size, format, args);
    va_end(args);
    return length;
}
