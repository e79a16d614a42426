#include "engine/FileTimes.h"

#include <ctime>

namespace vorel::FileTimes {

std::int64_t nowNs() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

}  // namespace vorel::FileTimes
