#include "launch/CredentialToken.h"

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "framework/sys/HexDigits.h"
#include "support/Trace.h"
#include "support/TraceLines.h"

namespace {

// The time word sits in clear in bytes 0-3 and masks every later byte.
void Mask(unsigned char (&buffer)[kTokenBytes])
{
    for (size_t i = 4; i < kTokenBytes; ++i)
        buffer[i] ^= buffer[i % 4];
}

}  // namespace

std::string EncodePasswordAt(const std::string& password, uint32_t now, int (*nextRandom)())
{
    const size_t n = password.size();
    TraceOut(TraceLine::kTokenLength, static_cast<int>(n));
    if (n == 0 || n > kMaxPasswordBytes) {
        TraceOut(TraceLine::kTokenTooLong);
        return std::string();
    }

    // The buffer holds the password in clear until it is masked: the trace
    // labels stay, the bytes are never shown.
    unsigned char buffer[kTokenBytes] = {};
    buffer[4] = static_cast<unsigned char>(n);
    TraceOut(TraceLine::kTokenFirstPass);
    for (int i = 0; i < 4; ++i)
        buffer[i] = static_cast<unsigned char>(now >> (8 * i));
    std::memcpy(buffer + 5, password.data(), n);
    for (size_t i = 5 + n; i < kTokenBytes; ++i)
        buffer[i] = static_cast<unsigned char>(nextRandom() & 0xFF);
    TraceOut(TraceLine::kTokenSecondPass);

    Mask(buffer);
    static const char kDigits[] = "0123456789abcdef";
    std::string token;
    token.reserve(kTokenChars);
    for (unsigned char b : buffer) {
        token += kDigits[b >> 4];
        token += kDigits[b & 0xF];
    }
    std::memset(buffer, 0, sizeof buffer);
    TraceOut(TraceLine::kToken, static_cast<int>(token.size()));
    return token;
}

std::string EncodePassword(std::string password)
{
    return EncodePasswordAt(password, static_cast<uint32_t>(std::time(nullptr)), &std::rand);
}

bool DecodeToken(const std::string& token, DecodedToken* decoded)
{
    if (token.size() != kTokenChars)
        return false;
    unsigned char buffer[kTokenBytes];
    for (size_t i = 0; i < kTokenBytes; ++i) {
        int high = LowerHexValue(token[2 * i]);
        int low = LowerHexValue(token[2 * i + 1]);
        if (high < 0 || low < 0)
            return false;
        buffer[i] = static_cast<unsigned char>(high << 4 | low);
    }
    Mask(buffer);
    size_t n = buffer[4];
    if (n > kTokenBytes - 5)
        return false;
    decoded->time = buffer[0] | buffer[1] << 8 | buffer[2] << 16 | static_cast<uint32_t>(buffer[3]) << 24;
    decoded->password.assign(reinterpret_cast<const char*>(buffer + 5), n);
    return true;
}
