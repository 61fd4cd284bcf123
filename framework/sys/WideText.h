// Terminated wide text, for what ships. No wide std::string: its runtime part
// would be a sixth of the link handler.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <vector>

using WideText = std::vector<wchar_t>;

// Terminated text from pieces.
inline WideText WideJoin(std::initializer_list<const wchar_t*> pieces)
{
    WideText text;
    for (const wchar_t* piece : pieces)
        text.insert(text.end(), piece, piece + lstrlenW(piece));
    text.push_back(L'\0');
    return text;
}
