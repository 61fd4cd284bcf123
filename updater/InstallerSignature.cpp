#include "updater/InstallerSignature.h"

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstdio>

#include "framework/AnsiText.h"
#include "support/Trace.h"

namespace {

// The state of one WinVerifyTrust verification, closed when the object goes:
// the signer and its chain live in it.
class CTrustState {
public:
    explicit CTrustState(const std::wstring& path)
    {
        m_file.cbStruct = sizeof m_file;
        m_file.pcwszFilePath = path.c_str();
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

std::string Thumbprint(PCCERT_CONTEXT certificate)
{
    BYTE hash[20];
    DWORD size = sizeof hash;
    if (!::CertGetCertificateContextProperty(certificate, CERT_SHA1_HASH_PROP_ID, hash, &size) || size != sizeof hash)
        return std::string();
    std::string text;
    for (BYTE b : hash) {
        text += "0123456789ABCDEF"[b >> 4];
        text += "0123456789ABCDEF"[b & 15];
    }
    return text;
}

std::wstring CommonName(PCCERT_CONTEXT certificate)
{
    wchar_t name[256];
    ::CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(szOID_COMMON_NAME), name, 256);
    return name;
}

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

// entry as 40 hex digits, without the blanks and colons of copied thumbprints;
// equal to thumbprint whatever the case.
bool SameThumbprint(const std::wstring& entry, const std::string& thumbprint)
{
    std::string digits;
    for (wchar_t c : entry) {
        if (IsBlank(c) || c == L':')
            continue;
        if (!iswxdigit(c))
            return false;
        digits += static_cast<char>(towupper(c));
    }
    return digits.size() == 40 && digits == thumbprint;
}

std::wstring WideFromAnsi(const std::string& text)
{
    const int length = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(length, L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

} // namespace

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

bool SignerListed(const std::wstring& signers, const std::string& thumbprint, const std::wstring& commonName)
{
    size_t start = 0;
    for (;;) {
        size_t end = signers.find(L';', start);
        if (end == std::wstring::npos)
            end = signers.size();
        size_t first = start, last = end;
        while (first < last && IsBlank(signers[first]))
            ++first;
        while (last > first && IsBlank(signers[last - 1]))
            --last;
        const std::wstring entry = signers.substr(first, last - first);
        if (!entry.empty() && (entry == commonName || SameThumbprint(entry, thumbprint)))
            return true;
        if (end == signers.size())
            return false;
        start = end + 1;
    }
}

SignatureVerdict VerifyInstallerSignature(const std::wstring& path, const std::wstring& signers)
{
    SignatureVerdict verdict;
    CTrustState state(path);
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
    verdict.commonName = CommonName(certificate);
    verdict.thumbprint = Thumbprint(certificate);

    CERT_CHAIN_POLICY_PARA policy = {};
    policy.cbSize = sizeof policy;
    CERT_CHAIN_POLICY_STATUS status = {};
    status.cbSize = sizeof status;
    if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE, signer->pChainContext, &policy, &status))
        status.dwError = HRESULT_FROM_WIN32(::GetLastError());
    if (status.dwError != ERROR_SUCCESS) {
        verdict.step = SignatureVerdict::kChainPolicy;
        verdict.code = static_cast<HRESULT>(status.dwError);
        return verdict;
    }

    if (!signers.empty() && !SignerListed(signers, verdict.thumbprint, verdict.commonName)) {
        verdict.step = SignatureVerdict::kSigner;
        verdict.code = TRUST_E_SUBJECT_NOT_TRUSTED;
    }
    return verdict;
}

bool CheckInstallerFile(const std::string& path, std::string& failure)
{
    TraceOut("CheckInstallerFile : %s", path.c_str());
    const SignatureVerdict verdict = VerifyInstallerSignature(WideFromAnsi(path), InstallerSigners());
    const std::string signer = verdict.thumbprint.empty()
        ? std::string()
        : " (CN : " + AnsiFromWide(verdict.commonName.c_str(), verdict.commonName.size())
            + ", SHA1 : " + verdict.thumbprint + ")";
    if (verdict.Accepted()) {
        TraceOut("CheckInstallerFile : suc%s", signer.c_str());
        return true;
    }
    char text[64];
    std::snprintf(
        text, sizeof text, "signature %s error 0x%08lX", verdict.StepName(), static_cast<unsigned long>(verdict.code));
    TraceOut("CheckInstallerFile : %s%s", text, signer.c_str());
    failure = text;
    return false;
}
