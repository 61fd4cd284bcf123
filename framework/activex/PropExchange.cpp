#include "framework/activex/PropExchange.h"

#include <oleauto.h>

#include <algorithm>

#include "framework/sys/AnsiText.h"
#include "framework/sys/UniqueHandle.h"

namespace {
// Strings are read in pieces of this size, so a corrupt length costs no more
// memory than the stream really holds.
constexpr ULONG kReadPiece = 64 * 1024;
}  // namespace

void CPropExchange::Read(void* data, ULONG size)
{
    if (FAILED(m_result))
        return;
    ULONG done = 0;
    const HRESULT hr = m_stream->Read(data, size, &done);
    if (FAILED(hr))
        m_result = hr;
    else if (done != size)
        m_result = STG_E_READFAULT;
}

void CPropExchange::Write(const void* data, ULONG size)
{
    if (FAILED(m_result) || size == 0)
        return;
    ULONG done = 0;
    const HRESULT hr = m_stream->Write(data, size, &done);
    if (FAILED(hr))
        m_result = hr;
    else if (done != size)
        m_result = STG_E_WRITEFAULT;
}

bool CPropExchange::ReadBag(const char* name, VARTYPE type, VARIANT* value)
{
    if (FAILED(m_result))
        return false;
    const CBstr wideName(BstrFromAnsi(name));
    if (!wideName) {
        m_result = E_OUTOFMEMORY;
        return false;
    }
    // All of it: a bag may answer success without writing, and the union
    // must not then hold whatever the stack held.
    ZeroMemory(value, sizeof *value);
    value->vt = type;
    // A property the bag lacks is no error: the value stays as it was.
    if (FAILED(m_bag->Read(wideName.Get(), value, m_log)))
        return false;
    if (value->vt != type && FAILED(VariantChangeType(value, value, 0, type))) {
        VariantClear(value);
        return false;
    }
    return true;
}

void CPropExchange::WriteBag(const char* name, VARIANT* value)
{
    if (FAILED(m_result))
        return;
    const CBstr wideName(BstrFromAnsi(name));
    const HRESULT hr = wideName ? m_bag->Write(wideName.Get(), value) : E_OUTOFMEMORY;
    if (FAILED(hr))
        m_result = hr;
}

void CPropExchange::Exchange32(const char* name, DWORD& value)
{
    switch (m_mode) {
    case Mode::kLoadStream: {
        DWORD read = 0;
        Read(&read, sizeof read);
        if (SUCCEEDED(m_result))
            value = read;
        break;
    }
    case Mode::kSaveStream:
        Write(&value, sizeof value);
        break;
    case Mode::kLoadBag: {
        VARIANT v;
        if (ReadBag(name, VT_I4, &v))
            value = static_cast<DWORD>(v.lVal);
        break;
    }
    case Mode::kSaveBag: {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = static_cast<LONG>(value);
        WriteBag(name, &v);
        break;
    }
    case Mode::kReset:
        break;
    }
}

void CPropExchange::Version(DWORD& loaded, DWORD current)
{
    if (m_mode == Mode::kReset) {
        loaded = current;
        return;
    }
    DWORD version = current;
    Exchange32("_Version", version);
    if (IsLoading() && SUCCEEDED(m_result))
        loaded = version;
}

void CPropExchange::Long(const char* name, LONG& value)
{
    DWORD bits = static_cast<DWORD>(value);
    Exchange32(name, bits);
    value = static_cast<LONG>(bits);
}

void CPropExchange::String(const char* name, std::string& value)
{
    switch (m_mode) {
    case Mode::kLoadStream: {
        DWORD length = 0;
        Read(&length, sizeof length);
        std::string text;
        while (SUCCEEDED(m_result) && text.size() < length) {
            const ULONG piece = static_cast<ULONG>(std::min<size_t>(kReadPiece, length - text.size()));
            const size_t at = text.size();
            text.resize(at + piece);
            Read(&text[at], piece);
        }
        if (SUCCEEDED(m_result))
            value = std::move(text);
        break;
    }
    case Mode::kSaveStream: {
        const DWORD length = static_cast<DWORD>(value.size());
        Write(&length, sizeof length);
        Write(value.data(), length);
        break;
    }
    case Mode::kLoadBag: {
        CVariant v;
        if (ReadBag(name, VT_BSTR, v.Put()))
            value = AnsiFromBstr(v.Get().bstrVal);
        break;
    }
    case Mode::kSaveBag: {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_BSTR;
        v.bstrVal = BstrFromAnsi(value);
        if (!v.bstrVal)
            m_result = E_OUTOFMEMORY;
        WriteBag(name, &v);
        VariantClear(&v);
        break;
    }
    case Mode::kReset:
        break;
    }
}
