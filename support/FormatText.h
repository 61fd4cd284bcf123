// printf into a fixed buffer, the same on every runtime: always terminated,
// cut when too long.
//
// On Windows this is the system C runtime's formatter, which every process
// already has; the MinGW formatter would add some 20 KiB to the module.
#pragma once

#include <cstdarg>
#include <cstddef>

#if defined(__GNUC__)
#define VANTORIMA_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define VANTORIMA_PRINTF(fmt, args)
#endif

// Returns the length written (at most size - 1).
size_t FormatTextV(char* buffer, size_t size, const char* format, va_list args);
size_t FormatText(char* buffer, size_t size, const char* format, ...) VANTORIMA_PRINTF(3, 4);
