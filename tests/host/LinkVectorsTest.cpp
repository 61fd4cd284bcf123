// The reader's verdict on every link of docs/link-vectors.json, the table that
// signers in other languages test against (the link tool's verify runs over
// it too: link_vectors in tests/host/CMakeLists.txt).
#include <gtest/gtest.h>
#include <openssl/pem.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "BuildConfig.h"
#include "link/SignedLink.h"

namespace {

// Just enough JSON for the vectors' file: objects, arrays, strings, integers.
struct Json {
    std::string text;
    long long number = 0;
    std::vector<Json> items;
    std::vector<std::pair<std::string, Json>> members;

    const Json& operator[](const std::string& name) const
    {
        static const Json none;
        for (const auto& member : members)
            if (member.first == name)
                return member.second;
        return none;
    }
};

class JsonReader {
public:
    explicit JsonReader(std::string text) : text_(std::move(text)) {}
    bool Read(Json& out) { return Value(out) && (Blank(), at_ == text_.size()); }

private:
    void Blank()
    {
        while (at_ < text_.size() &&
               (text_[at_] == ' ' || text_[at_] == '\n' || text_[at_] == '\r' || text_[at_] == '\t'))
            ++at_;
    }
    bool Take(char c) { return Blank(), at_ < text_.size() && text_[at_] == c ? (++at_, true) : false; }
    bool Value(Json& out)
    {
        Blank();
        if (Take('{')) {
            if (Take('}'))
                return true;
            do {
                std::pair<std::string, Json> member;
                if (!Take('"') || !String(member.first) || !Take(':') || !Value(member.second))
                    return false;
                out.members.push_back(std::move(member));
            } while (Take(','));
            return Take('}');
        }
        if (Take('[')) {
            if (Take(']'))
                return true;
            do {
                out.items.emplace_back();
                if (!Value(out.items.back()))
                    return false;
            } while (Take(','));
            return Take(']');
        }
        if (Take('"'))
            return String(out.text);
        size_t used = 0;
        try {
            out.number = std::stoll(text_.substr(at_, 24), &used);
        } catch (...) {
            return false;
        }
        at_ += used;
        return true;
    }
    // After the opening quote; \uXXXX of the basic plane only (the file is ASCII).
    bool String(std::string& out)
    {
        while (at_ < text_.size() && text_[at_] != '"') {
            char c = text_[at_++];
            if (c == '\\') {
                if (at_ >= text_.size())
                    return false;
                const char e = text_[at_++];
                const std::string plain = "\"\\/bfnrt", meant = "\"\\/\b\f\n\r\t";
                if (e == 'u') {
                    if (at_ + 4 > text_.size())
                        return false;
                    const unsigned long u = std::stoul(text_.substr(at_, 4), nullptr, 16);
                    at_ += 4;
                    if (u < 0x80) {
                        out += static_cast<char>(u);
                    } else if (u < 0x800) {
                        out += static_cast<char>(0xC0 | (u >> 6));
                        out += static_cast<char>(0x80 | (u & 0x3F));
                    } else {
                        out += static_cast<char>(0xE0 | (u >> 12));
                        out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
                        out += static_cast<char>(0x80 | (u & 0x3F));
                    }
                    continue;
                }
                if (plain.find(e) == std::string::npos)
                    return false;
                c = meant[plain.find(e)];
            }
            out += c;
        }
        return at_ < text_.size() && text_[at_++] == '"';
    }

    std::string text_;
    size_t at_ = 0;
};

bool PublicKeyFromPem(const std::string& pem, LinkPublicKey& key)
{
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), BIO_free);
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> pkey(
        bio ? PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr) : nullptr, EVP_PKEY_free);
    unsigned char point[65];
    size_t length = 0;
    if (!pkey || EVP_PKEY_get_octet_string_param(pkey.get(), "encoded-pub-key", point, sizeof point, &length) != 1 ||
        length != sizeof point || point[0] != 4)
        return false;
    std::copy(point + 1, point + 65, key.xy);
    return true;
}

}  // namespace

TEST(LinkVectors, TheReaderGivesEveryVectorItsVerdict)
{
    std::ifstream file(VANTORIMA_LINK_VECTORS, std::ios::binary);
    ASSERT_TRUE(file) << VANTORIMA_LINK_VECTORS;
    std::stringstream text;
    text << file.rdbuf();
    Json document;
    ASSERT_TRUE(JsonReader(text.str()).Read(document));
    // Written for the defaults; a build with another scheme or link version
    // gives other verdicts by design.
    if (document["scheme"].text != VANTORIMA_URL_SCHEME || document["link_version"].number != VANTORIMA_LINK_VERSION)
        GTEST_SKIP() << "the vectors are for the scheme " << document["scheme"].text << " and link version "
                     << document["link_version"].number;
    LinkPublicKey key{};
    ASSERT_TRUE(PublicKeyFromPem(document["public_key_pem"].text, key));
    ASSERT_GE(document["vectors"].items.size(), 40u);
    for (const Json& vector : document["vectors"].items) {
        SCOPED_TRACE(vector["name"].text);
        const CheckedLink checked =
            CheckLinkWith(vector["link"].text, vector["now"].number, &key, 1, document["max_age"].number);
        EXPECT_EQ(checked.ok ? std::string("valid") : checked.why, vector["verdict"].text);
        // The launcher acts on a genuine link only, and renews only on one
        // that is genuine and fresh.
        EXPECT_EQ(checked.newerVersion, vector["verdict"].text == "newer version");
    }
}
