#include "framework/AnsiText.h"

#include <objbase.h>
#include <oleauto.h>

#include "framework/Module.h"

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

std::string AnsiFromBstr(BSTR text)
{
    return AnsiFromWide(text, SysStringLen(text));
}

std::wstring WideFromAnsi(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    const int length = static_cast<int>(text.size());
    const int size = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    std::wstring result(size > 0 ? size : 0, L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_ACP, 0, text.data(), length, &result[0], size);
    return result;
}

BSTR BstrFromAnsi(const std::string& text)
{
    const std::wstring wide = WideFromAnsi(text);
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

LPOLESTR CoTaskMemCopy(const std::wstring& text)
{
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
    if (copy)
        CopyMemory(copy, text.c_str(), bytes);
    return copy;
}

std::string GuidText(REFGUID guid)
{
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return AnsiFromWide(text, lstrlenW(text));
}

std::wstring LoadWideString(UINT id)
{
    // With a zero buffer size the call hands out a pointer into the resource.
    const wchar_t* text = nullptr;
    const int length = LoadStringW(ModuleInstance(), id, reinterpret_cast<wchar_t*>(&text), 0);
    return length > 0 && text ? std::wstring(text, length) : std::wstring();
}

std::string ModuleFileName()
{
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(ModuleInstance(), path, MAX_PATH);
    return std::string(path, length < MAX_PATH ? length : 0);
}
