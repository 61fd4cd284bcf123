#include "download/PartialDownload.h"

#include <windows.h>

#include <vector>

#include "download/StatusProtocol.h"
#include "framework/sys/Result.h"
#include "framework/sys/UniqueHandle.h"
#include "support/Trace.h"
#include "support/TraceLines.h"

namespace {

constexpr char kDataExtension[] = ".part";
constexpr char kRecordExtension[] = ".rec";
// A record is three short lines; anything longer is not one of ours.
constexpr DWORD kRecordMax = 4096;
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

// Everything in folder but key's own partial: the URL is no longer asked
// for. A partial that another download holds stays, and its record with it.
void SweepOthers(const std::string& folder, const std::string& key)
{
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    std::vector<std::string> stems;
    do {
        const std::string name = found.cFileName;
        const size_t dot = name.find('.');
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && dot != std::string::npos &&
            name.compare(0, dot, key) != 0)
            stems.push_back(name.substr(0, dot));
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
    for (const std::string& stem : stems) {
        const std::string data = folder + "\\" + stem + kDataExtension;
        if (DeleteOrGone(data) && DeleteOrGone(folder + "\\" + stem + kRecordExtension))
            TraceOut(TraceLine::kPartialSwept, data.c_str());
    }
}

}  // namespace

bool CPartialDownload::Take(const std::string& folder, const std::string& url)
{
    // A line break would make another record of it.
    if (folder.empty() || url.empty() || url.find_first_of("\r\n") != std::string::npos)
        return false;
    // No delete sharing: the folder stays where it is while this download writes in it.
    m_folder.Reset(::CreateFileA(folder.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!m_folder) {
        TraceOut(TraceLine::kPartialError, static_cast<unsigned long>(::GetLastError()));
        return false;
    }
    const std::string key = KeyOf(url);
    SweepOthers(folder, key);
    m_strUrl = url;
    m_strDataPath = folder + "\\" + key + kDataExtension;
    m_strRecordPath = folder + "\\" + key + kRecordExtension;
    if (const DWORD error = m_file.Append(m_strDataPath.c_str())) {
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
    if (!::ReadFile(file.Get(), text, kRecordMax + 1, &read, nullptr) || read > kRecordMax)
        return false;
    const std::string record(text, read);
    // url, length and validator, each ended by a line feed, and nothing after.
    const size_t first = record.find('\n');
    const size_t second = first == std::string::npos ? first : record.find('\n', first + 1);
    const size_t third = second == std::string::npos ? second : record.find('\n', second + 1);
    if (third == std::string::npos || third + 1 != record.size())
        return false;
    validator = record.substr(second + 1, third - second - 1);
    return record.compare(0, first, url) == 0 && first == url.size() &&
        ParseContentLength(record.substr(first + 1, second - first - 1).c_str(), length) && !validator.empty();
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
    if (!DeleteOrGone(m_strRecordPath))
        return LAST_ERROR_CODE_IF(true);
    if (const DWORD error = m_file.Rewind())
        return error;
    if (validator.find_first_of("\r\n") != std::string::npos)
        return ERROR_SUCCESS;  // not recordable: the file is downloaded, never continued
    CLocalFile record;
    if (const DWORD error = record.Create(m_strRecordPath.c_str()))
        return error;
    const std::string text = m_strUrl + "\n" + DecimalText(length) + "\n" + validator + "\n";
    return record.Write(text.data(), static_cast<DWORD>(text.size()));
}

DWORD CPartialDownload::MoveTo(const std::string& path)
{
    m_file.Close();
    // What lies at path (an earlier download's, untaken) is ours to replace, as Create would.
    if (!::MoveFileExA(m_strDataPath.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING))
        return LAST_ERROR_CODE_IF(true);
    LOG_LAST_ERROR_IF(!DeleteOrGone(m_strRecordPath));
    return m_file.Append(path.c_str());
}

void CPartialDownload::Discard()
{
    m_file.Close();
    LOG_LAST_ERROR_IF(!DeleteOrGone(m_strDataPath));
    LOG_LAST_ERROR_IF(!DeleteOrGone(m_strRecordPath));
    m_kept = 0;
}
