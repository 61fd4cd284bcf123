// Hex digits, for the readers of tokens and links. No Windows API: the link
// and launch rooms also build natively.
#pragma once

// The value of a hex digit of either case, narrow or wide; -1 for anything
// else.
template <typename Char>
constexpr int HexValue(Char c)
{
    return c >= '0' && c <= '9' ? c - '0'
        : c >= 'a' && c <= 'f'  ? c - 'a' + 10
        : c >= 'A' && c <= 'F'  ? c - 'A' + 10
                                : -1;
}

// The same for a text that is written in lower case only: an upper-case
// digit is refused.
constexpr int LowerHexValue(char c)
{
    return c >= 'A' && c <= 'F' ? -1 : HexValue(c);
}
