#include "framework/sys/RegKey.h"

#include <shlwapi.h>

LONG CRegKey::Open(HKEY root, const char* path, REGSAM access)
{
    CRegKeyHandle key;
    const LONG result = RegOpenKeyExA(root, path, 0, access, key.Put());
    if (result == ERROR_SUCCESS)
        m_key = std::move(key);
    return result;
}

LONG CRegKey::Create(HKEY root, const char* path, REGSAM access, bool* created)
{
    CRegKeyHandle key;
    DWORD disposition = 0;
    const LONG result =
        RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, key.Put(), &disposition);
    if (result == ERROR_SUCCESS)
        m_key = std::move(key);
    if (created)
        *created = result == ERROR_SUCCESS && disposition == REG_CREATED_NEW_KEY;
    return result;
}

LONG CRegKey::Query(const char* name, DWORD* type, void* data, DWORD* size) const
{
    return RegQueryValueExA(m_key.Get(), name, nullptr, type, static_cast<BYTE*>(data), size);
}

LONG CRegKey::Read(const char* name, std::vector<char>& bytes, DWORD* type) const
{
    DWORD size = 0;
    LONG result = Query(name, type, nullptr, &size);
    std::vector<char> read;
    // The value may grow between two calls: then ask again with its new size.
    while (result == ERROR_SUCCESS || result == ERROR_MORE_DATA) {
        read.resize(size);
        result = Query(name, type, read.data(), &size);
        if (result == ERROR_SUCCESS) {
            read.resize(size < read.size() ? size : read.size());
            bytes.swap(read);
            break;
        }
    }
    return result;
}

LONG CRegKey::Write(const char* name, DWORD type, const void* data, DWORD size)
{
    return RegSetValueExA(m_key.Get(), name && *name ? name : nullptr, 0, type, static_cast<const BYTE*>(data), size);
}

LONG CRegKey::WriteString(const char* name, const std::string& text)
{
    if (text.size() >= MAXDWORD)
        return ERROR_INVALID_PARAMETER;
    return Write(name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

LONG CRegKey::DeleteTree(HKEY root, const char* path)
{
    // Not RegDeleteTree: that arrived with Vista, and the module also loads on
    // systems before it.
    const LONG result = static_cast<LONG>(SHDeleteKeyA(root, path));
    return result == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : result;
}

LONG CRegKey::DeleteIfEmpty(HKEY root, const char* path)
{
    DWORD subkeys = 0, values = 0;
    {
        CRegKey key;
        LONG result = key.Open(root, path, KEY_READ);
        if (result != ERROR_SUCCESS)
            return result == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : result;
        result = RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                                  nullptr, nullptr, nullptr);
        if (result != ERROR_SUCCESS)
            return result;
    }
    if (subkeys || values)
        return ERROR_SUCCESS;
    const LONG result = RegDeleteKeyA(root, path);
    return result == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : result;
}
