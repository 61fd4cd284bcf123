#include "framework/ModuleLock.h"

namespace {
// Constant-initialised: valid before any static constructor runs.
LONG g_lockCount = 0;
}  // namespace

void CModuleLock::Lock()
{
    InterlockedIncrement(&g_lockCount);
}

void CModuleLock::Unlock()
{
    InterlockedDecrement(&g_lockCount);
}

LONG CModuleLock::Count()
{
    return InterlockedCompareExchange(&g_lockCount, 0, 0);
}

HRESULT CModuleLock::CanUnloadNow()
{
    return Count() == 0 ? S_OK : S_FALSE;
}
