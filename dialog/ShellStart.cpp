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

}  // namespace

HANDLE StartFromItsFolder(const std::string& path)
{
    const std::string folder = FolderOf(path);
    SHELLEXECUTEINFOA open = {};
    open.cbSize = sizeof open;
    open.fMask = SEE_MASK_NOASYNC | SEE_MASK_NOCLOSEPROCESS;
    open.lpFile = path.c_str();
    open.lpDirectory = folder.empty() ? nullptr : folder.c_str();
    open.nShow = SW_SHOWNORMAL;
    return LOG_IF_WIN32_BOOL_FALSE(ShellExecuteExA(&open)) ? open.hProcess : nullptr;
}

void StartInstalledProgram(const std::string& exeName)
{
    const std::string path = FindInstalledProgram(exeName);
    if (path.empty())
        return;
    const std::string folder = FolderOf(path);
    SHELLEXECUTEINFOA open = {};
    open.cbSize = sizeof open;
    open.fMask = SEE_MASK_FLAG_NO_UI;
    open.lpFile = path.c_str();
    open.lpDirectory = folder.empty() ? nullptr : folder.c_str();
    open.nShow = SW_SHOWNORMAL;
    LOG_IF_WIN32_BOOL_FALSE(ShellExecuteExA(&open));
}
