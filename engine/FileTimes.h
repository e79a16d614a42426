#pragma once
// A file's status-change time is set by the kernel, from the system clock,
// at every change of its content or its other times, and no program can
// set it otherwise, unlike the modification time. That clock moves in
// ticks: a few milliseconds on most Linux file systems, a whole second or
// two on others (FAT keeps even seconds). Two changes within one tick leave
// the status-change time as the first one set it. So a file read less than
// a tick after its last change may change again without any of its times
// (or its size) showing it: it is "racily clean", and its content must be
// checked again on a later look, once the change lies a whole tick before
// the moment of looking.

#include <cstdint>

namespace vorel::FileTimes {

// Longer than any file system's tick, with room for the file system's
// clock to run a little behind the system's.
inline constexpr std::int64_t kTickNs = 3'000'000'000;

// The system's wall clock, in nanoseconds since the epoch, as file times
// are kept.
std::int64_t nowNs();

// Where nowNs reads the time: the system's wall clock unless a test puts in
// a clock of its own, to step past a tick without waiting for one; null
// puts the system's back.
using NowSource = std::int64_t (*)();
void setNowSource(NowSource source);

// Whether a file whose status last changed at `ctimeNs` (nanoseconds since
// the epoch) may still change unseen after it was read, or its content
// checked, at `readNs`: the change lies within a tick of that moment. (One
// more than a tick ahead, after the clock was set back, is not: a later
// change gets an earlier time.)
inline bool mayChangeUnseen(std::int64_t ctimeNs, std::int64_t readNs) {
    return ctimeNs > readNs - kTickNs && ctimeNs < readNs + kTickNs;
}

}  // namespace vorel::FileTimes
