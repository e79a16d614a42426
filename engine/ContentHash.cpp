#include "engine/ContentHash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "engine/LongPath.h"

namespace vorel {

ContentHash::ContentHash() { XXH3_64bits_reset(&state_); }

void ContentHash::add(std::string_view bytes) {
    XXH3_64bits_update(&state_, bytes.data(), bytes.size());
    length_ += static_cast<std::int64_t>(bytes.size());
}

std::uint64_t ContentHash::digest() const { return XXH3_64bits_digest(&state_); }

std::optional<ContentHash> ContentHash::ofFilePrefix(const std::string& path, std::int64_t length) {
    int fd = openLongPath(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < length) {
        ::close(fd);
        return std::nullopt;
    }
    // Pieces small enough to stay in the core's cache between the read and
    // the hash.
    constexpr size_t kPiece = 256 * 1024;
    const size_t bufferSize = static_cast<size_t>(std::min<std::int64_t>(length, kPiece));
    std::unique_ptr<char[]> buffer(new char[std::max<size_t>(bufferSize, 1)]);
    ContentHash hash;
    while (hash.length_ < length) {
        const size_t want = static_cast<size_t>(std::min<std::int64_t>(length - hash.length_, kPiece));
        ssize_t n = ::read(fd, buffer.get(), want);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        hash.add({buffer.get(), static_cast<size_t>(n)});
    }
    ::close(fd);
    if (hash.length_ != length) return std::nullopt;
    return hash;
}

}  // namespace vorel
