#include "handler/SchemeRegistration.h"

#include "BuildConfig.h"
#include "framework/sys/UniqueHandle.h"

namespace {

#define WIDEN2(text) L##text
#define WIDEN(text) WIDEN2(text)
constexpr wchar_t kScheme[] = WIDEN(VANTORIMA_URL_SCHEME);
constexpr wchar_t kDescription[] = L"URL:VOK 围棋";

// Path below the scheme's key.
LONG WriteValue(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& text)
{
    CRegKeyHandle key;
    LONG result = RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                                  key.Put(), nullptr);
    if (result != ERROR_SUCCESS)
        return result;
    return RegSetValueExW(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

LONG DeleteValue(HKEY root, const std::wstring& path, const wchar_t* name)
{
    CRegKeyHandle key;
    LONG result = RegOpenKeyExW(root, path.c_str(), 0, KEY_SET_VALUE, key.Put());
    if (result == ERROR_SUCCESS)
        result = RegDeleteValueW(key.Get(), name);
    return result == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : result;
}

// Deletes the key when nothing is left in it.
LONG DeleteIfEmpty(HKEY root, const std::wstring& path)
{
    DWORD subkeys = 0, values = 0;
    {
        CRegKeyHandle key;
        LONG result = RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.Put());
        if (result != ERROR_SUCCESS)
            return result == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : result;
        result = RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                                  nullptr, nullptr, nullptr);
        if (result != ERROR_SUCCESS)
            return result;
    }
    if (subkeys || values)
        return ERROR_SUCCESS;
    const LONG result = RegDeleteKeyW(root, path.c_str());
    return result == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : result;
}

}  // namespace

std::wstring SchemeKeyPath()
{
    return std::wstring(L"Software\\Classes\\") + kScheme;
}

HKEY SchemeRoot(SchemeScope scope)
{
    return scope == SchemeScope::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

LONG RegisterScheme(SchemeScope scope, const std::wstring& program)
{
    const HKEY root = SchemeRoot(scope);
    const std::wstring key = SchemeKeyPath();
    LONG result = WriteValue(root, key, nullptr, kDescription);
    if (result == ERROR_SUCCESS)
        result = WriteValue(root, key, L"URL Protocol", L"");
    if (result == ERROR_SUCCESS)
        result = WriteValue(root, key + L"\\DefaultIcon", nullptr, program + L",0");
    if (result == ERROR_SUCCESS)
        result = WriteValue(root, key + L"\\shell\\open\\command", nullptr, L"\"" + program + L"\" \"%1\"");
    return result;
}

LONG UnregisterScheme(SchemeScope scope)
{
    const HKEY root = SchemeRoot(scope);
    const std::wstring key = SchemeKeyPath();
    // Values first, then each key from the deepest up, once it is empty.
    const struct {
        std::wstring path;
        const wchar_t* value;
    } written[] = {{key + L"\\shell\\open\\command", nullptr}, {key + L"\\DefaultIcon", nullptr},
                   {key, nullptr}, {key, L"URL Protocol"}};
    LONG result = ERROR_SUCCESS;
    for (const auto& entry : written) {
        const LONG deleted = DeleteValue(root, entry.path, entry.value);
        if (result == ERROR_SUCCESS)
            result = deleted;
    }
    for (const wchar_t* below : {L"\\shell\\open\\command", L"\\shell\\open", L"\\shell", L"\\DefaultIcon", L""}) {
        const LONG deleted = DeleteIfEmpty(root, key + below);
        if (result == ERROR_SUCCESS)
            result = deleted;
    }
    return result;
}
