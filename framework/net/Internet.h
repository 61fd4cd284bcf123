// Handles of the system internet library (WinINet).
#pragma once

#include <windows.h>
#include <wininet.h>

#include "framework/sys/UniqueHandle.h"

using CInternetHandle = CUniqueHandle<NullHandleTraits<HINTERNET, &::InternetCloseHandle>>;
