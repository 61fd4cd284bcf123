#include "link/NonceLedger.h"

#include <cctype>
#include <vector>

#include "BuildConfig.h"
#include "framework/sys/RegKey.h"

namespace {

constexpr char kExpValue[] = "exp";
// How long an entry outlives its link's exp: a clock set back by up to the
// longest validity a link may have would make the link fresh again.
constexpr long long kKeptAfterExp = VANTORIMA_LINK_MAX_AGE;
// An entry without its end of validity (its claim was cut short) goes after
// a day: far beyond any link's validity.
constexpr long long kStrayEntryAge = 24 * 60 * 60;

long long UnixTime(const FILETIME& time)
{
    ULARGE_INTEGER ticks;
    ticks.LowPart = time.dwLowDateTime;
    ticks.HighPart = time.dwHighDateTime;
    return static_cast<long long>(ticks.QuadPart / 10000000ULL) - 11644473600LL;
}

// Whether an entry may go by now: its link expired more than kKeptAfterExp ago.
bool Expired(const CRegKey& ledger, const char* name, long long now)
{
    CRegKey entry;
    if (entry.Open(ledger.Get(), name, KEY_READ) != ERROR_SUCCESS)
        return false;
    long long exp = 0;
    DWORD type = 0, size = sizeof exp;
    if (entry.Query(kExpValue, &type, &exp, &size) == ERROR_SUCCESS && type == REG_QWORD && size == sizeof exp)
        return exp < now - kKeptAfterExp;
    FILETIME written = {};
    if (entry.LastWriteTime(written) != ERROR_SUCCESS)
        return false;
    return UnixTime(written) + kStrayEntryAge < now;
}

void DropExpired(const CRegKey& ledger, long long now)
{
    // Names first, then deletions: deleting while enumerating skips entries.
    std::vector<std::string> names;
    ledger.SubkeyNames(names);
    for (const std::string& name : names) {
        if (Expired(ledger, name.c_str(), now))
            CRegKey::DeleteTree(ledger.Get(), name.c_str());
    }
}

}  // namespace

NonceClaim ClaimNonce(const std::string& nonce, long long exp, long long now, NonceUse use)
{
    std::string name = use == NonceUse::Renewal ? "renewal-" : "";
    for (char c : nonce) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return NonceClaim::Unavailable;  // never a key path of its own choosing
        name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (name.empty() || name.back() == '-')
        return NonceClaim::Unavailable;

    CRegKey ledger;
    if (ledger.Create(HKEY_CURRENT_USER, kNonceLedgerPath, KEY_READ | KEY_WRITE) != ERROR_SUCCESS)
        return NonceClaim::Unavailable;
    DropExpired(ledger, now);

    CRegKey entry;
    bool created = false;
    if (entry.Create(ledger.Get(), name.c_str(), KEY_WRITE, &created) != ERROR_SUCCESS)
        return NonceClaim::Unavailable;
    // The system creates a key once: every other creator opens it.
    if (!created)
        return NonceClaim::UsedBefore;
    entry.Write(kExpValue, REG_QWORD, &exp, sizeof exp);
    return NonceClaim::Claimed;
}
