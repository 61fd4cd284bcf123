#include "framework/InterfaceTable.h"

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
