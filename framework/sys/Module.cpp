#include "framework/sys/Module.h"

// The linker places this at the start of the module's own image.
extern "C" IMAGE_DOS_HEADER __ImageBase;

HINSTANCE ModuleInstance()
{
    return reinterpret_cast<HINSTANCE>(&__ImageBase);
}
