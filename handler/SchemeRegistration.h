// The link scheme's registration: Software\Classes\<scheme> under the current
// user (no rights needed) or the machine, naming this program as the
// scheme's handler, as the shell and the browsers look it up.
#pragma once

#include <windows.h>

#include <string>

#include "framework/sys/WideText.h"

enum class SchemeScope { User, Machine };

// The classes key that holds the scheme, under HKCU or HKLM.
std::string SchemeKeyPath();
HKEY SchemeRoot(SchemeScope scope);

// Writes the scheme's key: "URL Protocol" = "", a description as its default
// value, DefaultIcon and shell\open\command = "<program>" "%1". The system's
// result code.
LONG RegisterScheme(SchemeScope scope, const wchar_t* program);
// Removes what RegisterScheme writes, and the keys it made once they are
// empty; anything another program put there stays. ERROR_SUCCESS also when
// nothing was registered.
LONG UnregisterScheme(SchemeScope scope);

// The scheme's command and icon as they stand (empty when absent), so that an
// install that fails can put back what it overwrote.
struct SchemeState {
    WideText command, icon;
};
SchemeState ReadScheme(SchemeScope scope);
// Writes state back as it was: the scheme unregistered when it had no command.
LONG RestoreScheme(SchemeScope scope, const SchemeState& state);
