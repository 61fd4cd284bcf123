// The module's lock count: every live COM object of the module and every
// IClassFactory::LockServer(TRUE) holds one. DllCanUnloadNow answers from it.
#pragma once

#include <windows.h>

class CModuleLock {
public:
    CModuleLock() { Lock(); }
    ~CModuleLock() { Unlock(); }
    CModuleLock(const CModuleLock&) : CModuleLock() {}
    CModuleLock& operator=(const CModuleLock&) = default;

    static void Lock();
    static void Unlock();
    static LONG Count();
    // S_OK when nothing holds the module, S_FALSE otherwise.
    static HRESULT CanUnloadNow();
};
