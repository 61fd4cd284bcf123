// libFuzzer target: the signed link's reader, with whatever a page or another
// program puts in the link. What it accepts must hold to what the handler
// relies on: the limits, values that stay one argument on the client's
// command line, and a signed part that is the link's own prefix.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "link/SignedLink.h"

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

void CheckOneArgument(const std::string& value, bool slashAnywhere)
{
    Require(value.empty() || value[0] != '/');
    for (char c : value) {
        const auto b = static_cast<unsigned char>(c);
        Require(b >= 0x20 && b != 0x7F && c != ' ' && c != '"' && c != '\'');
        Require(!slashAnywhere || c != '/');
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view link(reinterpret_cast<const char*>(data), size);
    const ReadLinkResult read = ReadLink(link);
    if (read.ok) {
        Require(size <= kMaxLinkChars);
        Require(link.substr(0, read.signedPart.size()) == read.signedPart);
        Require(link.substr(read.signedPart.size(), 5) == "&sig=");
        const LinkFields& f = read.fields;
        Require(f.id.size() <= kMaxLinkIdBytes && f.key.size() <= kMaxLinkKeyBytes &&
                f.server.size() <= kMaxLinkServerBytes);
        Require(f.pass.size() <= kMaxLinkPasswordBytes || f.pass.size() == kLinkTokenChars);
        Require(f.nonce.size() >= kMinNonceDigits && f.nonce.size() <= kMaxNonceDigits);
        Require(f.exp > 0);
        CheckOneArgument(f.id, true);
        CheckOneArgument(f.key, true);
        CheckOneArgument(f.server, false);
    } else {
        Require(!read.why.empty());
    }

    // The whole check, against a key that signed none of these: never accepted.
    const LinkPublicKey key = {{1}};
    const CheckedLink checked = CheckLinkWith(link, 1800000000, &key, 1, 300);
    Require(!checked.ok && !checked.why.empty());
    return 0;
}
