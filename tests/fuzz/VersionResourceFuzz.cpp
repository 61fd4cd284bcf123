// libFuzzer target: the version resource's reader over a served file's
// bytes. Every text it finds lies within the bytes it was given.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "handler/VersionResource.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A buffer of the input's own size, so that a read past it is caught.
    const std::vector<unsigned char> bytes(data, data + size);
    VersionInfo info;
    if (!ReadVersionInfo(bytes.data(), bytes.size(), info))
        return 0;
    for (const VersionString& text : {info.originalFilename, info.productName}) {
        if (text.found && (text.at > size || (size - text.at) / 2 < text.length))
            std::abort();
    }
    return 0;
}
