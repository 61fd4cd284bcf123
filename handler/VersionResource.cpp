#include "handler/VersionResource.h"

namespace {

constexpr size_t kFixedSize = 52;  // VS_FIXEDFILEINFO
constexpr uint32_t kFixedSignature = 0xFEEF04BD;

// A block of a version resource: its length, value length, type, key and
// where its value and children are (offsets within the resource).
struct VersionBlock {
    size_t start = 0, end = 0, value = 0, children = 0;
    uint16_t valueLength = 0;
    size_t key = 0, keyLength = 0;
};

size_t Aligned(size_t at)
{
    return (at + 3) & ~size_t(3);
}

uint16_t Word(const unsigned char* at)
{
    return static_cast<uint16_t>(at[0] | at[1] << 8);
}

uint32_t Dword(const unsigned char* at)
{
    return Word(at) | static_cast<uint32_t>(Word(at + 2)) << 16;
}

bool ReadBlock(const unsigned char* resource, size_t length, size_t at, bool text, VersionBlock& block)
{
    constexpr size_t kHeader = 6;
    if (at > length || length - at < kHeader)
        return false;
    const size_t blockLength = Word(resource + at);
    if (blockLength < kHeader || blockLength > length - at)
        return false;
    block.start = at, block.end = at + blockLength, block.valueLength = Word(resource + at + 2);
    size_t key = at + kHeader, keyEnd = key;
    while (keyEnd + 2 <= block.end && (resource[keyEnd] | resource[keyEnd + 1]))
        keyEnd += 2;
    if (keyEnd + 2 > block.end)
        return false;
    block.key = key;
    block.keyLength = (keyEnd - key) / 2;
    block.value = Aligned(keyEnd + 2);
    // A text value's length counts characters, a binary one's bytes.
    const size_t valueBytes = text ? size_t(block.valueLength) * 2 : block.valueLength;
    if (block.value > block.end || block.end - block.value < valueBytes)
        return false;
    block.children = Aligned(block.value + valueBytes);
    return true;
}

// The block's key is key, unit for unit.
bool KeyIs(const unsigned char* resource, const VersionBlock& block, const char* key)
{
    size_t i = 0;
    for (; key[i]; ++i) {
        if (i == block.keyLength || Word(resource + block.key + 2 * i) != static_cast<unsigned char>(key[i]))
            return false;
    }
    return i == block.keyLength;
}

// The string values of interest from the first string table of the
// version resource's StringFileInfo.
void ReadStrings(const unsigned char* resource, const VersionBlock& root, VersionInfo& info)
{
    for (size_t at = root.children; at < root.end;) {
        VersionBlock fileInfo;
        if (!ReadBlock(resource, root.end, at, false, fileInfo))
            return;
        at = Aligned(fileInfo.end);
        if (!KeyIs(resource, fileInfo, "StringFileInfo"))
            continue;
        VersionBlock table;
        if (!ReadBlock(resource, fileInfo.end, fileInfo.children, false, table))
            return;
        for (size_t item = table.children; item < table.end;) {
            VersionBlock entry;
            if (!ReadBlock(resource, table.end, item, true, entry))
                return;
            item = Aligned(entry.end);
            // Its value: text up to its terminator, within the block.
            size_t chars = 0;
            while (chars < entry.valueLength && entry.value + 2 * chars + 2 <= entry.end &&
                   Word(resource + entry.value + 2 * chars))
                ++chars;
            VersionString* value = KeyIs(resource, entry, "OriginalFilename") ? &info.originalFilename
                : KeyIs(resource, entry, "ProductName")                       ? &info.productName
                                                                              : nullptr;
            if (value)
                *value = {true, entry.value, chars};
        }
        return;
    }
}

}  // namespace

bool ReadVersionInfo(const unsigned char* resource, size_t length, VersionInfo& info)
{
    VersionBlock root;
    if (!resource || !ReadBlock(resource, length, 0, false, root) || !KeyIs(resource, root, "VS_VERSION_INFO") ||
        root.valueLength != kFixedSize || Dword(resource + root.value) != kFixedSignature)
        return false;
    info.version = static_cast<uint64_t>(Dword(resource + root.value + 8)) << 32 | Dword(resource + root.value + 12);
    ReadStrings(resource, root, info);
    return true;
}
