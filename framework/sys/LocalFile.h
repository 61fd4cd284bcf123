// A local file opened for writing, closed when the object goes. Failures are
// Win32 error codes (the web grabber's status texts spell them), each also
// traced where the call failed.
#pragma once

#include <windows.h>

#include "framework/sys/UniqueHandle.h"

class CLocalFile {
public:
    // Creates the file, or empties it if it exists, for writing only and not
    // shared. Returns 0 or the error code.
    DWORD Create(const char* path);
    // Writes all of data; 0 or the error code (a short write is a full disk).
    DWORD Write(const void* data, DWORD size);
    // Empties the file and writes from its start again; 0 or the error code.
    DWORD Rewind();
    void Close() { m_file.Reset(); }
    bool IsOpen() const { return static_cast<bool>(m_file); }

private:
    CFileHandle m_file;
};
