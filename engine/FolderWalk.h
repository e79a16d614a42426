#pragma once
// Lists the transcript files of a folder tree. A walk reads each folder's
// entries with the getdents call and looks at each entry with fstatat,
// relative to an open folder, several subtrees at once on worker threads.
//
// What it keeps: for every root listed, the entries of each folder it read
// (subfolders, *.jsonl files and entries of unknown type), known by the
// folder's device and inode, with the folder's size and modification and
// status-change times then. It is shared by every listing of the process.
// A folder whose times and size are unchanged is not read again (a change
// of its entries changes them); its files are still looked at every time,
// since a file can change without its folder changing. A folder changed
// within the last few seconds is not kept, since another change within the
// same tick of the file system's clock would not show in its times. Folders
// no longer found are dropped when a listing of their root ends.

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace vorel {

// A listed transcript file with what the listing read of it. An unreadable
// time is kUnknownMtime, an unreadable size 0.
struct TranscriptFile {
    static constexpr std::int64_t kUnknownMtime = std::numeric_limits<std::int64_t>::min();

    std::string path;
    std::int64_t mtimeNs = kUnknownMtime;  // nanoseconds since the epoch
    std::int64_t size{};
    std::uint64_t inode{};
    // The status-change time, in nanoseconds since the epoch: unlike the
    // modification time, no program can set it back, so a file rewritten
    // and given its old modification time still shows as changed.
    std::int64_t ctimeNs{};
};

// Every regular *.jsonl file below `root`, at any depth, also where a path
// is longer than the system's path limit. Hidden items are neither listed
// nor entered, folder links are not followed, and a folder that cannot be
// read is passed over without ending the listing. Entries of a folder come
// in name order. An empty root lists nothing.
std::vector<TranscriptFile> listTranscripts(const std::string& root);

// How a listing opens a folder relative to one it has open (a subfolder, or
// ".." on the way back up): as openat(2) does. Tests put in one of their
// own, to change the tree at a chosen step of a walk; null puts openat back.
using FolderOpener = int (*)(int folder, const char* path, int flags);
void setFolderOpener(FolderOpener opener);

}  // namespace vorel
