// libFuzzer target: the partial download's record reader over a file that
// anyone could have left in the temporary directory. The input is the
// record; the URL asked for is its first line. What it reads, written again,
// reads the same.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "download/PartialRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string url = text.substr(0, text.find('\n'));
    uint64_t length = 0;
    std::string validator;
    if (!ReadRecordText(text, url, length, validator))
        return 0;
    uint64_t again = 0;
    std::string validatorAgain;
    const std::string written = RecordText(url, length, validator);
    if (written.size() <= kRecordMax &&
        (!ReadRecordText(written, url, again, validatorAgain) || again != length || validatorAgain != validator))
        std::abort();
    return 0;
}
