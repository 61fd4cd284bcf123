// One open registry key: opened or created, read, written, closed when the
// object goes. Every registry access of the module goes through it. Its less
// common operations (wide text, value deletion, subkey names, last write
// time) are in RegKeyMore.cpp, so that a module that needs none of them does
// not carry them.
//
// Its results are the registry's own codes, untraced: an absent key or value
// is an answer as often as a failure, and only the caller knows which
// (RETURN_IF_WIN32_ERROR and LOG_IF_WIN32_ERROR there).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "framework/sys/UniqueHandle.h"
#include "framework/sys/WideText.h"

class CRegKey {
public:
    // Opens root\path; the system's result code.
    LONG Open(HKEY root, const char* path, REGSAM access);
    // Opens root\path, creating it and any missing keys on its path; created
    // (when given) tells whether this call made the key itself: the system
    // makes a key once, every other creator opens it.
    LONG Create(HKEY root, const char* path, REGSAM access, bool* created = nullptr);
    // Takes an open key (or a predefined one such as HKEY_PERFORMANCE_DATA,
    // which must be closed after each use) to close when the object goes.
    void Attach(HKEY key) { m_key.Reset(key); }
    void Close() { m_key.Reset(); }
    HKEY Get() const { return m_key.Get(); }

    // The value's bytes into data (size: room in, bytes out), as the system
    // gives them.
    LONG Query(const char* name, DWORD* type, void* data, DWORD* size) const;
    // The whole value, however long; bytes is left alone on failure.
    LONG Read(const char* name, std::vector<char>& bytes, DWORD* type = nullptr) const;
    // The whole value as wide text, terminated (whatever its type, as the
    // system gives it); text is left alone on failure. For text that may not
    // be ANSI, such as a program's path.
    LONG ReadWide(const wchar_t* name, WideText& text) const;
    // Stores size bytes of data as a value of the given type; name null or
    // empty is the key's default value.
    LONG Write(const char* name, DWORD type, const void* data, DWORD size);
    // Stores text as REG_SZ with its terminating zero.
    LONG WriteString(const char* name, const std::string& text);
    // Stores terminated wide text, all of it, as REG_SZ; name null is the
    // key's default value.
    LONG WriteWide(const wchar_t* name, const WideText& text);
    // Deletes a value; ERROR_SUCCESS also when it is absent.
    LONG DeleteValue(const char* name);

    // The names of the keys right under this one, in the system's order; on
    // a failure, the names read before it.
    LONG SubkeyNames(std::vector<std::string>& names) const;
    // When the key or one of its values was last written.
    LONG LastWriteTime(FILETIME& time) const;

    // Deletes root\path and everything under it; ERROR_SUCCESS also when it
    // is absent.
    static LONG DeleteTree(HKEY root, const char* path);
    // Deletes root\path when it holds neither keys nor values; ERROR_SUCCESS
    // also when it is absent or kept.
    static LONG DeleteIfEmpty(HKEY root, const char* path);

private:
    CRegKeyHandle m_key;
};
