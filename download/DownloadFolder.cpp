#include "download/DownloadFolder.h"

#include <windows.h>

#include <aclapi.h>
#include <ntsecapi.h>
#include <sddl.h>

#include <string_view>
#include <vector>

#include "framework/sys/UniqueHandle.h"
#include "support/Trace.h"
#include "support/TraceLines.h"

namespace {

constexpr int kAttempts = 8;
constexpr char kPrefix[] = "Vantorima-";
constexpr int kNameDigits = 16;
constexpr char kPartialName[] = "Vantorima-partial";

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

PSID UserSid(std::vector<BYTE>& user)
{
    return user.empty() ? nullptr : reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
}

// A DACL of its own, inheriting nothing: the user, SYSTEM and the
// administrators, each with full rights that the folder's files inherit. A
// shared temporary directory then lets nobody else add a library or a
// .local folder beside the installer.
CLocalMemory PrivateFolderSecurity()
{
    std::vector<BYTE> user = CurrentUser();
    char* sid = nullptr;
    if (!UserSid(user) || !::ConvertSidToStringSidA(UserSid(user), &sid))
        return CLocalMemory();
    char sddl[256];
    wsprintfA(sddl, "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;%s)", sid);
    ::LocalFree(sid);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr))
        return CLocalMemory();
    return CLocalMemory(descriptor);
}

// Deletes the files in folder, then the folder; what is in use (a running
// installer) stays, and with it the folder. False when the folder stays.
bool RemoveFolder(const std::string& folder)
{
    char path[MAX_PATH * 2];
    wsprintfA(path, "%s\\*", folder.c_str());
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA(path, &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            wsprintfA(path, "%s\\%s", folder.c_str(), found.cFileName);
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                ::DeleteFileA(path);
        } while (::FindNextFileA(search, &found));
        ::FindClose(search);
    }
    return ::RemoveDirectoryA(folder.c_str()) != FALSE;
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

// Whether the user owns path.
bool OwnedBy(const std::string& path, PSID user)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR raw = nullptr;
    const DWORD result = ::GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                                 nullptr, nullptr, nullptr, &raw);
    CLocalMemory descriptor(raw);
    return result == ERROR_SUCCESS && owner && ::EqualSid(owner, user);
}

// The download folders that earlier updates of this user left under parent
// (their installer ran from there, or a dialog was killed mid-download): each
// goes once nothing holds it; a running installer's stays for the next time.
void SweepOldFolders(const std::string& parent, const char* separator)
{
    std::vector<BYTE> user = CurrentUser();
    if (!UserSid(user))
        return;
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((parent + separator + kPrefix + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    std::vector<std::string> folders;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsDownloadFolderName(found.cFileName))
            folders.push_back(parent + separator + found.cFileName);
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
    for (const std::string& folder : folders) {
        // An update that runs now holds its folder without delete sharing:
        // then this open fails, and its files stay untouched.
        const bool held = !CFileHandle(::CreateFileA(folder.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!held && OwnedBy(folder, UserSid(user)) && RemoveFolder(folder))
            TraceOut(TraceLine::kFolderSwept, folder.c_str());
    }
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

std::string PartialFolder(const std::string& parent)
{
    if (parent.empty())
        return std::string();
    const std::string path = parent + (parent.back() == '\\' ? "" : "\\") + kPartialName;
    CLocalMemory security = PrivateFolderSecurity();
    if (!security) {
        // No security (Windows 9x): a folder that anyone may change keeps nothing.
        if (::GetLastError() != ERROR_CALL_NOT_IMPLEMENTED)
            TraceOut(TraceLine::kFolderSecurityError, static_cast<unsigned long>(::GetLastError()));
        return std::string();
    }
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, security.Get(), FALSE};
    if (!::CreateDirectoryA(path.c_str(), &attributes)) {
        const DWORD error = ::GetLastError();
        // One made before is used only when it is a plain folder of the user's.
        const DWORD found = ::GetFileAttributesA(path.c_str());
        std::vector<BYTE> user = CurrentUser();
        if (error != ERROR_ALREADY_EXISTS || found == INVALID_FILE_ATTRIBUTES || !(found & FILE_ATTRIBUTE_DIRECTORY) ||
            (found & FILE_ATTRIBUTE_REPARSE_POINT) || !UserSid(user) || !OwnedBy(path, UserSid(user))) {
            TraceOut(TraceLine::kFolderError, static_cast<unsigned long>(error));
            return std::string();
        }
    }
    TraceOut(TraceLine::kPartialFolder, path.c_str());
    return path;
}

void CDownloadFolder::Create(const std::string& parent)
{
    if (!m_strPath.empty())
        return;
    if (parent.empty())
        return;
    SweepOldFolders(parent, parent.back() == '\\' ? "" : "\\");
    CLocalMemory security = PrivateFolderSecurity();
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
        // No delete sharing: the folder can be neither renamed nor removed
        // (nor can anyone put another in its place) while this is held.
        m_folder.Reset(::CreateFileA(path, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!m_folder && !unsecured) {
            ::RemoveDirectoryA(path);
            continue;
        }
        m_strPath = path;
        TraceOut(TraceLine::kFolder, path);
        return;
    }
    TraceOut(TraceLine::kFolderError, static_cast<unsigned long>(::GetLastError()));
}

CDownloadFolder::~CDownloadFolder()
{
    if (m_strPath.empty())
        return;
    m_folder.Reset();
    // A running installer keeps its file, and so the folder, until the next
    // update's sweep.
    if (!RemoveFolder(m_strPath))
        TraceOut(TraceLine::kFolderStays, static_cast<unsigned long>(::GetLastError()));
}
