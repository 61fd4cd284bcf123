#include "handler/ProgramFile.h"

#include "framework/sys/UniqueHandle.h"

namespace {

using CLibraryHandle = CUniqueHandle<NullHandleTraits<HMODULE, &::FreeLibrary>>;

// The fixed part of a version block: found by its signature, DWORD-aligned
// after the block's key.
unsigned long long FixedVersion(HMODULE module)
{
    const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(VS_VERSION_INFO), MAKEINTRESOURCEW(16));
    const HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const auto* block = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    const DWORD size = found ? SizeofResource(module, found) : 0;
    for (DWORD at = 0; block && at + sizeof(VS_FIXEDFILEINFO) <= size; at += 4) {
        VS_FIXEDFILEINFO fixed;
        CopyMemory(&fixed, block + at, sizeof fixed);
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
    if (!path)
        return FixedVersion(nullptr);
    // Its resources only: nothing of it runs, and it is let go at once.
    const CLibraryHandle file(LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE));
    return file ? FixedVersion(file.Get()) : 0;
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
