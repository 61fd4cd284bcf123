// The decoders and character rules of the signed link's text, below the
// reader of SignedLink.h: percent-escapes, strict UTF-8, the base64url
// signature, decimal numbers and the rule that keeps a value one argument of
// the client's command line. Portable: no Windows headers.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "support/TraceLines.h"

// ASCII lower case; other bytes as they are.
char LowerAscii(char c);

// What may stand unencoded in the query: RFC 3986's query characters without
// '+', which form encoders write for a blank and a reader would take for a
// plus. Everything else comes percent-encoded or not at all.
bool IsQueryChar(char c);

// Percent-decoding; false on a '%' without two hex digits.
bool PercentDecode(std::string_view text, std::string& out);

// Decodes strict UTF-8 (no overlong forms, no surrogates, nothing above
// U+10FFFF) into code points; false when the bytes are not UTF-8.
bool DecodeUtf8(const std::string& text, std::u32string& out);

// C0 and C1 controls and DEL.
bool IsControl(char32_t c);
// In the ANSI bytes the client gets: C0 controls and DEL. Bytes from 0x80 on
// may be halves of a double-byte character.
inline bool IsControl(char c)
{
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
}

// Unicode's format characters (general category Cf): invisible, they make
// one name look like another ("ali\u200Dce", a right-to-left override).
bool IsFormatCharacter(char32_t c);

// Blanks by Unicode's White_Space, and the zero-width ones that look alike.
bool IsBlank(char32_t c);
// In the ANSI bytes: the space alone (0xA0 may be half of a character).
inline bool IsBlank(char c)
{
    return c == ' ';
}

// The command-line rule, for the decoded text and again for the ANSI bytes
// the client gets. A value that goes into the client's command line ("
// /NAME:<id> ... /JOINKEY:<key>", unquoted) or its settings must stay one
// value there: no control character, no blank or quote (both split or join
// arguments), no leading '/' (a switch). id and key take no '/' at all
// (slashAnywhere): a reader that looks for "/PASSWORD:" in the line would
// otherwise find it inside the name. nullptr when the value is one argument,
// else "control character", "blank", "quote" or "switch".
template <typename Char>
const char* CommandLineFault(std::basic_string_view<Char> value, bool slashAnywhere)
{
    if (!value.empty() && value[0] == Char('/'))
        return LinkRefusal::kSwitch;
    for (Char c : value) {
        if (IsControl(c))
            return LinkRefusal::kControlCharacter;
        if (IsBlank(c))
            return LinkRefusal::kBlank;
        if (c == Char('"') || c == Char('\''))
            return LinkRefusal::kQuote;
        if (slashAnywhere && c == Char('/'))
            return LinkRefusal::kSwitch;
    }
    return nullptr;
}

// Every character a hex digit of either case (true for an empty text).
bool AllHex(std::string_view text);

// The 64-byte r || s from exactly 86 base64url characters whose last 4 spare
// bits are zero: one spelling per signature.
constexpr size_t kSignatureChars = 86;
bool DecodeSignature(std::string_view text, unsigned char (&out)[64]);

// 1 to 18 decimal digits without a leading zero: fits a long long.
bool ParseExp(std::string_view text, long long& out);

// v as a number: 1 to 9 digits without a leading zero; else -1.
long VersionNumber(std::string_view text);
