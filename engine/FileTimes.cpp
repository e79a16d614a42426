#include "engine/FileTimes.h"

#include <atomic>
#include <ctime>

namespace vorel::FileTimes {

namespace {

std::atomic<NowSource> nowSource{nullptr};

}  // namespace

void setNowSource(NowSource source) { nowSource.store(source); }

std::int64_t nowNs() {
    if (NowSource source = nowSource.load()) return source();
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

}  // namespace vorel::FileTimes
