// The signed link, the door that every browser has:
//
//   <scheme>:launch?v=1&id=...&pass=...&key=...&server=...&exp=...&nonce=...&sig=...
//
// Values are UTF-8, percent-encoded. sig is the base64url (no padding) of the
// 64-byte r||s of an ECDSA P-256 / SHA-256 signature over the exact bytes
// from the scheme up to, not including, "&sig=". The public keys that may
// sign are compiled in (generated/LinkKeys.h); nothing switches the check off.
//
// Portable: no Windows headers. The Windows program converts the values to the
// ANSI code page and claims the nonce in its own ledger.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "launch/CredentialToken.h"
#include "link/LinkSignature.h"  // LinkPublicKey

// Longest link read, in characters (bytes: a link is ASCII).
constexpr size_t kMaxLinkChars = 2048;

// Longest values, in bytes of UTF-8 (never fewer than the ANSI form has).
// Every value the client reads back from its settings key stays within the
// 200 bytes (terminator included) with which those values are read: SaveStart
// is " /NAME:" id " /PASSWORD:" 64 digits " /JOINKEY:" key, at most 188 bytes.
constexpr size_t kMaxLinkIdBytes = 64;
constexpr size_t kMaxLinkKeyBytes = 32;
constexpr size_t kMaxLinkServerBytes = 199;
// pass: empty, a password the credential token carries, or a ready token of
// its 64 hex digits: the rule the launch applies (launch/CredentialToken.h).
constexpr size_t kMaxLinkPasswordBytes = kMaxPasswordBytes;
constexpr size_t kLinkTokenChars = kTokenChars;

constexpr size_t kMinNonceDigits = 16;
constexpr size_t kMaxNonceDigits = 64;

struct LinkFields {
    std::string id, pass, key, server, nonce;
    long long exp = 0;
};

struct CheckedLink {
    bool ok = false;
    std::string why;  // the refusal's trace text
    // Not ok, but signed by a known key, with a v above kLinkVersion, and
    // fresh as any link (exp, VANTORIMA_LINK_MAX_AGE): a link of a newer
    // format ("newer version"), of whose fields only exp and nonce are read.
    bool newerVersion = false;
    // Signed by a known key, whatever then refused it (freshness, a newer
    // format): fields.nonce is then the link's own, in lowercase (empty for a
    // newer format without a nonce of this form), so that the service can be
    // told; a link that does not verify is nobody's.
    bool verified = false;
    LinkFields fields;
};

// Strict reading + signature against the compiled-in public keys + freshness
// (a link of a newer version: its signature, exp and nonce, see newerVersion)
// (refused when exp has passed, that is now >= exp, or lies more than
// VANTORIMA_LINK_MAX_AGE seconds ahead). Does NOT claim the nonce: the
// caller's ledger does. fields.nonce comes back in lowercase, so a ledger
// compares one form.
CheckedLink CheckLink(std::string_view link, long long nowUnixSeconds);

// The reader's rule for id, key (slashAnywhere) and server, again on a value
// converted to the ANSI code page: the conversion's best fit may turn a
// character into a blank, a quote or a '/' (U+FF02 into '"' in code page 1252).
// nullptr when the value stays one argument, else the fault: "blank",
// "quote", "switch" or "control character".
const char* AnsiValueFault(std::string_view ansi, bool slashAnywhere);

// CheckLink with the keys and the freshness window given (tests, fuzzing).
CheckedLink CheckLinkWith(std::string_view link, long long nowUnixSeconds, const LinkPublicKey* keys, size_t keyCount,
                          long long maxAheadSeconds);

// The strict reading alone: no signature, no clock.
struct ReadLinkResult {
    bool ok = false;
    // v above kLinkVersion: only signedPart, signature, exp and nonce are read.
    bool newerVersion = false;
    std::string why;
    LinkFields fields;
    std::string_view signedPart;  // the link up to, not including, "&sig="
    unsigned char signature[64] = {};
};
ReadLinkResult ReadLink(std::string_view link);
