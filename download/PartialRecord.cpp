#include "download/PartialRecord.h"

#include "download/StatusProtocol.h"

std::string RecordText(const std::string& url, uint64_t length, const std::string& validator)
{
    return url + "\n" + DecimalText(length) + "\n" + validator + "\n";
}

bool ReadRecordText(std::string_view text, std::string_view url, uint64_t& length, std::string& validator)
{
    if (text.size() > kRecordMax)
        return false;
    const size_t first = text.find('\n');
    const size_t second = first == std::string_view::npos ? first : text.find('\n', first + 1);
    const size_t third = second == std::string_view::npos ? second : text.find('\n', second + 1);
    if (third == std::string_view::npos || third + 1 != text.size())
        return false;
    validator = std::string(text.substr(second + 1, third - second - 1));
    return text.substr(0, first) == url &&
        ParseContentLength(std::string(text.substr(first + 1, second - first - 1)).c_str(), length) &&
        !validator.empty();
}
