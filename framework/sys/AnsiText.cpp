#include "framework/sys/AnsiText.h"

#include <oleauto.h>

#include "framework/sys/Result.h"

std::string AnsiFromWide(const wchar_t* text, size_t length)
{
    if (!text || length == 0)
        return std::string();
    const int wideLength = static_cast<int>(length);
    const int size = WideCharToMultiByte(CP_ACP, 0, text, wideLength, nullptr, 0, nullptr, nullptr);
    std::string result(size > 0 ? size : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_ACP, 0, text, wideLength, &result[0], size, nullptr, nullptr);
    return result;
}

bool CopyAnsiFromWide(const wchar_t* text, char* out, size_t outSize)
{
    return !LOG_LAST_ERROR_IF(
        WideCharToMultiByte(CP_ACP, 0, text, -1, out, static_cast<int>(outSize), nullptr, nullptr) == 0);
}

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
