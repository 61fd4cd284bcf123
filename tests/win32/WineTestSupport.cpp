#include "WineTestSupport.h"

#include <sddl.h>

#include <fstream>
#include <sstream>

#include "launcher/SettingsStore.h"

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
    m_path = std::string(temp) + name + "." + std::to_string(GetCurrentProcessId());
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

bool CTraceCapture::Contains(const std::string& line) const
{
    return Count(line) > 0;
}

int CTraceCapture::Count(const std::string& line) const
{
    int n = 0;
    for (const std::string& l : Lines())
        n += l == line;
    return n;
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
    PumpUntil([&] { return GetTickCount() - start >= ms; }, ms + 1000);
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
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, WRITE_DAC, &key) != ERROR_SUCCESS)
        return false;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    bool done = ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr) &&
                RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS;
    LocalFree(descriptor);
    RegCloseKey(key);
    return done;
}

}  // namespace wine_test
