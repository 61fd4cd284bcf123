// Diagnostic trace of the module: one line per call, printf-style.
//
// Lines go to the debugger output, to the file that the environment variable
// VANTORIMA_TRACE names, if it is set, and, in a program that named itself
// (TraceSetProgram), to the per-user log (support/TraceLog.h);
// VANTORIMA_TRACE=off turns both the file and the log off. Safe to call from
// several threads at once: every line is written whole in one call. A line
// that cannot be written changes nothing, not even the thread's last error.
#pragma once

#include "support/FormatText.h"  // VANTORIMA_PRINTF

// Control characters in the formatted text (CR, LF and the others) are
// written escaped (\r, \n, \xHH): every call is one line.
//
// Longest line written; longer lines are cut.
constexpr int kTraceLineMax = 1024;

void TraceOut(const char* format, ...) VANTORIMA_PRINTF(1, 2);

// The program whose lines these are, named in the log: "control",
// "launcher". Set once, first thing; a process that names none (a test, a
// benchmark) writes no log. The text must live as long as the process.
void TraceSetProgram(const char* name);

// While it lives, the lines of this thread name another part as their
// program ("update dialog"); scopes nest. Names nothing where no program is
// set.
class CTraceSource {
public:
    explicit CTraceSource(const char* name);
    ~CTraceSource();
    CTraceSource(const CTraceSource&) = delete;
    CTraceSource& operator=(const CTraceSource&) = delete;

private:
    const char* m_previous;
};
