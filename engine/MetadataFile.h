#pragma once
// metadata.json on disk: one JSON object mapping row ids to annotation
// records, decoded strictly, encoded pretty-printed with sorted keys and
// replaced atomically.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "engine/Clock.h"
#include "engine/ConversationMeta.h"

namespace vorel::MetadataFile {

// Records by row id, in ascending byte order of the id.
using Records = std::map<std::string, ConversationMeta, std::less<>>;

// The records of a file's bytes. A leading UTF-8 byte-order mark is skipped.
// Fails as a whole when the bytes are not a JSON object of objects, when a
// record lacks "tags", when "tags" is not an array of strings, or when
// "name", "subtitle" or "suggestedName" is neither a string nor null (null
// reads as absent). Other keys are ignored; a repeated key counts by its
// last value. Nothing is trimmed and empty records are kept.
std::optional<Records> decode(std::string_view bytes);

// The file's text: two-space indentation, one member per line, keys in
// ascending byte order, absent fields left out, "tags" always written.
// Every text must be valid UTF-8; control characters, quotes and
// backslashes are escaped.
std::string encode(const Records& records);

// What tells one state of the file from another without reading it: the
// file (device and inode), its size, its modification time and its
// status-change time, which every write, rename or change of the times moves
// on and no program can set back. All zero when there is no file.
struct Version {
    bool exists{};
    std::uint64_t device{};
    std::uint64_t inode{};
    std::int64_t size{};
    std::int64_t modifiedNs{};
    std::int64_t statusChangedNs{};

    bool operator==(const Version&) const = default;

    // The version of the file at `path` (through symbolic links) now.
    static Version of(const std::string& path);

    // Whether a write could have left the file with this same version: its
    // times fall within the file system's timestamp tick of `seenAtNs` (wall
    // time taken before the version was), so a write of the same size right
    // after would carry the same times. Such a file is "racily clean": only
    // its content tells.
    bool mayHideAWriteAfter(std::int64_t seenAtNs) const;
};

// The 64-bit hash that tells one content of the file from another.
std::uint64_t hashOf(std::string_view bytes);

enum class ReadStatus {
    Missing,     // no file at the path
    Unreadable,  // something is there but could not be read or decoded
    Loaded,
};

struct ReadResult {
    ReadStatus status = ReadStatus::Missing;
    Records records;  // empty unless Loaded
    Version version;  // of the file that was read; that of no file when Missing
    std::uint64_t hash{};  // hashOf the bytes read; 0 unless they were all read
};

// Reads and decodes the file, through symbolic links. Only a regular file
// is read; a FIFO or device at the path is never opened in a way that could
// block.
ReadResult read(const std::string& path);

// Where the content of the file at `path` lives: `path`, or, when that is a
// symbolic link, the file it leads to (through every further link, even to a
// file that does not exist yet). Unchanged when the links loop or cannot be
// read.
std::string resolvedPath(const std::string& path);

// Replaces the file with `bytes`: writes a hidden temporary file beside the
// file's resolvedPath (see removeStaleTemporaries), flushes it to disk and
// renames it over that file, so a reader sees either the old or the new
// content, and a symbolic link at `path` stays and leads to the new content.
// The new file keeps the permission bits of the one it replaces, and its
// owner and group whenever the process may give them; a file made where
// there was none is readable and writable by its owner only, and belongs to
// the folder's owner and group whenever the process may give them (so a run
// as root in the user's folder leaves a file the user can read). The temporary
// file is removed on failure. True when the new content is in place;
// otherwise `error`, when given, receives the system's reason.
bool writeAtomically(const std::string& path, std::string_view bytes, std::string* error = nullptr);

// Moves the file at `path` (its resolvedPath: a symbolic link stays) to
// "<file>.unreadable-<UTC time of now>" (for example
// metadata.json.unreadable-20261206T211500Z), or, when that name is taken,
// to the same name with "-2" ... "-10" appended; an existing file is never
// replaced. True when the file was moved (`movedTo`, when given, receives the
// new file name, without its folder when that is the folder of `path`), or
// when there is no longer a file at `path` and so nothing to keep. Otherwise
// `error`, when given, receives the system's reason.
bool setAside(const std::string& path, TimePoint now, std::string* movedTo = nullptr, std::string* error = nullptr);

// Removes the temporary files writeAtomically leaves behind when the process
// is killed mid-write: regular files beside the file's resolvedPath named
// "." and the file's name, a dot and six letters or digits. Waits (as
// long as a FolderLock does) for a save of another process's to end; only
// safe while no other process writes the file otherwise. Returns how many
// were removed.
int removeStaleTemporaries(const std::string& path);

}  // namespace vorel::MetadataFile
