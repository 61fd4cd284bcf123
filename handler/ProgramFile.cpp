#include "handler/ProgramFile.h"

#include <cstring>

#include "framework/sys/Module.h"
#include "framework/sys/Result.h"
#include "framework/sys/UniqueHandle.h"

namespace {

// The fixed part of the version block, found in the file's bytes behind the
// block's header: its value length (52), its type (binary) and its key
// "VS_VERSION_INFO", then padding to a DWORD. Read from the file, not loaded:
// a module of the same name that runs here would be taken for it.
unsigned long long FixedVersion(HANDLE file)
{
    static const char kHeader[] = "\x34\0\0\0V\0S\0_\0V\0E\0R\0S\0I\0O\0N\0_\0I\0N\0F\0O\0\0\0\0\0";
    const DWORD size = GetFileSize(file, nullptr);
    if (LOG_LAST_ERROR_IF(size == INVALID_FILE_SIZE) || size == 0 || size > (64u << 20))
        return 0;
    std::vector<char> bytes(size);
    DWORD read = 0;
    if (LOG_LAST_ERROR_IF(SetFilePointer(file, 0, nullptr, FILE_BEGIN) != 0) ||
        !LOG_IF_WIN32_BOOL_FALSE(ReadFile(file, bytes.data(), size, &read, nullptr)) || read != size)
        return 0;
    const size_t header = sizeof kHeader - 1;
    for (size_t at = 0; at + header + sizeof(VS_FIXEDFILEINFO) <= size; at += 2) {
        if (memcmp(bytes.data() + at, kHeader, header) != 0)
            continue;
        VS_FIXEDFILEINFO fixed;
        CopyMemory(&fixed, bytes.data() + at + header, sizeof fixed);
        if (fixed.dwSignature == VS_FFI_SIGNATURE)
            return (static_cast<unsigned long long>(fixed.dwFileVersionMS) << 32) | fixed.dwFileVersionLS;
    }
    return 0;
}

}  // namespace

WideText ProgramPath()
{
    // A program that is not long-path aware never runs from a longer path.
    wchar_t path[MAX_PATH];
    ModuleFileName(path);
    return WideJoin({path});
}

unsigned long long ProgramVersion(const wchar_t* path)
{
    const CFileHandle file(CreateFileW(path ? path : ProgramPath().data(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr));
    return file ? FixedVersion(file.Get()) : 0;
}

unsigned long long OpenProgramVersion(HANDLE file)
{
    return FixedVersion(file);
}

WideText VersionText(unsigned long long version)
{
    wchar_t text[48];
    wsprintfW(text, L"%u.%u.%u.%u", static_cast<unsigned>(version >> 48), static_cast<unsigned>(version >> 32) & 0xFFFF,
              static_cast<unsigned>(version >> 16) & 0xFFFF, static_cast<unsigned>(version) & 0xFFFF);
    return WideJoin({text});
}

bool RunsFrom(const WideText& path)
{
    return lstrcmpiW(ProgramPath().data(), path.data()) == 0;
}
