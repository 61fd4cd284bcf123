// The bare chain that bench_handler compares the link handler with: a
// program that only asks the shell to start the client.
//   BareLaunch.exe <client> <arguments>
#include <windows.h>

#include <shellapi.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc != 3)
        return 1;
    ShellExecuteW(nullptr, nullptr, argv[1], argv[2], nullptr, SW_SHOWNORMAL);
    LocalFree(argv);
    return 0;
}
