// Helpers shared by the tests that run under Wine.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <string>
#include <utility>
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
    // The last line that starts with prefix, or "".
    std::string Last(const std::string& prefix) const;

private:
    std::string m_path;
};

// A line of the per-user log: "2026-12-08 14:03:27.123 [4242 launcher] text".
struct LogLine {
    std::string time;
    DWORD processId = 0;
    std::string program;
    std::string text;
};
// Splits a log line (without its CR LF); false when it is not of that form.
bool ParseLogLine(const std::string& line, LogLine& parsed);
// The log's two files under folder (the old one first) as lines; by default
// the user's, %LOCALAPPDATA%\Vantorima\Logs, as the shell names it.
std::vector<std::string> ReadLog(const std::string& folder = "");
// The local time as the log writes it; later times sort after it.
std::string LogTimeNow();
// The lines of the user's log that one process wrote from a time on (process
// ids come again).
std::vector<LogLine> LogLinesOf(DWORD processId, const std::string& since);

// Whether line is a failed call's trace line, "<file>(<line>): <call> failed:
// <code>", with this code ("error 5", "0x80070005"); the call's words are the
// source's, not something to pin.
bool TracedFailure(const std::string& line, const std::string& code);

// Dispatches this thread's messages until done() is true or the time is up.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000);
void PumpFor(DWORD ms);

std::string ReadFileBytes(const std::string& path);
// The files (no folders) that a FindFirstFile pattern ("dir\\*.part") names,
// each as its full path and size.
std::vector<std::pair<std::string, size_t>> FilesMatching(const std::string& pattern);
bool FileExists(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::string& bytes);

// key=value lines, as the stand-in client records them.
std::string RecordField(const std::string& record, const std::string& name);
// The record at path once it is there whole (it ends with its line feed), or
// "" after the time is up. Under load Wine may show a file moved into place
// a moment before its bytes.
std::string WaitForRecord(const std::string& path, DWORD timeoutMs = 10000);

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
// The same for any key (HKCU or HKLM path).
bool SetKeyDacl(HKEY root, const char* path, const char* sddl);

// The local update server the test runs inside (testbed/update_server.py
// --exec): its port, and the folder it serves as a Windows path. Empty when
// the test runs without one.
std::string UpdateServerPort();
std::string UpdateServerRoot();
// Copies the stand-in installer to where the server offers it
// (<root>\service\VokWeiqi.exe); returns that path, or "" when it failed.
std::string ServeInstaller();
// Its https port, for https://localhost:<port>/: the build's test root vouches
// for its certificate until ~cert=1 switches to one that nobody trusts.
std::string UpdateServerTlsPort();
// The Windows path of a Unix one.
std::string DosPath(const std::string& unixPath);
// Under Wine: dosPath's Unix name ("" elsewhere), and a Unix command run by
// /bin/sh to its end (Wine starts Unix programs, but their exit code is
// lost: the caller looks at what the command did).
std::string UnixPath(const std::string& dosPath);
bool RunUnix(const std::string& command);
// The server's answer to a GET of path: its body, or "<status>" ("<none>"
// when it did not answer).
std::string UpdateServerText(const std::string& path);
// Makes every later request to the server behave as if its path began with
// these modes ("~slow=100/~drop=5000"); "" for plain replies. Sent to the
// plain port, whatever certificate the https port shows.
bool SetUpdateServerModes(const std::string& modes);
// The server's log of the file requests since the last SetUpdateServerModes,
// one "<path> range=<Range or -> status=<code> sent=<body bytes>" each.
std::vector<std::string> UpdateServerRequests();

// Starts this program again with the given test filter and the environment
// variable name set to value (for a run that another test ends); the
// process's handle, or null.
HANDLE StartAgain(const std::string& filter, const char* name, const std::string& value);

// The Windows 9x road: runs this program again with the given test filter,
// told by Wine (AppDefaults\<program>\Version) that it runs on Windows 98.
// Returns the run's exit code. In that run InWindows98Run() is true, and
// RunsOnWindows9x() must be.
DWORD RunAgainOnWindows98(const std::string& filter);
bool InWindows98Run();
bool RunsOnWindows9x();

// Answers the message boxes that appear, one by one, from a watcher thread:
// `decide` gets each box's text and returns the button to press (IDYES,
// IDNO, IDOK, ...). Keeps the texts seen, in order.
class CBoxAnswerer {
public:
    using Decision = std::function<int(const std::wstring& text)>;
    explicit CBoxAnswerer(Decision decide);
    explicit CBoxAnswerer(int button) : CBoxAnswerer([button](const std::wstring&) { return button; }) {}
    ~CBoxAnswerer();
    std::vector<std::wstring> Texts();

private:
    void Watch();

    Decision m_decide;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::vector<std::wstring> m_texts;
    std::thread m_thread;
};

// A copy of the stand-in client, running under the given file name in dir
// for stayMs; terminated when the object goes if it still runs.
class CRunningClient {
public:
    CRunningClient(const CScratchDir& dir, const std::string& fileName, DWORD stayMs);
    ~CRunningClient();
    CRunningClient(const CRunningClient&) = delete;
    CRunningClient& operator=(const CRunningClient&) = delete;
    bool Running() const;
    // Ends it as if by itself (exit code 0).
    void End();
    // Waits up to 5 s for the end.
    DWORD ExitCode() const;
    DWORD Id() const { return m_id; }

private:
    HANDLE m_process = nullptr;
    DWORD m_id = 0;
};

// True when every heap of the process validates; under heap checking a write
// into a freed block makes it false.
bool HeapsValid();

// Saves what the screen shows as build/artifacts/<name>.bmp (when the test
// run names that folder in VANTORIMA_ARTIFACTS), for people to look at.
void SaveScreenshot(const std::string& name);

}  // namespace wine_test
