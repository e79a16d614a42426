#pragma once
// A running 64-bit hash (XXH3) of a file's bytes from its first one on: kept
// with a parse that is to be continued, it tells whether the bytes already
// read are still the same before the parse goes on after them.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#ifndef XXH_STATIC_LINKING_ONLY
#define XXH_STATIC_LINKING_ONLY  // the state's layout, so it can be a member
#endif
#include <xxhash.h>

namespace vorel {

class ContentHash {
public:
    // The hash of no bytes.
    ContentHash();

    // Adds the bytes that follow the ones added so far.
    void add(std::string_view bytes);
    std::uint64_t digest() const;
    std::int64_t length() const { return length_; }

    // The hash of the first `length` bytes of the regular file at `path`;
    // nothing when the file is shorter or they cannot all be read.
    static std::optional<ContentHash> ofFilePrefix(const std::string& path, std::int64_t length);

private:
    XXH3_state_t state_;
    std::int64_t length_{};
};

}  // namespace vorel
