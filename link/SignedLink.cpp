#include "link/SignedLink.h"

#include <utility>

#include "BuildConfig.h"
#include "LinkKeys.h"
#include "link/LinkDecoding.h"
#include "link/LinkSignature.h"
#include "support/TraceLines.h"

// The highest link version (v) this reader reads (VANTORIMA_LINK_VERSION);
// every version up to it has the format of SignedLink.h.
#ifndef VANTORIMA_LINK_VERSION
#define VANTORIMA_LINK_VERSION 1
#endif

namespace {

constexpr long kLinkVersion = VANTORIMA_LINK_VERSION;
constexpr std::string_view kVerb = "launch";

enum Param { kV, kId, kPass, kKey, kServer, kExp, kNonce, kSig, kParamCount };
constexpr std::string_view kParamNames[kParamCount] = {"v", "id", "pass", "key", "server", "exp", "nonce", "sig"};

using RawValues = std::string_view[kParamCount];
using Values = std::string[kParamCount];

ReadLinkResult Refused(std::string why)
{
    ReadLinkResult result;
    result.why = std::move(why);
    return result;
}

std::string Named(const char* what, Param p)
{
    return std::string(what) + " " + std::string(kParamNames[p]);
}

// A link whose v is a number above kLinkVersion, with its signed part and
// signature; newerVersion stays false for any other link.
ReadLinkResult ReadNewerLink(std::string_view link, std::string_view query)
{
    ReadLinkResult result;
    long version = -1;
    std::string_view nonce;  // its nonce, when it has one of this form: the launcher reports on it
    for (size_t at = 0; at <= query.size();) {
        size_t end = query.find('&', at);
        end = end == std::string_view::npos ? query.size() : end;
        const std::string_view pair = query.substr(at, end - at);
        if (version < 0 && pair.substr(0, 2) == "v=")
            version = VersionNumber(pair.substr(2));
        else if (nonce.empty() && pair.substr(0, 6) == "nonce=")
            nonce = pair.substr(6);
        at = end + 1;
    }
    const size_t sig = link.rfind("&sig=");
    if (version <= kLinkVersion || sig == std::string_view::npos)
        return result;
    if (nonce.size() >= kMinNonceDigits && nonce.size() <= kMaxNonceDigits && AllHex(nonce))
        for (char c : nonce)
            result.fields.nonce += LowerAscii(c);
    if (!DecodeSignature(link.substr(sig + 5), result.signature)) {
        result.why = LinkRefusal::kBadSig;
        return result;
    }
    result.newerVersion = true;
    result.why = LinkRefusal::kNewerVersion;
    result.signedPart = link.substr(0, sig);
    return result;
}

// "<scheme>:launch?" and a query of allowed characters: the query, or the
// refusal in why.
std::string_view ReadQuery(std::string_view link, std::string& why)
{
    const std::string_view scheme = VANTORIMA_URL_SCHEME;
    const size_t colon = link.find(':');
    bool sameScheme = colon == scheme.size();
    for (size_t i = 0; sameScheme && i < colon; ++i)
        sameScheme = LowerAscii(link[i]) == scheme[i];
    if (!sameScheme) {
        why = LinkRefusal::kOtherScheme;
        return {};
    }
    const size_t question = link.find('?', colon + 1);
    if (question == std::string_view::npos) {
        why = link.substr(colon + 1) == kVerb ? std::string(LinkRefusal::kMissingParameter) + " v"
                                              : LinkRefusal::kOtherVerb;
        return {};
    }
    if (link.substr(colon + 1, question - colon - 1) != kVerb) {
        why = LinkRefusal::kOtherVerb;
        return {};
    }
    const std::string_view query = link.substr(question + 1);
    for (char c : query) {
        if (!IsQueryChar(c)) {
            why = LinkRefusal::kCharacterNotAllowed;
            return {};
        }
    }
    return query;
}

// name=value pairs, each name once, every name there, sig last. sigAmp is
// the query's offset of the '&' before "sig=", where the signed part ends.
std::string SplitQuery(std::string_view query, RawValues& raw, size_t& sigAmp)
{
    bool seen[kParamCount] = {};
    for (size_t at = 0; at <= query.size();) {
        size_t end = query.find('&', at);
        if (end == std::string_view::npos)
            end = query.size();
        const std::string_view pair = query.substr(at, end - at);
        const size_t equals = pair.find('=');
        if (equals == std::string_view::npos)
            return pair.empty() ? LinkRefusal::kEmptyParameter : LinkRefusal::kParameterWithoutValue;
        const std::string_view name = pair.substr(0, equals);
        int p = 0;
        while (p < kParamCount && kParamNames[p] != name)
            ++p;
        if (p == kParamCount)
            return LinkRefusal::kUnknownParameter;
        if (seen[p])
            return Named(LinkRefusal::kRepeatedParameter, static_cast<Param>(p));
        if (seen[kSig])
            return LinkRefusal::kSigNotLast;
        seen[p] = true;
        raw[p] = pair.substr(equals + 1);
        if (p == kSig)
            sigAmp = at - 1;  // at > 0 in a link that reads on: sig comes last
        at = end + 1;
    }
    for (int p = 0; p < kParamCount; ++p)
        if (!seen[p])
            return Named(LinkRefusal::kMissingParameter, static_cast<Param>(p));
    return {};
}

// Percent-decoded, UTF-8 without controls, and for the values that reach the
// client's command line, one argument there.
std::string DecodeValues(const RawValues& raw, Values& value)
{
    for (int p = 0; p < kParamCount; ++p) {
        const Param param = static_cast<Param>(p);
        if (!PercentDecode(raw[p], value[p]))
            return Named(LinkRefusal::kBadEscapeIn, param);
        std::u32string text;
        if (!DecodeUtf8(value[p], text))
            return Named(LinkRefusal::kInvalidUtf8In, param);
        for (char32_t c : text)
            if (IsControl(c))
                return Named(LinkRefusal::kControlCharacterIn, param);
        if (p == kId || p == kKey || p == kServer)
            if (const char* fault = CommandLineFault(std::u32string_view(text), p != kServer))
                return std::string(fault) + " in " + std::string(kParamNames[p]);
    }
    return {};
}

// The version this reader reads, and every value within its bounds.
const char* CheckBounds(const Values& value)
{
    if (VersionNumber(value[kV]) < 1 || VersionNumber(value[kV]) > kLinkVersion)
        return LinkRefusal::kUnknownVersion;
    if (value[kId].size() > kMaxLinkIdBytes)
        return LinkRefusal::kIdTooLong;
    if (value[kKey].size() > kMaxLinkKeyBytes)
        return LinkRefusal::kKeyTooLong;
    if (value[kServer].size() > kMaxLinkServerBytes)
        return LinkRefusal::kServerTooLong;
    const std::string& pass = value[kPass];
    if (pass.size() == kLinkTokenChars) {
        if (!AllHex(pass))
            return LinkRefusal::kPassNotAToken;
    } else if (pass.size() > kMaxLinkPasswordBytes) {
        return LinkRefusal::kPassTooLong;
    }
    return nullptr;
}

// exp, nonce (in lowercase) and sig into result.
const char* ReadExpNonceSig(Values& value, ReadLinkResult& result)
{
    if (!ParseExp(value[kExp], result.fields.exp))
        return LinkRefusal::kBadExp;
    std::string& nonce = value[kNonce];
    if (nonce.size() < kMinNonceDigits || nonce.size() > kMaxNonceDigits || !AllHex(nonce))
        return LinkRefusal::kBadNonce;
    for (char& c : nonce)
        c = LowerAscii(c);
    if (!DecodeSignature(value[kSig], result.signature))
        return LinkRefusal::kBadSig;
    return nullptr;
}

}  // namespace

ReadLinkResult ReadLink(std::string_view link)
{
    if (link.size() > kMaxLinkChars)
        return Refused(LinkRefusal::kTooLong);
    std::string why;
    const std::string_view query = ReadQuery(link, why);
    if (!why.empty())
        return Refused(std::move(why));

    // A newer format may add or change parameters; its signature still covers
    // everything before the last "&sig=", which is all of it but the
    // signature itself.
    if (ReadLinkResult newer = ReadNewerLink(link, query); newer.newerVersion)
        return newer;

    RawValues raw;
    size_t sigAmp = 0;
    Values value;
    why = SplitQuery(query, raw, sigAmp);
    if (why.empty())
        why = DecodeValues(raw, value);
    if (!why.empty())
        return Refused(std::move(why));
    ReadLinkResult result;
    const char* fault = CheckBounds(value);
    if (!fault)
        fault = ReadExpNonceSig(value, result);
    if (fault)
        return Refused(fault);

    result.ok = true;
    result.fields.id = std::move(value[kId]);
    result.fields.pass = std::move(value[kPass]);
    result.fields.key = std::move(value[kKey]);
    result.fields.server = std::move(value[kServer]);
    result.fields.nonce = std::move(value[kNonce]);
    result.signedPart = link.substr(0, link.size() - query.size() + sigAmp);
    return result;
}

const char* AnsiValueFault(std::string_view ansi, bool slashAnywhere)
{
    return CommandLineFault(ansi, slashAnywhere);
}

CheckedLink CheckLinkWith(std::string_view link, long long nowUnixSeconds, const LinkPublicKey* keys, size_t keyCount,
                          long long maxAheadSeconds)
{
    CheckedLink checked;
    ReadLinkResult read = ReadLink(link);
    if (!read.ok && !read.newerVersion) {
        checked.why = std::move(read.why);
        return checked;
    }
    bool verified = false;
    for (size_t i = 0; i < keyCount && !verified; ++i)
        verified = VerifyLinkSignature(keys[i], read.signedPart, read.signature);
    if (!verified) {
        checked.why = LinkRefusal::kSignatureFails;
        return checked;
    }
    checked.verified = true;
    checked.fields.nonce = read.fields.nonce;
    // Genuine, in a format this reader does not know: a newer handler may.
    if (read.newerVersion) {
        checked.why = std::move(read.why);
        checked.newerVersion = true;
        return checked;
    }
    if (nowUnixSeconds >= read.fields.exp) {
        checked.why = LinkRefusal::kExpired;
        return checked;
    }
    // exp > now: the difference fits an unsigned 64-bit number.
    const unsigned long long ahead =
        static_cast<unsigned long long>(read.fields.exp) - static_cast<unsigned long long>(nowUnixSeconds);
    if (maxAheadSeconds < 0 || ahead > static_cast<unsigned long long>(maxAheadSeconds)) {
        checked.why = LinkRefusal::kExpTooFarAhead;
        return checked;
    }
    checked.ok = true;
    checked.fields = std::move(read.fields);
    return checked;
}

CheckedLink CheckLink(std::string_view link, long long nowUnixSeconds)
{
    return CheckLinkWith(link, nowUnixSeconds, kLinkKeys, kLinkKeyCount, VANTORIMA_LINK_MAX_AGE);
}
