// One pass over a control's persistent properties, in one direction: the
// control's DoPropExchange names each property once, and the same function
// serves loading and saving (stream or property bag) and resetting.
//
// Stream form, in the order of the calls: the version as a 32-bit number, each
// long as a 32-bit number, each string as its byte length (32 bits) followed
// by its bytes in the ANSI code page. Property-bag form: each value under its
// name, the version as "_Version".
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <string>

class CPropExchange {
public:
    static CPropExchange StreamLoader(IStream* stream) { return {Mode::kLoadStream, stream, nullptr, nullptr}; }
    static CPropExchange StreamSaver(IStream* stream) { return {Mode::kSaveStream, stream, nullptr, nullptr}; }
    static CPropExchange BagLoader(IPropertyBag* bag, IErrorLog* log) { return {Mode::kLoadBag, nullptr, bag, log}; }
    static CPropExchange BagSaver(IPropertyBag* bag) { return {Mode::kSaveBag, nullptr, bag, nullptr}; }
    static CPropExchange Resetter() { return {Mode::kReset, nullptr, nullptr, nullptr}; }

    bool IsLoading() const { return m_mode == Mode::kLoadStream || m_mode == Mode::kLoadBag; }

    // Saving writes current; loading reads the saved version into loaded
    // (any version is accepted); resetting sets loaded to current.
    void Version(DWORD& loaded, DWORD current);
    // A value the saved state lacks leaves the variable as it is; so does a
    // reset.
    void Long(const char* name, LONG& value);
    void String(const char* name, std::string& value);

    // S_OK, or the first failure of the pass (later calls then do nothing).
    HRESULT Result() const { return m_result; }

private:
    enum class Mode { kLoadStream, kSaveStream, kLoadBag, kSaveBag, kReset };
    CPropExchange(Mode mode, IStream* stream, IPropertyBag* bag, IErrorLog* log)
        : m_mode(mode), m_stream(stream), m_bag(bag), m_log(log)
    {
    }

    void Read(void* data, ULONG size);
    void Write(const void* data, ULONG size);
    void Exchange32(const char* name, DWORD& value);
    bool ReadBag(const char* name, VARTYPE type, VARIANT* value);
    void WriteBag(const char* name, VARIANT* value);

    Mode m_mode;
    IStream* m_stream;
    IPropertyBag* m_bag;
    IErrorLog* m_log;
    HRESULT m_result = S_OK;
};
