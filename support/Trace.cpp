#include "support/Trace.h"

#include "support/FormatText.h"
#include "support/TraceLog.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// The longest trace file name taken from the environment.
constexpr size_t kTracePathMax = 260;

// The program that named itself, and the slot of each thread's part.
const char* volatile g_program = nullptr;

#ifdef _WIN32
volatile LONG g_sourceSlot = static_cast<LONG>(TLS_OUT_OF_INDEXES);

// The slot goes with the module: a control loaded and unloaded again and
// again by a browser must not use up the process's slots.
struct SourceSlotRelease {
    ~SourceSlotRelease()
    {
        const DWORD slot =
            static_cast<DWORD>(InterlockedExchange(&g_sourceSlot, static_cast<LONG>(TLS_OUT_OF_INDEXES)));
        if (slot != TLS_OUT_OF_INDEXES)
            TlsFree(slot);
    }
} g_sourceSlotRelease;

DWORD SourceSlot()
{
    DWORD slot = static_cast<DWORD>(g_sourceSlot);
    if (slot != TLS_OUT_OF_INDEXES)
        return slot;
    slot = TlsAlloc();
    if (slot == TLS_OUT_OF_INDEXES)
        return slot;
    const LONG before =
        InterlockedCompareExchange(&g_sourceSlot, static_cast<LONG>(slot), static_cast<LONG>(TLS_OUT_OF_INDEXES));
    if (before == static_cast<LONG>(TLS_OUT_OF_INDEXES))
        return slot;
    TlsFree(slot);  // another thread's came first
    return static_cast<DWORD>(before);
}

const char* ThreadSource()
{
    const DWORD slot = static_cast<DWORD>(g_sourceSlot);
    return slot == TLS_OUT_OF_INDEXES ? nullptr : static_cast<const char*>(TlsGetValue(slot));
}

void SetThreadSource(const char* name)
{
    const DWORD slot = SourceSlot();
    if (slot != TLS_OUT_OF_INDEXES)
        TlsSetValue(slot, const_cast<char*>(name));
}
#else
thread_local const char* t_source = nullptr;

const char* ThreadSource()
{
    return t_source;
}

void SetThreadSource(const char* name)
{
    t_source = name;
}
#endif

// Where VANTORIMA_TRACE sends the lines: no file (unset or empty), the file it
// names, or nowhere at all, not even the log ("off").
enum class TraceTarget { Log, FileAndLog, Off };

TraceTarget ReadTraceTarget(char* path, size_t size)
{
#ifdef _WIN32
    const DWORD n = GetEnvironmentVariableA("VANTORIMA_TRACE", path, static_cast<DWORD>(size));
    if (n == 0 || n >= size)
        return TraceTarget::Log;
#else
    const char* value = std::getenv("VANTORIMA_TRACE");
    if (!value || !*value || std::strlen(value) >= size)
        return TraceTarget::Log;
    std::strcpy(path, value);
#endif
    const bool off = (path[0] | 0x20) == 'o' && (path[1] | 0x20) == 'f' && (path[2] | 0x20) == 'f' && path[3] == '\0';
    return off ? TraceTarget::Off : TraceTarget::FileAndLog;
}

// Appends one whole line to the trace file. The file is opened for appending
// only, so lines of concurrent writers land whole and never overwrite each other.
void AppendToFile(const char* path, const char* line, size_t length)
{
#ifdef _WIN32
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
    CloseHandle(file);
#else
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    ssize_t ignored = write(fd, line, length);
    (void)ignored;
    close(fd);
#endif
}

// Control characters of the formatted text as \r, \n, \t or \xHH, so that
// no value from outside (a name, an address, a server's text) can end a line
// early or write a line of its own. Bytes from 0x80 on are characters of the
// code page and stay.
size_t EscapeControls(const char* text, size_t length, char* out, size_t size)
{
    size_t at = 0;
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        char escaped[5] = {static_cast<char>(c), '\0'};
        if (c < 0x20 || c == 0x7F) {
            escaped[0] = '\\';
            if (c == '\r' || c == '\n' || c == '\t') {
                escaped[1] = c == '\r' ? 'r' : c == '\n' ? 'n' : 't';
                escaped[2] = '\0';
            } else {
                escaped[1] = 'x';
                escaped[2] = "0123456789ABCDEF"[c >> 4];
                escaped[3] = "0123456789ABCDEF"[c & 15];
                escaped[4] = '\0';
            }
        }
        const size_t width = std::strlen(escaped);
        if (at + width > size)
            break;
        std::memcpy(out + at, escaped, width);
        at += width;
    }
    return at;
}

}  // namespace

void TraceOut(const char* format, ...)
{
#ifdef _WIN32
    const DWORD lastError = GetLastError();
#endif
    char text[kTraceLineMax + 1];
    va_list args;
    va_start(args, format);
    const size_t formatted = FormatTextV(text, sizeof text, format, args);
    va_end(args);
    char line[kTraceLineMax + 2];
    size_t length = EscapeControls(text, formatted, line, kTraceLineMax);
    line[length++] = '\n';
    line[length] = '\0';
#ifdef _WIN32
    OutputDebugStringA(line);
#endif
    char path[kTracePathMax];
    const TraceTarget target = ReadTraceTarget(path, sizeof path);
    if (target == TraceTarget::FileAndLog)
        AppendToFile(path, line, length);
#ifdef _WIN32
    const char* program = g_program;
    if (target != TraceTarget::Off && program) {
        const char* source = ThreadSource();
        AppendToTraceLog(source ? source : program, line, length - 1);
    }
    SetLastError(lastError);
#endif
}

void TraceSetProgram(const char* name)
{
    g_program = name;
}

CTraceSource::CTraceSource(const char* name) : m_previous(ThreadSource())
{
    SetThreadSource(name);
}

CTraceSource::~CTraceSource()
{
    SetThreadSource(m_previous);
}
