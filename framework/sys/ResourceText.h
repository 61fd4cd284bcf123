// String resources of this module, as stored and as COM wants them.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <string>

// A string resource of this module as it is stored: not terminated.
struct ResourceText {
    const wchar_t* text;
    UINT length;
};

// Empty (length 0) when the module has no such string.
ResourceText LoadResourceText(UINT id);
std::string AnsiFromResource(const ResourceText& text);
// A terminated copy in CoTaskMemAlloc'ed memory; null when out of memory.
LPOLESTR CoTaskMemCopy(const ResourceText& text);
