// Kelpix.dll for tests: ExpandFile (ordinal 4) "expands" by copying, and
// fails for sources whose name contains "broken".
#include <windows.h>

#include <cstring>

extern "C" BOOL WINAPI ExpandFile(const char* source, const char* destination)
{
    if (std::strstr(source, "broken"))
        return FALSE;
    return CopyFileA(source, destination, FALSE);
}
