// bench_handler: what the link handler costs.
//
//   - the size of the shipped (stripped) VantorimaLaunch.exe, target
//     <= 200 KiB, and the DLLs it imports, which must all be Windows' own;
//   - the time from starting the handler with a signed link until the client
//     has started (its record appears), against the same chain through a bare
//     program that only calls ShellExecuteA on the client with the same
//     arguments; target ratio <= 1.3, with the launcher's report to the
//     service on (the local server's /link/report, which counts them);
//   - the launcher's install (/install /quiet: its bytes copied into the
//     per-user programs folder, the scheme and the uninstall entry written)
//     against a bare program that copies the same file and writes the same
//     keys (BareCopy.exe); target ratio <= 2.
//
// Runs inside tests/win32/make_links.py --bench N, which signs N links.
#include <windows.h>

#include <shlobj.h>
#include <shlwapi.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BuildConfig.h"
#include "bench/BenchClock.h"
#include "bench/BenchImage.h"
#include "launch/SettingsStore.h"

namespace {

constexpr int kTargetKiB = 200;

// name=link lines of the links file (a Unix path: Wine's Z: drive).
std::vector<std::string> BenchLinks()
{
    std::vector<std::string> links;
    const char* file = getenv("VANTORIMA_TEST_LINKS");
    if (!file)
        return links;
    std::string path = std::string("Z:") + file;
    for (char& c : path)
        c = c == '/' ? '\\' : c;
    const std::string text = ReadFileBytes(path);
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end;
        const std::string line = text.substr(at, end - at);
        if (line.compare(0, 6, "bench_") == 0)
            links.push_back(line.substr(line.find('=') + 1));
        at = end + 1;
    }
    return links;
}

// Starts command; its process, or null.
HANDLE Start(std::string command)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return nullptr;
    CloseHandle(process.hThread);
    return process.hProcess;
}

// Starts command and waits until the record file appears; milliseconds.
double TimeToRecord(const std::string& command, const std::string& record)
{
    DeleteFileA(record.c_str());
    const double start = SecondsNow();
    const HANDLE process = Start(command);
    if (!process)
        return -1;
    double ms = -1;
    for (int i = 0; i < 20000; ++i) {
        if (GetFileAttributesA(record.c_str()) != INVALID_FILE_ATTRIBUTES) {
            ms = 1000.0 * (SecondsNow() - start);
            break;
        }
        Sleep(1);
    }
    WaitForSingleObject(process, 10000);
    CloseHandle(process);
    Sleep(50);  // the client ends before the next start
    return ms;
}

// Runs command until it ends with exit code 0; milliseconds, or -1.
double TimeToEnd(const std::string& command)
{
    const double start = SecondsNow();
    const HANDLE process = Start(command);
    if (!process)
        return -1;
    DWORD code = 1;
    const bool ended =
        WaitForSingleObject(process, 20000) == WAIT_OBJECT_0 && GetExitCodeProcess(process, &code) && code == 0;
    const double ms = 1000.0 * (SecondsNow() - start);
    CloseHandle(process);
    return ended ? ms : -1;
}

// What either install wrote, taken away again (not timed).
void RemoveInstall()
{
    char local[MAX_PATH];
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, local)))
        return;
    const std::string folder = std::string(local) + "\\Programs\\Vantorima";
    DeleteFileA((folder + "\\VantorimaLaunch.exe").c_str());
    RemoveDirectoryA(folder.c_str());
    SHDeleteKeyA(HKEY_CURRENT_USER, "Software\\Classes\\vantorima");
    SHDeleteKeyA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vantorima");
}

// How many reports of a started client the local server (the bench runs
// inside it) has received.
int StartedReports()
{
    const char* port = getenv("VANTORIMA_UPDATE_PORT");
    const std::string url = std::string("http://127.0.0.1:") + (port ? port : "0") + "/link/reports";
    HINTERNET session = InternetOpenA("bench", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET request = session ? InternetOpenUrlA(session, url.c_str(), nullptr, 0, INTERNET_FLAG_RELOAD, 0) : nullptr;
    std::string text;
    char buffer[4096];
    DWORD read = 0;
    while (request && InternetReadFile(request, buffer, sizeof buffer, &read) && read > 0)
        text.append(buffer, read);
    if (request)
        InternetCloseHandle(request);
    if (session)
        InternetCloseHandle(session);
    int count = 0;
    for (size_t at = text.find("outcome=started"); at != std::string::npos; at = text.find("outcome=started", at + 1))
        ++count;
    return count;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

}  // namespace

int main()
{
    const std::string dir = ProgramDir();
    const std::string handler = dir + "VantorimaLaunch.exe";
    const std::string image = ReadFileBytes(handler);
    const double kib = image.size() / 1024.0;
    printf("link handler size (stripped): %zu bytes = %.1f KiB (target <= %d KiB: %s)\n", image.size(), kib, kTargetKiB,
           kib <= kTargetKiB ? "met" : "NOT met");
    PrintImports(image);

    const std::vector<std::string> links = BenchLinks();
    if (links.empty()) {
        printf("no signed links (run inside make_links.py --bench N)\n");
        return 1;
    }
    // The client installed in the bench's own directory.
    const std::string client = dir + "bench-client";
    CreateDirectoryA(client.c_str(), nullptr);
    CopyFileA((dir + "Marovent.exe").c_str(), (client + "\\Marovent.exe").c_str(), FALSE);
    HKEY key;
    RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    RegSetValueExA(key, "WorkDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(client.c_str()),
                   static_cast<DWORD>(client.size() + 1));
    RegCloseKey(key);
    const std::string record = client + "\\record.txt";
    SetEnvironmentVariableA("MAROVENT_RECORD", record.c_str());

    std::vector<double> handlerMs, bareMs;
    const std::string arguments = " /NAME:guest /PASSWORD:" + std::string(64, '0') + " /JOINKEY:1000";
    for (const std::string& link : links) {
        handlerMs.push_back(TimeToRecord("\"" + handler + "\" \"" + link + "\"", record));
        bareMs.push_back(TimeToRecord(
            "\"" + dir + "BareLaunch.exe\" \"" + client + "\\Marovent.exe\" \"" + arguments + "\"", record));
    }
    const double h = Median(handlerMs), b = Median(bareMs);
    printf("handler started with a link to client start: %.1f ms (median of %zu)\n", h, links.size());
    printf("bare ShellExecuteA program to client start:  %.1f ms (median of %zu)\n", b, links.size());
    printf("  ratio %.2f (target <= 1.3: %s)\n", h / b, h > 0 && b > 0 && h / b <= 1.3 ? "met" : "NOT met");
    printf("  with the report on (%s): %d of %zu links reported started\n",
           *VANTORIMA_LINK_REPORT ? VANTORIMA_LINK_REPORT : "off", StartedReports(), links.size());
    RegDeleteKeyA(HKEY_CURRENT_USER, kSettingsKeyPath);

    // The install, from a copy as a player's download folder holds it.
    const std::string download = dir + "bench-download.exe";
    CopyFileA(handler.c_str(), download.c_str(), FALSE);
    std::vector<double> installMs, copyMs;
    for (int i = 0; i < 15; ++i) {
        RemoveInstall();
        installMs.push_back(TimeToEnd("\"" + download + "\" /install /quiet"));
        RemoveInstall();
        copyMs.push_back(TimeToEnd("\"" + dir + "BareCopy.exe\" \"" + download + "\""));
    }
    RemoveInstall();
    DeleteFileA(download.c_str());
    const double in = Median(installMs), copy = Median(copyMs);
    printf("launcher install (/install /quiet): %.1f ms (median of %zu)\n", in, installMs.size());
    printf("bare copy and the same keys:        %.1f ms (median of %zu)\n", copy, copyMs.size());
    printf("ratio launcher install / bare copy %.2f (target <= 2: %s)\n", in / copy,
           in > 0 && copy > 0 && in / copy <= 2 ? "met" : "NOT met");
    return 0;
}
