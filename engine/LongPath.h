#pragma once
// Opening and looking at a file by its path when the path may be longer
// than the system's path limit (PATH_MAX), as in a folder tree thousands of
// levels deep, which the folder walk lists. The kernel refuses such a path
// whole (ENAMETOOLONG), so it is taken a part at a time: each part, shorter
// than the limit, is opened relative to the folder the part before it
// reached. A path within the limit is used whole, as before.

#include <sys/stat.h>

#include <string>

namespace vorel {

// As open(2) with `flags`: a descriptor, or -1 with errno set.
int openLongPath(const std::string& path, int flags);

// As stat(2), following links: 0, or -1 with errno set.
int statLongPath(const std::string& path, struct stat* st);

}  // namespace vorel
