#include "engine/LongPath.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace vorel {

namespace {

void closeKeepingErrno(int fd) {
    const int err = errno;
    ::close(fd);
    errno = err;
}

// The folder that holds the path's last part, reached a part at a time, and
// in `last` what is left of the path inside it: -1 with errno set when a
// folder on the way cannot be opened, or a part has no slash to cut at.
int folderHolding(const std::string& path, std::string& last) {
    int folder = AT_FDCWD;
    size_t from = 0;
    while (path.size() - from >= PATH_MAX) {
        // The longest part that ends at a slash and is within the limit.
        // A part starts at a name, so a cut at its very start (the "/" of a
        // path from the root, when no other is near) leaves a name longer
        // than any can be.
        const size_t cut = path.rfind('/', from + PATH_MAX - 2);
        if (cut == std::string::npos || cut <= from) {
            if (folder != AT_FDCWD) ::close(folder);
            errno = ENAMETOOLONG;
            return -1;
        }
        const std::string part = path.substr(from, cut - from);
        const int next = ::openat(folder, part.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (folder != AT_FDCWD) closeKeepingErrno(folder);
        if (next < 0) return -1;
        folder = next;
        // The next part starts after every slash of a doubled one: led by
        // one, it would be taken from the root.
        from = std::min(path.find_first_not_of('/', cut), path.size());
    }
    last = path.substr(from);
    return folder;
}

}  // namespace

int openLongPath(const std::string& path, int flags) {
    if (path.size() < PATH_MAX) return ::open(path.c_str(), flags);
    std::string last;
    const int folder = folderHolding(path, last);
    if (folder < 0) return -1;
    const int fd = ::openat(folder, last.c_str(), flags);
    closeKeepingErrno(folder);
    return fd;
}

int statLongPath(const std::string& path, struct stat* st) {
    if (path.size() < PATH_MAX) return ::stat(path.c_str(), st);
    std::string last;
    const int folder = folderHolding(path, last);
    if (folder < 0) return -1;
    const int result = ::fstatat(folder, last.c_str(), st, 0);
    closeKeepingErrno(folder);
    return result;
}

}  // namespace vorel
