#include "launch/SettingsKey.h"

#include <cstring>

namespace {
// Longest value ReadString takes, terminator included.
constexpr DWORD kReadBufferBytes = 200;
}  // namespace

LONG CSettingsKey::Open(HKEY root, const char* subKey, REGSAM access)
{
    return m_hKey.Create(root, subKey, access);
}

LONG CSettingsKey::ReadString(const char* name, std::string& value)
{
    char buffer[kReadBufferBytes];
    DWORD size = sizeof buffer;
    LONG result = m_hKey.Query(name, nullptr, buffer, &size);
    if (result == ERROR_SUCCESS) {
        size = size < sizeof buffer ? size : sizeof buffer;
        const void* zero = std::memchr(buffer, 0, size);
        value.assign(buffer, zero ? static_cast<const char*>(zero) - buffer : size);
    }
    return result;
}

LONG CSettingsKey::WriteString(const char* name, const std::string& text)
{
    return m_hKey.WriteString(name, text);
}
