// One HTTP request opened by CInternetSession::OpenUrl, closed when the object
// goes. Failures are the internet library's error codes.
#pragma once

#include "framework/Internet.h"

class CHttpFile {
public:
    bool IsOpen() const { return static_cast<bool>(m_request); }
    void Close() { m_request.Reset(); }

    // The status code of the reply (200, 404, ...); 0 or the error code.
    DWORD QueryStatusCode(DWORD& status) const;
    // A header of the reply as text into buffer (terminator included); false
    // when the reply has no such header or its text does not fit.
    bool QueryInfo(DWORD level, char* buffer, DWORD size) const;
    // Reads at most size bytes; read is 0 at the end of the body. Returns 0
    // or the error code.
    DWORD Read(void* buffer, DWORD size, DWORD& read);

private:
    friend class CInternetSession;
    CInternetHandle m_request;
};
