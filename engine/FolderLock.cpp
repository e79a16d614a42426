#include "engine/FolderLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace vorel {

FolderLock::FolderLock(const std::string& folder, std::chrono::milliseconds wait) {
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    // Polled rather than waited for in the kernel, so a holder that never
    // lets go (a process stopped in the middle of a save) costs at most `wait`.
    const auto giveUpAt = std::chrono::steady_clock::now() + wait;
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            fd_ = fd;
            return;
        }
        if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= giveUpAt) break;
        ::usleep(1000);
    }
    ::close(fd);
}

FolderLock::~FolderLock() {
    if (fd_ >= 0) ::close(fd_);  // the only descriptor: closing it lets the lock go
}

}  // namespace vorel
