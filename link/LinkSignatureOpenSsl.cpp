// The native build's signature check, with OpenSSL 3's libcrypto.
#include "link/LinkSignature.h"

#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <algorithm>
#include <memory>

#include "link/OpenSslOwner.h"

namespace {

void FreeBytes(unsigned char* p)
{
    OPENSSL_free(p);
}
using BytesPtr = std::unique_ptr<unsigned char, OpenSslFree<unsigned char, FreeBytes>>;

PkeyPtr ImportKey(const LinkPublicKey& key)
{
    unsigned char point[65];
    point[0] = 4;  // uncompressed
    std::copy(key.xy, key.xy + 64, point + 1);
    char group[] = "prime256v1";
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0),
        OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point),
        OSSL_PARAM_construct_end(),
    };
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    EVP_PKEY* pkey = nullptr;
    if (!ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
        EVP_PKEY_fromdata(ctx.get(), &pkey, EVP_PKEY_PUBLIC_KEY, params) != 1)
        return nullptr;
    return PkeyPtr(pkey);
}

}  // namespace

bool VerifyLinkSignature(const LinkPublicKey& key, std::string_view message, const unsigned char (&signature)[64])
{
    const PkeyPtr pkey = ImportKey(key);
    if (!pkey)
        return false;
    // libcrypto takes the signature as DER.
    SigPtr sig(ECDSA_SIG_new());
    BIGNUM* r = BN_bin2bn(signature, 32, nullptr);
    BIGNUM* s = BN_bin2bn(signature + 32, 32, nullptr);
    if (!sig || !r || !s || ECDSA_SIG_set0(sig.get(), r, s) != 1) {
        BN_free(r);
        BN_free(s);
        return false;
    }
    unsigned char* der = nullptr;
    const int derSize = i2d_ECDSA_SIG(sig.get(), &der);
    if (derSize <= 0)
        return false;
    const BytesPtr derOwner(der);
    MdCtxPtr md(EVP_MD_CTX_new());
    return md && EVP_DigestVerifyInit(md.get(), nullptr, EVP_sha256(), nullptr, pkey.get()) == 1 &&
        EVP_DigestVerify(md.get(), der, static_cast<size_t>(derSize),
                         reinterpret_cast<const unsigned char*>(message.data()), message.size()) == 1;
}
