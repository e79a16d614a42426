#pragma once
// A file's times are set from a clock that moves in ticks: a few
// milliseconds on most Linux file systems, a whole second or two on others
// (FAT keeps even seconds). Two changes within one tick leave the file's
// times as the first one set them, and a program may set the modification
// time back besides. So a file read less than a tick after its last change
// may change again without its times (or its size) showing it: it is
// "racily clean", and its content must be checked again on a later look,
// once its times lie a whole tick before the moment of looking.

#include <algorithm>
#include <cstdint>

namespace vorel::FileTimes {

// Longer than any file system's tick, with room for the file system's
// clock to run a little behind the system's.
inline constexpr std::int64_t kTickNs = 3'000'000'000;

// The system's wall clock, in nanoseconds since the epoch, as file times
// are kept.
std::int64_t nowNs();

// Whether a file last modified at `mtimeNs` with its status last changed at
// `ctimeNs` (both nanoseconds since the epoch) may still change unseen after
// it was read, or its content checked, at `readNs`.
inline bool mayChangeUnseen(std::int64_t mtimeNs, std::int64_t ctimeNs, std::int64_t readNs) {
    return std::max(mtimeNs, ctimeNs) > readNs - kTickNs;
}

}  // namespace vorel::FileTimes
