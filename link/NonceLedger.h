// The nonces of the links this user's handler acted on, so that a link works
// once: one registry key per nonce under the current user, kept until
// VANTORIMA_LINK_MAX_AGE seconds after the link's end of validity, so that a
// clock set back (by up to that) does not make a used link new.
//
// A claim creates the nonce's key; only the instance that created it may act,
// so two handlers started with the same link at once cannot both launch.
#pragma once

#include <windows.h>

#include <string>

// Beside the client's settings, never inside its key: a refused link must
// leave that key as it was.
inline constexpr char kNonceLedgerPath[] = "Software\\Quorsel\\Vantorima\\LinkNonces";

// What a link's nonce is claimed for: its launch, or the renewal of the
// launcher that a link of a newer format asks for (an entry of its own, so
// that the renewed launcher still claims the link's launch).
enum class NonceUse {
    Launch,
    Renewal,
};

enum class NonceClaim {
    Claimed,  // first use: act on the link
    UsedBefore,  // a link with this nonce was acted on before
    Unavailable,  // the ledger cannot be written: once-only cannot be ensured
};

// Claims nonce (hex digits; case does not matter) for a link valid until exp
// (Unix seconds), after dropping the entries whose links expired more than
// VANTORIMA_LINK_MAX_AGE seconds before now.
NonceClaim ClaimNonce(const std::string& nonce, long long exp, long long now, NonceUse use = NonceUse::Launch);
