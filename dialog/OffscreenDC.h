// Flicker-free painting: drawing goes to a bitmap the size of the target's
// clip box, and the whole picture reaches the target in one copy when this
// object goes. Printer device contexts are drawn on directly.
#pragma once

#include <windows.h>

#include "framework/win/GdiSelection.h"
#include "framework/sys/UniqueHandle.h"

class COffscreenDC {
public:
    // target must outlive this object.
    explicit COffscreenDC(HDC target);
    ~COffscreenDC();
    COffscreenDC(const COffscreenDC&) = delete;
    COffscreenDC& operator=(const COffscreenDC&) = delete;

    // Draw here, in the target's coordinates.
    HDC GetSafeHdc() const { return m_bMemDC ? m_memoryDC.Get() : m_target; }
    operator HDC() const { return GetSafeHdc(); }

private:
    // Declared first: released last, after the bitmap is deselected and gone.
    CMemoryDCHandle m_memoryDC;
    CGdiObjectHandle m_bitmap;
    CGdiSelection m_oldBitmap;  // puts the memory DC's own bitmap back
    HDC m_target;  // not owned
    RECT m_rect{};  // the target's clip box
    bool m_bMemDC = false;  // drawing really goes through the bitmap
};
