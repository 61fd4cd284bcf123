// A local file opened for writing, closed when the object goes. Failures are
// Win32 error codes (the web grabber's status texts spell them), each also
// traced where the call failed.
#pragma once

#include <windows.h>

#include "framework/sys/UniqueHandle.h"

class CLocalFile {
public:
    // Creates the file, or empties it if it exists, for writing; others may
    // only read it meanwhile (no writing, deleting or renaming). Returns 0 or
    // the error code.
    DWORD Create(const char* path);
    // Opens the file for writing at its end, creating it when missing, with
    // the same sharing as Create: a second writer cannot open it meanwhile
    // (ERROR_SHARING_VIOLATION). Returns 0 or the error code.
    DWORD Append(const char* path);
    // Its size, or 0 with the error code in error.
    unsigned long long Size(DWORD& error) const;
    // Ends the writing, with the file held open all along: afterwards this
    // object reads it, and others may still only read it, so a program can
    // be started from it. Returns 0 or the error code (then it is closed).
    DWORD KeepForReading(const char* path);
    HANDLE Get() const { return m_file.Get(); }
    // Writes all of data; 0 or the error code (a short write is a full disk).
    DWORD Write(const void* data, DWORD size);
    // Empties the file and writes from its start again; 0 or the error code.
    DWORD Rewind();
    void Close() { m_file.Reset(); }
    bool IsOpen() const { return static_cast<bool>(m_file); }

private:
    CFileHandle m_file;
};
