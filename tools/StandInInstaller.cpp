// VokWeiqi.exe stand-in: the client's installer as the update dialog sees it.
//
// Records how it was started (command line, its own path, current directory) into the file
// that MAROVENT_INSTALLER_RECORD names (else VokWeiqi.received.txt beside
// itself), then installs the stand-in client it carries: writes Marovent.exe
// into VANTORIMA_INSTALL_DIR (else %APPDATA%\Quorsel\Marovent) and records
// that directory as WorkDir in the client's settings key, as the real
// installer does.
#include <windows.h>

#include <shlobj.h>

#include <string>

#include "launcher/SettingsKey.h"
#include "launcher/SettingsStore.h"

namespace {

constexpr int kClientResource = 1;

std::string Environment(const char* name)
{
    char value[MAX_PATH];
    DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

std::string OwnPath()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    return std::string(path, n);
}

bool WriteBytes(const std::string& path, const void* data, DWORD size)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool done = WriteFile(file, data, size, &written, nullptr) && written == size;
    CloseHandle(file);
    return done;
}

std::string InstallDir()
{
    std::string dir = Environment("VANTORIMA_INSTALL_DIR");
    if (!dir.empty())
        return dir;
    char appData[MAX_PATH];
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, appData)))
        return std::string();
    dir = std::string(appData) + "\\Quorsel";
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir + "\\Marovent";
}

bool InstallClient()
{
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(kClientResource), MAKEINTRESOURCEA(10));  // RT_RCDATA
    HGLOBAL loaded = found ? LoadResource(nullptr, found) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    const std::string dir = InstallDir();
    if (!bytes || dir.empty())
        return false;
    CreateDirectoryA(dir.c_str(), nullptr);
    if (!WriteBytes(dir + "\\Marovent.exe", bytes, SizeofResource(nullptr, found)))
        return false;
    CSettingsKey key;
    return key.Open(HKEY_CURRENT_USER, kSettingsKeyPath, KEY_WRITE) == ERROR_SUCCESS &&
        key.WriteString("WorkDir", dir) == ERROR_SUCCESS;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    const std::string self = OwnPath();
    std::string record = Environment("MAROVENT_INSTALLER_RECORD");
    if (record.empty())
        record = self.substr(0, self.find_last_of('\\') + 1) + "VokWeiqi.received.txt";
    const bool installed = InstallClient();
    char cwd[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof cwd, cwd);
    const std::string text = "cmdline=" + std::string(GetCommandLineA()) + "\npath=" + self + "\ncwd=" + cwd +
        "\ninstalled=" + (installed ? "yes" : "no") + "\n";
    // Written beside, then moved in place: a reader never sees half a record.
    const std::string partial = record + ".partial";
    if (WriteBytes(partial, text.data(), static_cast<DWORD>(text.size())))
        MoveFileExA(partial.c_str(), record.c_str(), MOVEFILE_REPLACE_EXISTING);
    return installed ? 0 : 1;
}
