#include "support/Trace.h"

#include "support/FormatText.h"

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

// Appends one whole line to the trace file. The file is opened for appending
// only, so lines of concurrent writers land whole and never overwrite each other.
void AppendToFile(const char* line, size_t length)
{
#ifdef _WIN32
    char path[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("VANTORIMA_TRACE", path, sizeof path);
    if (n == 0 || n >= sizeof path)
        return;
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
    CloseHandle(file);
#else
    const char* path = std::getenv("VANTORIMA_TRACE");
    if (!path || !*path)
        return;
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
    AppendToFile(line, length);
}
