// The record of a partial download (CPartialDownload's <key>.rec): what its
// bytes are. Portable: a file in the temporary directory is outside bytes,
// and the reader is fuzzed natively.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The record's longest text; anything longer is not one of ours.
constexpr size_t kRecordMax = 4096;

// url, the length the server announced and its strong validator, each ended
// by a line feed.
std::string RecordText(const std::string& url, uint64_t length, const std::string& validator);

// Whether text is a record of url (three lines as RecordText writes them,
// nothing after, a readable length and a validator): then its length and
// validator.
bool ReadRecordText(std::string_view text, std::string_view url, uint64_t& length, std::string& validator);
