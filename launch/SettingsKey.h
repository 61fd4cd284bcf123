// One open registry key at a time, closed when the object goes.
//
// Its results are the registry's own codes (0, ERROR_SUCCESS, for success),
// as the key's users and the stand-in installer have always read them; the
// store traces what fails.
#pragma once

#include <windows.h>

#include <string>

#include "framework/sys/RegKey.h"

class CSettingsKey {
public:
    // Opens root\subKey with the given access, creating the key and any
    // missing keys on its path. Returns the system's result code.
    LONG Open(HKEY root, const char* subKey, REGSAM access);
    // Reads a value of up to 200 bytes. On success value gets the bytes up to
    // the first zero byte (whatever the value's type); on failure it is left
    // as it was.
    LONG ReadString(const char* name, std::string& value);
    // Stores text as REG_SZ with its terminating zero byte.
    LONG WriteString(const char* name, const std::string& text);
    void Close() { m_hKey.Close(); }

private:
    CRegKey m_hKey;
};
