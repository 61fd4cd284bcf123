// The credential token that the client receives instead of the password.
//
// 32 bytes written as 64 lowercase hex digits: bytes 0-3 are the making time
// (seconds since 1970, low 32 bits, little-endian) in clear; byte 4 is the
// password's length, followed by the password and random fill up to byte 31.
// Bytes 4-31 are masked with the time: byte i is xored with byte i % 4.
#pragma once

#include <cstdint>
#include <string>

constexpr size_t kTokenBytes = 32;
constexpr size_t kTokenChars = 2 * kTokenBytes;
// Longest password the layout carries: 4 time bytes, 1 length byte, 26 bytes
// and the terminator, which the single fill byte then overwrites.
constexpr size_t kMaxPasswordBytes = 26;

// Makes a token from the password with the current time and the C runtime's
// rand(). Returns an empty string for an empty password or one longer than
// kMaxPasswordBytes, which the layout cannot carry.
std::string EncodePassword(std::string password);

// The same with the time and the fill generator given, for tests.
std::string EncodePasswordAt(const std::string& password, uint32_t now, int (*nextRandom)());

struct DecodedToken {
    uint32_t time = 0;
    std::string password;
};

// Undoes EncodePassword. False when the text is not 64 hex digits or its
// length byte does not fit the buffer.
bool DecodeToken(const std::string& token, DecodedToken* decoded);
