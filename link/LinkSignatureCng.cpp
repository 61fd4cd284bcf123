// The Windows build's signature check, with the system's CNG (bcrypt.dll).
#include <windows.h>
#include <bcrypt.h>

#include <cstring>

#include "link/LinkSignature.h"

namespace {

struct Provider {
    BCRYPT_ALG_HANDLE handle = nullptr;
    explicit Provider(const wchar_t* algorithm)
    {
        if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&handle, algorithm, nullptr, 0)))
            handle = nullptr;
    }
    ~Provider()
    {
        if (handle)
            BCryptCloseAlgorithmProvider(handle, 0);
    }
    Provider(const Provider&) = delete;
    Provider& operator=(const Provider&) = delete;
};

struct KeyHandle {
    BCRYPT_KEY_HANDLE handle = nullptr;
    ~KeyHandle()
    {
        if (handle)
            BCryptDestroyKey(handle);
    }
};

struct HashHandle {
    BCRYPT_HASH_HANDLE handle = nullptr;
    ~HashHandle()
    {
        if (handle)
            BCryptDestroyHash(handle);
    }
};

bool Sha256(std::string_view message, unsigned char (&digest)[32])
{
    const Provider sha(BCRYPT_SHA256_ALGORITHM);
    HashHandle hash;
    if (!sha.handle || !BCRYPT_SUCCESS(BCryptCreateHash(sha.handle, &hash.handle, nullptr, 0, nullptr, 0, 0)))
        return false;
    // BCryptHashData takes a ULONG count: a link is at most a few kB.
    if (!BCRYPT_SUCCESS(BCryptHashData(hash.handle, reinterpret_cast<PUCHAR>(const_cast<char*>(message.data())),
                                       static_cast<ULONG>(message.size()), 0)))
        return false;
    return BCRYPT_SUCCESS(BCryptFinishHash(hash.handle, digest, sizeof digest, 0));
}

}  // namespace

bool VerifyLinkSignature(const LinkPublicKey& key, std::string_view message, const unsigned char (&signature)[64])
{
    if (message.size() > 0xFFFFFFFFu)
        return false;
    unsigned char digest[32];
    if (!Sha256(message, digest))
        return false;

    const Provider ecdsa(BCRYPT_ECDSA_P256_ALGORITHM);
    if (!ecdsa.handle)
        return false;
    // BCRYPT_ECCPUBLIC_BLOB: the header, then X and Y.
    unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64];
    BCRYPT_ECCKEY_BLOB header = {BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
    std::memcpy(blob, &header, sizeof header);
    std::memcpy(blob + sizeof header, key.xy, 64);
    KeyHandle publicKey;
    if (!BCRYPT_SUCCESS(
            BCryptImportKeyPair(ecdsa.handle, nullptr, BCRYPT_ECCPUBLIC_BLOB, &publicKey.handle, blob, sizeof blob, 0)))
        return false;
    unsigned char sig[64];
    std::memcpy(sig, signature, sizeof sig);
    return BCryptVerifySignature(publicKey.handle, nullptr, digest, sizeof digest, sig, sizeof sig, 0) == 0;
}
