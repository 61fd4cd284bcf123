// The per-user log that support reads: every trace line of the control and
// the launcher, with its local time, process and program, appended to
//   %LOCALAPPDATA%\Vantorima\Logs\vantorima.log
// (a low-integrity process, such as a protected browser tab: the LocalLow
// folder), kept under kTraceLogLimit by moving it to vantorima.old.log. An
// elevated or high-integrity process writes none. The folders are never
// followed through links, the files never written through one, and the
// processes take turns by a lock on vantorima.lock beside them.
//
// The line's format is portable (tested natively); the file is Windows only.
#pragma once

#include <cstddef>

// Past this size the log becomes vantorima.old.log and a new one starts.
constexpr unsigned long kTraceLogLimit = 256 * 1024;

struct TraceLogTime {
    unsigned year, month, day, hour, minute, second, millisecond;
};

// Room for the longest line FormatTraceLogLine writes.
constexpr size_t kTraceLogLineMax = 80 + 1024 + 2;

// "2026-12-08 14:03:27.123 [4242 launcher] <text>\r\n" (CR LF: Notepad of
// every Windows shows the lines). The text is one trace line, already
// escaped; a program name longer than 32 characters is cut. Returns the
// length, at most size - 1 (the line is cut, its CR LF kept, when it does not
// fit; size must be at least 80).
size_t FormatTraceLogLine(char* out, size_t size, const TraceLogTime& when, unsigned long processId,
                          const char* program, const char* text, size_t length);

#ifdef _WIN32
// Appends one trace line (without its line end) to the log, as `program`.
// Never fails visibly and keeps the thread's last error.
void AppendToTraceLog(const char* program, const char* text, size_t length);
// The log's folder as this process writes it (no trailing backslash), or an
// empty text when no folder was found.
const wchar_t* TraceLogFolder();
// For the tests: this process writes its log under folder instead of the
// user's folder from now on (folder\Vantorima\Logs, made if missing).
bool TraceLogUseFolder(const wchar_t* folder);
// For the tests: how often a line of this process waited for the lock in vain
// since the folder was chosen (at most once).
unsigned TraceLogLockTimeouts();
#endif
