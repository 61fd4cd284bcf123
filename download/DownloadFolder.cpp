#include "download/DownloadFolder.h"

#include <windows.h>

#include <ntsecapi.h>

#include "support/Trace.h"

namespace {

constexpr int kAttempts = 8;

// parent, a backslash, "Vantorima-" and 16 hex digits from the system's
// random source; false when it fails or does not fit.
bool RandomPath(const std::string& parent, char (&path)[MAX_PATH])
{
    unsigned char bytes[8];
    if (!RtlGenRandom(bytes, sizeof bytes))
        return false;
    char name[32] = "Vantorima-";
    char* at = name + lstrlenA(name);
    for (unsigned char byte : bytes) {
        *at++ = "0123456789abcdef"[byte >> 4];
        *at++ = "0123456789abcdef"[byte & 15];
    }
    *at = '\0';
    const char* separator = parent.back() == '\\' ? "" : "\\";
    return parent.size() + lstrlenA(name) + 2 < MAX_PATH &&
        wsprintfA(path, "%s%s%s", parent.c_str(), separator, name) > 0;
}

}  // namespace

void CDownloadFolder::Create(const std::string& parent)
{
    if (!m_strPath.empty())
        return;
    char path[MAX_PATH];
    for (int attempt = 0; attempt < kAttempts && !parent.empty() && RandomPath(parent, path); ++attempt) {
        // Fails on a folder that exists: only a new one is ours.
        if (!::CreateDirectoryA(path, nullptr))
            continue;
        // No delete sharing: the folder can be neither renamed nor removed
        // (nor can anyone put another in its place) while this is held.
        m_folder.Reset(::CreateFileA(path, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!m_folder) {
            ::RemoveDirectoryA(path);
            continue;
        }
        m_strPath = path;
        TraceOut("download folder : %s", path);
        return;
    }
    TraceOut("download folder error : %lu", static_cast<unsigned long>(::GetLastError()));
}

CDownloadFolder::~CDownloadFolder()
{
    if (m_strPath.empty())
        return;
    m_folder.Reset();
    char path[MAX_PATH * 2];
    wsprintfA(path, "%s\\*", m_strPath.c_str());
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA(path, &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            wsprintfA(path, "%s\\%s", m_strPath.c_str(), found.cFileName);
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                ::DeleteFileA(path);
        } while (::FindNextFileA(search, &found));
        ::FindClose(search);
    }
    // A running installer keeps its file, and so the folder.
    if (!::RemoveDirectoryA(m_strPath.c_str()))
        TraceOut("download folder stays : %lu", static_cast<unsigned long>(::GetLastError()));
}
