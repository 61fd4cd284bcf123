// Helpers shared by the tests that run under Wine.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace wine_test {

// Directory of the running test program, with a trailing backslash; the
// tools (Marovent.exe, ...) are built next to it.
std::string ProgramDir();

// A fresh empty directory under the temporary directory; removed with its
// files when the object goes.
class CScratchDir {
public:
    explicit CScratchDir(const std::string& name);
    ~CScratchDir();
    const std::string& Path() const { return m_path; }  // no trailing backslash
    std::string File(const std::string& name) const { return m_path + "\\" + name; }

private:
    std::string m_path;
};

// Sends the module's trace to a fresh file for the life of the object.
class CTraceCapture {
public:
    CTraceCapture();
    ~CTraceCapture();
    std::vector<std::string> Lines() const;
    bool Contains(const std::string& line) const;
    int Count(const std::string& line) const;

private:
    std::string m_path;
};

// Dispatches this thread's messages until done() is true or the time is up.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000);
void PumpFor(DWORD ms);

std::string ReadFileBytes(const std::string& path);
bool FileExists(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::string& bytes);

// key=value lines, as the stand-in client records them.
std::string RecordField(const std::string& record, const std::string& name);

// The client's settings key under HKCU.
void DeleteSettingsKey();
bool SettingsKeyExists();
// Raw value: false when missing.
bool ReadSettingsValue(const char* name, DWORD* type, std::string* bytes);
// The text of a REG_SZ value without its terminator; "<missing>" when absent.
std::string SettingsText(const char* name);
void WriteSettingsValue(const char* name, DWORD type, const std::string& bytes);
// Read, delete and change-permission rights only: no value may be set.
constexpr const char kReadOnlyDacl[] = "D:P(A;;KRSDWD;;;WD)";
constexpr const char kFullAccessDacl[] = "D:P(A;;KA;;;WD)";
// Sets the settings key's DACL from an SDDL string; false when that failed.
bool SetSettingsKeyDacl(const char* sddl);

}  // namespace wine_test
