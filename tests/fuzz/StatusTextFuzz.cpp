// libFuzzer target: what the status protocol does with bytes from outside,
// a server's Content-Length value, a URL's file name and a failure's text,
// cut to the protocol's limits without splitting a two-byte character.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "download/StatusProtocol.h"

namespace {

bool IsGbkLeadByte(unsigned char byte)
{
    return byte >= 0x81 && byte <= 0xFE;
}

// The cut text is a whole prefix: every two-byte character in it is whole.
void CheckWholeCharacters(const char* text, size_t length, size_t originalLength)
{
    size_t at = 0;
    while (at < length)
        at += (IsGbkLeadByte(static_cast<unsigned char>(text[at])) && at + 1 < originalLength) ? 2 : 1;
    if (at != length)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 17)
        return 0;
    uint64_t received, total;
    std::memcpy(&received, data, 8);
    std::memcpy(&total, data + 8, 8);
    total &= kMaxContentLength;
    const size_t split = data[16] % (size - 16);
    const std::string name(reinterpret_cast<const char*>(data + 17), split);
    const std::string rest(reinterpret_cast<const char*>(data + 17 + split), size - 17 - split);

    const unsigned percent = PercentOf(received, total);
    if (percent > 100 ||
        (total && received < total && received <= 0xFFFFFFFFu && total <= 0xFFFFFFFFu &&
         percent != received * 100 / total))
        std::abort();
    uint64_t contentLength = 0;
    if (ParseContentLength(rest.c_str(), contentLength) && DecimalText(contentLength).size() > rest.size())
        std::abort();
    std::string fileName;
    FileNameFromUrl(name, fileName);

    // A failure's text, cut as the engine cuts it, then the reports' texts.
    std::string error = rest;
    const size_t errorLength = error.size();
    CutText(error, kErrorTextMax, &IsGbkLeadByte);
    if (error.size() > kErrorTextMax)
        std::abort();
    CheckWholeCharacters(error.data(), error.size(), errorLength);
    char text[kStatusTextSize];
    size_t length = FormatStatusText(text, &IsGbkLeadByte, kTextNetError, fileName.c_str(), error.c_str());
    if (length >= kStatusTextSize || std::strlen(text) != length)
        std::abort();
    length = FormatReadingText(text, &IsGbkLeadByte, fileName.c_str(), received, total % 4);
    if (length >= kStatusTextSize || std::strlen(text) != length)
        std::abort();
    ShortBodyText(received, total);
    return 0;
}
