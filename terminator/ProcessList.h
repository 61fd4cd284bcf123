// The two process enumerators: one for each family of Windows.
#pragma once

#include "terminator/ProcessEntry.h"

// Windows 9x family: the toolhelp snapshot, its functions looked up at run
// time in the loaded KERNEL32 (NT 4 has none). At most capacity entries.
size_t ListProcessesSnapshot(ProcessEntry* table, size_t capacity);

// NT family: the "process" object of the performance data under
// HKEY_PERFORMANCE_DATA. At most capacity - 1 entries.
size_t ListProcessesPerfData(ProcessEntry* table, size_t capacity);
