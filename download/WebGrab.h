// The HTTP download engine of the update dialog: downloads every queued URL,
// one after the other, into a file of the same name in one directory, and
// reports every step to the notify window through the status message.
//
// Each block is what has arrived: the engine asks the library how much it
// can hand over without waiting and reads that much, at most
// VANTORIMA_READ_BLOCK bytes, so a fast line sends few large blocks and a slow
// one small blocks as the data trickles in; only an empty line makes a read
// wait. A library that hands over no more than its own small buffer at a time
// says so by offering that same largest count again: then more is waiting
// behind it, and the engine reads on into the same block (for 50 ms at most),
// ahead of what was offered by as much as the line filled within a few
// milliseconds last time, doubling while the line keeps up and asking again
// as soon as a read had to wait. Every block is written at once and reported
// with code 4. With VANTORIMA_READ_BLOCK 4095 every read is a fixed block of
// 4095 bytes that waits until it is full, as the engine always read.
//
// A body that ends early (a dropped or reset connection) is resumed: after a
// short pause the engine asks for the rest of the same file with a range
// request, keeping the bytes it has; a server that sends the whole file
// instead is read again from the start. At most kMaxResumes times a file.
// A reply is taken only with a readable Content-Length, and a body that goes
// on past it fails before its surplus reaches the file.
//
// With a folder for partial downloads, a file is written there
// (CPartialDownload) and moved into the download directory once whole, so a
// download that ends early (a stop, a failure, the process killed) is
// continued by the next one with a range request; the bar starts at the
// kept share and the speed counts only the new bytes. A partial that another
// download is writing is left alone: this one then writes to the download
// directory, as without the folder.
//
// Initialize and AddDownload run on the dialog's thread before the worker
// starts; DownloadListAll runs once on the worker; SetStop may be called from
// the dialog's thread at any time. The engine must outlive DownloadListAll.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <windows.h>

#include "framework/sys/CriticalSection.h"
#include "framework/sys/LocalFile.h"
#include "framework/sys/UniqueHandle.h"
#include "download/DownloadFolder.h"
#include "download/GrabSession.h"
#include "download/StatusChannel.h"

class CHttpFile;
class CPartialDownload;
class CStopwatch;

class CWebGrab {
public:
    CWebGrab() = default;
    ~CWebGrab();
    CWebGrab(const CWebGrab&) = delete;
    CWebGrab& operator=(const CWebGrab&) = delete;

    // Where to report, the agent name for the session, and the directory the
    // files go to (a backslash is always put between it and the file name).
    void Initialize(HWND notifyWnd, const std::string& agent, const std::string& downloadDir);
    // Queues a URL; an empty one is ignored.
    void AddDownload(const std::string& url);
    // Checks a whole download before it counts as done: true when the file at
    // path, open as file, may be used, else false with a text for the status
    // line. The file cannot change while the check runs.
    using FileCheck = bool (*)(const std::string& path, HANDLE file, std::string& failure);
    // With a check, a file that fails it is deleted and reported with
    // STATUS_UNVERIFIED, and the queue ends there like on a network failure.
    void SetFileCheck(FileCheck check) { m_fileCheck = check; }
    // Keeps what a download that ends early has received, in the folder of
    // partial downloads beside like (CDownloadFolder::OpenPartial), opened
    // now and held while this engine lives. Without it nothing is kept.
    void OpenPartialFolder(const CDownloadFolder& like) { m_partialFolder.OpenPartial(like); }
    // True asks the running transfer to stop before its next read, and ends
    // a pause before a resumption at once.
    void SetStop(bool stop);
    // From another thread, for an owner that goes: stops, and cuts the read
    // the transfer may be blocked in, where the internet library allows.
    void Abort();

    // Downloads the whole queue and empties it; ends with code 7 or 8 (when a
    // session exists). True when every file was done without failure or
    // stop.
    bool DownloadListAll();
    // Downloads url into the file at path: true on success, false on any
    // failure (reported, and traced where no report can say it).
    // agent is used only when a session has to be created; a non-null window
    // becomes the session's notify window.
    bool GetFile(const std::string& url, const std::string& path, const std::string& agent, HWND notifyWnd);
    // Replaces the session by a new one; true when a session exists
    // afterwards (the failure is traced).
    bool CreateSession(const std::string& agent, HWND notifyWnd);
    void CloseSession();

    // The last file that was downloaded whole and passed the check, still
    // open for reading only and so unchanged since, for the one who starts
    // it; none when no such file is waiting. Any thread. The next GetFile
    // lets an untaken one go.
    std::unique_ptr<CLocalFile> TakeDoneFile(std::string& path);

    bool HasSession() const { return m_pSession != nullptr; }
    // The one way of this engine's reports to its notify window.
    CStatusChannel& Channel() { return m_channel; }
    HWND GetNotifyWindow() const { return m_pNotifyWnd; }

    // Resumptions of one file, and the pause before the n-th (1, 2, 4 s).
    static constexpr int kMaxResumes = 3;
    static DWORD ResumePauseMs(int n) { return 1000u << (n - 1); }

private:
    enum class BodyEnd { Complete, Early, Failed };
    enum class Resumed { Rest, Whole, Unreachable, Refused };

    bool StopRequested() const { return m_bStop.load(std::memory_order_relaxed); }
    // Opens url and checks the reply: true with the length it promises,
    // false once the failure has been reported.
    bool OpenReply(const std::string& url, const std::string& name, CHttpFile& file, uint64_t& total);
    // Opens the reply that starts this download: the rest of a kept partial
    // when the server still has its version (received is then what is kept),
    // else the whole file, with what names its version (empty: nothing
    // strong); false once the failure has been reported.
    bool OpenStart(const std::string& url, const std::string& name, CPartialDownload* partial, CHttpFile& file,
                   uint64_t& total, uint64_t& received, std::string& validator);
    // Reads the whole body into local from received on, resuming a body that
    // ends early (a partial's record follows a start over); false once a
    // failure or stop has been reported.
    bool ReceiveWhole(const std::string& url, const std::string& name, CHttpFile& file, CLocalFile& local,
                      uint64_t total, uint64_t received, std::string validator, CPartialDownload* partial);
    // Keeps the whole file open for reading, checks it and offers it to
    // TakeDoneFile; false once a failure has been reported.
    bool HandOver(const std::string& name, const std::string& path, CHttpFile& file, CLocalFile& local);
    // Reads one block into the read buffer (see above): read is 0 at the end
    // of the body. An error may come with bytes read before it.
    DWORD ReadBlock(CHttpFile& file, DWORD& read);
    // Reads the body into local until it ends; Early (with why) when it ended
    // before total, Failed when a stop or a file error has been reported.
    BodyEnd ReadBody(const std::string& name, CHttpFile& file, CLocalFile& local, uint64_t& received, uint64_t total,
                     const CStopwatch& clock, std::string& why);
    // Reports the dropped connection and waits before the n-th resumption;
    // false when a stop came meanwhile.
    bool PauseBeforeResume(const std::string& name, uint64_t received, int n);
    // Asks for the bytes from received on of the file that validator names.
    Resumed RequestRest(const std::string& url, const std::string& validator, uint64_t received, uint64_t& total,
                        CHttpFile& file, std::string& why);
    // The stop's ending of GetFile: report, close, keep the partial file, false.
    bool ReportStopped(CHttpFile& file, CLocalFile& local);
    // Failure endings of GetFile: report, close what is open, false.
    bool FailInvalid(const std::string& name, CHttpFile& file);
    bool FailNetwork(const std::string& name, const std::string& text, CHttpFile& file, CLocalFile* local);
    // A failure of the local file (a full disk) also gives back what the
    // partial took: only a broken line or a stop keeps it.
    bool FailLocalFile(const std::string& name, DWORD error, CHttpFile& file, CLocalFile* local);
    bool FailCheck(const std::string& name, const std::string& path, const std::string& failure);
    // An error text as short as the status line takes it.
    static std::string CutErrorText(std::string text);

    std::string m_strDownloadDir;
    HWND m_pNotifyWnd = nullptr;
    std::string m_strAgent;
    FileCheck m_fileCheck = nullptr;
    CDownloadFolder m_partialFolder;
    // The partial that the running GetFile writes, if any.
    CPartialDownload* m_pPartial = nullptr;
    // What this download found kept, which its speed does not count.
    uint64_t m_keptAtStart = 0;
    // Written by the dialog's thread, read by the worker before every block.
    std::atomic<bool> m_bStop{false};
    CKernelHandle m_stopEvent{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    CStatusChannel m_channel;
    std::vector<std::string> m_downloadArray;
    // One block; allocated for each download and freed after it.
    std::unique_ptr<char[]> m_readBuffer;
    // The largest count the library offered at once during this download, and
    // how often it came again.
    DWORD m_largestOffer = 0;
    unsigned m_largestRepeats = 0;
    // Bytes to read ahead of what has arrived next time; 0: ask first.
    DWORD m_readAhead = 0;
    std::unique_ptr<CGrabSession> m_pSession;
    // The request being read, for Abort from the other thread.
    CCriticalSection m_activeMutex;
    CHttpFile* m_pActiveFile = nullptr;
    // Handed over by TakeDoneFile; under m_activeMutex.
    std::unique_ptr<CLocalFile> m_doneFile;
    std::string m_strDonePath;
    friend class CActiveRequest;
};
