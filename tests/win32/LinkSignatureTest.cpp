// The link's signature check through the system's CNG (bcrypt.dll), against a
// link that the service's tool signed with a throw-away key.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "BuildConfig.h"
#include "link/LinkSignature.h"
#include "link/SignedLink.h"

namespace {

const char kLink[] = "vantorima:launch?v=1&id=guest&pass=secret&key=1000&server=go.example.com&exp=1796670704"
                     "&nonce=2bc08d4798b8ec9f229655753a247899"
                     "&sig=qNdUmaeOgvaGxN-gNymoXLj7rWyS-piV9PJoKAVhwNjBc4uTFC5h0EzP4EMADYashekzc7VEEta0L_eBQOZGCg";
const LinkPublicKey kKey = {{0x4b, 0x66, 0xb6, 0xb2, 0xc4, 0xae, 0x44, 0x43, 0x52, 0xd3, 0x1e, 0x8c, 0x46,
                             0xa2, 0x16, 0xe5, 0x31, 0xd3, 0xba, 0x34, 0x8e, 0x22, 0x58, 0xc6, 0x24, 0x0c,
                             0xa8, 0xb3, 0x70, 0xc8, 0xa6, 0x8b, 0x86, 0xd9, 0xd7, 0x88, 0xe5, 0x13, 0x76,
                             0xe6, 0xc0, 0x2e, 0x34, 0x3a, 0x68, 0x8d, 0x43, 0x91, 0xe8, 0xaf, 0xd3, 0x32,
                             0x1b, 0x48, 0x92, 0x37, 0x65, 0x8a, 0x98, 0x89, 0xd6, 0x3b, 0xa7, 0x96}};
const unsigned char kSignature[64] = {0xa8, 0xd7, 0x54, 0x99, 0xa7, 0x8e, 0x82, 0xf6, 0x86, 0xc4, 0xdf, 0xa0, 0x37,
                                      0x29, 0xa8, 0x5c, 0xb8, 0xfb, 0xad, 0x6c, 0x92, 0xfa, 0x98, 0x95, 0xf4, 0xf2,
                                      0x68, 0x28, 0x05, 0x61, 0xc0, 0xd8, 0xc1, 0x73, 0x8b, 0x93, 0x14, 0x2e, 0x61,
                                      0xd0, 0x4c, 0xcf, 0xe0, 0x43, 0x00, 0x0d, 0x86, 0xac, 0x85, 0xe9, 0x33, 0x73,
                                      0xb5, 0x44, 0x12, 0xd6, 0xb4, 0x2f, 0xf7, 0x81, 0x40, 0xe6, 0x46, 0x0a};
const long long kExp = 1796670704;

}  // namespace

TEST(LinkSignature, CngTakesTheGoodSignatureAndNoFlippedBit)
{
    const std::string link = kLink;
    const std::string message = link.substr(0, link.find("&sig="));
    unsigned char signature[64];
    std::memcpy(signature, kSignature, sizeof signature);
    EXPECT_TRUE(VerifyLinkSignature(kKey, message, signature));

    signature[17] ^= 0x04;
    EXPECT_FALSE(VerifyLinkSignature(kKey, message, signature));
    signature[17] ^= 0x04;
    std::string other = message;
    other[other.size() - 1] ^= 0x01;
    EXPECT_FALSE(VerifyLinkSignature(kKey, other, signature));
    LinkPublicKey offCurve = kKey;
    offCurve.xy[63] ^= 0x01;
    EXPECT_FALSE(VerifyLinkSignature(offCurve, message, signature));

    // The whole check, as the handler makes it (this build's scheme permitting).
    if (std::string(VANTORIMA_URL_SCHEME) == "vantorima") {
        EXPECT_TRUE(CheckLinkWith(link, kExp - 60, &kKey, 1, 300).ok);
        EXPECT_EQ(CheckLink(link, kExp - 60).why, "signature does not verify");  // not a compiled-in key
    }
}
