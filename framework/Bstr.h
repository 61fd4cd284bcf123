// One owned BSTR: freed when the owner goes.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <utility>

class CBstr {
public:
    CBstr() = default;
    // Takes ownership of text.
    explicit CBstr(BSTR text) : m_text(text) {}
    CBstr(const wchar_t* text, UINT length) : m_text(SysAllocStringLen(text, length)) {}
    ~CBstr() { SysFreeString(m_text); }
    CBstr(CBstr&& other) noexcept : m_text(std::exchange(other.m_text, nullptr)) {}
    CBstr& operator=(CBstr&& other) noexcept
    {
        std::swap(m_text, other.m_text);
        return *this;
    }
    CBstr(const CBstr&) = delete;
    CBstr& operator=(const CBstr&) = delete;

    BSTR Get() const { return m_text; }
    explicit operator bool() const { return m_text != nullptr; }
    BSTR Detach() { return std::exchange(m_text, nullptr); }

private:
    BSTR m_text = nullptr;
};
