// What the benchmarks read of a shipped program: its bytes and the DLLs it
// imports, and whether those are all Windows' own.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

// The folder of the running benchmark, with its backslash: the programs it
// measures lie beside it.
inline std::string ProgramDir()
{
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    const std::string own(path, n);
    return own.substr(0, own.find_last_of('\\') + 1);
}

inline std::string ReadFileBytes(const std::string& path)
{
    std::string bytes;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    LARGE_INTEGER size = {};
    GetFileSizeEx(file, &size);
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr);
    bytes.resize(read);
    CloseHandle(file);
    return bytes;
}

// The names of the DLLs a PE file imports, read from the file itself.
inline std::vector<std::string> ImportedDlls(const std::string& image)
{
    std::vector<std::string> names;
    if (image.size() < sizeof(IMAGE_DOS_HEADER))
        return names;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(image.data() + dos->e_lfanew);
    const auto* sections = IMAGE_FIRST_SECTION(nt);
    // The directories follow the optional header, whose 64-bit form is longer.
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC
        ? reinterpret_cast<const IMAGE_NT_HEADERS64*>(nt)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT]
        : nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto offsetOf = [&](DWORD rva) -> size_t {
        for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
            const IMAGE_SECTION_HEADER& s = sections[i];
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + std::max(s.Misc.VirtualSize, s.SizeOfRawData))
                return rva - s.VirtualAddress + s.PointerToRawData;
        }
        return 0;
    };
    for (size_t at = offsetOf(imports.VirtualAddress); at && at + sizeof(IMAGE_IMPORT_DESCRIPTOR) <= image.size();
         at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        const auto* descriptor = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(image.data() + at);
        if (descriptor->Name == 0)
            break;
        names.emplace_back(image.data() + offsetOf(descriptor->Name));
    }
    return names;
}

inline bool IsWindowsOwn(std::string name)
{
    for (char& c : name)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    static const char* const kSystem[] = {"kernel32.dll", "user32.dll",   "gdi32.dll",   "advapi32.dll", "shell32.dll",
                                          "ole32.dll",    "oleaut32.dll", "msvcrt.dll",  "comctl32.dll", "wininet.dll",
                                          "shlwapi.dll",  "version.dll",  "crypt32.dll", "wintrust.dll", "bcrypt.dll"};
    for (const char* system : kSystem) {
        if (name == system)
            return true;
    }
    return false;
}

// Prints the DLLs a PE file imports, and whether all are Windows' own.
inline void PrintImports(const std::string& image)
{
    bool allOwn = true;
    printf("imported DLLs:");
    for (const std::string& name : ImportedDlls(image)) {
        printf(" %s", name.c_str());
        allOwn &= IsWindowsOwn(name);
    }
    printf("\n  all Windows' own: %s\n", allOwn ? "yes" : "NO");
}
