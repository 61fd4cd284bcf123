// One running process as the process enumerators report it.
#pragma once

#include <cstddef>
#include <cstdint>

struct ProcessEntry {
    uint32_t processId;
    // File name without directory, NUL-terminated, ANSI code page.
    char exeName[260];
};

// Fills at most capacity entries of table; returns how many.
using ProcessEnumerator = size_t (*)(ProcessEntry* table, size_t capacity);
