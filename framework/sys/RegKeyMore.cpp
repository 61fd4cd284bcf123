// CRegKey's less common operations: wide text values, value deletion, the
// walk of a key's subkeys. A file of their own: a module linked from the
// framework's library takes only the files it calls into, and one that calls
// none of these (the control) does not carry them.
#include "framework/sys/RegKey.h"

LONG CRegKey::ReadWide(const wchar_t* name, WideText& text) const
{
    DWORD size = 0;
    LONG result = RegQueryValueExW(m_key.Get(), name, nullptr, nullptr, nullptr, &size);
    WideText read;
    // The value may grow between two calls: then ask again with its new size.
    while (result == ERROR_SUCCESS || result == ERROR_MORE_DATA) {
        read.resize(size / sizeof(wchar_t) + 1);
        size = static_cast<DWORD>(read.size() * sizeof(wchar_t));
        result = RegQueryValueExW(m_key.Get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(read.data()), &size);
        if (result == ERROR_SUCCESS) {
            read.resize(size / sizeof(wchar_t));
            if (read.empty() || read.back() != L'\0')
                read.push_back(L'\0');
            text.swap(read);
            break;
        }
    }
    return result;
}

LONG CRegKey::WriteWide(const wchar_t* name, const WideText& text)
{
    if (text.empty())
        return WriteWide(name, WideText(1, L'\0'));
    if (text.size() >= MAXDWORD / sizeof(wchar_t))
        return ERROR_INVALID_PARAMETER;
    return RegSetValueExW(m_key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.data()),
                          static_cast<DWORD>(text.size() * sizeof(wchar_t)));
}

LONG CRegKey::DeleteValue(const char* name)
{
    const LONG result = RegDeleteValueA(m_key.Get(), name);
    return result == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : result;
}

LONG CRegKey::SubkeyNames(std::vector<std::string>& names) const
{
    names.clear();
    // A key's name has at most 255 characters.
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof name;
        const LONG result = RegEnumKeyExA(m_key.Get(), i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS)
            return ERROR_SUCCESS;
        if (result == ERROR_MORE_DATA)
            continue;  // beyond the registry's own limit: no key of ours
        if (result != ERROR_SUCCESS)
            return result;
        names.emplace_back(name, length);
    }
}

LONG CRegKey::LastWriteTime(FILETIME& time) const
{
    return RegQueryInfoKeyA(m_key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr, &time);
}
