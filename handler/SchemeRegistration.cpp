#include "handler/SchemeRegistration.h"

#include "BuildConfig.h"
#include "framework/sys/RegKey.h"
#include "framework/sys/WideText.h"

namespace {

// Key paths are ASCII (the scheme is letters, digits, + - .); the values are
// wide, as the program's path may not be ANSI. No wide std::string: its
// runtime part would be a sixth of the program.
constexpr wchar_t kDescription[] = L"URL:VOK 围棋";

LONG WriteValue(HKEY root, const std::string& path, const wchar_t* name, const WideText& text)
{
    CRegKeyHandle key;
    LONG result = RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                                  key.Put(), nullptr);
    if (result != ERROR_SUCCESS)
        return result;
    return RegSetValueExW(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.data()),
                          static_cast<DWORD>(text.size() * sizeof(wchar_t)));
}

WideText ReadValue(HKEY root, const std::string& path)
{
    WideText text(1024);
    DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    CRegKeyHandle key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_QUERY_VALUE, key.Put()) != ERROR_SUCCESS ||
        RegQueryValueExW(key.Get(), nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(text.data()), &size) !=
            ERROR_SUCCESS)
        return WideText();
    text.resize(size / sizeof(wchar_t));
    if (text.empty() || text.back() != L'\0')
        text.push_back(L'\0');
    return text;
}

LONG DeleteValue(HKEY root, const std::string& path, const char* name)
{
    CRegKeyHandle key;
    LONG result = RegOpenKeyExA(root, path.c_str(), 0, KEY_SET_VALUE, key.Put());
    if (result == ERROR_SUCCESS)
        result = RegDeleteValueA(key.Get(), name);
    return result == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : result;
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
        const LONG deleted = CRegKey::DeleteIfEmpty(root, (key + below).c_str());
        if (result == ERROR_SUCCESS)
            result = deleted;
    }
    return result;
}
