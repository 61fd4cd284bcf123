#include "launch/SettingsStore.h"

#include "framework/sys/Result.h"
#include "launch/SettingsKey.h"
#include "support/Trace.h"
#include "support/TraceLines.h"

bool CSettingsStore::ReadWorkDir(std::string& dir)
{
    CSettingsKey key;
    if (LOG_IF_WIN32_ERROR(key.Open(HKEY_CURRENT_USER, kSettingsKeyPath, KEY_READ)) != ERROR_SUCCESS)
        return false;
    // Missing (error 2) is the client not installed; too long (234), a
    // directory the client could not start from either.
    return LOG_IF_WIN32_ERROR(key.ReadString("WorkDir", dir)) == ERROR_SUCCESS;
}

void CSettingsStore::WriteSetting(std::string text, std::string name)
{
    CSettingsKey key;
    if (LOG_IF_WIN32_ERROR(key.Open(HKEY_CURRENT_USER, kSettingsKeyPath, KEY_WRITE)) != ERROR_SUCCESS) {
        TraceOut(TraceLine::kSettingsKeyError);
        return;
    }
    TraceOut(TraceLine::kSettingsKeyOpened);
    LOG_IF_WIN32_ERROR(key.WriteString(name.c_str(), text));
}
