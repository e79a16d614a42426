#pragma once
// metadata.json on disk: one JSON object mapping row ids to annotation
// records, decoded strictly, encoded pretty-printed with sorted keys and
// replaced atomically.

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

enum class ReadStatus {
    Missing,     // no file at the path
    Unreadable,  // something is there but could not be read or decoded
    Loaded,
};

struct ReadResult {
    ReadStatus status = ReadStatus::Missing;
    Records records;  // empty unless Loaded
};

// Reads and decodes the file. Only a regular file is read; a FIFO or device
// at the path is never opened in a way that could block.
ReadResult read(const std::string& path);

// Replaces the file with `bytes`: writes a hidden temporary file in the same
// folder (see removeStaleTemporaries), flushes it to disk and renames it
// over the old file, so a reader sees either the old or the new content.
// The new file keeps the permission bits of the one it replaces; a file
// made where there was none is readable and writable by its owner only.
// The temporary file is removed on failure. True when the new content is in
// place; otherwise `error`, when given, receives the system's reason.
bool writeAtomically(const std::string& path, std::string_view bytes, std::string* error = nullptr);

// Moves the file at `path` to "<path>.unreadable-<UTC time of now>" (for
// example metadata.json.unreadable-20261206T211500Z), or, when that name is
// taken, to the same name with "-2" ... "-10" appended; an existing file is
// never replaced. True when the file was moved (`movedTo`, when given,
// receives the new file name, without its folder), or when there is no
// longer a file at `path` and so nothing to keep. Otherwise `error`, when
// given, receives the system's reason.
bool setAside(const std::string& path, TimePoint now, std::string* movedTo = nullptr, std::string* error = nullptr);

// Removes the temporary files writeAtomically leaves behind when the process
// is killed mid-write: regular files in the folder of `path` named "." and
// the file's name, a dot and six letters or digits. Only safe while no other
// process can be writing the file. Returns how many were removed.
int removeStaleTemporaries(const std::string& path);

}  // namespace vorel::MetadataFile
