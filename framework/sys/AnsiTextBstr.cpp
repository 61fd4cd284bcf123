// The BSTR conversions of AnsiText.h: the only ones that need oleaut32.
#include "framework/sys/AnsiText.h"

std::string AnsiFromBstr(BSTR text)
{
    return AnsiFromWide(text, SysStringLen(text));
}

BSTR BstrFromAnsi(const std::string& text)
{
    const int length = static_cast<int>(text.size());
    const int size = text.empty() ? 0 : MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    BSTR wide = SysAllocStringLen(nullptr, size > 0 ? size : 0);
    if (wide && size > 0)
        MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide, size);
    return wide;
}
