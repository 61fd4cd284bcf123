// Diagnostic trace of the module: one line per call, printf-style.
//
// Lines go to the debugger output, and are also appended to the file that the
// environment variable VANTORIMA_TRACE names, if it is set. Safe to call from
// several threads at once: every line is written whole in one call.
#pragma once

#if defined(__GNUC__)
#define VANTORIMA_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define VANTORIMA_PRINTF(fmt, args)
#endif

// Control characters in the formatted text (CR, LF and the others) are
// written escaped (\r, \n, \xHH): every call is one line.
//
// Longest line written; longer lines are cut.
constexpr int kTraceLineMax = 1024;

void TraceOut(const char* format, ...) VANTORIMA_PRINTF(1, 2);
