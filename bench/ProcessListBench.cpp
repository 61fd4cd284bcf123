// Time of one process enumeration by each road.
#include <windows.h>

#include <cstdio>
#include <vector>

#include "bench/BenchClock.h"
#include "terminator/ProcessList.h"

namespace {

void Measure(const char* road, ProcessEnumerator enumerate)
{
    std::vector<ProcessEntry> table(256);
    const int runs = 200;
    size_t found = 0;
    const double start = SecondsNow();
    for (int i = 0; i < runs; ++i)
        found = enumerate(table.data(), table.size());
    const double us = 1e6 * (SecondsNow() - start) / runs;
    std::printf("%-32s %9.1f us per enumeration (%u processes)\n", road, us, static_cast<unsigned>(found));
}

}  // namespace

int main()
{
    Measure("snapshot (Windows 9x road)", &ListProcessesSnapshot);
    Measure("performance data (NT road)", &ListProcessesPerfData);
    return 0;
}
