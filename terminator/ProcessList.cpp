#include "terminator/ProcessList.h"

#include <windows.h>

#include <cstring>
#include <vector>

#include "framework/sys/AnsiText.h"
#include "framework/sys/Module.h"
#include "framework/sys/RegKey.h"
#include "framework/sys/Result.h"
#include "framework/sys/UniqueHandle.h"
#include "support/Trace.h"
#include "terminator/PerfDataParser.h"

namespace {

// The toolhelp process entry, declared here because the functions are only
// looked up at run time.
struct SnapshotEntry {
    DWORD dwSize;
    DWORD cntUsage;
    DWORD th32ProcessID;
    ULONG_PTR th32DefaultHeapID;
    DWORD th32ModuleID;
    DWORD cntThreads;
    DWORD th32ParentProcessID;
    LONG pcPriClassBase;
    DWORD dwFlags;
    CHAR szExeFile[MAX_PATH];
};
static_assert(sizeof(SnapshotEntry) == (sizeof(void*) == 8 ? 304 : 296), "the system's process entry");

using CreateSnapshotFunction = HANDLE(WINAPI*)(DWORD flags, DWORD processId);
using WalkFunction = BOOL(WINAPI*)(HANDLE snapshot, SnapshotEntry* entry);
constexpr DWORD kSnapProcesses = 0x2;  // TH32CS_SNAPPROCESS

const char kPerflibKey[] = "software\\microsoft\\windows nt\\currentversion\\perflib\\009";
constexpr DWORD kPerfBufferStart = 51200;
constexpr DWORD kPerfBufferGrowth = 25600;
// No system publishes that much; a query that keeps asking for more is refused.
constexpr DWORD kPerfBufferLimit = 64u << 20;

bool ToAnsi(const char16_t* name, char* out, size_t outSize)
{
    return CopyAnsiFromWide(reinterpret_cast<const wchar_t*>(name), out, outSize);
}

}  // namespace

size_t ListProcessesSnapshot(ProcessEntry* table, size_t capacity)
{
    if (capacity == 0)
        return 0;
    HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
    auto createSnapshot = ProcAddress<CreateSnapshotFunction>(kernel, "CreateToolhelp32Snapshot");
    auto first = ProcAddress<WalkFunction>(kernel, "Process32First");
    auto next = ProcAddress<WalkFunction>(kernel, "Process32Next");
    if (LOG_LAST_ERROR_IF(!createSnapshot || !first || !next))
        return 0;

    CFileHandle snapshot(createSnapshot(kSnapProcesses, 0));
    if (LOG_LAST_ERROR_IF(!snapshot))
        return 0;
    SnapshotEntry entry = {};
    entry.dwSize = sizeof entry;
    size_t count = 0;
    for (BOOL more = first(snapshot.Get(), &entry); more && count < capacity; more = next(snapshot.Get(), &entry)) {
        entry.szExeFile[sizeof entry.szExeFile - 1] = '\0';
        const char* slash = std::strrchr(entry.szExeFile, '\\');
        ProcessEntry& out = table[count++];
        out.processId = entry.th32ProcessID;
        std::strcpy(out.exeName, slash ? slash + 1 : entry.szExeFile);
    }
    return count;
}

size_t ListProcessesPerfData(ProcessEntry* table, size_t capacity)
{
    // HKEY_PERFORMANCE_DATA is closed after every use, whatever the road.
    CRegKey performanceData;
    performanceData.Attach(HKEY_PERFORMANCE_DATA);

    // The title indexes of the process object and of its id counter.
    CRegKey perflib;
    std::vector<char> counters;
    if (LOG_IF_WIN32_ERROR(perflib.Open(HKEY_LOCAL_MACHINE, kPerflibKey, KEY_READ)) != ERROR_SUCCESS ||
        LOG_IF_WIN32_ERROR(perflib.Read("Counters", counters)) != ERROR_SUCCESS || counters.empty())
        return 0;
    const PerfTitleIndexes indexes = FindPerfTitleIndexes(counters.data(), counters.size());
    if (!indexes.processObject || !indexes.processId)
        return 0;
    char objectName[16];
    wsprintfA(objectName, "%lu", static_cast<unsigned long>(indexes.processObject));

    std::vector<uint8_t> data(kPerfBufferStart);
    DWORD size = 0;
    for (;;) {
        size = static_cast<DWORD>(data.size());
        const LONG result = performanceData.Query(objectName, nullptr, data.data(), &size);
        if (result == ERROR_SUCCESS)
            break;
        if (result != ERROR_MORE_DATA) {
            LOG_IF_WIN32_ERROR(result);
            return 0;
        }
        DWORD grown = (size > data.size() ? size : static_cast<DWORD>(data.size())) + kPerfBufferGrowth;
        if (grown > kPerfBufferLimit) {
            TraceOut("The performance data asks for more than %lu bytes", static_cast<unsigned long>(kPerfBufferLimit));
            return 0;
        }
        data.assign(grown, 0);
    }
    return ParsePerfProcesses(data.data(), size < data.size() ? size : data.size(), indexes.processId, &ToAnsi, table,
                              capacity);
}
