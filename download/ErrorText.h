// Readable texts for system and internet library error codes, for the status
// line of the update dialog.
#pragma once

#include <windows.h>

#include <string>

// The system's text for a Win32 error code, without its line end; a text
// that names the number when the system has none. Never empty.
std::string SystemErrorText(DWORD code);

// The same for the internet library's codes (12001-12192): its own message
// table, the server's text for ERROR_INTERNET_EXTENDED_ERROR, then a short
// description of the common codes. Other codes are taken as Win32 ones
// (WinINet passes socket errors such as 10054 through).
std::string InternetErrorText(DWORD code);
