#include "handler/AdminOnlyPath.h"

#include <aclapi.h>

#include "framework/sys/Result.h"
#include "framework/sys/UniqueHandle.h"
#include "framework/sys/WideText.h"

namespace {

bool IsAdministrative(PSID sid)
{
    if (!sid || !IsValidSid(sid))
        return false;
    if (IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid))
        return true;
    // NT SERVICE\TrustedInstaller: S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464
    static const DWORD kTrustedInstaller[] = {80, 956008885, 3418522649, 1831038044, 1853292631, 2271478464};
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    BYTE buffer[SECURITY_MAX_SID_SIZE];
    auto* installer = reinterpret_cast<PSID>(buffer);
    if (!LOG_IF_WIN32_BOOL_FALSE(InitializeSid(installer, &nt, ARRAYSIZE(kTrustedInstaller))))
        return false;
    for (DWORD i = 0; i < ARRAYSIZE(kTrustedInstaller); ++i)
        *GetSidSubAuthority(installer, i) = kTrustedInstaller[i];
    return EqualSid(sid, installer) != FALSE;
}

const char* DescriptorFault(PSID owner, PACL dacl, ACCESS_MASK rights)
{
    // An owner may always rewrite the DACL.
    if (!IsAdministrative(owner))
        return "owner";
    if (!dacl)
        return "no DACL";
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!LOG_IF_WIN32_BOOL_FALSE(GetAce(dacl, i, &entry)))
            return "unreadable";
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        if (header->AceFlags & INHERIT_ONLY_ACE)
            continue;  // for what is created inside, not for this
        if (header->AceType == ACCESS_DENIED_ACE_TYPE || header->AceType == ACCESS_DENIED_OBJECT_ACE_TYPE ||
            header->AceType == SYSTEM_AUDIT_ACE_TYPE)
            continue;
        // Every other kind grants, its mask first; only the plain kind's
        // account is read here, any other that grants a change refuses.
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
        if (!(allowed->Mask & rights))
            continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || !IsAdministrative(const_cast<DWORD*>(&allowed->SidStart)))
            return "writable by another account";
    }
    return nullptr;
}

// The path as the file system names it once every junction and link is
// followed ("\\?\" and the long names), or empty.
WideText FinalPath(const wchar_t* path)
{
    const CFileHandle file(CreateFileW(path, FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    wchar_t final[MAX_PATH + 8];
    const DWORD length = file
        ? GetFinalPathNameByHandleW(file.Get(), final, ARRAYSIZE(final), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS)
        : 0;
    if (LOG_LAST_ERROR_IF(length == 0) || length >= ARRAYSIZE(final))
        return WideText();
    // Only a drive's path: "\\?\C:\..." (a share's is "\\?\UNC\...").
    const wchar_t* text = final;
    if (text[0] == L'\\' && text[1] == L'\\' && text[2] == L'?' && text[3] == L'\\')
        text += 4;
    return WideJoin({text});
}

}  // namespace

const char* AdminOnlyFault(const wchar_t* path, ACCESS_MASK rights)
{
    PSID owner = nullptr;
    PACL dacl = nullptr;
    CLocalMemory descriptor;
    PSECURITY_DESCRIPTOR raw = nullptr;
    const DWORD result = LOG_IF_WIN32_ERROR(
        GetNamedSecurityInfoW(path, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                              nullptr, &dacl, nullptr, &raw));
    descriptor.Reset(raw);
    if (result != ERROR_SUCCESS || !descriptor)
        return "unreadable";
    return DescriptorFault(owner, dacl, rights);
}

const char* AdminOnlyFault(PSECURITY_DESCRIPTOR descriptor, ACCESS_MASK rights)
{
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL defaulted = FALSE, present = FALSE;
    if (!LOG_IF_WIN32_BOOL_FALSE(GetSecurityDescriptorOwner(descriptor, &owner, &defaulted)) ||
        !LOG_IF_WIN32_BOOL_FALSE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)))
        return "unreadable";
    return DescriptorFault(owner, present ? dacl : nullptr, rights);
}

const char* AdminOnlyProgramFault(const wchar_t* path, const char*& what)
{
    // The same file by its final path: a junction or link in the path would
    // let whoever may change it swap what every user's browser starts.
    wchar_t full[MAX_PATH];
    const DWORD length = GetLongPathNameW(path, full, MAX_PATH);
    const WideText final = FinalPath(path);
    what = "program path";
    if (LOG_LAST_ERROR_IF(length == 0) || length >= MAX_PATH || final.size() <= 1)
        return "unreadable";
    if (CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, full, -1, final.data(), -1) != CSTR_EQUAL)
        return "passes a junction or symbolic link";
    // The file, its folder, then each folder above up to the root.
    WideText at = final;
    for (int level = 0;; ++level) {
        what = level == 0 ? "program file" : level == 1 ? "program folder" : "folder above it";
        if (const char* fault = AdminOnlyFault(at.data(), level < 2 ? kChangeRights : kRenameRights))
            return fault;
        size_t end = lstrlenW(at.data());
        if (end <= 3)
            return nullptr;  // "C:\\" done
        while (end > 0 && at[end - 1] != L'\\')
            --end;
        if (end == 0)
            return "unreadable";
        // A drive's root keeps its backslash.
        at[end > 1 && at[end - 2] == L':' ? end : end - 1] = L'\0';
    }
}
