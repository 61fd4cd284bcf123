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

}  // namespace

void TraceOut(const char* format, ...)
{
    char line[kTraceLineMax + 2];
    va_list args;
    va_start(args, format);
    size_t length = FormatTextV(line, kTraceLineMax + 1, format, args);
    va_end(args);
    line[length++] = '\n';
    line[length] = '\0';
#ifdef _WIN32
    OutputDebugStringA(line);
#endif
    AppendToFile(line, length);
}
