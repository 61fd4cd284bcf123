#include "framework/com/ComObject.h"

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

HRESULT CModuleLock::CanUnloadNow()
{
    return InterlockedCompareExchange(&g_lockCount, 0, 0) == 0 ? S_OK : S_FALSE;
}

HRESULT QueryInterfaceFromTable(void* object, const InterfaceEntry* table, size_t count, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    for (size_t i = 0; i < count; ++i) {
        if (IsEqualIID(riid, *table[i].iid)) {
            IUnknown* found = table[i].get(object);
            found->AddRef();
            *ppv = found;
            return S_OK;
        }
    }
    return E_NOINTERFACE;
}
