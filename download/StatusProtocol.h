// The status message between the download worker and the update dialog: its
// codes, the packing of wParam and the texts, with no Windows API so the host
// build can check them under the sanitizers.
//
// wParam: status code in the low word, percentage of the current file in the
// high word (code 4 only, else 0). lParam: the sender's NUL-terminated text
// of at most 511 characters, valid only while the message is handled.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>

#include "support/Trace.h"  // VANTORIMA_PRINTF

// The name under which the message is registered; sender and receiver use it.
constexpr const char kStatusMessageName[] = "UWM_STATUS_KEY_D31F39A4_1C63_11D3_AA11_AC48B5000000";

// The status codes keep these numbers: they are the protocol between worker
// and dialog, read by value on both sides and by the tests, not results in
// the code's own failure idiom.
enum : unsigned short {
    STATUS_NET_ERROR = 1,  // the internet library failed, or the body ended short
    STATUS_FILE_ERROR,  // the local file could not be created or written
    STATUS_STOPPED,  // the stop flag was seen before a read
    STATUS_READING,  // a block was written; wParam carries the percentage
    STATUS_STARTING,  // before the URL is opened
    STATUS_FILE_DONE,  // after the last block
    STATUS_ALL_DONE,  // the queue ended without failure or stop
    STATUS_LIST_FAILED,  // the queue ended on a failure or a stop
    STATUS_INVALID,  // no file, no usable length, or not a 200 reply
    STATUS_ABORT,  // a running client was not closed; nothing is downloaded
    STATUS_UNVERIFIED,  // the file failed the grabber's check and was deleted
};

// Status texts, printf formats where they take the file name.
constexpr const char kTextNetError[] = "%s - %s";  // name, error text
constexpr const char kTextFileError[] = "%s - %s";  // name, error text
constexpr const char kTextStopped[] = "User Stop!";
constexpr const char kTextStarting[] = "%s - 正在升级VOK围棋，请稍候...";
constexpr const char kTextFileDone[] = "%s - Download End!";
constexpr const char kTextAllDone[] = "Download Files Complete!";
constexpr const char kTextListFailed[] = "Download Error Close!";
constexpr const char kTextInvalid[] = "%s is Invalid!";
constexpr const char kTextAbort[] = "User Stop!";
// Between a connection that dropped and the request for the rest: name, bytes so far.
constexpr const char kTextReconnecting[] = "%s - 断线重连中，已收 %s 字节";
constexpr const char kTextUnverified[] = "%s - %s";  // name, the check's text

// Size of the sender's text buffer, terminator included.
constexpr size_t kStatusTextSize = 512;
// Longest error text taken from a failure.
constexpr size_t kErrorTextMax = 255;

// Tells whether a byte starts a two-byte character of the text's code page;
// null for single-byte texts.
using LeadBytePredicate = bool (*)(unsigned char);

uint32_t PackStatus(unsigned code, unsigned percent);
inline unsigned StatusCodeOf(uint32_t wParam)
{
    return wParam & 0xFFFF;
}
inline unsigned StatusPercentOf(uint32_t wParam)
{
    return wParam >> 16;
}

// received as a whole percentage of total, exact for any 64-bit counts; 100
// when total is 0 and never more than 100.
unsigned PercentOf(uint64_t received, uint64_t total);

// The largest length the engine takes: what a file offset can hold.
constexpr uint64_t kMaxContentLength = 0x7FFFFFFFFFFFFFFFull;

// A Content-Length value: decimal digits only, blanks around them allowed, at
// most kMaxContentLength. False for anything else ("-1", "abc", "12 34",
// empty): a length that cannot be read cannot tell a whole body from a cut one.
bool ParseContentLength(const char* text, uint64_t& length);

// count in decimal, whatever the runtime's printf knows of 64 bits.
std::string DecimalText(uint64_t count);

// The text after the last "/" of url; false when url has no "/".
bool FileNameFromUrl(const std::string& url, std::string& name);

// Shortens text to at most maxBytes bytes without splitting a two-byte
// character; returns the new length.
size_t CutText(char* text, size_t length, size_t maxBytes, LeadBytePredicate isLeadByte);
void CutText(std::string& text, size_t maxBytes, LeadBytePredicate isLeadByte);

// Formats into a buffer of kStatusTextSize bytes, cut to at most 511 bytes;
// returns the length.
size_t FormatStatusTextV(char (&buffer)[kStatusTextSize], LeadBytePredicate isLeadByte, const char* format,
                         va_list args);
size_t FormatStatusText(char (&buffer)[kStatusTextSize], LeadBytePredicate isLeadByte, const char* format, ...)
    VANTORIMA_PRINTF(3, 4);

// The code-4 text: bytes so far, and the speed once a whole second has passed,
// of the bytes after the first earlier (kept from an earlier download).
size_t FormatReadingText(char (&buffer)[kStatusTextSize], LeadBytePredicate isLeadByte, const char* name,
                         uint64_t received, uint32_t elapsedSeconds, uint64_t earlier = 0);

// The error text of a body that ended before its Content-Length.
std::string ShortBodyText(uint64_t received, uint64_t total);
// The error text of a body that goes on past its Content-Length.
std::string LongBodyText(uint64_t total);

// The first, last and total of a "bytes first-last/total" Content-Range;
// false for any other form.
bool ParseContentRange(const char* text, uint64_t& first, uint64_t& last, uint64_t& total);
