#pragma once
// The CSV export: every conversation with its costs, tokens, models,
// subagents and the user's names, notes and tags, as one comma-separated
// UTF-8 file for a spreadsheet. No widgets here: the screen passes in the
// dialog that picks the file and shows what went wrong.

#include <QString>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/Clock.h"
#include "engine/SessionRow.h"

namespace vorel {

class MetadataStore;

namespace CSVExport {

// The whole file: the header line of the column names, then one line per
// row ordered by start time, earliest first (equal start times keep their
// order in `rows`). Every cell is quoted, every line ends with "\n". A
// cell of free text (names, notes, projects, tags, models, subagents) that
// begins with =, +, -, @, a tab or a carriage return gets a leading
// apostrophe, so a spreadsheet shows it as text instead of running it.
// The file is always UTF-8: bytes of a cell that are not (from a file or
// folder name) are written as U+FFFD.
std::string build(const std::vector<SessionRow>& rows, const MetadataStore& meta);

// The columns as the Export screen's description lists them, in its order:
// the words for each column or group of columns named together (the
// conversation's id is not named).
std::vector<std::string_view> describedColumns();

// `text` on one line: every run of white space and line breaks becomes one
// space, none at either end. When that is longer than `max` user-perceived
// characters (grapheme clusters), it is cut to its first `max` - 1 and "…"
// is appended, so it is exactly `max` long.
std::string clean(std::string_view text, size_t max);

// An instant as the internet date-time in UTC, whole seconds:
// 2025-01-02T03:04:05Z.
std::string isoDate(TimePoint t);

// "vorel-" + the local date of `now` as yyyy-MM-dd + ".csv": Gregorian
// calendar and ASCII digits whatever the user's locale.
QString proposedFileName(TimePoint now);

struct SaveResult {
    enum class Status { cancelled, written, failed };
    Status status = Status::cancelled;
    QString path;    // the file chosen, unless cancelled
    QString reason;  // why it was not written, when failed
};

// Writes `text` to `path` atomically: into a temporary file beside it that
// then replaces the target once every byte is written and on the disk, so a
// failed write (a full disk, say) leaves any earlier file as it was and
// gives the system's reason.
SaveResult write(const QString& path, const std::string& text);

// Asks for a file name (`proposedName` offered; an empty answer cancels)
// and writes the file there. The text is built before the question, so it
// is the rows and annotations of the moment the export was asked for.
using FileChooser = std::function<QString(const QString& proposedName)>;
SaveResult save(const std::vector<SessionRow>& rows, const MetadataStore& meta, const FileChooser& choose);

// The message that tells the user a file was not written, and why.
QString failureMessage(const SaveResult& result);

}  // namespace CSVExport
}  // namespace vorel
