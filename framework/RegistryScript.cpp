#include "framework/RegistryScript.h"

#include "framework/UniqueHandle.h"

void CRegistryScript::OwnKey(std::string key)
{
    m_ownedKeys.push_back(std::move(key));
}

void CRegistryScript::Value(std::string key, std::string name, std::string text)
{
    m_entries.push_back({std::move(key), std::move(name), std::move(text)});
}

LONG CRegistryScript::Write() const
{
    for (const Entry& entry : m_entries) {
        CRegKeyHandle key;
        LONG result = RegCreateKeyExA(HKEY_CLASSES_ROOT, entry.key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                      KEY_SET_VALUE, nullptr, key.Put(), nullptr);
        if (result != ERROR_SUCCESS)
            return result;
        result = RegSetValueExA(key.Get(), entry.name.empty() ? nullptr : entry.name.c_str(), 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(entry.text.c_str()),
                                static_cast<DWORD>(entry.text.size() + 1));
        if (result != ERROR_SUCCESS)
            return result;
    }
    return ERROR_SUCCESS;
}

LONG CRegistryScript::Remove() const
{
    for (const std::string& key : m_ownedKeys) {
        const LONG result = DeleteRegistryTree(HKEY_CLASSES_ROOT, key);
        if (result != ERROR_SUCCESS)
            return result;
    }
    return ERROR_SUCCESS;
}

LONG DeleteRegistryTree(HKEY root, const std::string& key)
{
    {
        CRegKeyHandle parent;
        LONG result = RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, parent.Put());
        if (result == ERROR_FILE_NOT_FOUND)
            return ERROR_SUCCESS;
        if (result != ERROR_SUCCESS)
            return result;
        // Always the first subkey: each deletion shifts the rest down.
        char name[256];
        DWORD length = sizeof name;
        while (RegEnumKeyExA(parent.Get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
            result = DeleteRegistryTree(parent.Get(), name);
            if (result != ERROR_SUCCESS)
                return result;
            length = sizeof name;
        }
    }
    const LONG result = RegDeleteKeyA(root, key.c_str());
    return result == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : result;
}
