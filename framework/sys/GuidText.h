// A GUID as the registry writes it.
#pragma once

#include <windows.h>

#include <string>

// "{XXXXXXXX-XXXX-...}"
std::string GuidText(REFGUID guid);
