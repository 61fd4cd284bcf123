#include "download/DownloadFolder.h"

#include <windows.h>

#include <aclapi.h>
#include <ntsecapi.h>
#include <sddl.h>

#include <cstring>
#include <string_view>
#include <vector>

#include "framework/sys/Result.h"
#include "framework/sys/UniqueHandle.h"
#include "support/Trace.h"
#include "support/TraceLines.h"

namespace {

constexpr int kAttempts = 8;
constexpr char kPrefix[] = "Vantorima-";
constexpr int kNameDigits = 16;
constexpr char kPartialName[] = "Vantorima-partial";
constexpr std::string_view kRecordExtension = ".rec";

// The user this process runs as (its token's TokenUser), or empty.
std::vector<BYTE> CurrentUser()
{
    CKernelHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Put()))
        return {};
    DWORD size = 0;
    ::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> user(size);
    if (!size || !::GetTokenInformation(token.Get(), TokenUser, user.data(), size, &size))
        return {};
    return user;
}

// A DACL of its own, inheriting nothing: the user, SYSTEM and the
// administrators, each with full rights, with inherit ("OICI" for a folder,
// whose files inherit them, "" for a file). A shared temporary directory
// then lets nobody else add a library or a .local folder beside the
// installer. Null (with the last error) when it cannot be made.
CLocalMemory PrivateSecurity(const char* inherit)
{
    std::vector<BYTE> user = CurrentUser();
    char* sid = nullptr;
    if (user.empty() || !::ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid))
        return CLocalMemory();
    char sddl[256];
    wsprintfA(sddl, "D:P(A;%s;FA;;;SY)(A;%s;FA;;;BA)(A;%s;FA;;;%s)", inherit, inherit, inherit, sid);
    ::LocalFree(sid);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr))
        return CLocalMemory();
    return CLocalMemory(descriptor);
}

// The one sweep: deletes the files of folder whose name, up to its first
// dot, is not keep (every file when keep is empty); a record goes only once
// the rest of its name has gone, so a partial that another download holds
// keeps its record. What is in use stays. True when nothing else stayed.
bool SweepFiles(const std::string& folder, const std::string& keep, bool partials)
{
    std::string stayed = "/";  // each name that stayed, then a slash
    // The records in a second pass.
    for (int records = 0; records < 2; ++records) {
        WIN32_FIND_DATAA found;
        HANDLE search = ::FindFirstFileA((folder + "\\*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return !LOG_LAST_ERROR_IF(::GetLastError() != ERROR_FILE_NOT_FOUND);
        do {
            const std::string_view name = found.cFileName;
            const std::string stem(name.substr(0, name.find('.')));
            const bool record = name.size() > kRecordExtension.size() &&
                name.substr(name.size() - kRecordExtension.size()) == kRecordExtension;
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || record != (records == 1) ||
                (!keep.empty() && stem == keep) || (record && stayed.find("/" + stem + "/") != std::string::npos))
                continue;
            const std::string path = folder + "\\" + found.cFileName;
            if (!::DeleteFileA(path.c_str()))
                stayed += stem + "/";
            else if (partials)
                TraceOut(TraceLine::kPartialSwept, path.c_str());
        } while (::FindNextFileA(search, &found));
        ::FindClose(search);
    }
    return stayed.size() == 1;
}

// name is "Vantorima-" and 16 lowercase hex digits, as RandomPath makes them.
bool IsDownloadFolderName(std::string_view name)
{
    constexpr std::string_view prefix = kPrefix;
    if (name.size() != prefix.size() + kNameDigits || name.substr(0, prefix.size()) != prefix)
        return false;
    for (char digit : name.substr(prefix.size())) {
        if (!((digit >= '0' && digit <= '9') || (digit >= 'a' && digit <= 'f')))
            return false;
    }
    return true;
}

// parent, a backslash, "Vantorima-" and 16 hex digits from the system's
// random source; false when it fails or does not fit.
bool RandomPath(const std::string& parent, char (&path)[MAX_PATH])
{
    unsigned char bytes[8];
    if (!RtlGenRandom(bytes, sizeof bytes))
        return false;
    char name[32];
    lstrcpyA(name, kPrefix);
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

std::string TempPath()
{
    char temp[MAX_PATH];
    const DWORD length = ::GetTempPathA(sizeof temp, temp);
    if (LOG_LAST_ERROR_IF(length == 0) || length >= sizeof temp)
        return std::string();
    return std::string(temp, length);
}

bool CDownloadFolder::Hold(const std::string& path)
{
    // The link itself is opened, not what it leads to (and refused by
    // IsPlainFolder, whose GetFileInformationByHandle needs the right to read
    // attributes). No delete sharing: the folder can be neither renamed nor
    // removed (nor can anyone put another in its place) while this is held.
    m_folder.Reset(::CreateFileA(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!m_folder)
        return false;
    LOG_IF_WIN32_ERROR(::GetSecurityInfo(m_folder.Get(), SE_FILE_OBJECT,
                                         OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &m_owner, nullptr,
                                         &m_dacl, nullptr, m_security.Put()));
    return true;
}

bool CDownloadFolder::IsPlainFolder(const std::string& path) const
{
    // Windows tells a junction or link on the handle that opened it; Wine 8
    // opens what a link leads to even so, and tells a link only by its name.
    BY_HANDLE_FILE_INFORMATION held;
    const DWORD named = ::GetFileAttributesA(path.c_str());
    return LOG_IF_WIN32_BOOL_FALSE(::GetFileInformationByHandle(m_folder.Get(), &held)) &&
        named != INVALID_FILE_ATTRIBUTES && (named & FILE_ATTRIBUTE_DIRECTORY) &&
        !((named | held.dwFileAttributes) & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool CDownloadFolder::SecuredLike(const CDownloadFolder& like) const
{
    SECURITY_DESCRIPTOR_CONTROL control = 0, likeControl = 0;
    DWORD revision = 0;
    if (!m_owner || !like.m_owner || !m_dacl || !like.m_dacl || !::EqualSid(m_owner, like.m_owner) ||
        !::GetSecurityDescriptorControl(m_security.Get(), &control, &revision) ||
        !::GetSecurityDescriptorControl(like.m_security.Get(), &likeControl, &revision) ||
        ((control ^ likeControl) & SE_DACL_PROTECTED) || m_dacl->AceCount != like.m_dacl->AceCount)
        return false;
    // The same entries in the same order, each byte for byte.
    for (DWORD i = 0; i < m_dacl->AceCount; ++i) {
        ACE_HEADER* ace = nullptr;
        ACE_HEADER* likeAce = nullptr;
        if (!::GetAce(m_dacl, i, reinterpret_cast<void**>(&ace)) ||
            !::GetAce(like.m_dacl, i, reinterpret_cast<void**>(&likeAce)) || ace->AceSize != likeAce->AceSize ||
            std::memcmp(ace, likeAce, ace->AceSize) != 0)
            return false;
    }
    return true;
}

bool CDownloadFolder::Sweep(const std::string& keep) const
{
    return !m_strPath.empty() && SweepFiles(m_strPath, keep, m_partial);
}

void CDownloadFolder::SweepOlder(const std::string& parent) const
{
    if (!m_owner)
        return;
    const std::string folder = parent.back() == '\\' ? parent : parent + "\\";
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((folder + kPrefix + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::string path = folder + found.cFileName;
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !IsDownloadFolderName(found.cFileName) ||
            path == m_strPath)
            continue;
        // An update that runs now holds its folder without delete sharing:
        // then this open fails, and its files stay untouched. (Held with
        // that right, the folder's files could not be listed.)
        if (!CFileHandle(::CreateFileA(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr)))
            continue;
        CDownloadFolder old;
        if (!old.Hold(path) || !old.IsPlainFolder(path) || !old.m_owner || !::EqualSid(old.m_owner, m_owner) ||
            !SweepFiles(path, std::string(), false))
            continue;
        old.m_folder.Reset();
        if (::RemoveDirectoryA(path.c_str()))
            TraceOut(TraceLine::kFolderSwept, path.c_str());
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
}

void CDownloadFolder::Create(const std::string& parent)
{
    if (!m_strPath.empty() || parent.empty())
        return;
    CLocalMemory security = PrivateSecurity("OICI");
    // A system without security (Windows 9x) answers its calls with
    // ERROR_CALL_NOT_IMPLEMENTED: there the folder has no access list, and
    // stays even when it cannot be held open. Any other failure refuses it.
    const bool unsecured = !security && ::GetLastError() == ERROR_CALL_NOT_IMPLEMENTED;
    if (!security && !unsecured) {
        TraceOut(TraceLine::kFolderSecurityError, static_cast<unsigned long>(::GetLastError()));
        return;
    }
    if (unsecured)
        TraceOut(TraceLine::kFolderUnsecured);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, security.Get(), FALSE};
    char path[MAX_PATH];
    for (int attempt = 0; attempt < kAttempts && RandomPath(parent, path); ++attempt) {
        // Fails on a folder that exists: only a new one is ours.
        if (!::CreateDirectoryA(path, &attributes))
            continue;
        if (!Hold(path) && !unsecured) {
            ::RemoveDirectoryA(path);
            continue;
        }
        m_strPath = path;
        TraceOut(TraceLine::kFolder, path);
        SweepOlder(parent);
        return;
    }
    TraceOut(TraceLine::kFolderError, static_cast<unsigned long>(::GetLastError()));
}

void CDownloadFolder::OpenPartial(const CDownloadFolder& like)
{
    // Without like's access list (a system without security) nothing is kept.
    if (!m_strPath.empty() || !like.m_dacl)
        return;
    const std::string path = like.m_strPath.substr(0, like.m_strPath.rfind('\\') + 1) + kPartialName;
    CLocalMemory security = PrivateSecurity("OICI");
    m_fileSecurity = PrivateSecurity("");
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, security.Get(), FALSE};
    // One made before, by anyone, is checked as one made now is.
    if (!security || !m_fileSecurity ||
        (!::CreateDirectoryA(path.c_str(), &attributes) && ::GetLastError() != ERROR_ALREADY_EXISTS) || !Hold(path)) {
        TraceOut(TraceLine::kPartialError, static_cast<unsigned long>(::GetLastError()));
        m_fileSecurity.Reset();
        return;
    }
    if (!IsPlainFolder(path) || !SecuredLike(like)) {
        TraceOut(TraceLine::kPartialFolderRefused, path.c_str());
        m_folder.Reset();
        m_fileSecurity.Reset();
        return;
    }
    m_fileAttributes = {sizeof m_fileAttributes, m_fileSecurity.Get(), FALSE};
    m_strPath = path;
    m_partial = true;
    TraceOut(TraceLine::kPartialFolder, path.c_str());
}

CDownloadFolder::~CDownloadFolder()
{
    if (m_strPath.empty())
        return;
    // The partial folder keeps what it holds, and goes once empty; a
    // download folder's files go, but a running installer's, which keeps
    // the folder until the next update's sweep.
    if (!m_partial)
        Sweep();
    m_folder.Reset();
    if (!::RemoveDirectoryA(m_strPath.c_str()) && !m_partial)
        TraceOut(TraceLine::kFolderStays, static_cast<unsigned long>(::GetLastError()));
}
