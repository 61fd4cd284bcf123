#include "handler/ProgramFile.h"

#include <cstring>

#include "framework/sys/UniqueHandle.h"

namespace {

// The fixed part of the version block, found in the file's bytes behind the
// block's header: its value length (52), its type (binary) and its key
// "VS_VERSION_INFO", then padding to a DWORD. Read from the file, not loaded:
// a module of the same name that runs here would be taken for it.
unsigned long long FixedVersion(const wchar_t* path)
{
    static const char kHeader[] = "\x34\0\0\0V\0S\0_\0V\0E\0R\0S\0I\0O\0N\0_\0I\0N\0F\0O\0\0\0\0\0";
    const CFileHandle file(
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr));
    const DWORD size = file ? GetFileSize(file.Get(), nullptr) : 0;
    if (size == 0 || size == INVALID_FILE_SIZE || size > (64u << 20))
        return 0;
    std::vector<char> bytes(size);
    DWORD read = 0;
    if (!ReadFile(file.Get(), bytes.data(), size, &read, nullptr) || read != size)
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

WideText FullPath(const wchar_t* path)
{
    WideText full(MAX_PATH);
    DWORD length = GetFullPathNameW(path, static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length >= full.size()) {
        full.resize(length + 1);
        length = GetFullPathNameW(path, static_cast<DWORD>(full.size()), full.data(), nullptr);
    }
    full.resize(length < full.size() ? length + 1 : 1);
    full.back() = L'\0';
    return full;
}

}  // namespace

WideText ProgramPath()
{
    WideText path(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length + 1);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

unsigned long long ProgramVersion(const wchar_t* path)
{
    return FixedVersion(path ? path : ProgramPath().data());
}

WideText VersionText(unsigned long long version)
{
    wchar_t text[48];
    wsprintfW(text, L"%u.%u.%u.%u", static_cast<unsigned>(version >> 48), static_cast<unsigned>(version >> 32) & 0xFFFF,
              static_cast<unsigned>(version >> 16) & 0xFFFF, static_cast<unsigned>(version) & 0xFFFF);
    return WideJoin({text});
}

bool SamePath(const wchar_t* a, const wchar_t* b)
{
    return lstrcmpiW(FullPath(a).data(), FullPath(b).data()) == 0;
}
