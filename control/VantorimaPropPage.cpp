#include "control/VantorimaPropPage.h"

#include <new>

#include "control/ClassIds.h"
#include "res/Resource.h"

CVantorimaPropPage::CVantorimaPropPage()
    : CPropertyPage(CLSID_VantorimaPropPage, IDD_PROPPAGE_VANTORIMA, IDS_VANTORIMA_PPG_CAPTION)
{
}

HRESULT CVantorimaPropPage::Create(REFIID riid, void** ppv)
{
    auto* page = new (std::nothrow) CVantorimaPropPage;
    if (!page)
        return E_OUTOFMEMORY;
    const HRESULT hr = page->QueryInterface(riid, ppv);
    page->Release();
    return hr;
}
