#include "dialog/InstalledProgram.h"

#include <windows.h>

#include <vector>

#include "framework/sys/RegKey.h"
#include "framework/sys/Result.h"

namespace {

const char kAppPaths[] = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";

// "C:\..." or "\\server\...": relative and drive-relative paths would be
// resolved against the current directory.
bool IsAbsolute(const std::string& path)
{
    const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    const auto separator = [](char c) { return c == '\\' || c == '/'; };
    return (path.size() > 2 && letter(path[0]) && path[1] == ':' && separator(path[2])) ||
        (path.size() > 2 && separator(path[0]) && separator(path[1]));
}

bool IsFile(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string Unquoted(std::string text)
{
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        text = text.substr(1, text.size() - 2);
    return text;
}

std::string Expanded(const std::string& text)
{
    const DWORD size = ExpandEnvironmentStringsA(text.c_str(), nullptr, 0);
    if (LOG_LAST_ERROR_IF(size == 0))
        return std::string();
    std::vector<char> expanded(size);
    if (LOG_LAST_ERROR_IF(ExpandEnvironmentStringsA(text.c_str(), expanded.data(), size) == 0))
        return std::string();
    return expanded.data();
}

std::string RegisteredPath(HKEY root, const std::string& exeName)
{
    CRegKey key;
    std::vector<char> value;
    DWORD type = 0;
    if (key.Open(root, (kAppPaths + exeName).c_str(), KEY_QUERY_VALUE) != ERROR_SUCCESS ||
        key.Read(nullptr, value, &type) != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || value.empty())
        return std::string();
    value.push_back('\0');
    const std::string path = Unquoted(value.data());
    return type == REG_EXPAND_SZ ? Expanded(path) : path;
}

std::string FromSearchPath(const std::string& exeName)
{
    const DWORD size = GetEnvironmentVariableA("PATH", nullptr, 0);
    if (size == 0)
        return std::string();
    std::vector<char> buffer(size);
    const std::string path(buffer.data(), GetEnvironmentVariableA("PATH", buffer.data(), size));
    for (size_t start = 0; start <= path.size();) {
        size_t end = path.find(';', start);
        if (end == std::string::npos)
            end = path.size();
        std::string dir = Unquoted(path.substr(start, end - start));
        start = end + 1;
        if (!IsAbsolute(dir))
            continue;  // ".", "" and the like mean the current directory
        if (dir.back() != '\\' && dir.back() != '/')
            dir += '\\';
        if (IsFile(dir + exeName))
            return dir + exeName;
    }
    return std::string();
}

}  // namespace

std::string FindInstalledProgram(const std::string& exeName)
{
    if (exeName.empty())
        return std::string();
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        const std::string registered = RegisteredPath(root, exeName);
        if (IsAbsolute(registered) && IsFile(registered))
            return registered;
    }
    return FromSearchPath(exeName);
}
