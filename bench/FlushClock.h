// Time this process spends flushing files to disk (fsync and fdatasync),
// as SQLite does at every commit. The program linking this must export its
// symbols (ENABLE_EXPORTS), so that the SQLite library, loaded later by the
// Qt driver, calls these instead of the C library's.
#pragma once

#include <cstdint>

namespace movik::bench {

struct FlushTotals
{
    std::int64_t calls = 0;
    std::int64_t nanoseconds = 0;
};

FlushTotals flushTotals();

} // namespace movik::bench
