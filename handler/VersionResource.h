// The version resource's reader (RT_VERSION's bytes, as a program file holds
// them): its fixed part's file version and the first string table's
// OriginalFilename and ProductName. Portable: the bytes come from a served
// file, and the reader is fuzzed natively.
#pragma once

#include <cstddef>
#include <cstdint>

// A value of the string table: length UTF-16 units at resource + at, when
// found.
struct VersionString {
    bool found = false;
    size_t at = 0, length = 0;
};

struct VersionInfo {
    uint64_t version = 0;  // FILEVERSION, most significant part first
    VersionString originalFilename, productName;
};

// False (and info untouched) when resource is not a VS_VERSION_INFO block
// with a fixed part; every offset and length is checked against length.
bool ReadVersionInfo(const unsigned char* resource, size_t length, VersionInfo& info);
