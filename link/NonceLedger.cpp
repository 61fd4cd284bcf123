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
bool Expired(HKEY ledger, const char* name, long long now)
{
    CRegKeyHandle entry;
    if (RegOpenKeyExA(ledger, name, 0, KEY_READ, entry.Put()) != ERROR_SUCCESS)
        return false;
    long long exp = 0;
    DWORD type = 0, size = sizeof exp;
    if (RegQueryValueExA(entry.Get(), kExpValue, nullptr, &type, reinterpret_cast<BYTE*>(&exp), &size) ==
            ERROR_SUCCESS &&
        type == REG_QWORD && size == sizeof exp)
        return exp < now - kKeptAfterExp;
    FILETIME written = {};
    if (RegQueryInfoKeyA(entry.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, &written) != ERROR_SUCCESS)
        return false;
    return UnixTime(written) + kStrayEntryAge < now;
}

void DropExpired(HKEY ledger, long long now)
{
    // Names first, then deletions: deleting while enumerating skips entries.
    std::vector<std::string> expired;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof name;
        const LONG result = RegEnumKeyExA(ledger, i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_MORE_DATA)
            continue;
        if (result != ERROR_SUCCESS)
            break;
        if (Expired(ledger, name, now))
            expired.emplace_back(name, length);
    }
    for (const std::string& entry : expired)
        RegDeleteKeyA(ledger, entry.c_str());
}

}  // namespace

NonceClaim ClaimNonce(const std::string& nonce, long long exp, long long now)
{
    std::string name;
    for (char c : nonce) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return NonceClaim::Unavailable;  // never a key path of its own choosing
        name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (name.empty())
        return NonceClaim::Unavailable;

    CRegKey ledger;
    if (ledger.Create(HKEY_CURRENT_USER, kNonceLedgerPath, KEY_READ | KEY_WRITE) != ERROR_SUCCESS)
        return NonceClaim::Unavailable;
    DropExpired(ledger.Get(), now);

    CRegKeyHandle entry;
    DWORD disposition = 0;
    if (RegCreateKeyExA(ledger.Get(), name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                        entry.Put(), &disposition) != ERROR_SUCCESS)
        return NonceClaim::Unavailable;
    // The system creates a key once: every other creator opens it.
    if (disposition != REG_CREATED_NEW_KEY)
        return NonceClaim::UsedBefore;
    RegSetValueExA(entry.Get(), kExpValue, 0, REG_QWORD, reinterpret_cast<const BYTE*>(&exp), sizeof exp);
    return NonceClaim::Claimed;
}
