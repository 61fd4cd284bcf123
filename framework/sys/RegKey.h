// One open registry key: opened or created, read, written, closed when the
// object goes. Every registry access of the module goes through it.
//
// Its results are the registry's own codes, untraced: an absent key or value
// is an answer as often as a failure, and only the caller knows which
// (RETURN_IF_WIN32_ERROR and LOG_IF_WIN32_ERROR there).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "framework/sys/UniqueHandle.h"

class CRegKey {
public:
    // Opens root\path; the system's result code.
    LONG Open(HKEY root, const char* path, REGSAM access);
    // Opens root\path, creating it and any missing keys on its path.
    LONG Create(HKEY root, const char* path, REGSAM access);
    void Close() { m_key.Reset(); }
    HKEY Get() const { return m_key.Get(); }

    // The value's bytes into data (size: room in, bytes out), as the system
    // gives them.
    LONG Query(const char* name, DWORD* type, void* data, DWORD* size) const;
    // The whole value, however long; bytes is left alone on failure.
    LONG Read(const char* name, std::vector<char>& bytes, DWORD* type = nullptr) const;
    // Stores text as REG_SZ with its terminating zero; name null or empty is
    // the key's default value.
    LONG WriteString(const char* name, const std::string& text);

    // Deletes root\path and everything under it; ERROR_SUCCESS also when it
    // is absent.
    static LONG DeleteTree(HKEY root, const char* path);
    // Deletes root\path when it holds neither keys nor values; ERROR_SUCCESS
    // also when it is absent or kept.
    static LONG DeleteIfEmpty(HKEY root, const char* path);

private:
    CRegKeyHandle m_key;
};
