// A slow disk for benchmarks: preloaded into a program (LD_PRELOAD), it makes
// every fsync, fdatasync and msync(MS_SYNC) take ZP_FSYNC_MS milliseconds
// longer, as a laptop's SSD, a hard disk, a USB stick or a network share
// does, while the data still goes to this machine's disk. Without ZP_FSYNC_MS, or with 0, the
// calls are passed on unchanged.
//
//   LD_PRELOAD=build/bench/libslow_disk.so ZP_FSYNC_MS=10 build/bench/bench_crawl ...

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

long addedMilliseconds()
{
    static const long added = [] {
        const char* text = std::getenv("ZP_FSYNC_MS");
        return text ? std::max(0L, std::strtol(text, nullptr, 10)) : 0L;
    }();
    return added;
}

void waitAddedTime()
{
    const long ms = addedMilliseconds();
    timespec left { ms / 1000, (ms % 1000) * 1'000'000 };
    while (ms > 0 && nanosleep(&left, &left) != 0 && errno == EINTR) { }
}

template <typename Function> Function real(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" {

int fsync(int fd)
{
    static const auto next = real<int (*)(int)>("fsync");
    waitAddedTime();
    return next(fd);
}

int fdatasync(int fd)
{
    static const auto next = real<int (*)(int)>("fdatasync");
    waitAddedTime();
    return next(fd);
}

int msync(void* address, size_t length, int flags)
{
    static const auto next = real<int (*)(void*, size_t, int)>("msync");
    if (flags & MS_SYNC) // MS_ASYNC does not wait for the disk
        waitAddedTime();
    return next(address, length, flags);
}

} // extern "C"
