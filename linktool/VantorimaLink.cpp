// vantorima-link: the service's side of the signed link.
//
//   vantorima-link keygen PRIVATE.pem PUBLIC.pem
//   vantorima-link sign --private PRIVATE.pem --id ID --pass - [--join-key KEY] [--server SERVER]
//                       [--ttl SECONDS] [--v N]
//   vantorima-link verify [--public PUBLIC.pem]... [--now UNIXTIME] [--max-age SECONDS] LINK|-
//
// --pass - reads the password (or token) from standard input, its one line
// without the line end; a --pass value on the command line would show in
// every process list, and is for tests only.
// keygen writes a new P-256 key pair (the private key readable by its owner
// only); the public file goes into the handler's build (VANTORIMA_LINK_KEYS).
// sign prints one link, valid for --ttl seconds (default 120) with a fresh
// random nonce, of version --v (default 1). A link that the handler would
// refuse (a value too long, a blank in the name, ...) is not printed: the
// reason goes to stderr, exit 2.
// verify prints the launcher's own verdict on a link (the reader, signature
// and freshness of link/SignedLink.h): "valid" (exit 0) or the reason that
// the launcher traces as "link refused: <reason>" (exit 1), so that a signer
// in any language can be checked against ours. The nonce ledger is not
// consulted: a link verifies as often as it is asked about.
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <algorithm>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "BuildConfig.h"
#include "LinkKeys.h"
#include "link/OpenSslOwner.h"
#include "link/SignedLink.h"

namespace {

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

constexpr long long kDefaultTtl = 120;
// What the reader takes for v: up to 9 digits; the build's setting is 1 to 999.
constexpr long long kMaxVersion = 999;
// Longest line read as a password: far above what a link carries, which
// the reader then refuses with its own reason.
constexpr size_t kMaxPasswordLine = 255;

int Usage()
{
    std::fputs("usage: vantorima-link keygen PRIVATE.pem PUBLIC.pem\n"
               "       vantorima-link sign --private PRIVATE.pem --id ID --pass - [--join-key KEY]\n"
               "                           [--server SERVER] [--ttl SECONDS] [--v N]\n"
               "       vantorima-link verify [--public PUBLIC.pem]... [--now UNIXTIME] [--max-age SECONDS] LINK|-\n"
               "--pass - reads the password from standard input (one line). --pass VALUE works too, for\n"
               "tests only: a value on the command line shows in every process list.\n"
               "--v N writes v=N (default 1): a launcher that reads only lower versions renews itself on it.\n"
               "verify prints the launcher's verdict: \"valid\" (exit 0), or the reason it traces as\n"
               "\"link refused: <reason>\" (exit 1; \"newer version\": genuine and fresh, and a launcher of\n"
               "this build renews itself on it). Each --public names a key that may sign (default: the\n"
               "keys compiled in, VANTORIMA_LINK_KEYS); --now the clock in Unix seconds (default: now);\n"
               "--max-age how far exp may lie ahead (default: the build's VANTORIMA_LINK_MAX_AGE).\n"
               "LINK - reads the link from standard input (one line). Not checked: the launcher's nonce\n"
               "ledger (whether the link was used before) and the ANSI code page of the player's system.\n",
               stderr);
    return 64;
}

int Fail(const std::string& what)
{
    std::fprintf(stderr, "vantorima-link: %s\n", what.c_str());
    return 1;
}

bool IsP256(EVP_PKEY* key)
{
    char group[32] = {};
    size_t length = 0;
    return EVP_PKEY_is_a(key, "EC") &&
        EVP_PKEY_get_utf8_string_param(key, "group", group, sizeof group, &length) == 1 &&
        (std::strcmp(group, "prime256v1") == 0 || std::strcmp(group, "P-256") == 0);
}

int Keygen(const char* privatePath, const char* publicPath)
{
    const PkeyPtr key(EVP_EC_gen("P-256"));
    if (!key)
        return Fail("cannot make a P-256 key");
    {
        // Created for its owner alone before a byte of the key is written.
        const mode_t old = umask(077);
        FilePtr file(std::fopen(privatePath, "wx"));
        umask(old);
        if (!file)
            return Fail(std::string("cannot create ") + privatePath + ": " + std::strerror(errno));
        if (PEM_write_PrivateKey(file.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1 ||
            std::fflush(file.get()) != 0)
            return Fail(std::string("cannot write ") + privatePath);
    }
    FilePtr file(std::fopen(publicPath, "w"));
    if (!file || PEM_write_PUBKEY(file.get(), key.get()) != 1 || std::fflush(file.get()) != 0)
        return Fail(std::string("cannot write ") + publicPath);
    return 0;
}

// Every byte but RFC 3986's unreserved ones as %XX: what the reader takes.
std::string PercentEncode(const std::string& text)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
            c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string Base64Url(const unsigned char* data, size_t size)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string out;
    unsigned bits = 0, count = 0;
    for (size_t i = 0; i < size; ++i) {
        bits = (bits << 8) | data[i];
        count += 8;
        while (count >= 6) {
            count -= 6;
            out += alphabet[(bits >> count) & 63];
        }
    }
    if (count > 0)
        out += alphabet[(bits << (6 - count)) & 63];
    return out;
}

// ECDSA P-256 / SHA-256 of message as r || s, 32 bytes each.
bool Sign(EVP_PKEY* key, const std::string& message, unsigned char (&rs)[64])
{
    MdCtxPtr md(EVP_MD_CTX_new());
    size_t size = 0;
    if (!md || EVP_DigestSignInit(md.get(), nullptr, EVP_sha256(), nullptr, key) != 1 ||
        EVP_DigestSign(md.get(), nullptr, &size, reinterpret_cast<const unsigned char*>(message.data()),
                       message.size()) != 1)
        return false;
    std::string der(size, '\0');
    auto* out = reinterpret_cast<unsigned char*>(&der[0]);
    if (EVP_DigestSign(md.get(), out, &size, reinterpret_cast<const unsigned char*>(message.data()), message.size()) !=
        1)
        return false;
    const unsigned char* in = out;
    const SigPtr sig(d2i_ECDSA_SIG(nullptr, &in, static_cast<long>(size)));
    if (!sig)
        return false;
    return BN_bn2binpad(ECDSA_SIG_get0_r(sig.get()), rs, 32) == 32 &&
        BN_bn2binpad(ECDSA_SIG_get0_s(sig.get()), rs + 32, 32) == 32;
}

// X || Y of the key's public point, for checking the link just made.
bool PublicXY(EVP_PKEY* key, LinkPublicKey& xy)
{
    unsigned char point[65];
    size_t length = 0;
    if (EVP_PKEY_get_octet_string_param(key, "encoded-pub-key", point, sizeof point, &length) != 1 ||
        length != sizeof point || point[0] != 4)
        return false;
    std::memcpy(xy.xy, point + 1, 64);
    return true;
}

// Standard input's one line, without its line end, read up to most bytes
// and one more, so that a longer input stays longer than most; false when
// standard input cannot be read.
bool ReadLine(size_t most, std::string& line)
{
    line.assign(most + 1, '\0');
    line.resize(std::fread(&line[0], 1, line.size(), stdin));
    if (!line.empty() && line.back() == '\n')
        line.pop_back();
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return !std::ferror(stdin);
}

// The --name value pairs from argv[at] on, until the first argument that is
// not an option (at then points to it); false for a name not among names,
// one without its value, or one given twice that is not repeatable.
using Options = std::multimap<std::string, std::string>;
bool ReadOptions(int argc, char** argv, int& at, std::initializer_list<const char*> names, const char* repeatable,
                 Options& options)
{
    for (; at < argc && std::strncmp(argv[at], "--", 2) == 0; at += 2) {
        const std::string name = argv[at];
        const bool known = std::find(names.begin(), names.end(), name) != names.end();
        if (!known || at + 1 >= argc || (options.count(name) && name != repeatable))
            return false;
        options.emplace(name, argv[at + 1]);
    }
    return true;
}

// A decimal number from low to high; false for anything else.
bool ReadNumber(const std::string& text, long long low, long long high, long long& out)
{
    char* end = nullptr;
    errno = 0;
    out = std::strtoll(text.c_str(), &end, 10);
    return !text.empty() && !std::isspace(static_cast<unsigned char>(text[0])) && !*end && errno == 0 && out >= low &&
        out <= high;
}

int SignLink(int argc, char** argv)
{
    Options options;
    int at = 2;
    if (!ReadOptions(argc, argv, at, {"--private", "--id", "--pass", "--join-key", "--server", "--ttl", "--v"}, nullptr,
                     options) ||
        at != argc || !options.count("--private") || !options.count("--id") || !options.count("--pass"))
        return Usage();
    const auto option = [&](const char* name) {
        const auto it = options.find(name);
        return it == options.end() ? std::string() : it->second;
    };
    std::string& password = options.find("--pass")->second;
    if (password == "-" &&
        (!ReadLine(kMaxPasswordLine, password) || password.size() > kMaxPasswordLine ||
         password.find('\n') != std::string::npos))
        return Fail("--pass -: standard input holds no password of one line");
    long long ttl = kDefaultTtl;
    if (options.count("--ttl")) {
        if (!ReadNumber(option("--ttl"), 1, VANTORIMA_LINK_MAX_AGE, ttl))
            return Fail("--ttl takes 1 to " + std::to_string(VANTORIMA_LINK_MAX_AGE) +
                        " seconds (the handler refuses a link valid for longer)");
    }

    long long version = 1;
    if (options.count("--v") && !ReadNumber(option("--v"), 1, kMaxVersion, version))
        return Fail("--v takes a link version, 1 to " + std::to_string(kMaxVersion));

    PkeyPtr key;
    {
        FilePtr file(std::fopen(option("--private").c_str(), "r"));
        if (!file)
            return Fail("cannot open " + option("--private") + ": " + std::strerror(errno));
        key.reset(PEM_read_PrivateKey(file.get(), nullptr, nullptr, nullptr));
    }
    if (!key || !IsP256(key.get()))
        return Fail(option("--private") + " holds no P-256 private key in PEM");

    unsigned char nonce[16];
    if (RAND_bytes(nonce, sizeof nonce) != 1)
        return Fail("no random bytes for the nonce");
    std::string nonceHex;
    for (unsigned char b : nonce) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", b);
        nonceHex += two;
    }
    const long long now = static_cast<long long>(std::time(nullptr));
    const auto signedLink = [&](long long v, std::string& link) {
        link = std::string(VANTORIMA_URL_SCHEME) + ":launch?v=" + std::to_string(v) +
            "&id=" + PercentEncode(option("--id")) + "&pass=" + PercentEncode(option("--pass")) +
            "&key=" + PercentEncode(option("--join-key")) + "&server=" + PercentEncode(option("--server")) +
            "&exp=" + std::to_string(now + ttl) + "&nonce=" + nonceHex;
        unsigned char rs[64];
        if (!Sign(key.get(), link, rs))
            return false;
        link += "&sig=" + Base64Url(rs, sizeof rs);
        return true;
    };
    std::string link;
    if (!signedLink(version, link))
        return Fail("signing failed");

    // What the handler does with it, with this key: a value it would refuse
    // is the service's mistake, better seen here than by the player.
    LinkPublicKey xy;
    if (!PublicXY(key.get(), xy))
        return Fail("cannot read the public key");
    CheckedLink checked = CheckLinkWith(link, now, &xy, 1, VANTORIMA_LINK_MAX_AGE);
    if (checked.newerVersion) {
        // A version above what this build reads: its reader checks only the
        // signature, exp and nonce. The values are written as in version 1,
        // so they are checked there.
        std::string first;
        if (!signedLink(1, first))
            return Fail("signing failed");
        checked = CheckLinkWith(first, now, &xy, 1, VANTORIMA_LINK_MAX_AGE);
        if (checked.ok)
            std::fprintf(stderr,
                         "vantorima-link: v=%lld is newer than this build's launcher reads: it renews itself on it\n",
                         version);
    }
    if (!checked.ok) {
        std::fprintf(stderr, "vantorima-link: the handler would refuse this link: %s\n", checked.why.c_str());
        return 2;
    }
    std::printf("%s\n", link.c_str());
    return std::fflush(stdout) == 0 ? 0 : 1;
}

// X || Y of the P-256 public key in a PEM file.
bool ReadPublicKey(const std::string& path, LinkPublicKey& xy)
{
    FilePtr file(std::fopen(path.c_str(), "r"));
    if (!file)
        return false;
    const PkeyPtr key(PEM_read_PUBKEY(file.get(), nullptr, nullptr, nullptr));
    return key && IsP256(key.get()) && PublicXY(key.get(), xy);
}

// The launcher's verdict: exit 0 for a link it would act on, 1 for a refusal
// (its reason on stdout either way), 2 for a key that cannot be read, 64 for
// a bad command line.
int VerifyLink(int argc, char** argv)
{
    Options options;
    int at = 2;
    if (!ReadOptions(argc, argv, at, {"--public", "--now", "--max-age"}, "--public", options) || at + 1 != argc)
        return Usage();
    std::vector<LinkPublicKey> keys;
    long long now = static_cast<long long>(std::time(nullptr));
    long long maxAge = VANTORIMA_LINK_MAX_AGE;
    for (const auto& [name, value] : options) {
        if (name == "--public") {
            LinkPublicKey xy;
            if (!ReadPublicKey(value, xy)) {
                std::fprintf(stderr, "vantorima-link: %s holds no P-256 public key in PEM\n", value.c_str());
                return 2;
            }
            keys.push_back(xy);
        } else if (!(name == "--now" ? ReadNumber(value, 0, 99999999999LL, now)
                                     : ReadNumber(value, 1, 999999, maxAge))) {
            return Usage();
        }
    }
    std::string link = argv[at];
    // A line at most a byte longer than the reader takes, so that a longer
    // one is still refused as too long.
    if (link == "-" && !ReadLine(kMaxLinkChars + 2, link))
        return Fail("cannot read the link from standard input");
    const CheckedLink checked = keys.empty() ? CheckLinkWith(link, now, kLinkKeys, kLinkKeyCount, maxAge)
                                             : CheckLinkWith(link, now, keys.data(), keys.size(), maxAge);
    std::printf("%s\n", checked.ok ? "valid" : checked.why.c_str());
    if (std::fflush(stdout) != 0)
        return 1;
    return checked.ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "keygen") == 0)
        return Keygen(argv[2], argv[3]);
    if (argc >= 2 && std::strcmp(argv[1], "verify") == 0)
        return VerifyLink(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "sign") == 0)
        return SignLink(argc, argv);
    return Usage();
}
