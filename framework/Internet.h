// Handles of the system internet library (WinINet).
#pragma once

#include <windows.h>
#include <wininet.h>

#include "framework/UniqueHandle.h"

using CInternetHandle = CUniqueHandle<NullHandleTraits<HINTERNET, &::InternetCloseHandle>>;
