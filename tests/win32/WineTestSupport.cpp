#include "WineTestSupport.h"

#include <shlobj.h>

#include <sddl.h>

#include <wininet.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "launch/SettingsStore.h"

namespace wine_test {

std::string ProgramDir()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string own(path, n);
    return own.substr(0, own.find_last_of('\\') + 1);
}

namespace {

void RemoveDirectoryTree(const std::string& path)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileA((path + "\\" + found.cFileName).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

}  // namespace

CScratchDir::CScratchDir(const std::string& name)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    // Unique within the process too: a worker of an earlier test may still
    // hold a file of its directory open.
    static int serial = 0;
    m_path = std::string(temp) + name + "." + std::to_string(GetCurrentProcessId()) + "." + std::to_string(++serial);
    RemoveDirectoryTree(m_path);
    CreateDirectoryA(m_path.c_str(), nullptr);
}

CScratchDir::~CScratchDir()
{
    RemoveDirectoryTree(m_path);
}

CTraceCapture::CTraceCapture()
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    static int serial = 0;
    m_path = std::string(temp) + "vantorima-trace-" + std::to_string(GetCurrentProcessId()) + "-" +
        std::to_string(++serial) + ".txt";
    DeleteFileA(m_path.c_str());
    SetEnvironmentVariableA("VANTORIMA_TRACE", m_path.c_str());
}

CTraceCapture::~CTraceCapture()
{
    SetEnvironmentVariableA("VANTORIMA_TRACE", nullptr);
    DeleteFileA(m_path.c_str());
}

std::vector<std::string> CTraceCapture::Lines() const
{
    std::vector<std::string> lines;
    std::istringstream in(ReadFileBytes(m_path));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool ParseLogLine(const std::string& line, LogLine& parsed)
{
    // The time by its shape: digits where digits belong.
    const char shape[] = "0000-00-00 00:00:00.000 [";
    if (line.size() < sizeof shape)
        return false;
    for (size_t i = 0; i + 1 < sizeof shape; ++i) {
        if (shape[i] == '0' ? !isdigit(static_cast<unsigned char>(line[i])) : line[i] != shape[i])
            return false;
    }
    size_t at = sizeof shape - 1;
    const size_t space = line.find(' ', at);
    const size_t close = line.find("] ", at);
    if (space == std::string::npos || close == std::string::npos || space == at || space > close)
        return false;
    for (size_t i = at; i < space; ++i) {
        if (!isdigit(static_cast<unsigned char>(line[i])))
            return false;
    }
    parsed.time = line.substr(0, at - 2);
    parsed.processId = std::stoul(line.substr(at, space - at));
    parsed.program = line.substr(space + 1, close - space - 1);
    parsed.text = line.substr(close + 2);
    return true;
}

std::vector<std::string> ReadLog(const std::string& folder)
{
    std::string dir = folder;
    if (dir.empty()) {
        char local[MAX_PATH];
        if (FAILED(SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, local)))
            return {};
        dir = local;
    }
    dir += "\\Vantorima\\Logs\\";
    std::vector<std::string> lines;
    for (const char* name : {"vantorima.old.log", "vantorima.log"}) {
        const std::string bytes = ReadFileBytes(dir + name);
        for (size_t at = 0; at < bytes.size();) {
            size_t end = bytes.find("\r\n", at);
            if (end == std::string::npos) {
                lines.push_back(bytes.substr(at));  // a line without its end: the tests say so
                break;
            }
            lines.push_back(bytes.substr(at, end - at));
            at = end + 2;
        }
    }
    return lines;
}

std::string LogTimeNow()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    char text[32];
    snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u", now.wYear, now.wMonth, now.wDay, now.wHour,
             now.wMinute, now.wSecond, now.wMilliseconds);
    return text;
}

std::vector<LogLine> LogLinesOf(DWORD processId, const std::string& since)
{
    std::vector<LogLine> lines;
    for (const std::string& line : ReadLog()) {
        LogLine parsed;
        if (ParseLogLine(line, parsed) && parsed.processId == processId && parsed.time >= since)
            lines.push_back(parsed);
    }
    return lines;
}

bool CTraceCapture::Contains(const std::string& line) const
{
    return Count(line) > 0;
}

std::string CTraceCapture::Last(const std::string& prefix) const
{
    std::string last;
    for (const std::string& line : Lines()) {
        if (line.rfind(prefix, 0) == 0)
            last = line;
    }
    return last;
}

int CTraceCapture::Count(const std::string& line) const
{
    int n = 0;
    for (const std::string& l : Lines())
        n += l == line;
    return n;
}

bool TracedFailure(const std::string& line, const std::string& code)
{
    const size_t open = line.find('(');
    const size_t close = line.find("): ");
    if (open == std::string::npos || open == 0 || close == std::string::npos || close <= open + 1)
        return false;
    for (size_t i = open + 1; i < close; ++i) {
        if (line[i] < '0' || line[i] > '9')
            return false;
    }
    const std::string ending = " failed: " + code;
    return line.size() > close + 3 + ending.size() &&
        line.compare(line.size() - ending.size(), ending.size(), ending) == 0;
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (!done())
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
}

void PumpFor(DWORD ms)
{
    const DWORD start = GetTickCount();
    int checks = 0;
    // At least one pass over the queue, however late this thread runs.
    PumpUntil([&] { return ++checks > 1 && GetTickCount() - start >= ms; }, ms + 1000);
}

std::string ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    return static_cast<bool>(out);
}

std::string WaitForRecord(const std::string& path, DWORD timeoutMs)
{
    std::string record;
    PumpUntil(
        [&] {
            record = ReadFileBytes(path);
            return !record.empty() && record.back() == '\n';
        },
        timeoutMs);
    return record;
}

std::string RecordField(const std::string& record, const std::string& name)
{
    const std::string marker = name + "=";
    size_t at = record.compare(0, marker.size(), marker) == 0 ? 0 : record.find("\n" + marker);
    if (at == std::string::npos)
        return "<missing>";
    if (at)
        ++at;
    at += marker.size();
    return record.substr(at, record.find('\n', at) - at);
}

void DeleteSettingsKey()
{
    RegDeleteKeyA(HKEY_CURRENT_USER, kSettingsKeyPath);
}

bool SettingsKeyExists()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool ReadSettingsValue(const char* name, DWORD* type, std::string* bytes)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    LONG result = RegQueryValueExA(key, name, nullptr, type, nullptr, &size);
    if (result == ERROR_SUCCESS) {
        bytes->assign(size, '\0');
        result = RegQueryValueExA(key, name, nullptr, type, reinterpret_cast<BYTE*>(&(*bytes)[0]), &size);
        bytes->resize(size);
    }
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

std::string SettingsText(const char* name)
{
    DWORD type = 0;
    std::string bytes;
    if (!ReadSettingsValue(name, &type, &bytes))
        return "<missing>";
    if (type != REG_SZ || bytes.empty() || bytes.back() != '\0')
        return "<not a terminated REG_SZ>";
    bytes.pop_back();
    return bytes;
}

void WriteSettingsValue(const char* name, DWORD type, const std::string& bytes)
{
    HKEY key;
    RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
    RegCloseKey(key);
}

bool SetSettingsKeyDacl(const char* sddl)
{
    return SetKeyDacl(HKEY_CURRENT_USER, kSettingsKeyPath, sddl);
}

bool SetKeyDacl(HKEY root, const char* path, const char* sddl)
{
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, WRITE_DAC, &key) != ERROR_SUCCESS)
        return false;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    bool done = ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr) &&
        RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS;
    LocalFree(descriptor);
    RegCloseKey(key);
    return done;
}

std::string UpdateServerPort()
{
    const char* port = std::getenv("VANTORIMA_UPDATE_PORT");
    return port ? port : "";
}

std::string UpdateServerTlsPort()
{
    const char* port = std::getenv("VANTORIMA_UPDATE_TLS_PORT");
    return port ? port : "";
}

std::string UpdateServerRoot()
{
    const char* root = std::getenv("VANTORIMA_UPDATE_ROOT");
    return root ? DosPath(root) : "";
}

std::string ServeInstaller()
{
    const std::string service = UpdateServerRoot() + "\\service";
    CreateDirectoryA(service.c_str(), nullptr);
    const std::string served = service + "\\VokWeiqi.exe";
    return CopyFileA((ProgramDir() + "VokWeiqi.exe").c_str(), served.c_str(), FALSE) ? served : "";
}

std::string UnixPath(const std::string& dosPath)
{
    using Convert = char* (*)(const WCHAR*);
    auto convert = reinterpret_cast<Convert>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    WCHAR wide[MAX_PATH];
    if (!convert || !MultiByteToWideChar(CP_ACP, 0, dosPath.c_str(), -1, wide, MAX_PATH))
        return std::string();
    char* name = convert(wide);
    const std::string path = name ? name : "";
    HeapFree(GetProcessHeap(), 0, name);
    return path;
}

bool RunUnix(const std::string& command)
{
    // A Unix process's handle cannot be waited for: the command leaves a
    // mark once it has run.
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    static int serial = 0;
    const std::string mark =
        std::string(temp) + "vantorima-unix-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial);
    if (UnixPath(mark).empty())
        return false;
    std::string line = "Z:\\bin\\sh -c \"" + command + "; touch '" + UnixPath(mark) + "'\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    const bool ran = PumpUntil([&] { return FileExists(mark); }, 20000);
    DeleteFileA(mark.c_str());
    return ran;
}

std::string DosPath(const std::string& unixPath)
{
    using Convert = WCHAR* (*)(const char*);
    auto convert = reinterpret_cast<Convert>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_dos_file_name")));
    WCHAR* wide = convert ? convert(unixPath.c_str()) : nullptr;
    if (!wide) {
        std::string path = "Z:" + unixPath;
        for (char& c : path)
            c = c == '/' ? '\\' : c;
        return path;
    }
    char path[MAX_PATH];
    WideCharToMultiByte(CP_ACP, 0, wide, -1, path, sizeof path, nullptr, nullptr);
    HeapFree(GetProcessHeap(), 0, wide);
    return path;
}

std::string UpdateServerText(const std::string& path)
{
    const std::string url = "http://127.0.0.1:" + UpdateServerPort() + path;
    HINTERNET session = InternetOpenA("test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET request = session
        ? InternetOpenUrlA(session, url.c_str(), nullptr, 0, INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0)
        : nullptr;
    DWORD status = 0, size = sizeof status;
    std::string text = "<none>";
    if (request && HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) {
        text = status == 200 ? "" : "<" + std::to_string(status) + ">";
        char buffer[4096];
        DWORD read = 0;
        while (status == 200 && InternetReadFile(request, buffer, sizeof buffer, &read) && read)
            text.append(buffer, read);
    }
    if (request)
        InternetCloseHandle(request);
    if (session)
        InternetCloseHandle(session);
    return text;
}

bool SetUpdateServerModes(const std::string& modes)
{
    const std::string text = UpdateServerText("/~set/" + modes + (modes.empty() ? "" : "/"));
    return text.empty() || text[0] != '<';
}

std::vector<std::pair<std::string, size_t>> FilesMatching(const std::string& pattern)
{
    std::vector<std::pair<std::string, size_t>> files;
    const std::string folder = pattern.substr(0, pattern.find_last_of('\\') + 1);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return files;
    do
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            files.emplace_back(folder + found.cFileName, found.nFileSizeLow);
    while (FindNextFileA(search, &found));
    FindClose(search);
    return files;
}

std::vector<std::string> UpdateServerRequests()
{
    const std::string text = UpdateServerText("/~requests/");
    std::vector<std::string> lines;
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

HANDLE StartAgain(const std::string& filter, const char* name, const std::string& value)
{
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string commandLine = std::string("\"") + self + "\" --gtest_filter=" + filter;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    SetEnvironmentVariableA(name, value.c_str());
    const BOOL started =
        CreateProcessA(self, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info);
    SetEnvironmentVariableA(name, nullptr);
    if (!started)
        return nullptr;
    CloseHandle(info.hThread);
    return info.hProcess;
}

namespace {
const char kWindows98Run[] = "VANTORIMA_WINDOWS98_RUN";
}

DWORD RunAgainOnWindows98(const std::string& filter)
{
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    const std::string appKey = std::string("Software\\Wine\\AppDefaults\\") + (std::strrchr(self, '\\') + 1);
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, appKey.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return 1;
    RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>("win98"), 6);
    RegCloseKey(key);
    std::string commandLine = std::string("\"") + self + "\" --gtest_filter=" + filter;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    DWORD code = 1;
    SetEnvironmentVariableA(kWindows98Run, "1");
    const BOOL started =
        CreateProcessA(self, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info);
    SetEnvironmentVariableA(kWindows98Run, nullptr);
    if (started) {
        // A run that hangs must not stay behind with its boxes for the next test.
        if (WaitForSingleObject(info.hProcess, 120000) != WAIT_OBJECT_0)
            TerminateProcess(info.hProcess, 1);
        GetExitCodeProcess(info.hProcess, &code);
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    }
    RegDeleteKeyA(HKEY_CURRENT_USER, appKey.c_str());
    return code;
}

bool InWindows98Run()
{
    return GetEnvironmentVariableA(kWindows98Run, nullptr, 0) != 0;
}

bool RunsOnWindows9x()
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
#pragma GCC diagnostic pop
}

CBoxAnswerer::CBoxAnswerer(Decision decide) : m_decide(std::move(decide)), m_thread([this] { Watch(); }) {}

CBoxAnswerer::~CBoxAnswerer()
{
    m_stop = true;
    m_thread.join();
}

std::vector<std::wstring> CBoxAnswerer::Texts()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_texts;
}

namespace {

BOOL CALLBACK CollectStaticText(HWND child, LPARAM text)
{
    wchar_t className[16], buffer[512];
    GetClassNameW(child, className, 16);
    if (_wcsicmp(className, L"Static") == 0 && GetWindowTextW(child, buffer, 512) > 0)
        *reinterpret_cast<std::wstring*>(text) += buffer;
    return TRUE;
}

// Message boxes of this process carry the update's caption.
const wchar_t kBoxCaption[] = L"VOK 围棋";

}  // namespace

void CBoxAnswerer::Watch()
{
    // A box that stays (its program hangs, or no button matched) must not
    // hide the next one: each is answered once, and waited for a while.
    std::set<HWND> answered;
    while (!m_stop) {
        HWND box = nullptr;
        while ((box = FindWindowExW(nullptr, box, L"#32770", kBoxCaption)) != nullptr) {
            if (IsWindowVisible(box) && !answered.count(box))
                break;
        }
        if (box) {
            std::wstring text;
            EnumChildWindows(box, &CollectStaticText, reinterpret_cast<LPARAM>(&text));
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_texts.push_back(text);
            }
            const int buttonId = m_decide(text);
            HWND button = GetDlgItem(box, buttonId);
            SendMessageW(button ? button : box, BM_CLICK, 0, 0);
            answered.insert(box);
            const DWORD start = GetTickCount();
            while (IsWindow(box) && !m_stop && GetTickCount() - start < 5000)
                Sleep(10);
        }
        Sleep(20);
    }
}

CRunningClient::CRunningClient(const CScratchDir& dir, const std::string& fileName, DWORD stayMs)
{
    const std::string exe = dir.File(fileName);
    if (!CopyFileA((ProgramDir() + "Marovent.exe").c_str(), exe.c_str(), FALSE))
        ADD_FAILURE() << "cannot copy the stand-in client to " << exe << ": error " << GetLastError();
    std::string commandLine = "\"" + exe + "\" /STAYMS:" + std::to_string(stayMs);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    // Its record goes beside it; the caller's setting stays as it was.
    char previous[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("MAROVENT_RECORD", previous, sizeof previous);
    SetEnvironmentVariableA("MAROVENT_RECORD", dir.File(fileName + ".record.txt").c_str());
    if (CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        CloseHandle(info.hThread);
        m_process = info.hProcess;
        m_id = info.dwProcessId;
    } else {
        ADD_FAILURE() << "cannot start " << exe << ": error " << GetLastError();
    }
    SetEnvironmentVariableA("MAROVENT_RECORD", n > 0 && n < sizeof previous ? previous : nullptr);
    // It is up once it has written its record: only then is it listed for
    // sure, and only then does its stay begin. A loaded machine may take
    // seconds for that.
    if (m_process && WaitForRecord(dir.File(fileName + ".record.txt"), 30000).empty())
        ADD_FAILURE() << exe << " did not start within 30 s";
}

void CRunningClient::End()
{
    TerminateProcess(m_process, 0);
    WaitForSingleObject(m_process, 5000);
}

CRunningClient::~CRunningClient()
{
    if (Running())
        TerminateProcess(m_process, 99);
    if (m_process) {
        WaitForSingleObject(m_process, 5000);
        CloseHandle(m_process);
    }
}

bool CRunningClient::Running() const
{
    return m_process && WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT;
}

DWORD CRunningClient::ExitCode() const
{
    WaitForSingleObject(m_process, 5000);
    DWORD code = 0;
    GetExitCodeProcess(m_process, &code);
    return code;
}

void SaveScreenshot(const std::string& name)
{
    char folder[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("VANTORIMA_ARTIFACTS", folder, sizeof folder);
    if (n == 0 || n >= sizeof folder)
        return;
    HDC screen = GetDC(nullptr);
    const int width = GetDeviceCaps(screen, HORZRES), height = GetDeviceCaps(screen, VERTRES);
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap =
        CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC memory = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    const DWORD rowBytes = (width * 3 + 3) & ~3u, imageBytes = rowBytes * height;
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + imageBytes;
    std::string bytes(reinterpret_cast<const char*>(&file), sizeof file);
    bytes.append(reinterpret_cast<const char*>(&header), sizeof header);
    bytes.append(static_cast<const char*>(bits), imageBytes);
    WriteFileBytes(std::string(folder, n) + "\\" + name + ".bmp", bytes);
    DeleteDC(memory);
    DeleteObject(bitmap);
    ReleaseDC(nullptr, screen);
}

bool HeapsValid()
{
    std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 16);
    const DWORD count = GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
    heaps.resize(count < heaps.size() ? count : heaps.size());
    for (HANDLE heap : heaps) {
        if (!HeapValidate(heap, 0, nullptr))
            return false;
    }
    return true;
}

}  // namespace wine_test
