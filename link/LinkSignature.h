// The signature check behind the link reader: CNG on Windows, OpenSSL's
// libcrypto in the native build (so the reader runs under the sanitizers).
#pragma once

#include <string_view>

// A raw P-256 public key: X then Y, 32 bytes each, big-endian.
struct LinkPublicKey {
    unsigned char xy[64];
};

// True only when signature (r||s, 32 bytes each, big-endian) is a valid ECDSA
// P-256 signature of SHA-256(message) under key. Any failure of the backend
// counts as a bad signature.
bool VerifyLinkSignature(const LinkPublicKey& key, std::string_view message, const unsigned char (&signature)[64]);
