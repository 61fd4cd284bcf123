#include "framework/sys/GuidText.h"

#include <objbase.h>

#include "framework/sys/AnsiText.h"

std::string GuidText(REFGUID guid)
{
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return AnsiFromWide(text, lstrlenW(text));
}
