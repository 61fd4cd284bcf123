#include "launcher/SettingsKey.h"

#include <cstring>

namespace {
// Longest value ReadString takes, terminator included.
constexpr DWORD kReadBufferBytes = 200;
}  // namespace

LONG CSettingsKey::Open(HKEY root, const char* subKey, REGSAM access)
{
    HKEY key = nullptr;
    LONG result = RegCreateKeyExA(root, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &key, nullptr);
    if (result == ERROR_SUCCESS)
        m_hKey.Reset(key);
    return result;
}

LONG CSettingsKey::ReadString(const char* name, std::string& value)
{
    char buffer[kReadBufferBytes];
    DWORD size = sizeof buffer;
    LONG result = RegQueryValueExA(m_hKey.Get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
    if (result == ERROR_SUCCESS) {
        size = size < sizeof buffer ? size : sizeof buffer;
        const void* zero = std::memchr(buffer, 0, size);
        value.assign(buffer, zero ? static_cast<const char*>(zero) - buffer : size);
    }
    return result;
}

LONG CSettingsKey::WriteString(const char* name, const std::string& text)
{
    if (text.size() >= MAXDWORD)
        return ERROR_INVALID_PARAMETER;
    return RegSetValueExA(m_hKey.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1));
}
