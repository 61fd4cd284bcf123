#include "dialog/OffscreenDC.h"

#include "framework/sys/Result.h"

COffscreenDC::COffscreenDC(HDC target) : m_target(target)
{
    if (GetDeviceCaps(target, TECHNOLOGY) == DT_RASPRINTER)
        return;
    GetClipBox(target, &m_rect);
    const int width = m_rect.right - m_rect.left;
    const int height = m_rect.bottom - m_rect.top;
    if (width <= 0 || height <= 0)
        return;  // nothing would reach the target anyway
    // Should any step fail (out of resources), drawing goes directly to the
    // target rather than nowhere.
    m_memoryDC.Reset(CreateCompatibleDC(target));
    if (LOG_LAST_ERROR_IF(!m_memoryDC))
        return;
    m_bitmap.Reset(CreateCompatibleBitmap(target, width, height));
    if (LOG_LAST_ERROR_IF(!m_bitmap || !m_oldBitmap.Select(m_memoryDC.Get(), m_bitmap.Get()))) {
        m_bitmap.Reset();
        m_memoryDC.Reset();
        return;
    }
    // Drawing keeps the target's coordinates.
    SetWindowOrgEx(m_memoryDC.Get(), m_rect.left, m_rect.top, nullptr);
    m_bMemDC = true;
}

COffscreenDC::~COffscreenDC()
{
    if (m_bMemDC)
        LOG_IF_WIN32_BOOL_FALSE(BitBlt(m_target, m_rect.left, m_rect.top, m_rect.right - m_rect.left,
                                       m_rect.bottom - m_rect.top, m_memoryDC.Get(), m_rect.left, m_rect.top, SRCCOPY));
    // The members then deselect the bitmap, delete it and delete the DC.
}
