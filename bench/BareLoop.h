// The machine's limit for a download from the local server: a bare WinINet
// loop with the grabber's request that reads 1 MiB per call, keeps nothing
// and tells no one.
#pragma once

#include <windows.h>

#include <wininet.h>

#include <memory>
#include <string>

#include "BuildConfig.h"

// Bytes the body had, 0 when the request failed.
inline DWORD ReadWithBareLoop(const std::string& url)
{
    constexpr DWORD kCall = 1u << 20;
    static const std::unique_ptr<char[]> buffer(new char[kCall]);
    DWORD total = 0;
    HINTERNET session = InternetOpenA("Quessel", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    HINTERNET request =
        InternetOpenUrlA(session, url.c_str(), nullptr, 0,
                         INTERNET_FLAG_RELOAD | INTERNET_FLAG_EXISTING_CONNECT | INTERNET_FLAG_TRANSFER_BINARY, 1);
    DWORD read = 0;
    while (request && InternetReadFile(request, buffer.get(), kCall, &read) && read > 0)
        total += read;
    if (request)
        InternetCloseHandle(request);
    InternetCloseHandle(session);
    DeleteUrlCacheEntryA(url.c_str());  // every download also lands in the cache
    return total;
}

// How the benchmark was built: the grabber's read block, and what a line
// about it says.
inline const char* ReadBlockNote()
{
    return VANTORIMA_READ_BLOCK == 4095 ? ", VANTORIMA_READ_BLOCK=4095" : "";
}
