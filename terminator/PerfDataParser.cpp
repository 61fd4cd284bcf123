#include "terminator/PerfDataParser.h"

#include <cstring>

namespace {

// Offsets of the fields read, in the published 32-bit layout of the
// performance data records.
constexpr size_t kBlockHeaderLength = 24;  // PERF_DATA_BLOCK.HeaderLength
constexpr size_t kObjectDefinitionLength = 4;  // PERF_OBJECT_TYPE.DefinitionLength
constexpr size_t kObjectHeaderLength = 8;  // PERF_OBJECT_TYPE.HeaderLength
constexpr size_t kObjectNumCounters = 32;  // PERF_OBJECT_TYPE.NumCounters
constexpr size_t kObjectNumInstances = 40;  // PERF_OBJECT_TYPE.NumInstances
constexpr size_t kCounterSize = 40;  // sizeof(PERF_COUNTER_DEFINITION)
constexpr size_t kCounterTitleIndex = 4;  // PERF_COUNTER_DEFINITION.CounterNameTitleIndex
constexpr size_t kCounterOffset = 36;  // PERF_COUNTER_DEFINITION.CounterOffset
constexpr size_t kInstanceNameOffset = 16;  // PERF_INSTANCE_DEFINITION.NameOffset
// Instance names longer than this many UTF-16 units cannot fit 260 ANSI bytes.
constexpr size_t kMaxNameUnits = 520;

// Little-endian reads that never leave the buffer.
class CBoundedReader {
public:
    CBoundedReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    bool U32(size_t offset, uint32_t* value) const
    {
        if (offset > m_size || m_size - offset < 4)
            return false;
        const uint8_t* p = m_data + offset;
        *value = p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
        return true;
    }
    // base + delta, when that still lies within the buffer.
    bool Advance(size_t base, uint32_t delta, size_t* result) const
    {
        if (base > m_size || m_size - base < delta)
            return false;
        *result = base + delta;
        return true;
    }
    bool U16(size_t offset, char16_t* value) const
    {
        if (offset > m_size || m_size - offset < 2)
            return false;
        *value = static_cast<char16_t>(m_data[offset] | m_data[offset + 1] << 8);
        return true;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
};

bool EqualsIgnoringCase(const char* a, const char* b)
{
    for (; *a && *b; ++a, ++b) {
        char x = *a >= 'A' && *a <= 'Z' ? *a - 'A' + 'a' : *a;
        char y = *b >= 'A' && *b <= 'Z' ? *b - 'A' + 'a' : *b;
        if (x != y)
            return false;
    }
    return *a == *b;
}

// The decimal number that ends a string; 0 when it has no digits there.
uint32_t TrailingNumber(const char* text, size_t length)
{
    size_t start = length;
    while (start > 0 && text[start - 1] >= '0' && text[start - 1] <= '9')
        --start;
    uint32_t value = 0;
    for (size_t i = start; i < length && i < start + 9; ++i)
        value = value * 10 + static_cast<uint32_t>(text[i] - '0');
    return value;
}

// Fills entry.exeName from the UTF-16 name at offset; false when the name has
// no terminator inside the buffer.
bool ReadInstanceName(const CBoundedReader& reader, size_t offset, PerfNameConverter toAnsi, ProcessEntry* entry)
{
    char16_t name[kMaxNameUnits + 1];
    size_t units = 0;
    bool fits = true;
    for (;; ++units) {
        char16_t unit;
        if (!reader.U16(offset + 2 * units, &unit))
            return false;
        if (unit == 0)
            break;
        if (units < kMaxNameUnits)
            name[units] = unit;
        else
            fits = false;
    }
    name[fits ? units : kMaxNameUnits] = 0;

    char converted[sizeof entry->exeName];
    if (!fits || !toAnsi(name, converted, sizeof converted)) {
        std::strcpy(entry->exeName, "unknown");
        return true;
    }
    converted[sizeof converted - 1] = '\0';
    const size_t length = std::strlen(converted);
    // Room for ".exe" and the terminator; a longer name is left empty.
    if (length + 5 <= sizeof entry->exeName) {
        std::memcpy(entry->exeName, converted, length);
        std::memcpy(entry->exeName + length, ".exe", 5);
    } else {
        entry->exeName[0] = '\0';
    }
    return true;
}

}  // namespace

PerfTitleIndexes FindPerfTitleIndexes(const char* list, size_t size)
{
    PerfTitleIndexes found;
    const char* previous = nullptr;
    size_t previousLength = 0;
    size_t at = 0;
    while (at < size) {
        const void* end = std::memchr(list + at, '\0', size - at);
        if (!end)
            break;  // an unterminated tail is not a name
        const char* text = list + at;
        const size_t length = static_cast<const char*>(end) - text;
        if (length == 0)
            break;
        if (previous && EqualsIgnoringCase(text, "process"))
            found.processObject = TrailingNumber(previous, previousLength);
        else if (previous && EqualsIgnoringCase(text, "ID Process"))
            found.processId = TrailingNumber(previous, previousLength);
        previous = text;
        previousLength = length;
        at += length + 1;
    }
    return found;
}

size_t ParsePerfProcesses(const uint8_t* data, size_t size, uint32_t processIdCounter, PerfNameConverter toAnsi,
                          ProcessEntry* table, size_t capacity)
{
    static const uint8_t kSignature[8] = {'P', 0, 'E', 0, 'R', 0, 'F', 0};
    if (!data || size < sizeof kSignature || std::memcmp(data, kSignature, sizeof kSignature) != 0 || capacity == 0)
        return 0;
    const CBoundedReader reader(data, size);

    uint32_t value = 0;
    size_t object = 0;
    if (!reader.U32(kBlockHeaderLength, &value) || !reader.Advance(0, value, &object))
        return 0;

    // Where each instance's counter block holds the process id.
    uint32_t headerLength = 0, numCounters = 0;
    if (!reader.U32(object + kObjectHeaderLength, &headerLength) ||
        !reader.U32(object + kObjectNumCounters, &numCounters))
        return 0;
    size_t counter = 0;
    if (!reader.Advance(object, headerLength, &counter))
        return 0;
    bool haveIdCounter = false;
    uint32_t idOffset = 0;
    for (uint32_t i = 0; i < numCounters && !haveIdCounter; ++i, counter += kCounterSize) {
        uint32_t titleIndex = 0;
        if (!reader.U32(counter + kCounterTitleIndex, &titleIndex) || !reader.U32(counter + kCounterOffset, &idOffset))
            return 0;
        haveIdCounter = titleIndex == processIdCounter;
    }
    if (!haveIdCounter)
        return 0;

    uint32_t instances = 0, definitionLength = 0;
    if (!reader.U32(object + kObjectNumInstances, &instances) ||
        !reader.U32(object + kObjectDefinitionLength, &definitionLength))
        return 0;
    // Negative counts (no instances) read as huge here and are cut below.
    size_t n = capacity - 1;
    if (static_cast<int32_t>(instances) < 0)
        n = 0;
    else if (instances < n)
        n = instances;

    size_t instance = 0;
    if (!reader.Advance(object, definitionLength, &instance))
        return 0;
    for (size_t i = 0; i < n; ++i) {
        uint32_t byteLength = 0, nameOffset = 0, blockLength = 0, pid = 0;
        size_t name = 0, block = 0, id = 0;
        if (!reader.U32(instance, &byteLength) || !reader.U32(instance + kInstanceNameOffset, &nameOffset) ||
            !reader.Advance(instance, nameOffset, &name) || !reader.Advance(instance, byteLength, &block) ||
            !reader.U32(block, &blockLength) || !reader.Advance(block, idOffset, &id) || !reader.U32(id, &pid) ||
            !ReadInstanceName(reader, name, toAnsi, &table[i]))
            return i;
        table[i].processId = pid ? pid : 0xFFFFFFFE;
        if (!reader.Advance(block, blockLength, &instance))
            return i + 1;
    }
    return n;
}
