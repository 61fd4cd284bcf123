// The control base: persistence through stream, property bag, storage and
// memory, all of it ending in DoPropExchange.
#include "framework/activex/ActiveXControl.h"

#include "framework/sys/Result.h"

namespace {

// The stream of IPersistStorage's saved state.
const wchar_t kContentsStream[] = L"Contents";

HRESULT NewMemoryStream(CInterfacePtr<IStream>* stream)
{
    RETURN_IF_FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream->Put()));
    return S_OK;
}

HRESULT Rewind(IStream* stream)
{
    LARGE_INTEGER zero = {};
    RETURN_IF_FAILED(stream->Seek(zero, STREAM_SEEK_SET, nullptr));
    return S_OK;
}

HRESULT StreamSize(IStream* stream, ULARGE_INTEGER* size)
{
    STATSTG stat = {};
    RETURN_IF_FAILED(stream->Stat(&stat, STATFLAG_NONAME));
    *size = stat.cbSize;
    return S_OK;
}

}  // namespace

void CActiveXControl::DoPropExchange(CPropExchange& exchange)
{
    exchange.Long("_ExtentX", m_extent.cx);
    exchange.Long("_ExtentY", m_extent.cy);
}

void CActiveXControl::ExchangeVersion(CPropExchange& exchange, DWORD current)
{
    exchange.Version(m_loadedVersion, current);
}

HRESULT CActiveXControl::Exchange(CPropExchange exchange, bool clean)
{
    RETURN_IF_FAILED(EXCEPTION_BOUNDARY([&] {
        DoPropExchange(exchange);
        return S_OK;
    }));
    RETURN_IF_FAILED(exchange.Result());
    if (clean)
        m_modified = false;
    return S_OK;
}

// A saved copy of the state, in memory.
HRESULT CActiveXControl::SaveToMemory(CInterfacePtr<IStream>* stream)
{
    RETURN_IF_FAILED(NewMemoryStream(stream));
    return Exchange(CPropExchange::StreamSaver(stream->Get()));
}

STDMETHODIMP CActiveXControl::GetClassID(CLSID* clsid)
{
    RETURN_HR_IF_NULL(E_POINTER, clsid);
    *clsid = *m_row.clsid;
    return S_OK;
}

STDMETHODIMP CActiveXControl::IsDirty()
{
    return m_modified ? S_OK : S_FALSE;
}

STDMETHODIMP CActiveXControl::Load(IStream* stream)
{
    RETURN_HR_IF_NULL(E_POINTER, stream);
    // A stream that breaks off half-way must not leave half a state behind.
    CInterfacePtr<IStream> backup;
    RETURN_IF_FAILED(SaveToMemory(&backup));
    const DWORD version = m_loadedVersion;
    const HRESULT hr = Exchange(CPropExchange::StreamLoader(stream), true);
    if (FAILED(hr)) {
        // Own memory read back: fails only with the memory itself.
        if (SUCCEEDED(Rewind(backup.Get())))
            LOG_IF_FAILED(Exchange(CPropExchange::StreamLoader(backup.Get())));
        m_loadedVersion = version;
    }
    return hr;
}

STDMETHODIMP CActiveXControl::Save(IStream* stream, BOOL clearDirty)
{
    RETURN_HR_IF_NULL(E_POINTER, stream);
    return Exchange(CPropExchange::StreamSaver(stream), clearDirty);
}

STDMETHODIMP CActiveXControl::GetSizeMax(ULARGE_INTEGER* size)
{
    RETURN_HR_IF_NULL(E_POINTER, size);
    CInterfacePtr<IStream> stream;
    RETURN_IF_FAILED(SaveToMemory(&stream));
    return StreamSize(stream.Get(), size);
}

STDMETHODIMP CActiveXControl::InitNew()
{
    return Exchange(CPropExchange::Resetter(), true);
}

STDMETHODIMP CActiveXControl::Load(IPropertyBag* bag, IErrorLog* log)
{
    RETURN_HR_IF_NULL(E_POINTER, bag);
    return Exchange(CPropExchange::BagLoader(bag, log), true);
}

STDMETHODIMP CActiveXControl::Save(IPropertyBag* bag, BOOL clearDirty, BOOL)
{
    RETURN_HR_IF_NULL(E_POINTER, bag);
    return Exchange(CPropExchange::BagSaver(bag), clearDirty);
}

STDMETHODIMP CActiveXControl::InitNew(IStorage* storage)
{
    RETURN_HR_IF_NULL(E_POINTER, storage);
    return InitNew();
}

STDMETHODIMP CActiveXControl::Load(IStorage* storage)
{
    RETURN_HR_IF_NULL(E_POINTER, storage);
    CInterfacePtr<IStream> stream;
    RETURN_IF_FAILED(storage->OpenStream(kContentsStream, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, stream.Put()));
    return Load(stream.Get());
}

STDMETHODIMP CActiveXControl::Save(IStorage* storage, BOOL)
{
    RETURN_HR_IF_NULL(E_POINTER, storage);
    CInterfacePtr<IStream> stream;
    RETURN_IF_FAILED(
        storage->CreateStream(kContentsStream, STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, stream.Put()));
    return Save(stream.Get(), FALSE);
}

STDMETHODIMP CActiveXControl::SaveCompleted(IStorage*)
{
    m_modified = false;
    return S_OK;
}

STDMETHODIMP CActiveXControl::HandsOffStorage()
{
    return S_OK;
}

STDMETHODIMP CActiveXControl::Load(LPVOID memory, ULONG size)
{
    RETURN_HR_IF_NULL(E_POINTER, memory);
    CInterfacePtr<IStream> stream;
    RETURN_IF_FAILED(NewMemoryStream(&stream));
    RETURN_IF_FAILED(stream->Write(memory, size, nullptr));
    RETURN_IF_FAILED(Rewind(stream.Get()));
    return Load(stream.Get());
}

STDMETHODIMP CActiveXControl::Save(LPVOID memory, BOOL clearDirty, ULONG size)
{
    RETURN_HR_IF_NULL(E_POINTER, memory);
    CInterfacePtr<IStream> stream;
    RETURN_IF_FAILED(SaveToMemory(&stream));
    ULARGE_INTEGER saved = {};
    RETURN_IF_FAILED(StreamSize(stream.Get(), &saved));
    RETURN_HR_IF(STG_E_MEDIUMFULL, saved.QuadPart > size);
    RETURN_IF_FAILED(Rewind(stream.Get()));
    RETURN_IF_FAILED(stream->Read(memory, static_cast<ULONG>(saved.QuadPart), nullptr));
    if (clearDirty)
        m_modified = false;
    return S_OK;
}

STDMETHODIMP CActiveXControl::GetSizeMax(ULONG* size)
{
    RETURN_HR_IF_NULL(E_POINTER, size);
    ULARGE_INTEGER large = {};
    RETURN_IF_FAILED(GetSizeMax(&large));
    *size = static_cast<ULONG>(large.QuadPart);
    return S_OK;
}
