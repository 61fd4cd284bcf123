// VokWeiqi.exe stand-in: the client's installer as the update dialog sees it.
//
// Records how it was started (command line, its own path, current directory) into the file
// that MAROVENT_INSTALLER_RECORD names (else VokWeiqi.received.txt beside
// itself), then installs the stand-in client it carries: writes Marovent.exe
// into VANTORIMA_INSTALL_DIR (else %APPDATA%\Quorsel\Marovent) and records
// that directory as WorkDir in the client's settings key, as the real
// installer does; then puts the link handler (VantorimaLaunch.exe) it also
// carries beside the client and registers it for the link scheme per user:
// the client's folder is the user's own, and the handler registers a program
// that a user can rewrite for that user alone, never machine-wide.
#include <windows.h>

#include <shlobj.h>

#include <string>

#include "launch/SettingsKey.h"
#include "launch/SettingsStore.h"

namespace {

constexpr int kClientResource = 1;
constexpr int kHandlerResource = 2;

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

// Writes the program carried as resource id to path.
bool WriteCarried(int id, const std::string& path)
{
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(10));  // RT_RCDATA
    HGLOBAL loaded = found ? LoadResource(nullptr, found) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    return bytes && WriteBytes(path, bytes, SizeofResource(nullptr, found));
}

// Runs program with arguments and waits for it; true when it exits 0.
bool RunAndWait(const std::string& program, const std::string& arguments)
{
    std::string command = "\"" + program + "\" " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    DWORD code = 1;
    if (WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    return code == 0;
}

bool InstallHandler(const std::string& dir)
{
    const std::string handler = dir + "\\VantorimaLaunch.exe";
    return WriteCarried(kHandlerResource, handler) && RunAndWait(handler, "/register");
}

bool InstallClient()
{
    const std::string dir = InstallDir();
    if (dir.empty())
        return false;
    CreateDirectoryA(dir.c_str(), nullptr);
    if (!WriteCarried(kClientResource, dir + "\\Marovent.exe"))
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
    const bool handler = installed && InstallHandler(InstallDir());
    char cwd[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof cwd, cwd);
    const std::string text = "cmdline=" + std::string(GetCommandLineA()) + "\npath=" + self + "\ncwd=" + cwd +
        "\ninstalled=" + (installed ? "yes" : "no") + "\nhandler=" + (handler ? "yes" : "no") + "\n";
    // Written beside, then moved in place: a reader never sees half a record.
    const std::string partial = record + ".partial";
    if (WriteBytes(partial, text.data(), static_cast<DWORD>(text.size())))
        MoveFileExA(partial.c_str(), record.c_str(), MOVEFILE_REPLACE_EXISTING);
    return installed ? 0 : 1;
}
