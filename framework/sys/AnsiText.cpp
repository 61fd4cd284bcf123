#include "framework/sys/AnsiText.h"

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

WideText WideFromAnsi(const char* text)
{
    const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    WideText wide(length > 0 ? length : 1, L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), length);
    return wide;
}
