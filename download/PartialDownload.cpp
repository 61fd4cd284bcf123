#include "download/PartialDownload.h"

#include <windows.h>

#include <vector>

#include "download/DownloadFolder.h"
#include "download/PartialRecord.h"
#include "download/StatusProtocol.h"
#include "framework/sys/Result.h"
#include "framework/sys/UniqueHandle.h"
#include "support/Trace.h"
#include "support/TraceLines.h"

namespace {

constexpr char kDataExtension[] = ".part";
constexpr char kRecordExtension[] = ".rec";
constexpr unsigned long long kTicksPerDay = 24ull * 60 * 60 * 10000000;

// 16 hex digits of the URL's 64-bit FNV-1a hash: a file name for any URL.
std::string KeyOf(const std::string& url)
{
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : url) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    std::string key(16, '0');
    for (int i = 15; i >= 0; --i, hash >>= 4)
        key[i] = "0123456789abcdef"[hash & 15];
    return key;
}

bool DeleteOrGone(const std::string& path)
{
    return ::DeleteFileA(path.c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND;
}

}  // namespace

bool CPartialDownload::Take(CDownloadFolder& folder, const std::string& url)
{
    // A line break would make another record of it.
    if (folder.Path().empty() || url.empty() || url.find_first_of("\r\n") != std::string::npos)
        return false;
    // Everything but url's own partial: those URLs are no longer asked for.
    const std::string key = KeyOf(url);
    folder.Sweep(key);
    m_security = folder.FileSecurity();
    m_strUrl = url;
    m_strDataPath = folder.Path() + "\\" + key + kDataExtension;
    m_strRecordPath = folder.Path() + "\\" + key + kRecordExtension;
    if (const DWORD error = m_file.Append(m_strDataPath.c_str(), m_security)) {
        // Another download writes it now: this one goes on in its own folder.
        TraceOut(error == ERROR_SHARING_VIOLATION ? TraceLine::kPartialInUse : TraceLine::kPartialError,
                 static_cast<unsigned long>(error));
        return false;
    }
    DWORD error = 0;
    const uint64_t size = m_file.Size(error);
    uint64_t length = 0;
    std::string validator;
    // Only the bytes of one version of url, short of their whole, written to
    // lately, are worth asking the rest of.
    if (!error && size > 0 && ReadRecord(url, length, validator) && size < length && !OlderThanMaxAge()) {
        m_kept = size;
        m_length = length;
        m_validator = validator;
        TraceOut(TraceLine::kPartialKept, DecimalText(size).c_str(), DecimalText(length).c_str());
        return true;
    }
    if (size > 0 || error)
        TraceOut(TraceLine::kPartialDiscarded, DecimalText(size).c_str());
    if (!DeleteOrGone(m_strRecordPath) || m_file.Rewind()) {
        m_file.Close();
        return false;
    }
    return true;
}

bool CPartialDownload::ReadRecord(const std::string& url, uint64_t& length, std::string& validator) const
{
    CFileHandle file(::CreateFileA(m_strRecordPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    char text[kRecordMax + 1];
    DWORD read = 0;
    return LOG_IF_WIN32_BOOL_FALSE(::ReadFile(file.Get(), text, sizeof text, &read, nullptr)) &&
        ReadRecordText(std::string_view(text, read), url, length, validator);
}

bool CPartialDownload::OlderThanMaxAge() const
{
    FILETIME written, now;
    if (!::GetFileTime(m_file.Get(), nullptr, nullptr, &written))
        return true;
    ::GetSystemTimeAsFileTime(&now);
    const auto ticks = [](const FILETIME& time) {
        return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    // A time ahead of now (a clock set back) counts as old too.
    return ticks(written) > ticks(now) || ticks(now) - ticks(written) > kMaxAgeDays * kTicksPerDay;
}

DWORD CPartialDownload::StartOver(uint64_t length, const std::string& validator)
{
    m_kept = 0;
    m_length = length;
    m_validator = validator;
    // The record goes first: bytes without a record are never continued.
    RETURN_LAST_ERROR_CODE_IF(!DeleteOrGone(m_strRecordPath));
    if (const DWORD error = m_file.Rewind())
        return error;
    if (validator.find_first_of("\r\n") != std::string::npos)
        return ERROR_SUCCESS;  // not recordable: the file is downloaded, never continued
    CLocalFile record;
    if (const DWORD error = record.Create(m_strRecordPath.c_str(), m_security))
        return error;
    const std::string text = RecordText(m_strUrl, length, validator);
    return record.Write(text.data(), static_cast<DWORD>(text.size()));
}

DWORD CPartialDownload::MoveTo(const std::string& path)
{
    // Through the handle that wrote it: held all along. What lies at path (an
    // earlier download's, untaken) is ours to replace, as Create would.
    if (const DWORD error = m_file.RenameTo(path.c_str()))
        return error;
    LOG_LAST_ERROR_IF(!DeleteOrGone(m_strRecordPath));
    return ERROR_SUCCESS;
}

void CPartialDownload::Discard()
{
    m_file.Close();
    LOG_LAST_ERROR_IF(!DeleteOrGone(m_strDataPath));
    LOG_LAST_ERROR_IF(!DeleteOrGone(m_strRecordPath));
    m_kept = 0;
}
