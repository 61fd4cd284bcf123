#include "updater/DownloadFolder.h"

#include <windows.h>

#include <ntsecapi.h>

#include "support/Trace.h"

namespace {

constexpr int kAttempts = 8;

// 16 hex digits from the system's random source; empty when it fails.
std::string RandomName()
{
    unsigned char bytes[8];
    if (!RtlGenRandom(bytes, sizeof bytes))
        return std::string();
    std::string name = "Vantorima-";
    for (unsigned char byte : bytes) {
        name += "0123456789abcdef"[byte >> 4];
        name += "0123456789abcdef"[byte & 15];
    }
    return name;
}

}  // namespace

CDownloadFolder::CDownloadFolder(const std::string& parent)
{
    if (parent.empty())
        return;
    const std::string base = parent.back() == '\\' ? parent : parent + "\\";
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const std::string name = RandomName();
        if (name.empty())
            break;
        // Fails on a folder that exists: only a new one is ours.
        const std::string path = base + name;
        if (!::CreateDirectoryA(path.c_str(), nullptr))
            continue;
        // No delete sharing: the folder can be neither renamed nor removed
        // (nor can anyone put another in its place) while this is held.
        m_folder.Reset(::CreateFileA(path.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!m_folder) {
            ::RemoveDirectoryA(path.c_str());
            continue;
        }
        m_strPath = path;
        TraceOut("download folder : %s", m_strPath.c_str());
        return;
    }
    TraceOut("download folder error : %lu", static_cast<unsigned long>(::GetLastError()));
}

CDownloadFolder::~CDownloadFolder()
{
    if (m_strPath.empty())
        return;
    m_folder.Reset();
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((m_strPath + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                ::DeleteFileA((m_strPath + "\\" + found.cFileName).c_str());
        } while (::FindNextFileA(search, &found));
        ::FindClose(search);
    }
    // A running installer keeps its file, and so the folder.
    if (!::RemoveDirectoryA(m_strPath.c_str()))
        TraceOut("download folder stays : %lu", static_cast<unsigned long>(::GetLastError()));
}
