// Owners of libcrypto's objects, for the native signature check and the
// service's link tool.
#pragma once

#include <openssl/ecdsa.h>
#include <openssl/evp.h>

#include <memory>

template <typename T, void (*Free)(T*)>
struct OpenSslFree {
    void operator()(T* p) const { Free(p); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, OpenSslFree<EVP_PKEY, EVP_PKEY_free>>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, OpenSslFree<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, OpenSslFree<EVP_MD_CTX, EVP_MD_CTX_free>>;
using SigPtr = std::unique_ptr<ECDSA_SIG, OpenSslFree<ECDSA_SIG, ECDSA_SIG_free>>;
