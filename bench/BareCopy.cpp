// The bare install that bench_handler compares the launcher's install with: a
// program that only copies the launcher into the per-user programs folder and
// writes the keys the launcher writes, checking nothing and keeping no record.
//   BareCopy.exe <launcher>
#include <windows.h>

#include <shellapi.h>
#include <shlobj.h>

namespace {

void SetText(HKEY root, const wchar_t* path, const wchar_t* name, const wchar_t* text)
{
    HKEY key;
    if (RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                   static_cast<DWORD>((lstrlenW(text) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

void SetNumber(HKEY root, const wchar_t* path, const wchar_t* name, DWORD number)
{
    HKEY key;
    if (RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    RegCloseKey(key);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    wchar_t folder[MAX_PATH], program[MAX_PATH], text[2 * MAX_PATH];
    if (!argv || argc != 2 || FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, folder)))
        return 1;
    lstrcatW(folder, L"\\Programs");
    CreateDirectoryW(folder, nullptr);
    lstrcatW(folder, L"\\Vantorima");
    CreateDirectoryW(folder, nullptr);
    wsprintfW(program, L"%s\\VantorimaLaunch.exe", folder);
    if (!CopyFileW(argv[1], program, FALSE))
        return 1;
    const wchar_t scheme[] = L"Software\\Classes\\vantorima";
    SetText(HKEY_CURRENT_USER, scheme, nullptr, L"URL:VOK 围棋");
    SetText(HKEY_CURRENT_USER, scheme, L"URL Protocol", L"");
    wsprintfW(text, L"%s,0", program);
    SetText(HKEY_CURRENT_USER, L"Software\\Classes\\vantorima\\DefaultIcon", nullptr, text);
    wsprintfW(text, L"\"%s\" \"%%1\"", program);
    SetText(HKEY_CURRENT_USER, L"Software\\Classes\\vantorima\\shell\\open\\command", nullptr, text);
    const wchar_t entry[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vantorima";
    SetText(HKEY_CURRENT_USER, entry, L"DisplayName", L"VOK 围棋 启动器");
    SetText(HKEY_CURRENT_USER, entry, L"DisplayVersion", L"1.0.0.2");
    SetText(HKEY_CURRENT_USER, entry, L"Publisher", L"Quorsel");
    wsprintfW(text, L"%s,0", program);
    SetText(HKEY_CURRENT_USER, entry, L"DisplayIcon", text);
    SetText(HKEY_CURRENT_USER, entry, L"InstallLocation", folder);
    wsprintfW(text, L"\"%s\" /uninstall", program);
    SetText(HKEY_CURRENT_USER, entry, L"UninstallString", text);
    wsprintfW(text, L"\"%s\" /uninstall /quiet", program);
    SetText(HKEY_CURRENT_USER, entry, L"QuietUninstallString", text);
    SetNumber(HKEY_CURRENT_USER, entry, L"EstimatedSize", 200);
    SetNumber(HKEY_CURRENT_USER, entry, L"NoModify", 1);
    SetNumber(HKEY_CURRENT_USER, entry, L"NoRepair", 1);
    LocalFree(argv);
    return 0;
}
