#include "handler/SchemeRegistration.h"

#include "BuildConfig.h"
#include "framework/sys/RegKey.h"
#include "framework/sys/Result.h"
#include "framework/sys/WideText.h"

namespace {

// Key paths are ASCII (the scheme is letters, digits, + - .); the values are
// wide, as the program's path may not be ANSI. No wide std::string: its
// runtime part would be a sixth of the program.
constexpr wchar_t kDescription[] = L"URL:VOK 围棋";

LONG WriteValue(HKEY root, const std::string& path, const wchar_t* name, const WideText& text)
{
    CRegKey key;
    RETURN_IF_WIN32_CODE(key.Create(root, path.c_str(), KEY_SET_VALUE));
    return LOG_IF_WIN32_ERROR(key.WriteWide(name, text));
}

// The key's default value; empty when it cannot be read (an absent key or
// value is nothing registered).
WideText ReadValue(HKEY root, const std::string& path)
{
    CRegKey key;
    WideText text;
    if (key.Open(root, path.c_str(), KEY_QUERY_VALUE) == ERROR_SUCCESS)
        key.ReadWide(nullptr, text);
    return text;
}

LONG DeleteValue(HKEY root, const std::string& path, const char* name)
{
    CRegKey key;
    const LONG opened = key.Open(root, path.c_str(), KEY_SET_VALUE);
    if (opened == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    RETURN_IF_WIN32_CODE(opened);
    return LOG_IF_WIN32_ERROR(key.DeleteValue(name));
}

}  // namespace

std::string SchemeKeyPath()
{
    return std::string("Software\\Classes\\") + VANTORIMA_URL_SCHEME;
}

HKEY SchemeRoot(SchemeScope scope)
{
    return scope == SchemeScope::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

namespace {

LONG WriteScheme(SchemeScope scope, const WideText& icon, const WideText& command)
{
    const HKEY root = SchemeRoot(scope);
    const std::string key = SchemeKeyPath();
    LONG result = WriteValue(root, key, nullptr, WideJoin({kDescription}));
    if (result == ERROR_SUCCESS)
        result = WriteValue(root, key, L"URL Protocol", WideJoin({L""}));
    if (result == ERROR_SUCCESS)
        result = WriteValue(root, key + "\\DefaultIcon", nullptr, icon);
    if (result == ERROR_SUCCESS)
        result = WriteValue(root, key + "\\shell\\open\\command", nullptr, command);
    return result;
}

}  // namespace

LONG RegisterScheme(SchemeScope scope, const wchar_t* program)
{
    return WriteScheme(scope, WideJoin({program, L",0"}), WideJoin({L"\"", program, L"\" \"%1\""}));
}

SchemeState ReadScheme(SchemeScope scope)
{
    const std::string key = SchemeKeyPath();
    return {ReadValue(SchemeRoot(scope), key + "\\shell\\open\\command"),
            ReadValue(SchemeRoot(scope), key + "\\DefaultIcon")};
}

LONG RestoreScheme(SchemeScope scope, const SchemeState& state)
{
    if (state.command.empty())
        return UnregisterScheme(scope);
    return WriteScheme(scope, state.icon.empty() ? WideJoin({L""}) : state.icon, state.command);
}

LONG UnregisterScheme(SchemeScope scope)
{
    const HKEY root = SchemeRoot(scope);
    const std::string key = SchemeKeyPath();
    // Values first, then each key from the deepest up, once it is empty.
    const struct {
        std::string path;
        const char* value;
    } written[] = {{key + "\\shell\\open\\command", nullptr},
                   {key + "\\DefaultIcon", nullptr},
                   {key, nullptr},
                   {key, "URL Protocol"}};
    LONG result = ERROR_SUCCESS;
    for (const auto& entry : written) {
        const LONG deleted = DeleteValue(root, entry.path, entry.value);
        if (result == ERROR_SUCCESS)
            result = deleted;
    }
    for (const char* below : {"\\shell\\open\\command", "\\shell\\open", "\\shell", "\\DefaultIcon", ""}) {
        const LONG deleted = LOG_IF_WIN32_ERROR(CRegKey::DeleteIfEmpty(root, (key + below).c_str()));
        if (result == ERROR_SUCCESS)
            result = deleted;
    }
    return result;
}
