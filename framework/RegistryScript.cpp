#include "framework/RegistryScript.h"

#include "framework/RegKey.h"

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
        CRegKey key;
        LONG result = key.Create(HKEY_CLASSES_ROOT, entry.key.c_str(), KEY_SET_VALUE);
        if (result == ERROR_SUCCESS)
            result = key.WriteString(entry.name.c_str(), entry.text);
        if (result != ERROR_SUCCESS)
            return result;
    }
    return ERROR_SUCCESS;
}

LONG CRegistryScript::Remove() const
{
    for (const std::string& key : m_ownedKeys) {
        const LONG result = CRegKey::DeleteTree(HKEY_CLASSES_ROOT, key.c_str());
        if (result != ERROR_SUCCESS)
            return result;
    }
    return ERROR_SUCCESS;
}
