// An object selected into a device context for the life of this owner; the
// object that was there before is put back when the owner goes.
#pragma once

#include <windows.h>

class CGdiSelection {
public:
    CGdiSelection() = default;
    CGdiSelection(HDC dc, HGDIOBJ object) { Select(dc, object); }
    ~CGdiSelection() { Restore(); }
    CGdiSelection(const CGdiSelection&) = delete;
    CGdiSelection& operator=(const CGdiSelection&) = delete;

    // Selects object into dc; a null object selects nothing. False when the
    // selection failed.
    bool Select(HDC dc, HGDIOBJ object)
    {
        Restore();
        if (!dc || !object)
            return false;
        HGDIOBJ previous = ::SelectObject(dc, object);
        if (!previous || previous == HGDI_ERROR)
            return false;
        m_dc = dc;
        m_previous = previous;
        return true;
    }
    // Puts the earlier object back; the selected one is then free to delete.
    void Restore()
    {
        if (m_previous)
            ::SelectObject(m_dc, m_previous);
        m_dc = nullptr;
        m_previous = nullptr;
    }

private:
    HDC m_dc = nullptr;
    HGDIOBJ m_previous = nullptr;
};
