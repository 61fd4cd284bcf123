#include "framework/sys/ResourceText.h"

#include <objbase.h>

#include "framework/sys/AnsiText.h"
#include "framework/sys/Module.h"
#include "framework/sys/Result.h"

ResourceText LoadResourceText(UINT id)
{
    // With a zero buffer size the call hands out a pointer into the resource.
    const wchar_t* text = nullptr;
    const int length = LoadStringW(ModuleInstance(), id, reinterpret_cast<wchar_t*>(&text), 0);
    if (LOG_LAST_ERROR_IF(length <= 0 || !text))
        return {L"", 0};
    return {text, static_cast<UINT>(length)};
}

std::string AnsiFromResource(const ResourceText& text)
{
    return AnsiFromWide(text.text, text.length);
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
