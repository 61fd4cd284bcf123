// A local file opened for writing, closed when the object goes. Failures are
// Win32 error codes (the web grabber's status texts spell them), each also
// traced where the call failed.
#pragma once

#include <windows.h>

#include "framework/sys/UniqueHandle.h"

class CLocalFile {
public:
    // Creates the file, or empties it if it exists, for writing; others may
    // only read it meanwhile (no writing, deleting or renaming). A new file
    // gets security's access list (null: the folder's). Returns 0 or the
    // error code.
    DWORD Create(const char* path, SECURITY_ATTRIBUTES* security = nullptr);
    // Opens the file for writing at its end, creating it when missing, with
    // the same sharing as Create: a second writer cannot open it meanwhile
    // (ERROR_SHARING_VIOLATION). It can be renamed (RenameTo). Returns 0 or
    // the error code.
    DWORD Append(const char* path, SECURITY_ATTRIBUTES* security = nullptr);
    // Moves the file opened by Append to path (on the same volume), replacing
    // what is there, through its handle: it stays open all along. Returns 0
    // or the error code.
    DWORD RenameTo(const char* path);
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
    // Opened with the right to rename it (Append): whoever opens it next
    // must let that be.
    bool m_renamable = false;
};
