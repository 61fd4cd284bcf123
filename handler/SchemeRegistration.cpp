#include "handler/SchemeRegistration.h"

#include <vector>

#include "BuildConfig.h"
#include "framework/sys/UniqueHandle.h"

namespace {

// Key paths are ASCII (the scheme is letters, digits, + - .); the values are
// wide, as the program's path may not be ANSI. No wide std::string: its
// runtime part would be a sixth of the program.
constexpr wchar_t kDescription[] = L"URL:VOK 围棋";

LONG WriteValue(HKEY root, const std::string& path, const wchar_t* name, const std::vector<wchar_t>& text)
{
    CRegKeyHandle key;
    LONG result = RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                                  key.Put(), nullptr);
    if (result != ERROR_SUCCESS)
        return result;
    return RegSetValueExW(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.data()),
                          static_cast<DWORD>(text.size() * sizeof(wchar_t)));
}

// Terminated text from pieces.
std::vector<wchar_t> Join(std::initializer_list<const wchar_t*> pieces)
{
    std::vector<wchar_t> text;
    for (const wchar_t* piece : pieces)
        text.insert(text.end(), piece, piece + lstrlenW(piece));
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

// Deletes the key when nothing is left in it.
LONG DeleteIfEmpty(HKEY root, const std::string& path)
{
    DWORD subkeys = 0, values = 0;
    {
        CRegKeyHandle key;
        LONG result = RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.Put());
        if (result != ERROR_SUCCESS)
            return result == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : result;
        result = RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                                  nullptr, nullptr, nullptr);
        if (result != ERROR_SUCCESS)
            return result;
    }
    if (subkeys || values)
        return ERROR_SUCCESS;
    const LONG result = RegDeleteKeyA(root, path.c_str());
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

LONG RegisterScheme(SchemeScope scope, const wchar_t* program)
{
    const HKEY root = SchemeRoot(scope);
    const std::string key = SchemeKeyPath();
    LONG result = WriteValue(root, key, nullptr, Join({kDescription}));
    if (result == ERROR_SUCCESS)
        result = WriteValue(root, key, L"URL Protocol", Join({L""}));
    if (result == ERROR_SUCCESS)
        result = WriteValue(root, key + "\\DefaultIcon", nullptr, Join({program, L",0"}));
    if (result == ERROR_SUCCESS)
        result = WriteValue(root, key + "\\shell\\open\\command", nullptr, Join({L"\"", program, L"\" \"%1\""}));
    return result;
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
        const LONG deleted = DeleteIfEmpty(root, key + below);
        if (result == ERROR_SUCCESS)
            result = deleted;
    }
    return result;
}
