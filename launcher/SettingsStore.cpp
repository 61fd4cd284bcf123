#include "launcher/SettingsStore.h"

#include "launcher/SettingsKey.h"
#include "support/Trace.h"

int CSettingsStore::ReadWorkDir(std::string& dir)
{
    CSettingsKey key;
    if (key.Open(HKEY_CURRENT_USER, kSettingsKeyPath, KEY_READ) != ERROR_SUCCESS)
        return 1;
    return key.ReadString("WorkDir", dir) == ERROR_SUCCESS ? 0 : 1;
}

void CSettingsStore::WriteSetting(std::string text, std::string name)
{
    CSettingsKey key;
    if (key.Open(HKEY_CURRENT_USER, kSettingsKeyPath, KEY_WRITE) != ERROR_SUCCESS) {
        TraceOut("error");
        return;
    }
    TraceOut("suc");
    key.WriteString(name.c_str(), text);
}
