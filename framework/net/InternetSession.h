// A session of the system internet library (WinINet), closed when the object
// goes. Failures are the library's error codes, which the web grabber turns
// into its status texts; each is also traced where the call failed.
//
// Requests opened through the session must be closed before the session:
// the library's status callbacks of a request reach this object.
#pragma once

#include "framework/net/HttpFile.h"
#include "framework/net/Internet.h"

class CInternetSession {
public:
    // Opens the session; IsOpen tells whether that worked. context is the
    // value that the requests of this session carry to OnStatusCallback.
    CInternetSession(const char* agent, DWORD_PTR context = 1, DWORD accessType = INTERNET_OPEN_TYPE_PRECONFIG,
                     DWORD flags = 0);
    virtual ~CInternetSession();
    CInternetSession(const CInternetSession&) = delete;
    CInternetSession& operator=(const CInternetSession&) = delete;

    bool IsOpen() const { return static_cast<bool>(m_session); }
    // The error code of a failed open, else 0.
    DWORD OpenError() const { return m_openError; }
    void Close();

    // Routes the library's progress events of this session to OnStatusCallback.
    // Returns 0 or the error code.
    DWORD EnableStatusCallback(bool enable = true);

    // Opens an http:// or https:// URL with a GET request and reads the
    // reply's header. Returns 0 with file open, or the error code
    // (ERROR_INTERNET_UNRECOGNIZED_SCHEME for any other kind of URL).
    DWORD OpenUrl(const char* url, DWORD flags, CHttpFile& file, const char* headers = nullptr,
                  DWORD headersLength = 0);

    // Posts body (length bytes, application/x-www-form-urlencoded) to an
    // http:// or https:// URL and reads the reply's header, as OpenUrl does
    // (InternetSessionPost.cpp).
    DWORD PostForm(const char* url, DWORD flags, const char* body, DWORD length, CHttpFile& file);

protected:
    // A progress event of a request of this session; on the thread that made
    // the call that caused it.
    virtual void OnStatusCallback(DWORD_PTR context, DWORD status, void* information, DWORD informationLength);

private:
    static DWORD CrackHttpUrl(const char* url, URL_COMPONENTSA& parts);
    static void CALLBACK StatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status, void* information,
                                        DWORD informationLength);

    CInternetHandle m_session;
    DWORD m_openError = 0;
    DWORD_PTR m_context;
};
