#include "download/InstallerSignature.h"

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <algorithm>
#include <vector>

#include "framework/sys/AnsiText.h"
#include "framework/sys/HexDigits.h"
#include "framework/sys/Module.h"
#include "support/Trace.h"
#include "support/TraceLines.h"

namespace {

// The state of one WinVerifyTrust verification, closed when the object goes:
// the signer and its chain live in it.
class CTrustState {
public:
    CTrustState(const wchar_t* path, HANDLE file)
    {
        m_file.cbStruct = sizeof m_file;
        m_file.pcwszFilePath = path;
        m_file.hFile = file;
        m_data.cbStruct = sizeof m_data;
        m_data.dwUIChoice = WTD_UI_NONE;
        m_data.fdwRevocationChecks = WTD_REVOKE_NONE;
        m_data.dwUnionChoice = WTD_CHOICE_FILE;
        m_data.pFile = &m_file;
        m_data.dwStateAction = WTD_STATEACTION_VERIFY;
        // No network: nothing is fetched for the chain or its revocation.
        m_data.dwProvFlags = WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL;
        m_result = ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &m_action, &m_data);
    }
    ~CTrustState()
    {
        if (!m_data.hWVTStateData)
            return;
        m_data.dwStateAction = WTD_STATEACTION_CLOSE;
        ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &m_action, &m_data);
    }
    CTrustState(const CTrustState&) = delete;
    CTrustState& operator=(const CTrustState&) = delete;

    LONG Result() const { return m_result; }
    // The first signer, or null.
    CRYPT_PROVIDER_SGNR* Signer() const
    {
        CRYPT_PROVIDER_DATA* provider = ::WTHelperProvDataFromStateData(m_data.hWVTStateData);
        return provider ? ::WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    }

private:
    GUID m_action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    WINTRUST_FILE_INFO m_file = {};
    WINTRUST_DATA m_data = {};
    LONG m_result;
};

void ReadThumbprint(PCCERT_CONTEXT certificate, char (&text)[41])
{
    BYTE hash[20];
    DWORD size = sizeof hash;
    if (!::CertGetCertificateContextProperty(certificate, CERT_SHA1_HASH_PROP_ID, hash, &size) || size != sizeof hash)
        return;
    for (int i = 0; i < 20; ++i) {
        text[2 * i] = "0123456789ABCDEF"[hash[i] >> 4];
        text[2 * i + 1] = "0123456789ABCDEF"[hash[i] & 15];
    }
    text[40] = '\0';
}

// The subject's common name as the certificate holds it, with its whole
// length: a NUL inside counts, so such a name never passes for its first part.
void ReadCommonName(PCCERT_CONTEXT certificate, SignatureVerdict& verdict)
{
    CERT_NAME_INFO* name = nullptr;
    DWORD size = 0;
    if (!::CryptDecodeObjectEx(X509_ASN_ENCODING, X509_UNICODE_NAME, certificate->pCertInfo->Subject.pbData,
                               certificate->pCertInfo->Subject.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &name, &size))
        return;
    if (const CERT_RDN_ATTR* attribute = ::CertFindRDNAttr(szOID_COMMON_NAME, name)) {
        const auto* text = reinterpret_cast<const wchar_t*>(attribute->Value.pbData);
        size_t length = attribute->Value.cbData / sizeof(wchar_t);
        // Wine counts the terminator in, Windows does not; a NUL anywhere else stays.
        if (length && !text[length - 1])
            --length;
        verdict.commonNameLength = length;
        const size_t kept = length < ARRAYSIZE(verdict.commonName) ? length : ARRAYSIZE(verdict.commonName) - 1;
        std::copy(text, text + kept, verdict.commonName);
        verdict.commonName[kept] = L'\0';
    }
    ::LocalFree(name);
}

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

// The entry [first, last) is 40 hex digits once the blanks and colons of
// copied thumbprints are left out: a thumbprint, and never a name.
bool IsThumbprint(const wchar_t* first, const wchar_t* last)
{
    size_t digits = 0;
    for (; first != last; ++first) {
        if (IsBlank(*first) || *first == L':')
            continue;
        if (HexValue(*first) < 0 || ++digits > 40)
            return false;
    }
    return digits == 40;
}

// The thumbprint entry [first, last) is thumbprint, whatever the case.
bool SameThumbprint(const wchar_t* first, const wchar_t* last, const char* thumbprint)
{
    size_t digits = 0;
    for (; first != last; ++first) {
        if (IsBlank(*first) || *first == L':')
            continue;
        if (!thumbprint[digits] || "0123456789ABCDEF"[HexValue(*first)] != thumbprint[digits])
            return false;
        ++digits;
    }
    return digits == 40;
}

// The entry [first, last) is the name of nameLength characters, whole.
bool SameName(const wchar_t* first, const wchar_t* last, const wchar_t* name, size_t nameLength)
{
    return static_cast<size_t>(last - first) == nameLength && std::equal(first, last, name);
}

bool IsSelf(const wchar_t* first, const wchar_t* last)
{
    if (last - first != 4)
        return false;
    for (int i = 0; i < 4; ++i) {
        if ((first[i] | 0x20) != L"self"[i])
            return false;
    }
    return true;
}

// Calls visit(first, last) for every entry of signers without its blanks,
// until it returns true.
template <typename Visit>
bool AnyEntry(const wchar_t* signers, Visit visit)
{
    for (const wchar_t* start = signers;; ++start) {
        const wchar_t* end = start;
        while (*end && *end != L';')
            ++end;
        const wchar_t *first = start, *last = end;
        while (first < last && IsBlank(*first))
            ++first;
        while (last > first && IsBlank(last[-1]))
            --last;
        if (first != last && visit(first, last))
            return true;
        if (!*end)
            return false;
        start = end;
    }
}

}  // namespace

const char* SignatureVerdict::StepName() const
{
    switch (step) {
    case kTrust:
        return "WinVerifyTrust";
    case kChainPolicy:
        return "chain policy";
    case kSigner:
        return "signer";
    default:
        return "suc";
    }
}

bool SignerListed(const wchar_t* signers, const char* thumbprint, const wchar_t* commonName, size_t nameLength)
{
    return AnyEntry(signers, [&](const wchar_t* first, const wchar_t* last) {
        if (IsSelf(first, last))
            return false;
        return IsThumbprint(first, last) ? SameThumbprint(first, last, thumbprint)
                                         : SameName(first, last, commonName, nameLength);
    });
}

bool SignerListed(const wchar_t* signers, const char* thumbprint, const wchar_t* commonName)
{
    return SignerListed(signers, thumbprint, commonName, static_cast<size_t>(lstrlenW(commonName)));
}

bool ListsSelf(const wchar_t* signers)
{
    return AnyEntry(signers, [](const wchar_t* first, const wchar_t* last) { return IsSelf(first, last); });
}

namespace {

// The signer certificate of a trust state, or null.
PCCERT_CONTEXT SignerCertificate(const CTrustState& state)
{
    const CRYPT_PROVIDER_SGNR* signer = state.Signer();
    return signer && signer->csCertChain && signer->pChainContext ? signer->pasCertChain[0].pCert : nullptr;
}

HRESULT AuthenticodePolicy(const CTrustState& state)
{
    CERT_CHAIN_POLICY_PARA policy = {};
    policy.cbSize = sizeof policy;
    CERT_CHAIN_POLICY_STATUS status = {};
    status.cbSize = sizeof status;
    if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE, state.Signer()->pChainContext, &policy,
                                            &status))
        status.dwError = HRESULT_FROM_WIN32(::GetLastError());
    return static_cast<HRESULT>(status.dwError);
}

// Whether certificate has exactly the subject and issuer of the running
// module's signer, the module's file verified as an installer is. A module
// without a signature lets it pass only in a developer's build, and says so:
// in a signed build a signature that cannot be read is no developer's build.
bool SignedLikeModule(PCCERT_CONTEXT certificate, const wchar_t* ownModule, bool signedBuild, SignatureVerdict& verdict)
{
    wchar_t path[MAX_PATH];
    if (!ownModule && ModuleFileName(path) != ERROR_SUCCESS)
        return false;
    CTrustState own(ownModule ? ownModule : path, nullptr);
    if (own.Result() == TRUST_E_NOSIGNATURE) {
        (signedBuild ? verdict.selfUnreadable : verdict.selfUnsigned) = true;
        return !signedBuild;
    }
    PCCERT_CONTEXT ownSigner = own.Result() == ERROR_SUCCESS ? SignerCertificate(own) : nullptr;
    if (!ownSigner || AuthenticodePolicy(own) != S_OK)
        return false;
    // The encoded names, whole: every attribute, its order and its length.
    // The issuer too: any CA may issue a certificate of the same name.
    CERT_INFO* mine = ownSigner->pCertInfo;
    CERT_INFO* theirs = certificate->pCertInfo;
    return ::CertCompareCertificateName(X509_ASN_ENCODING, &mine->Subject, &theirs->Subject) &&
        ::CertCompareCertificateName(X509_ASN_ENCODING, &mine->Issuer, &theirs->Issuer);
}

}  // namespace

SignatureVerdict VerifyInstallerSignature(const wchar_t* path, const wchar_t* signers, HANDLE file,
                                          const wchar_t* ownModule, bool signedBuild)
{
    SignatureVerdict verdict;
    CTrustState state(path, file);
    if (state.Result() != ERROR_SUCCESS) {
        verdict.step = SignatureVerdict::kTrust;
        verdict.code = state.Result();
        return verdict;
    }

    const CRYPT_PROVIDER_SGNR* signer = state.Signer();
    PCCERT_CONTEXT certificate = signer && signer->csCertChain ? signer->pasCertChain[0].pCert : nullptr;
    if (!certificate || !signer->pChainContext) {
        verdict.step = SignatureVerdict::kChainPolicy;
        verdict.code = TRUST_E_NOSIGNATURE;
        return verdict;
    }
    ReadCommonName(certificate, verdict);
    ReadThumbprint(certificate, verdict.thumbprint);

    const HRESULT policy = AuthenticodePolicy(state);
    if (policy != S_OK) {
        verdict.step = SignatureVerdict::kChainPolicy;
        verdict.code = policy;
        return verdict;
    }

    // A name cut to the buffer is no name of any list.
    const bool nameWhole = verdict.commonNameLength < ARRAYSIZE(verdict.commonName);
    if (*signers &&
        !SignerListed(signers, verdict.thumbprint, verdict.commonName,
                      nameWhole ? verdict.commonNameLength : ~size_t(0)) &&
        !(ListsSelf(signers) && SignedLikeModule(certificate, ownModule, signedBuild, verdict))) {
        verdict.step = SignatureVerdict::kSigner;
        verdict.code = TRUST_E_SUBJECT_NOT_TRUSTED;
    }
    return verdict;
}

bool CheckInstallerFile(const std::string& path, HANDLE file, std::string& failure)
{
    TraceOut(TraceLine::kInstallerChecked, path.c_str());
    const SignatureVerdict verdict =
        VerifyInstallerSignature(WideFromAnsi(path.c_str()).data(), InstallerSigners(), file);
    const std::string signer = *verdict.thumbprint
        ? " (CN : " + AnsiFromWide(verdict.commonName, lstrlenW(verdict.commonName)) +
            ", SHA1 : " + verdict.thumbprint + ")"
        : std::string();
    if (verdict.selfUnsigned)
        TraceOut(TraceLine::kUnsignedSelf);
    if (verdict.selfUnreadable)
        TraceOut(TraceLine::kUnreadableSelf);
    if (verdict.Accepted()) {
        TraceOut(TraceLine::kInstallerPassed, signer.c_str());
        return true;
    }
    char text[64];
    wsprintfA(text, "signature %s error 0x%08lX", verdict.StepName(), static_cast<unsigned long>(verdict.code));
    TraceOut(TraceLine::kInstallerRefused, text, signer.c_str());
    failure = text;
    return false;
}
