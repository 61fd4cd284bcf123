#include "download/UnpackPass.h"

#include <windows.h>

#include "framework/sys/Module.h"
#include "framework/sys/Result.h"

namespace {
using ExpandFileFunction = BOOL(WINAPI*)(const char* source, const char* destination);
constexpr WORD kExpandFileOrdinal = 4;
}  // namespace

std::string UnpackedName(const std::string& entry)
{
    const size_t at = entry.find(".lzf");
    return at != std::string::npos && at > 0 ? entry.substr(0, at) : entry;
}

bool RunUnpackPass(const std::vector<std::string>& entries, const std::string& downloadDir,
                   const std::string& installDir)
{
    if (entries.empty())
        return true;
    HMODULE library = LoadLibraryA("Kelpix.dll");
    auto expand = ProcAddress<ExpandFileFunction>(library, MAKEINTRESOURCEA(kExpandFileOrdinal));
    bool expanded = !LOG_LAST_ERROR_IF(expand == nullptr);
    for (size_t i = 0; expanded && i < entries.size(); ++i) {
        const std::string source = downloadDir + entries[i];
        const std::string destination = downloadDir + UnpackedName(entries[i]);
        expanded = LOG_IF_WIN32_BOOL_FALSE(expand(source.c_str(), destination.c_str()));
    }
    if (library)
        FreeLibrary(library);
    if (!expanded)
        return false;

    for (const std::string& entry : entries) {
        const std::string name = UnpackedName(entry);
        const std::string installed = installDir + name;
        const std::string backup = installed + ".bak";
        if (GetFileAttributesA(backup.c_str()) != INVALID_FILE_ATTRIBUTES)
            LOG_IF_WIN32_BOOL_FALSE(DeleteFileA(backup.c_str()));
        // The first install has nothing to back up.
        if (GetFileAttributesA(installed.c_str()) != INVALID_FILE_ATTRIBUTES)
            LOG_IF_WIN32_BOOL_FALSE(MoveFileA(installed.c_str(), backup.c_str()));
        LOG_IF_WIN32_BOOL_FALSE(MoveFileA((downloadDir + name).c_str(), installed.c_str()));
        if (GetFileAttributesA(backup.c_str()) != INVALID_FILE_ATTRIBUTES)
            LOG_IF_WIN32_BOOL_FALSE(DeleteFileA(backup.c_str()));
    }
    return true;
}
