// The hash of a file's first bytes, as kept to tell whether a parse can go
// on where it stopped.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "engine/ContentHash.h"
#include "tests/TestSupport.h"

using namespace vorel;
using namespace vorel::test;

namespace {

std::uint64_t digestOf(const std::string& bytes) {
    ContentHash hash;
    hash.add(bytes);
    return hash.digest();
}

}  // namespace

TEST(ContentHash, PrefixOfARegularFileAtLeastThatLong) {
    // Longer than the pieces the file is read in, each byte telling where it is.
    std::string bytes;
    for (int i = 0; bytes.size() < 600 * 1024; ++i) bytes += std::to_string(i) + ",";
    TempDir dir;
    const std::string path = dir.write("t.jsonl", bytes);

    // Added at once or in pieces, the same bytes hash the same.
    ContentHash pieces;
    pieces.add(bytes.substr(0, 7));
    pieces.add(bytes.substr(7, 100));
    EXPECT_EQ(pieces.digest(), digestOf(bytes.substr(0, 107)));
    EXPECT_EQ(pieces.length(), 107);
    EXPECT_NE(pieces.digest(), digestOf(bytes.substr(0, 106)));

    for (size_t length : {size_t{0}, size_t{1}, size_t{107}, size_t{300 * 1024}, bytes.size()}) {
        auto hash = ContentHash::ofFilePrefix(path, static_cast<std::int64_t>(length));
        ASSERT_TRUE(hash.has_value()) << length;
        EXPECT_EQ(hash->length(), static_cast<std::int64_t>(length));
        EXPECT_EQ(hash->digest(), digestOf(bytes.substr(0, length))) << length;
    }
    // Nothing for a file shorter than asked, one not there, or what is not
    // a regular file, even for no bytes at all.
    EXPECT_FALSE(ContentHash::ofFilePrefix(path, static_cast<std::int64_t>(bytes.size()) + 1));
    EXPECT_FALSE(ContentHash::ofFilePrefix(dir.file("missing.jsonl"), 0));
    EXPECT_FALSE(ContentHash::ofFilePrefix(dir.path().string(), 0));
    ASSERT_EQ(::mkfifo(dir.file("fifo.jsonl").c_str(), 0600), 0);
    EXPECT_FALSE(ContentHash::ofFilePrefix(dir.file("fifo.jsonl"), 0));

    // Opened as descriptor 0, the file is read like any other.
    NoStandardInput none;
    auto opened = ContentHash::ofFilePrefix(path, 107);
    ASSERT_TRUE(opened.has_value());
    EXPECT_EQ(opened->digest(), digestOf(bytes.substr(0, 107)));
}

TEST(ContentHash, NothingForAFileThatEndsBeforeItsSizeSays) {
    // The kernel's own files give fewer bytes than their size, as a file
    // cut short while it is read does: the reading ends there.
    const std::string file = "/sys/devices/system/cpu/online";
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 100)
        GTEST_SKIP() << file << " is not here to be read";
    EXPECT_FALSE(ContentHash::ofFilePrefix(file, 100));
}
