// What a download that ended before its last byte leaves for the next one:
// the bytes that arrived, in <folder>\<key>.part, and what they are, in
// <key>.rec: the URL, the length the server announced and its strong
// validator, one a line. key is a hash of the URL, so a URL has at most one.
// The folder is the user's own (PartialFolder in DownloadFolder.h) and only
// this class writes there; the files are made with the folder's own
// protected access list.
//
// A partial is never trusted: it only saves asking for its bytes again. The
// whole file moves, by a rename through the handle that wrote it, into the
// download's own folder and is checked there like any other.
#pragma once

#include <cstdint>
#include <string>

#include "framework/sys/LocalFile.h"

class CDownloadFolder;

class CPartialDownload {
public:
    // What has not been written to for this long is not continued.
    static constexpr unsigned kMaxAgeDays = 7;

    CPartialDownload() = default;
    CPartialDownload(const CPartialDownload&) = delete;
    CPartialDownload& operator=(const CPartialDownload&) = delete;

    // Sweeps from folder what no download of url continues (other URLs'
    // partials, halves without their other half), then opens url's partial
    // for writing at its end, held so that no other download writes into it
    // while this one runs. What is too old, unreadable or not url's is
    // emptied first. False when another download holds it or it cannot be
    // opened: then this download keeps nothing.
    // folder is the folder of partial downloads (CDownloadFolder::
    // OpenPartial), held by the caller while this object lives.
    bool Take(CDownloadFolder& folder, const std::string& url);

    // The bytes kept and what they are; 0 and "" when nothing is kept.
    uint64_t Kept() const { return m_kept; }
    uint64_t Length() const { return m_length; }
    const std::string& Validator() const { return m_validator; }
    // The partial's file, open for writing at its end once taken.
    CLocalFile& File() { return m_file; }

    // A new start: empties the file, then records what its bytes will be.
    // 0 or the error code.
    DWORD StartOver(uint64_t length, const std::string& validator);
    // The whole file goes to path (a new name in the same volume) and its
    // record goes; File() is then open at path. 0 or the error code.
    DWORD MoveTo(const std::string& path);
    // Deletes the file and its record: a download that cannot be continued,
    // or that failed for other reasons than the line's (a full disk).
    void Discard();

private:
    // Whether the record names url, and what it says.
    bool ReadRecord(const std::string& url, uint64_t& length, std::string& validator) const;
    bool OlderThanMaxAge() const;

    // The files' protected access list (the folder's FileSecurity).
    SECURITY_ATTRIBUTES* m_security = nullptr;
    std::string m_strDataPath;
    std::string m_strRecordPath;
    std::string m_strUrl;
    CLocalFile m_file;
    uint64_t m_kept = 0;
    uint64_t m_length = 0;
    std::string m_validator;
};
