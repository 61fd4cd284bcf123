#include "framework/activex/PropertyPage.h"

#include "framework/sys/ResourceText.h"
#include "framework/sys/Result.h"
#include "framework/sys/Module.h"

CPropertyPage::CPropertyPage(const ClassRow& row, UINT templateId, UINT captionId)
    : m_clsid(*row.clsid), m_templateId(templateId), m_captionId(captionId)
{
}

CPropertyPage::~CPropertyPage()
{
    if (m_hDlg)
        DestroyWindow(m_hDlg);
}

STDMETHODIMP CPropertyPage::SetPageSite(IPropertyPageSite* site)
{
    m_site = CInterfacePtr<IPropertyPageSite>(site);
    return S_OK;
}

HWND CPropertyPage::CreatePage(HWND parent)
{
    HWND page = CreateDialogParamA(ModuleInstance(), MAKEINTRESOURCEA(m_templateId), parent, &DialogProc,
                                   reinterpret_cast<LPARAM>(this));
    LOG_LAST_ERROR_IF(!page);
    return page;
}

STDMETHODIMP CPropertyPage::Activate(HWND parent, LPCRECT rect, BOOL)
{
    RETURN_HR_IF_NULL(E_POINTER, rect);
    RETURN_HR_IF(E_UNEXPECTED, m_hDlg != nullptr);
    m_hDlg = CreatePage(parent);
    RETURN_HR_IF_NULL(E_FAIL, m_hDlg);
    DoDataExchange(false);
    MoveWindow(m_hDlg, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, TRUE);
    return S_OK;
}

STDMETHODIMP CPropertyPage::Deactivate()
{
    if (m_hDlg) {
        DestroyWindow(m_hDlg);
        m_hDlg = nullptr;
    }
    return S_OK;
}

STDMETHODIMP CPropertyPage::GetPageInfo(PROPPAGEINFO* info)
{
    RETURN_HR_IF_NULL(E_POINTER, info);
    // The frame sizes itself from the page: measure the dialog as the
    // template's font makes it, in a hidden copy when it is not shown.
    HWND measured = m_hDlg ? m_hDlg : CreatePage(GetDesktopWindow());
    RETURN_HR_IF_NULL(E_FAIL, measured);
    RECT rect = {};
    LOG_LAST_ERROR_IF(!GetWindowRect(measured, &rect));
    if (measured != m_hDlg)
        DestroyWindow(measured);
    info->pszTitle = CoTaskMemCopy(LoadResourceText(m_captionId));
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, info->pszTitle);
    info->size.cx = rect.right - rect.left;
    info->size.cy = rect.bottom - rect.top;
    info->pszDocString = nullptr;
    info->pszHelpFile = nullptr;
    info->dwHelpContext = 0;
    return S_OK;
}

STDMETHODIMP CPropertyPage::SetObjects(ULONG count, IUnknown** objects)
{
    RETURN_HR_IF(E_POINTER, count > 0 && !objects);
    return EXCEPTION_BOUNDARY([&] {
        std::vector<CInterfacePtr<IUnknown>> held;
        held.reserve(count);
        for (ULONG i = 0; i < count; ++i)
            held.emplace_back(objects[i]);
        m_objects.swap(held);
        return S_OK;
    });
}

STDMETHODIMP CPropertyPage::Show(UINT command)
{
    RETURN_HR_IF(E_UNEXPECTED, !m_hDlg);
    ShowWindow(m_hDlg, command);
    return S_OK;
}

STDMETHODIMP CPropertyPage::Move(LPCRECT rect)
{
    RETURN_HR_IF_NULL(E_POINTER, rect);
    RETURN_HR_IF(E_UNEXPECTED, !m_hDlg);
    MoveWindow(m_hDlg, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, TRUE);
    return S_OK;
}

STDMETHODIMP CPropertyPage::IsPageDirty()
{
    return S_FALSE;
}

STDMETHODIMP CPropertyPage::Apply()
{
    return EXCEPTION_BOUNDARY([&] {
        DoDataExchange(true);
        return S_OK;
    });
}

STDMETHODIMP CPropertyPage::Help(LPCOLESTR)
{
    return E_NOTIMPL;
}

STDMETHODIMP CPropertyPage::TranslateAccelerator(MSG* msg)
{
    RETURN_HR_IF_NULL(E_POINTER, msg);
    return m_hDlg && IsDialogMessageA(m_hDlg, msg) ? S_OK : S_FALSE;
}

void CPropertyPage::DoDataExchange(bool) {}

INT_PTR CALLBACK CPropertyPage::DialogProc(HWND, UINT message, WPARAM, LPARAM)
{
    // The page's controls need no handling; the frame drives the page.
    return message == WM_INITDIALOG ? TRUE : FALSE;
}
