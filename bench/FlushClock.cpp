#include "FlushClock.h"

#include <atomic>
#include <chrono>
#include <dlfcn.h>

namespace {

std::atomic<std::int64_t> g_calls{0};
std::atomic<std::int64_t> g_nanoseconds{0};

using SyncFunction = int (*)(int);

int timedSync(const char* name, int fd)
{
    // The C library's own function, found behind this one.
    static thread_local SyncFunction functions[2] = {nullptr, nullptr};
    const bool data = name[1] == 'd'; // "fdatasync"
    SyncFunction& real = functions[data ? 1 : 0];
    if (real == nullptr)
        real = reinterpret_cast<SyncFunction>(::dlsym(RTLD_NEXT, name));
    const auto start = std::chrono::steady_clock::now();
    const int result = real(fd);
    const auto spent = std::chrono::steady_clock::now() - start;
    g_calls.fetch_add(1, std::memory_order_relaxed);
    g_nanoseconds.fetch_add(std::chrono::duration_cast<std::chrono::nanoseconds>(spent).count(),
                            std::memory_order_relaxed);
    return result;
}

} // namespace

extern "C" int fsync(int fd)
{
    return timedSync("fsync", fd);
}

extern "C" int fdatasync(int fd)
{
    return timedSync("fdatasync", fd);
}

namespace movik::bench {

FlushTotals flushTotals()
{
    return {g_calls.load(), g_nanoseconds.load()};
}

} // namespace movik::bench
