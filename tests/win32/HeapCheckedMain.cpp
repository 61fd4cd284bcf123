// The main of test programs whose objects a modal box or a sent message may
// free under a running handler: they run under the heap's own checks, which
// fill freed blocks and report any later write into them.
//
// The checks are switched on per program name (Image File Execution Options,
// GlobalFlag) before its process starts, so the program starts itself again
// with them on, passes its arguments and output through and cleans up.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "WineTestSupport.h"

namespace {

// Heap tail checking, free checking and tagging: freed blocks are filled
// with 0xfeeefeee and validating a heap finds any write into them.
constexpr DWORD kHeapCheckFlags = 0x830;
const char kMarker[] = "VANTORIMA_HEAP_CHECKED";
const char kOptionsKey[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options\\";

std::string OwnName()
{
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    const std::string own(path, n);
    return own.substr(own.find_last_of('\\') + 1);
}

DWORD GlobalFlagOfThisProcess()
{
    using Query = ULONG(WINAPI*)();
    const auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlGetNtGlobalFlags")));
    return query ? query() : 0;
}

int RunAgainWithHeapChecks()
{
    const std::string key = kOptionsKey + OwnName();
    HKEY options = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &options, nullptr) !=
        ERROR_SUCCESS) {
        std::fprintf(stderr, "cannot switch heap checking on for %s\n", OwnName().c_str());
        return 1;
    }
    RegSetValueExA(options, "GlobalFlag", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&kHeapCheckFlags),
                   sizeof kHeapCheckFlags);
    RegCloseKey(options);

    char debug[512] = "";
    const DWORD n = GetEnvironmentVariableA("WINEDEBUG", debug, sizeof debug);
    const std::string channels = (n > 0 && n < sizeof debug) ? std::string(debug) + ",err+heap" : "err+heap";
    SetEnvironmentVariableA("WINEDEBUG", channels.c_str());
    SetEnvironmentVariableA(kMarker, "1");

    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string commandLine = GetCommandLineA();
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    DWORD code = 1;
    if (CreateProcessA(self, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
    return static_cast<int>(code);
}

// Validates every heap of the process after each test; a test that wrote
// into freed memory fails the run.
class CHeapCheck : public ::testing::EmptyTestEventListener {
public:
    bool failed = false;

private:
    void OnTestEnd(const ::testing::TestInfo& test) override
    {
        if (wine_test::HeapsValid())
            return;
        failed = true;
        std::printf("[  HEAP    ] a heap was damaged by the time %s.%s ended\n", test.test_suite_name(), test.name());
    }
};

}  // namespace

int main(int argc, char** argv)
{
    if (GetEnvironmentVariableA(kMarker, nullptr, 0) == 0)
        return RunAgainWithHeapChecks();
    if ((GlobalFlagOfThisProcess() & kHeapCheckFlags) != kHeapCheckFlags) {
        std::fprintf(stderr, "heap checking did not take effect (GlobalFlag %#lx)\n", GlobalFlagOfThisProcess());
        return 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    auto* check = new CHeapCheck;
    ::testing::UnitTest::GetInstance()->listeners().Append(check);
    const int result = RUN_ALL_TESTS();
    return result != 0 || check->failed ? 1 : 0;
}
