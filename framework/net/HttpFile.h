// One HTTP request opened by CInternetSession (OpenUrl, PostForm), closed
// when the object goes. Failures are the internet library's error codes (the
// web grabber turns them into its status texts); each is also traced where
// it failed.
// A header the reply lacks is no failure: QueryInfo says false, untraced.
#pragma once

#include <atomic>
#include <mutex>

#include "framework/sys/CriticalSection.h"
#include "framework/net/Internet.h"

class CHttpFile {
public:
    CHttpFile() = default;
    ~CHttpFile() { Close(); }
    CHttpFile(const CHttpFile&) = delete;
    CHttpFile& operator=(const CHttpFile&) = delete;

    bool IsOpen() const { return static_cast<bool>(m_request); }
    void Close();
    // From another thread: closes the request so that a read blocked in it
    // fails where the library allows that, and every later call (an open
    // still under way included) fails at once. The owner's Close then closes
    // nothing twice.
    void Cancel();

    // The status code of the reply (200, 404, ...); 0 or the error code.
    DWORD QueryStatusCode(DWORD& status) const;
    // A header of the reply as text into buffer (terminator included); false
    // when the reply has no such header or its text does not fit.
    bool QueryInfo(DWORD level, char* buffer, DWORD size) const;
    // Reads at most size bytes; read is 0 at the end of the body. Returns 0
    // or the error code.
    DWORD Read(void* buffer, DWORD size, DWORD& read);
    // How many bytes a Read can take at once without waiting; waits for the
    // first byte when none has arrived. 0 at the end of the body. Returns 0
    // or the error code.
    DWORD QueryDataAvailable(DWORD& available);

private:
    friend class CInternetSession;
    // Takes the request, and the connection it was opened on, if any; false
    // (and closed) when the file was cancelled meanwhile.
    bool Attach(HINTERNET request, HINTERNET connection = nullptr);

    CInternetHandle m_connection;  // outlives the request
    CInternetHandle m_request;
    CCriticalSection m_closing;  // Close against Cancel
    std::atomic<bool> m_cancelled{false};
};
