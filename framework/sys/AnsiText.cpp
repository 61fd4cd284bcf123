#include "framework/sys/AnsiText.h"

#include <objbase.h>
#include <oleauto.h>

#include "framework/sys/Module.h"
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

std::string AnsiFromResource(const ResourceText& text)
{
    return AnsiFromWide(text.text, text.length);
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

LPOLESTR CoTaskMemCopy(const ResourceText& text)
{
    auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc((text.length + 1) * sizeof(wchar_t)));
    if (copy) {
        CopyMemory(copy, text.text, text.length * sizeof(wchar_t));
        copy[text.length] = L'\0';
    }
    return copy;
}

std::string GuidText(REFGUID guid)
{
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return AnsiFromWide(text, lstrlenW(text));
}

ResourceText LoadResourceText(UINT id)
{
    // With a zero buffer size the call hands out a pointer into the resource.
    const wchar_t* text = nullptr;
    const int length = LoadStringW(ModuleInstance(), id, reinterpret_cast<wchar_t*>(&text), 0);
    if (LOG_LAST_ERROR_IF(length <= 0 || !text))
        return {L"", 0};
    return {text, static_cast<UINT>(length)};
}
