// A list of registry entries under HKEY_CLASSES_ROOT that a class object
// writes to register and removes to unregister: one table for both ways.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class CRegistryScript {
public:
    // The key (with the trees under it) that unregistering removes whole.
    void OwnKey(std::string key);
    // Sets a value: the key's default value when name is empty.
    void Value(std::string key, std::string name, std::string text);

    // Writes every entry; ERROR_SUCCESS or the first failure.
    LONG Write() const;
    // Removes the owned keys (a key already gone counts as removed);
    // ERROR_SUCCESS or the first failure.
    LONG Remove() const;

    struct Entry {
        std::string key;
        std::string name;
        std::string text;
    };
    const std::vector<Entry>& Entries() const { return m_entries; }

private:
    std::vector<std::string> m_ownedKeys;
    std::vector<Entry> m_entries;
};
