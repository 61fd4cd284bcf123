// libFuzzer target: loading the control's saved state from a stream a page
// or a document hands over (the stream form of the property exchange), in
// the order the control exchanges it: version, extent, four strings.
//
// Built natively against Wine's Windows headers: the stream is this file's
// own, and the few system functions the property-bag road would need are
// never reached here.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "framework/sys/AnsiText.h"
#include "framework/activex/PropExchange.h"

namespace {

// A read-only stream over the fuzzer's bytes.
class CBytesStream : public IStream {
public:
    CBytesStream(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override
    {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG size, ULONG* done) override
    {
        const size_t n = size < m_size - m_at ? size : m_size - m_at;
        std::memcpy(buffer, m_data + m_at, n);
        m_at += n;
        if (done)
            *done = static_cast<ULONG>(n);
        return n == size ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG*) override { return STG_E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
};

}  // namespace

// The property-bag road only; never taken by a stream.
std::string AnsiFromBstr(BSTR)
{
    std::abort();
}
BSTR BstrFromAnsi(const std::string&)
{
    std::abort();
}
extern "C" {
HRESULT WINAPI VariantChangeType(VARIANTARG*, const VARIANTARG*, USHORT, VARTYPE)
{
    std::abort();
}
HRESULT WINAPI VariantClear(VARIANTARG*)
{
    std::abort();
}
void WINAPI VariantInit(VARIANTARG*)
{
    std::abort();
}
void WINAPI SysFreeString(BSTR)
{
    std::abort();
}
DWORD WINAPI GetLastError()
{
    std::abort();
}
void WINAPI SetLastError(DWORD)
{
    std::abort();
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CBytesStream stream(data, size);
    CPropExchange exchange = CPropExchange::StreamLoader(&stream);
    DWORD version = 0;
    LONG extentX = 0, extentY = 0;
    std::string id, pass, key, server;
    exchange.Version(version, 0x00010000);
    exchange.Long("_ExtentX", extentX);
    exchange.Long("_ExtentY", extentY);
    for (std::string* value : {&id, &pass, &key, &server})
        exchange.String("value", *value);
    // A whole state never holds more text than the stream had bytes.
    if (SUCCEEDED(exchange.Result()) && id.size() + pass.size() + key.size() + server.size() + 28 > size)
        std::abort();
    return 0;
}
