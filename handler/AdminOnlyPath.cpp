#include "handler/AdminOnlyPath.h"

#include <aclapi.h>

#include "framework/sys/Result.h"
#include "framework/sys/UniqueHandle.h"

namespace {

// What lets an account change a file, or put files into a folder.
constexpr ACCESS_MASK kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
    WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

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

}  // namespace

const char* AdminOnlyFault(const wchar_t* path)
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
        if (!(allowed->Mask & kChangeRights))
            continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || !IsAdministrative(const_cast<DWORD*>(&allowed->SidStart)))
            return "writable by another account";
    }
    return nullptr;
}
