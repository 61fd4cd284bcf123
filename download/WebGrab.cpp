#include "download/WebGrab.h"

#include "download/ErrorText.h"
#include "download/PartialDownload.h"
#include "framework/net/HttpFile.h"
#include "framework/sys/LocalFile.h"
#include "framework/sys/Result.h"
#include "support/Trace.h"
#include "support/TraceLines.h"
#include "download/StatusMessage.h"

// The queue, the session, one file from its start to its hand-over, and the
// endings; the reading of the body is in WebGrabBody.cpp.

// Makes a request reachable for Abort while it is open.
class CActiveRequest {
public:
    CActiveRequest(CWebGrab& grab, CHttpFile& file) : m_grab(grab)
    {
        std::lock_guard<CCriticalSection> lock(m_grab.m_activeMutex);
        m_grab.m_pActiveFile = &file;
    }
    ~CActiveRequest()
    {
        std::lock_guard<CCriticalSection> lock(m_grab.m_activeMutex);
        m_grab.m_pActiveFile = nullptr;
    }
    CActiveRequest(const CActiveRequest&) = delete;
    CActiveRequest& operator=(const CActiveRequest&) = delete;

private:
    CWebGrab& m_grab;
};

CWebGrab::~CWebGrab()
{
    CloseSession();
}

void CWebGrab::Initialize(HWND notifyWnd, const std::string& agent, const std::string& downloadDir)
{
    m_pNotifyWnd = notifyWnd;
    m_strAgent = agent;
    m_strDownloadDir = downloadDir;
}

void CWebGrab::SetStop(bool stop)
{
    m_bStop.store(stop, std::memory_order_relaxed);
    if (stop)
        LOG_IF_WIN32_BOOL_FALSE(::SetEvent(m_stopEvent.Get()));
    else
        LOG_IF_WIN32_BOOL_FALSE(::ResetEvent(m_stopEvent.Get()));
}

void CWebGrab::Abort()
{
    SetStop(true);
    std::lock_guard<CCriticalSection> lock(m_activeMutex);
    if (m_pActiveFile)
        m_pActiveFile->Cancel();
}

std::unique_ptr<CLocalFile> CWebGrab::TakeDoneFile(std::string& path)
{
    std::lock_guard<CCriticalSection> lock(m_activeMutex);
    path = m_strDonePath;
    return std::move(m_doneFile);
}

void CWebGrab::AddDownload(const std::string& url)
{
    if (!url.empty())
        m_downloadArray.push_back(url);
}

bool CWebGrab::CreateSession(const std::string& agent, HWND notifyWnd)
{
    CloseSession();
    auto session = std::make_unique<CGrabSession>(agent.c_str(), notifyWnd, m_channel);
    if (!session->IsOpen()) {
        TraceOut(TraceLine::kInternetOpenError, static_cast<unsigned long>(session->OpenError()));
        return false;
    }
    m_pSession = std::move(session);
    return true;
}

void CWebGrab::CloseSession()
{
    m_pSession.reset();
}

bool CWebGrab::DownloadListAll()
{
    TraceOut(TraceLine::kListStart);
    bool result = true;
    const size_t count = m_downloadArray.size();
    TraceOut(TraceLine::kListSize, static_cast<int>(count));
    try {
        for (size_t i = 0; i < count; ++i) {
            const std::string url = m_downloadArray[i];
            TraceOut(TraceLine::kListUrl, url.c_str());
            std::string name;
            if (url.empty() || !FileNameFromUrl(url, name))
                continue;
            TraceOut(TraceLine::kListFileName, name.c_str());
            const std::string path = m_strDownloadDir + "\\" + name;
            TraceOut(TraceLine::kListFilePath, path.c_str());
            if (!GetFile(url, path, m_strAgent, m_pNotifyWnd) || StopRequested()) {
                result = false;
                break;
            }
        }
    } catch (...) {
        // Out of memory: the files and requests are closed by now; the queue fails.
        TraceOut(TraceLine::kListException);
        result = false;
    }
    TraceOut(TraceLine::kListLoopOut);
    m_downloadArray.clear();

    // A failure that closed the session has said its last word already.
    if (m_pSession) {
        if (result) {
            m_pSession->SetStatusCode(STATUS_ALL_DONE);
            m_pSession->ReportStatus(kTextAllDone);
        } else {
            m_pSession->SetStatusCode(STATUS_LIST_FAILED);
            m_pSession->ReportStatus(kTextListFailed);
        }
    }
    TraceOut(TraceLine::kListEnd);
    return result;
}

bool CWebGrab::GetFile(const std::string& url, const std::string& path, const std::string& agent, HWND notifyWnd)
{
    std::string name;
    if (!FileNameFromUrl(url, name)) {
        TraceOut("GetFile: the URL names no file");
        return false;
    }
    if (!m_pSession && !CreateSession(agent, notifyWnd))
        return false;
    CGrabSession& session = *m_pSession;
    if (notifyWnd)
        session.SetNotifyWindow(notifyWnd);
    // A file done before that nobody took is let go: only the last one waits.
    {
        std::lock_guard<CCriticalSection> lock(m_activeMutex);
        m_doneFile.reset();
    }

    session.SetTotal(0);
    session.SetStatus(STATUS_STARTING, 0);
    session.ReportStatus(kTextStarting, name.c_str());

    CHttpFile file;
    CActiveRequest active(*this, file);
    // Held from here to the end: no other download writes into it meanwhile.
    CPartialDownload partial;
    bool keep = partial.Take(m_partialFolder, url);
    uint64_t total = 0, received = 0;
    std::string validator;
    if (!OpenStart(url, name, keep ? &partial : nullptr, file, total, received, validator))
        return false;
    // What has no strong validator can never be continued: not kept.
    if (keep && validator.empty()) {
        partial.Discard();
        keep = false;
    }

    struct CCurrentPartial {
        CPartialDownload*& current;
        ~CCurrentPartial() { current = nullptr; }
    } current{m_pPartial};
    m_pPartial = keep ? &partial : nullptr;
    session.SetTotal(total);
    CLocalFile own;
    CLocalFile& local = keep ? partial.File() : own;
    if (!keep) {
        if (const DWORD error = own.Create(path.c_str()))
            return FailLocalFile(name, error, file, nullptr);
    } else if (received == 0) {
        if (const DWORD error = partial.StartOver(total, validator))
            return FailLocalFile(name, error, file, &local);
    }
    if (!ReceiveWhole(url, name, file, local, total, received, validator, keep ? &partial : nullptr))
        return false;
    // Whole: into the download's own folder, where it is checked and started.
    if (keep) {
        if (const DWORD error = partial.MoveTo(path))
            return FailLocalFile(name, error, file, &local);
        m_pPartial = nullptr;
    }
    return HandOver(name, path, file, local);
}

bool CWebGrab::HandOver(const std::string& name, const std::string& path, CHttpFile& file, CLocalFile& local)
{
    file.Close();
    // Held open from the first byte to whoever starts it: what is checked is
    // what runs.
    if (const DWORD error = local.KeepForReading(path.c_str()))
        return FailLocalFile(name, error, file, &local);
    std::string failure;
    if (m_fileCheck && !m_fileCheck(path, local.Get(), failure)) {
        local.Close();
        return FailCheck(name, path, failure);
    }
    {
        std::lock_guard<CCriticalSection> lock(m_activeMutex);
        m_doneFile = std::make_unique<CLocalFile>(std::move(local));
        m_strDonePath = path;
    }
    m_pSession->SetStatus(STATUS_FILE_DONE, 0);
    m_pSession->ReportStatus(kTextFileDone, name.c_str());
    return true;
}

std::string CWebGrab::CutErrorText(std::string text)
{
    CutText(text, kErrorTextMax, &IsAnsiLeadByte);
    return text;
}

bool CWebGrab::ReportStopped(CHttpFile& file, CLocalFile& local)
{
    m_pSession->SetStatus(STATUS_STOPPED, 0);
    m_pSession->ReportStatus(kTextStopped);
    file.Close();
    local.Close();  // the partial file stays
    return false;
}

bool CWebGrab::FailInvalid(const std::string& name, CHttpFile& file)
{
    m_pSession->SetStatus(STATUS_INVALID, 0);
    m_pSession->ReportStatus(kTextInvalid, name.c_str());
    file.Close();
    return false;  // the session stays, for the queue's last word
}

bool CWebGrab::FailNetwork(const std::string& name, const std::string& text, CHttpFile& file, CLocalFile* local)
{
    const std::string cut = CutErrorText(text);
    TraceOut(TraceLine::kNetError, cut.c_str());
    m_pSession->SetStatus(STATUS_NET_ERROR, 0);
    m_pSession->ReportStatus(kTextNetError, name.c_str(), cut.c_str());
    file.Close();
    if (local)
        local->Close();  // the partial file stays
    CloseSession();
    return false;
}

bool CWebGrab::FailLocalFile(const std::string& name, DWORD error, CHttpFile& file, CLocalFile* local)
{
    const std::string cut = CutErrorText(SystemErrorText(error));
    TraceOut(TraceLine::kFileError, cut.c_str());
    // Before anyone hears of it: the box finds the space given back.
    if (m_pPartial)
        m_pPartial->Discard();
    m_pSession->SetStatus(STATUS_FILE_ERROR, 0);
    m_pSession->ReportStatus(kTextFileError, name.c_str(), cut.c_str());
    file.Close();
    if (local)
        local->Close();
    CloseSession();
    return false;
}

bool CWebGrab::FailCheck(const std::string& name, const std::string& path, const std::string& failure)
{
    // Gone before anyone hears of it: nothing can start it afterwards.
    const bool deleted = LOG_IF_WIN32_BOOL_FALSE(::DeleteFileA(path.c_str()));
    TraceOut(TraceLine::kCheckError, failure.c_str(), deleted ? "deleted" : "not deleted");
    m_pSession->SetStatus(STATUS_UNVERIFIED, 0);
    m_pSession->ReportStatus(kTextUnverified, name.c_str(), failure.c_str());
    CloseSession();
    return false;
}
