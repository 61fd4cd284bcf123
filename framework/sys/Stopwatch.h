// Time since a start, from the system's tick count: a change of the clock
// does not move it, and the difference stays right across the count's wrap.
#pragma once

#include <windows.h>

class CStopwatch {
public:
    CStopwatch() : m_start(::GetTickCount()) {}
    void Restart() { m_start = ::GetTickCount(); }
    DWORD ElapsedMilliseconds() const { return ::GetTickCount() - m_start; }
    // Whole seconds, the fraction dropped.
    DWORD ElapsedSeconds() const { return ElapsedMilliseconds() / 1000; }

private:
    DWORD m_start;
};
