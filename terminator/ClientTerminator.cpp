#include "terminator/ClientTerminator.h"

#include <cstring>
#include <vector>

#include "framework/sys/Result.h"
#include "framework/sys/UniqueHandle.h"
#include "support/Trace.h"
#include "support/MessageCaption.h"
#include "terminator/ProcessList.h"

namespace {

constexpr size_t kTableSize = 256;
constexpr int kPasses = 4;
constexpr DWORD kPassInterval = 500;
// All access rights as NT 4 knows them: accepted by every later system too.
constexpr DWORD kProcessAllAccess = 0x1F0FFF;

const char kAskToClose[] = "有另外一个VOK围棋正在运行。\r\n\r\n如果有正在运行的VOK围棋，将被强行关闭。";
const char kCannotClose[] = "无法关闭客户端，请重启后，再试。";

bool IsWindows9x()
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return LOG_IF_WIN32_BOOL_FALSE(GetVersionExA(&version)) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
#pragma GCC diagnostic pop
}

// The NT family's enumerator. Performance data can be missing, disabled or
// corrupt (and Wine has no process object at all); a client would then go
// unseen and meet its installer, so the snapshot is asked when the
// performance data lists nothing.
size_t ListProcessesPerfDataOrSnapshot(ProcessEntry* table, size_t capacity)
{
    size_t n = ListProcessesPerfData(table, capacity);
    return n ? n : ListProcessesSnapshot(table, capacity);
}

}  // namespace

int KillProcess(HWND dialog, const std::string& name)
{
    if (name.empty())
        return 0;
    const ProcessEnumerator enumerate = IsWindows9x() ? &ListProcessesSnapshot : &ListProcessesPerfDataOrSnapshot;

    std::vector<ProcessEntry> table(kTableSize);
    std::vector<DWORD> matches;
    for (int pass = 0; pass < kPasses; ++pass) {
        matches.clear();
        const size_t n = enumerate(table.data(), table.size());
        for (size_t i = 0; i < n && i < table.size(); ++i) {
            if (std::strcmp(table[i].exeName, name.c_str()) == 0)
                matches.push_back(table[i].processId);
        }
        if (matches.empty())
            return 0;
        Sleep(kPassInterval);
    }

    const int answer = ShowPlayerBox(dialog, kAskToClose, MB_YESNO | MB_ICONQUESTION);
    if (LOG_LAST_ERROR_IF(answer == 0) || answer != IDYES)
        return -1;
    for (DWORD processId : matches) {
        CKernelHandle process(OpenProcess(kProcessAllAccess, FALSE, processId));
        if (LOG_LAST_ERROR_IF(!process))
            continue;
        if (LOG_IF_WIN32_BOOL_FALSE(TerminateProcess(process.Get(), 1)))
            return 1;
        LOG_LAST_ERROR_IF(ShowPlayerBox(dialog, kCannotClose, MB_OK | MB_ICONERROR) == 0);
        return -1;
    }
    return 0;
}
