// Files looked at by a path longer than the system's path limit, taken a
// part at a time.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "engine/ContentHash.h"
#include "engine/LongPath.h"
#include "tests/TestSupport.h"

using namespace vorel;
using namespace vorel::test;

namespace {

std::string readAll(int fd) {
    std::string bytes;
    char buffer[64];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) bytes.append(buffer, static_cast<size_t>(n));
    return bytes;
}

}  // namespace

TEST(LongPath, PathsOfSeveralLimitsAreTakenAPartAtATime) {
    // More than twice the limit, so it is cut more than once.
    TempDir dir;
    const std::string name(200, 'f');
    DeepFolder deep(dir.path(), 45, name);
    ASSERT_GT(deep.path().size(), size_t{2 * PATH_MAX});
    const std::string file = deep.write("deep.jsonl", "abc");
    const int descriptors = openDescriptorCount();

    const int fd = openLongPath(file, O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    EXPECT_EQ(readAll(fd), "abc");
    ::close(fd);
    struct stat st {};
    ASSERT_EQ(statLongPath(file, &st), 0);
    EXPECT_EQ(st.st_size, 3);
    auto hash = ContentHash::ofFilePrefix(file, 2);
    ASSERT_TRUE(hash.has_value());
    EXPECT_EQ(hash->length(), 2);

    // Relative to the working folder, with doubled slashes, one of them
    // just where the path is first cut: what follows it is not taken from
    // the root of the file system.
    std::string doubled = file.substr(dir.path().string().size() + 1);
    for (size_t at = doubled.find('/'); at != std::string::npos; at = doubled.find('/', at + 2)) doubled.insert(at, "/");
    std::string relative;
    for (int k = 0; k < 1000; ++k) {
        // Led by "./" steps (and one ".//"), each a different length.
        std::string lead = k % 2 ? ".//" : "";
        for (int i = 0; i < k / 2; ++i) lead += "./";
        relative = lead + doubled;
        if (relative.compare(PATH_MAX - 2, 3, "//f") == 0) break;
    }
    ASSERT_EQ(relative.compare(PATH_MAX - 2, 3, "//f"), 0);
    ASSERT_GT(relative.size(), size_t{2 * PATH_MAX});
    const fs::path before = fs::current_path();
    fs::current_path(dir.path());
    const int rfd = openLongPath(relative, O_RDONLY | O_CLOEXEC);
    const int statResult = statLongPath(relative, &st);
    fs::current_path(before);
    ASSERT_GE(rfd, 0);
    EXPECT_EQ(readAll(rfd), "abc");
    ::close(rfd);
    EXPECT_EQ(statResult, 0);

    // A path of just the limit's length is cut too.
    const std::string top = dir.path().string() + "/";
    std::string exact = top;
    while (exact.size() + name.size() + 1 < PATH_MAX - 2) exact += name + "/";
    while (exact.size() < PATH_MAX) exact.insert(top.size(), exact.size() + 1 == PATH_MAX ? "/" : "./");
    ASSERT_EQ(exact.size(), size_t{PATH_MAX});
    EXPECT_EQ(statLongPath(exact, &st), 0) << std::strerror(errno);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    const int exactFd = openLongPath(exact, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    EXPECT_GE(exactFd, 0) << std::strerror(errno);
    if (exactFd >= 0) ::close(exactFd);

    // Descriptor 0 is as good a folder as any other.
    {
        NoStandardInput none;
        const int noInputFd = openLongPath(file, O_RDONLY | O_CLOEXEC);
        EXPECT_GE(noInputFd, 0) << std::strerror(errno);
        if (noInputFd >= 0) ::close(noInputFd);
        EXPECT_EQ(statLongPath(file, &st), 0) << std::strerror(errno);
        // Cut once, the folder reached is descriptor 0 itself.
        EXPECT_EQ(statLongPath(exact, &st), 0) << std::strerror(errno);
        const int exactNoInputFd = openLongPath(exact, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        EXPECT_GE(exactNoInputFd, 0) << std::strerror(errno);
        if (exactNoInputFd >= 0) ::close(exactNoInputFd);
    }

    // A folder missing on the way.
    std::string astray = file;
    astray.replace(top.size(), name.size(), "missing");
    EXPECT_EQ(openLongPath(astray, O_RDONLY), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(statLongPath(astray, &st), -1);
    EXPECT_EQ(errno, ENOENT);
    // A name longer than the limit has nowhere to be cut, also right after
    // the "/" a path from the root starts with.
    errno = 0;
    EXPECT_EQ(openLongPath(dir.file(std::string(PATH_MAX, 'x')), O_RDONLY), -1);
    EXPECT_EQ(errno, ENAMETOOLONG);
    EXPECT_EQ(statLongPath(deep.path() + "/" + std::string(PATH_MAX, 'x'), &st), -1);
    EXPECT_EQ(errno, ENAMETOOLONG);
    EXPECT_EQ(statLongPath("/" + std::string(PATH_MAX + 100, 'x') + "/y", &st), -1);
    EXPECT_EQ(errno, ENAMETOOLONG);
    EXPECT_EQ(openDescriptorCount(), descriptors);
}
