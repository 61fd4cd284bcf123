// libFuzzer target: the performance-data parser on arbitrary bytes.
#include <cstdint>
#include <cstring>

#include "terminator/PerfDataParser.h"

namespace {
bool Truncate(const char16_t* name, char* out, size_t outSize)
{
    size_t i = 0;
    for (; name[i] && i + 1 < outSize; ++i)
        out[i] = static_cast<char>(name[i]);
    out[i] = '\0';
    return name[i] == 0;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static ProcessEntry table[256];
    if (size < 5)
        return 0;
    uint32_t counter;
    std::memcpy(&counter, data, 4);
    const size_t capacity = data[4] + 1u;
    ParsePerfProcesses(data + 5, size - 5, counter, &Truncate, table, capacity);
    FindPerfTitleIndexes(reinterpret_cast<const char*>(data + 5), size - 5);
    return 0;
}
