// Marovent.exe stand-in: the desktop client as the control sees it.
//
// Records what it was started with into the file that MAROVENT_RECORD names
// (else Marovent.received.txt beside the program): the raw command line, the
// arguments, and the name, password and join key read from them, the
// password decoded from its token. "/STAYMS:<n>" keeps it running n ms, so
// tests can find it among the running processes. When MAROVENT_SHOW_MS is
// set it also shows what it received in a small window for that long, after
// MAROVENT_SHOW_AFTER_MS when that is set (a slow PC's client).
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "launch/CredentialToken.h"

namespace {

// Text between marker and the next of the later markers (or the end).
std::string Field(const std::string& args, const char* marker, const char* next)
{
    size_t start = args.find(marker);
    if (start == std::string::npos)
        return std::string();
    start += std::strlen(marker);
    size_t end = next ? args.find(next, start) : std::string::npos;
    return args.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// The command line without the program's name and the one blank that the
// shell puts between the name and the parameters it was given.
std::string Arguments(const char* commandLine)
{
    const char* p = commandLine;
    if (*p == '"') {
        p = std::strchr(p + 1, '"');
        p = p ? p + 1 : commandLine + std::strlen(commandLine);
    } else {
        while (*p && *p != ' ' && *p != '\t')
            ++p;
    }
    if (*p == ' ')
        ++p;
    return p;
}

std::string RecordPath()
{
    char path[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("MAROVENT_RECORD", path, sizeof path);
    if (n > 0 && n < sizeof path)
        return path;
    n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string own(path, n);
    return own.substr(0, own.find_last_of('\\') + 1) + "Marovent.received.txt";
}

void WriteWhole(const std::string& path, const std::string& text)
{
    // Written beside, then moved in place: a reader never sees half a record.
    const std::string partial = path + ".partial";
    HANDLE file = CreateFileA(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    MoveFileExA(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

// A window with the received values, for people watching a demo.
void ShowRecord(const std::string& text, DWORD ms)
{
    std::string lines;
    for (char c : text)
        lines += c == '\n' ? std::string("\r\n") : std::string(1, c);
    HWND window = CreateWindowExA(WS_EX_TOPMOST, "STATIC", lines.c_str(), WS_POPUP | WS_BORDER | WS_VISIBLE | SS_LEFT,
                                  340, 380, 640, 120, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    DestroyWindow(window);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    const char* commandLine = GetCommandLineA();
    const std::string args = Arguments(commandLine);
    const std::string password = Field(args, "/PASSWORD:", " /JOINKEY:");

    std::string record = "cmdline=" + std::string(commandLine) + "\n";
    record += "args=" + args + "\n";
    record += "name=" + Field(args, "/NAME:", " /PASSWORD:") + "\n";
    DecodedToken token;
    if (DecodeToken(password, &token)) {
        record += "password=" + token.password + "\n";
        record += "tokentime=" + std::to_string(token.time) + "\n";
    } else {
        record += "password=" + password + "\n";
    }
    record += "joinkey=" + Field(args, "/JOINKEY:", nullptr) + "\n";
    char cwd[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof cwd, cwd);
    record += "cwd=" + std::string(cwd) + "\n";
    WriteWhole(RecordPath(), record);

    char show[16];
    DWORD n = GetEnvironmentVariableA("MAROVENT_SHOW_MS", show, sizeof show);
    char after[16];
    DWORD m = GetEnvironmentVariableA("MAROVENT_SHOW_AFTER_MS", after, sizeof after);
    if (n > 0 && n < sizeof show && m > 0 && m < sizeof after)
        Sleep(static_cast<DWORD>(std::strtoul(after, nullptr, 10)));
    if (n > 0 && n < sizeof show)
        ShowRecord(" Marovent (stand-in client) received:\n" + record.substr(record.find("\nname=") + 1),
                   std::strtoul(show, nullptr, 10));

    const std::string stay = Field(args, "/STAYMS:", " ");
    if (!stay.empty())
        Sleep(static_cast<DWORD>(std::strtoul(stay.c_str(), nullptr, 10)));
    return 0;
}
