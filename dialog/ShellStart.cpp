#include "dialog/ShellStart.h"

#include <shellapi.h>

#include "dialog/InstalledProgram.h"
#include "framework/sys/Result.h"

namespace {

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// The shell's start of path with its folder as the current one; the process
// when mask asks for it and the shell gives one.
HANDLE ShellStart(const std::string& path, ULONG mask)
{
    const std::string folder = FolderOf(path);
    SHELLEXECUTEINFOA open = {};
    open.cbSize = sizeof open;
    open.fMask = mask;
    open.lpFile = path.c_str();
    open.lpDirectory = folder.empty() ? nullptr : folder.c_str();
    open.nShow = SW_SHOWNORMAL;
    return LOG_IF_WIN32_BOOL_FALSE(ShellExecuteExA(&open)) ? open.hProcess : nullptr;
}

}  // namespace

HANDLE StartFromItsFolder(const std::string& path)
{
    return ShellStart(path, SEE_MASK_NOASYNC | SEE_MASK_NOCLOSEPROCESS);
}

void StartInstalledProgram(const std::string& exeName)
{
    const std::string path = FindInstalledProgram(exeName);
    if (!path.empty())
        ShellStart(path, SEE_MASK_FLAG_NO_UI);
}
