// The local update server as the benchmarks drive it.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <string>

// Asks the server something, for its side effects (~set/ sets standing modes
// and counts ~once afresh).
inline void Touch(const std::string& url)
{
    HINTERNET session = InternetOpenA("bench", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET request = InternetOpenUrlA(session, url.c_str(), nullptr, 0, INTERNET_FLAG_RELOAD, 0);
    char buffer[256];
    DWORD read = 0;
    while (request && InternetReadFile(request, buffer, sizeof buffer, &read) && read > 0) {}
    if (request)
        InternetCloseHandle(request);
    InternetCloseHandle(session);
}
