#pragma once
// An exclusive lock on a folder, held while the object lives, that keeps out
// other processes taking the same lock: what makes a read, merge and write
// of a file in that folder one step for every process that takes it first.
// A folder needs no write access to be locked, so the lock holds where no
// lock file can be made (a read-only folder, a lock file owned by another
// user). Waits up to `wait` for a holder to let go; after that, or where the
// folder cannot be locked at all, nothing is held (held() is false) and the
// caller goes ahead without it rather than not at all.

#include <chrono>
#include <string>

namespace vorel {

class FolderLock {
public:
    explicit FolderLock(const std::string& folder, std::chrono::milliseconds wait = std::chrono::seconds(2));
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace vorel
