// Reading the process list out of the system's performance data.
//
// Pure functions over byte buffers, so that every offset they follow is
// checked against the buffer they were given: a truncated or lying block
// yields the entries read up to the fault, never a read outside the buffer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "terminator/ProcessEntry.h"

// Title indexes of the "Counters" list that the process enumeration needs.
struct PerfTitleIndexes {
    uint32_t processObject = 0;  // "process"; 0 when the list has none
    uint32_t processId = 0;  // "ID Process"; 0 when the list has none
};

// Walks the "Counters" list: NUL-terminated strings, pairs of a decimal title
// index and a name, ended by an empty string. Names are compared ignoring
// case; the last match wins.
PerfTitleIndexes FindPerfTitleIndexes(const char* list, size_t size);

// Converts a NUL-terminated UTF-16 name to the ANSI code page into out, which
// holds outSize bytes with the terminator; false when it does not convert.
using PerfNameConverter = bool (*)(const char16_t* name, char* out, size_t outSize);

// Reads the instances of the first object of a performance data block: the
// name of each (with ".exe" appended) and the value of the processIdCounter
// counter as its id (0 becomes 0xFFFFFFFE). At most capacity - 1 entries.
size_t ParsePerfProcesses(const uint8_t* data, size_t size, uint32_t processIdCounter, PerfNameConverter toAnsi,
                          ProcessEntry* table, size_t capacity);
