#include "download/WebGrab.h"

#include <algorithm>
#include <new>

#include "BuildConfig.h"
#include "download/ErrorText.h"
#include "download/PartialDownload.h"
#include "framework/net/HttpFile.h"
#include "framework/sys/Stopwatch.h"
#include "support/Trace.h"
#include "support/TraceLines.h"

// The reading of one file: the reply's check, the body in blocks, and the
// resumption of a body that ended early.

namespace {

// Always from the server, kept byte for byte, and on a connection that may already be open.
constexpr DWORD kOpenFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_EXISTING_CONNECT | INTERNET_FLAG_TRANSFER_BINARY;
// The most one block holds. 4095, one byte short of a 4 KiB buffer, is the
// fixed block the engine has always read.
constexpr DWORD kBlockBytes = VANTORIMA_READ_BLOCK;
constexpr bool kFixedBlocks = kBlockBytes == 4095;
// How long one block may go on gathering what the library hands over, so
// that a steady line still moves the bar several times a second.
constexpr DWORD kGatherMs = 50;
// How soon a read ahead of what has arrived must be filled to grow the next one.
constexpr double kReadAheadSeconds = 0.02;
// Content-Length text, terminator included.
constexpr DWORD kLengthTextSize = 32;

double SecondsNow()
{
    LARGE_INTEGER frequency, counter;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// What names this version of the file when asking for the rest of it: a
// strong ETag, else the Last-Modified date. A weak ETag only says the content
// is much the same, not that its bytes are: with nothing better the rest is
// not asked for, and the file starts over.
std::string RangeValidator(CHttpFile& file)
{
    char tag[256] = "";
    if (file.QueryInfo(HTTP_QUERY_ETAG, tag, sizeof tag) && tag[0] == '"')
        return tag;
    char date[256] = "";
    if (file.QueryInfo(HTTP_QUERY_LAST_MODIFIED, date, sizeof date))
        return date;
    return std::string();
}

}  // namespace

bool CWebGrab::OpenReply(const std::string& url, const std::string& name, CHttpFile& file, uint64_t& total)
{
    DWORD error = m_pSession->OpenUrl(url.c_str(), kOpenFlags, file);
    if (error == ERROR_INTERNET_UNRECOGNIZED_SCHEME)
        return FailInvalid(name, file);  // not an HTTP URL: it yields no file
    if (error)
        return FailNetwork(name, InternetErrorText(error), file, nullptr);

    // Only a 200 reply is the file; an error page is not an installer.
    DWORD httpStatus = 0;
    error = file.QueryStatusCode(httpStatus);
    if (error)
        return FailNetwork(name, InternetErrorText(error), file, nullptr);
    char lengthText[kLengthTextSize];
    if (httpStatus != HTTP_STATUS_OK || !file.QueryInfo(HTTP_QUERY_CONTENT_LENGTH, lengthText, sizeof lengthText)) {
        TraceOut(TraceLine::kHttpStatus, static_cast<unsigned long>(httpStatus));
        return FailInvalid(name, file);
    }
    // A length that cannot be read cannot tell a whole body from a cut one.
    if (!ParseContentLength(lengthText, total)) {
        TraceOut(TraceLine::kLengthUnreadable);
        return FailInvalid(name, file);
    }
    return true;
}

bool CWebGrab::OpenStart(const std::string& url, const std::string& name, CPartialDownload* partial, CHttpFile& file,
                         uint64_t& total, uint64_t& received, std::string& validator)
{
    received = 0;
    if (partial && partial->Kept()) {
        total = partial->Length();
        std::string why;
        switch (RequestRest(url, partial->Validator(), partial->Kept(), total, file, why)) {
        case Resumed::Rest:
            received = partial->Kept();
            validator = partial->Validator();
            TraceOut(TraceLine::kContinues, DecimalText(received).c_str(), DecimalText(total).c_str());
            // The bar starts at the kept share.
            m_pSession->SetTotal(total);
            m_pSession->SetStatus(STATUS_READING, received);
            m_pSession->ReportReading(name.c_str(), received, 0, received);
            return true;
        case Resumed::Whole:
            // Another version of the file, or a server without ranges: all of it.
            TraceOut(TraceLine::kStartsOver, DecimalText(total).c_str());
            validator = RangeValidator(file);
            return true;
        case Resumed::Unreachable:
        case Resumed::Refused:
            // A reply that is neither: the whole file, asked for plainly.
            TraceOut(TraceLine::kRangeRefused, CutErrorText(why).c_str());
            file.Close();
            break;
        }
    }
    if (!OpenReply(url, name, file, total))
        return false;
    validator = RangeValidator(file);
    return true;
}

bool CWebGrab::ReceiveWhole(const std::string& url, const std::string& name, CHttpFile& file, CLocalFile& local,
                            uint64_t total, uint64_t received, std::string validator, CPartialDownload* partial)
{
    CGrabSession& session = *m_pSession;
    m_keptAtStart = received;
    // Where this request's bytes began: kept ones are not a drop's progress.
    uint64_t startedAt = received;

    // One buffer for the whole download, gone with it.
    struct CReleaseBuffer {
        std::unique_ptr<char[]>& buffer;
        ~CReleaseBuffer() { buffer.reset(); }
    } release{m_readBuffer};
    m_readBuffer.reset(new (std::nothrow) char[kBlockBytes]);
    if (!m_readBuffer)
        return FailLocalFile(name, ERROR_NOT_ENOUGH_MEMORY, file, &local);
    m_largestOffer = 0;
    m_largestRepeats = 0;
    m_readAhead = 0;

    CStopwatch clock;
    std::string why;
    for (int resumes = 0;;) {
        if (file.IsOpen()) {
            const BodyEnd end = ReadBody(name, file, local, received, total, clock, why);
            if (end == BodyEnd::Complete)
                return true;
            if (end == BodyEnd::Failed)
                return false;
        }
        // A connection that failed before any byte came is not a drop.
        if (received == startedAt || resumes == kMaxResumes)
            return FailNetwork(name, why, file, &local);
        file.Close();
        TraceOut(TraceLine::kConnectionLost, CutErrorText(why).c_str());
        if (!PauseBeforeResume(name, received, ++resumes))
            return ReportStopped(file, local);
        switch (RequestRest(url, validator, received, total, file, why)) {
        case Resumed::Rest:
        case Resumed::Unreachable:
            break;
        case Resumed::Whole: {
            TraceOut(TraceLine::kStartsOver, DecimalText(total).c_str());
            validator = RangeValidator(file);
            const DWORD error = partial ? partial->StartOver(total, validator) : local.Rewind();
            if (error)
                return FailLocalFile(name, error, file, &local);
            received = 0;
            startedAt = 0;
            m_keptAtStart = 0;
            session.SetTotal(total);
            break;
        }
        case Resumed::Refused:
            return FailNetwork(name, why, file, &local);
        }
    }
}

CWebGrab::BodyEnd CWebGrab::ReadBody(const std::string& name, CHttpFile& file, CLocalFile& local, uint64_t& received,
                                     uint64_t total, const CStopwatch& clock, std::string& why)
{
    CGrabSession& session = *m_pSession;
    for (;;) {
        if (StopRequested()) {
            ReportStopped(file, local);
            return BodyEnd::Failed;
        }
        DWORD read = 0;
        const DWORD error = ReadBlock(file, read);
        // A read that waited past the stop brings nothing more into the file
        // (the fixed blocks keep theirs, as they always did).
        if (!kFixedBlocks && StopRequested()) {
            ReportStopped(file, local);
            return BodyEnd::Failed;
        }
        if (error && read == 0) {
            why = InternetErrorText(error);
            return BodyEnd::Early;
        }
        if (read == 0)
            break;
        // More than was promised: none of it is the file the length named.
        if (read > total - received) {
            FailNetwork(name, LongBodyText(total), file, &local);
            return BodyEnd::Failed;
        }
        const DWORD written = local.Write(m_readBuffer.get(), read);
        if (written) {
            FailLocalFile(name, written, file, &local);
            return BodyEnd::Failed;
        }
        received += read;
        session.SetStatus(STATUS_READING, received);
        session.ReportReading(name.c_str(), received, clock.ElapsedSeconds(), m_keptAtStart);
        if (error) {
            why = InternetErrorText(error);
            return BodyEnd::Early;
        }
    }
    // The library ends a body cut short by the server like a whole one.
    if (received < total) {
        why = ShortBodyText(received, total);
        return BodyEnd::Early;
    }
    return BodyEnd::Complete;
}

DWORD CWebGrab::ReadBlock(CHttpFile& file, DWORD& read)
{
    read = 0;
    if (kFixedBlocks)
        return file.Read(m_readBuffer.get(), kBlockBytes, read);
    const DWORD started = ::GetTickCount();
    for (;;) {
        const DWORD space = kBlockBytes - read;
        bool moreWaiting = false;
        DWORD got = 0;
        if (m_readAhead == 0) {
            DWORD offered = 0;
            DWORD error = file.QueryDataAvailable(offered);
            if (!error && offered)
                error = file.Read(m_readBuffer.get() + read, std::min(offered, space), got);
            read += got;
            if (error || got == 0)
                return error;  // a failure, or the end of the body
            if (offered > m_largestOffer) {
                m_largestOffer = offered;
                m_largestRepeats = 0;
            } else if (offered == m_largestOffer) {
                ++m_largestRepeats;
            }
            // The library's whole buffer again: the line brings more than it holds.
            moreWaiting = offered == m_largestOffer && m_largestRepeats > 0 && got == offered;
            if (moreWaiting)
                m_readAhead = 2 * offered;
        } else {
            // Ahead of what has arrived, by what the line brought within a
            // moment last time; a read that had to wait goes back to asking.
            const DWORD want = std::min(m_readAhead, space);
            const double start = SecondsNow();
            const DWORD error = file.Read(m_readBuffer.get() + read, want, got);
            read += got;
            if (error || got == 0)
                return error;
            moreWaiting = got == want && SecondsNow() - start < kReadAheadSeconds;
            m_readAhead = moreWaiting ? std::min(2 * m_readAhead, kBlockBytes) : 0;
        }
        if (!moreWaiting || read == kBlockBytes || StopRequested() || ::GetTickCount() - started >= kGatherMs)
            return ERROR_SUCCESS;
    }
}

bool CWebGrab::PauseBeforeResume(const std::string& name, uint64_t received, int n)
{
    const std::string count = DecimalText(received);
    TraceOut(TraceLine::kResumes, n, count.c_str());
    // The bar stays where it is; the line says what is happening.
    m_pSession->SetStatus(STATUS_READING, received);
    m_pSession->ReportStatus(kTextReconnecting, name.c_str(), count.c_str());
    if (::WaitForSingleObject(m_stopEvent.Get(), ResumePauseMs(n)) != WAIT_TIMEOUT || StopRequested()) {
        TraceOut(TraceLine::kStoppedInPause);
        return false;
    }
    return true;
}

CWebGrab::Resumed CWebGrab::RequestRest(const std::string& url, const std::string& validator, uint64_t received,
                                        uint64_t& total, CHttpFile& file, std::string& why)
{
    // Without a validator the rest could belong to another file: ask for all of it.
    std::string headers;
    if (!validator.empty()) {
        headers = "Range: bytes=" + DecimalText(received) + "-\r\nIf-Range: " + validator + "\r\n";
    }
    DWORD error = m_pSession->OpenUrl(url.c_str(), kOpenFlags | INTERNET_FLAG_NO_CACHE_WRITE, file,
                                      headers.empty() ? nullptr : headers.c_str(), static_cast<DWORD>(headers.size()));
    DWORD status = 0;
    if (!error)
        error = file.QueryStatusCode(status);
    if (error) {
        why = InternetErrorText(error);
        file.Close();
        return Resumed::Unreachable;
    }
    char text[kLengthTextSize * 3] = "";
    if (status == HTTP_STATUS_OK) {
        // The server ignored the range, or the file changed: the whole new one.
        uint64_t length = 0;
        if (!file.QueryInfo(HTTP_QUERY_CONTENT_LENGTH, text, sizeof text) || !ParseContentLength(text, length)) {
            why = "no Content-Length";
            return Resumed::Refused;
        }
        total = length;
        return Resumed::Whole;
    }
    uint64_t first = 0, last = 0, length = 0;
    if (status == HTTP_STATUS_PARTIAL_CONTENT && file.QueryInfo(HTTP_QUERY_CONTENT_RANGE, text, sizeof text) &&
        ParseContentRange(text, first, last, length) && first == received && last + 1 == total && length == total)
        return Resumed::Rest;
    why = status == HTTP_STATUS_PARTIAL_CONTENT ? std::string("bad Content-Range: ") + text
                                                : "HTTP status " + std::to_string(status);
    return Resumed::Refused;
}
