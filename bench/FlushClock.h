// Time this process spends flushing files to disk (fsync and fdatasync),
// as SQLite does at every commit. The program linking this must export its
// symbols (ENABLE_EXPORTS), so that the SQLite library, loaded later by the
// Qt driver, calls these instead of the C library's.
#pragma once

#include <cstdint>
#include <string>

namespace movik::bench {

struct FlushTotals
{
    std::int64_t calls = 0;
    std::int64_t nanoseconds = 0;
};

FlushTotals flushTotals();

// From the call on, flushes are also counted by the file they flush, so
// that one writer's flushes can be told from another's. A directory's flush
// counts for the file flushed last before it on the same thread: both SQLite
// and the program flush a directory only right after a file they created in
// it. Looking up the file's name costs a few microseconds per flush.
void countFlushesByFile();
// Flushes of the files whose full names contain namePart, since
// countFlushesByFile.
FlushTotals flushTotalsOf(const std::string& namePart);

} // namespace movik::bench
