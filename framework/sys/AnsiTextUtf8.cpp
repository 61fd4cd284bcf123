// The UTF-8 conversions of AnsiText.h. No wide std::string: its runtime part
// would be a sixth of the link handler.
#include "framework/sys/AnsiText.h"

namespace {

bool IsHighSurrogate(wchar_t c)
{
    return c >= 0xD800 && c <= 0xDBFF;
}

bool IsLowSurrogate(wchar_t c)
{
    return c >= 0xDC00 && c <= 0xDFFF;
}

// Whether [text, text + length) pairs every surrogate: WideCharToMultiByte
// turns a lone one into U+FFFD without a word (WC_ERR_INVALID_CHARS, which
// would say so, came with Vista).
bool SurrogatesPaired(const wchar_t* text, int length)
{
    for (int i = 0; i < length; ++i) {
        if (IsHighSurrogate(text[i]) && i + 1 < length && IsLowSurrogate(text[i + 1]))
            ++i;
        else if (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i]))
            return false;
    }
    return true;
}

}  // namespace

bool AnsiFromUtf8(const std::string& utf8, std::string& ansi, UINT codePage)
{
    ansi.clear();
    if (utf8.empty())
        return true;
    const int size = static_cast<int>(utf8.size());
    const int wide = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
    if (wide <= 0)
        return false;
    WideText text(static_cast<size_t>(wide));
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, text.data(), wide);
    // UTF-8 as the system's code page (Windows' beta option) refuses the
    // best-fit flag and the default-character report: every character has
    // its bytes there, and the round trip below still checks each value.
    if (codePage == CP_ACP)
        codePage = GetACP();
    const bool utf8Page = codePage == CP_UTF8;
    const DWORD flags = utf8Page ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL lossy = FALSE;
    BOOL* const lossyReport = utf8Page ? nullptr : &lossy;
    const int bytes = WideCharToMultiByte(codePage, flags, text.data(), wide, nullptr, 0, nullptr, lossyReport);
    if (bytes <= 0 || lossy)
        return false;
    ansi.resize(static_cast<size_t>(bytes));
    if (WideCharToMultiByte(codePage, flags, text.data(), wide, &ansi[0], bytes, nullptr, lossyReport) != bytes)
        return false;
    // A code page may still map two characters to one: only an exact round trip counts.
    WideText back(static_cast<size_t>(wide));
    return !lossy &&
        MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, ansi.data(), bytes, back.data(), wide) == wide &&
        back == text;
}

bool Utf8FromWide(const wchar_t* text, std::string& utf8)
{
    utf8.clear();
    const int wide = lstrlenW(text);
    if (wide == 0)
        return true;
    if (!SurrogatesPaired(text, wide))
        return false;
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, wide, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return false;
    utf8.resize(static_cast<size_t>(bytes));
    return WideCharToMultiByte(CP_UTF8, 0, text, wide, &utf8[0], bytes, nullptr, nullptr) == bytes;
}
