#include "reports/CSVExport.h"

#include <unicode/utf8.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

#include "engine/DecimalText.h"
#include "engine/MetadataStore.h"
#include "engine/TextRules.h"
#include "shell/Formatting.h"

namespace vorel::CSVExport {

namespace {

constexpr std::string_view kEllipsis = "\u2026";

std::string fourDecimals(double v) { return fixedDecimal(v, 4); }

std::string integer(long long v) {
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, res.ptr);
}

// A spreadsheet runs a cell that begins with one of these as a formula (or
// a DDE call). Free text from transcripts and users that begins with one
// gets a leading apostrophe, which spreadsheets show as plain text.
std::string guarded(std::string cell) {
    if (!cell.empty()) {
        switch (cell.front()) {
            case '=':
            case '+':
            case '-':
            case '@':
            case '\t':
            case '\r': cell.insert(cell.begin(), '\''); break;
            default: break;
        }
    }
    return cell;
}

// Ids and projects come from file and folder names, which may hold bytes
// that are not UTF-8; they are written as U+FFFD so that the file decodes.
void appendQuoted(std::string& line, std::string_view cell) {
    line += '"';
    for (char c : text::validUtf8(cell)) {
        if (c == '"') line += '"';
        line += c;
    }
    line += '"';
}

std::string joined(const std::vector<std::string>& parts, std::string_view separator) {
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i) out += separator;
        out += parts[i];
    }
    return out;
}

// The text with every run of white space and line breaks made one space,
// and none at either end.
std::string collapsedWhitespace(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const auto* p = reinterpret_cast<const uint8_t*>(text.data());
    const auto n = static_cast<int32_t>(text.size());
    bool pendingSpace = false;
    for (int32_t i = 0; i < n;) {
        const int32_t start = i;
        UChar32 c;
        U8_NEXT(p, i, n, c);
        // A malformed byte is not white space; it is kept here and
        // replaced when the cell is written.
        if (c >= 0 && text::isWhitespaceOrNewline(static_cast<char32_t>(c))) {
            pendingSpace = !out.empty();
            continue;
        }
        if (pendingSpace) out += ' ';
        pendingSpace = false;
        out.append(text.substr(static_cast<size_t>(start), static_cast<size_t>(i - start)));
    }
    return out;
}

}  // namespace

std::string clean(std::string_view text, size_t max) {
    std::string s = collapsedWhitespace(text);
    if (s.size() <= max) return s;  // no cluster is shorter than a byte
    if (max == 0) return {};
    const std::vector<size_t> ends = vorel::text::graphemeEnds(s, max + 1);
    if (ends.size() <= max) return s;
    // The first max - 1 clusters, then the ellipsis as the max-th.
    s.resize(max == 1 ? 0 : ends[max - 2]);
    s += kEllipsis;
    return s;
}

std::string isoDate(TimePoint t) {
    using namespace std::chrono;
    const auto secs = floor<seconds>(t);
    const auto day = floor<days>(secs);
    const year_month_day ymd{day};
    const hh_mm_ss<seconds> time{secs - day};
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return buf;
}

QString proposedFileName(TimePoint now) {
    // QDate counts in the Gregorian calendar; the digits are formatted
    // here rather than by the locale, which may use other digits.
    const QDate d = QDateTime::fromMSecsSinceEpoch(now.time_since_epoch().count(), Qt::LocalTime).date();
    return QString::asprintf("vorel-%04d-%02d-%02d.csv", d.year(), d.month(), d.day());
}

namespace {

// A cell of free text (names, notes, projects, tags, models, subagents):
// cleaned to `max` characters, then guarded. The guard comes after
// cleaning, like the quoting: a cell at its limit may carry one character
// more, the apostrophe.
std::string freeText(std::string_view text, size_t max) { return guarded(clean(text, max)); }

std::string subagentCost(const SessionRow& row) {
    double sum = 0;
    for (const SubagentRow& s : row.subagents) sum += s.total;
    return fourDecimals(sum);
}

std::string subagentList(const SessionRow& row) {
    std::vector<std::string> parts;
    for (const SubagentRow& s : row.subagents) parts.push_back(s.name + ":" + fourDecimals(s.total));
    return joined(parts, "; ");
}

std::string modelList(const SessionRow& row) {
    std::vector<std::string> parts;
    for (const ModelLine& m : row.models) parts.push_back(m.name + ":" + fourDecimals(m.cost));
    return joined(parts, "; ");
}

// One column of the file: its header, its cell for a row, and how the
// Export screen's description names it: the place in that list and the
// words there. Columns named together share a place, and the first of them
// carries the words; place 0 is a column the description leaves out.
struct Column {
    std::string_view header;
    std::string (*cell)(const SessionRow& row, const MetadataStore& meta);
    int place = 0;
    std::string_view words = {};
};

using Row = const SessionRow&;
using Meta = const MetadataStore&;

// The columns, in the file's order.
constexpr Column kColumns[] = {
    {"session_id", [](Row r, Meta) { return r.id; }},
    {"source", [](Row r, Meta) { return r.source; }, 1, "source"},
    {"name", [](Row r, Meta m) { return freeText(m.topic(r.id, r.title), 120); }, 2, "name"},
    {"subtitle", [](Row r, Meta m) { return freeText(m.subtitle(r.id, r.title), 300); }, 3, "subtitle"},
    {"project", [](Row r, Meta) { return freeText(r.project, 80); }, 5, "project"},
    {"tags", [](Row r, Meta m) { return freeText(joined(m.tags(r.id), "; "), 200); }, 4, "tags"},
    {"start_time", [](Row r, Meta) { return isoDate(r.startTime); }, 6, "start and last-active time"},
    {"last_active", [](Row r, Meta) { return isoDate(r.lastActivity); }, 6},
    {"total_cost_usd", [](Row r, Meta) { return fourDecimals(r.total); }, 7,
     "costs (today, total, and the subagent share)"},
    {"today_cost_usd", [](Row r, Meta) { return fourDecimals(r.today); }, 7},
    {"total_tokens", [](Row r, Meta) { return integer(r.tokens); }, 8, "token count"},
    {"primary_model", [](Row r, Meta) { return freeText(r.primaryModel(), 60); }, 9, "primary model"},
    {"estimated_pricing", [](Row r, Meta) { return std::string(r.hasEstimated() ? "true" : "false"); }, 10,
     "whether any pricing was estimated"},
    {"subagent_count", [](Row r, Meta) { return integer(r.subagentCount()); }, 11,
     "the per-model and per-subagent breakdowns"},
    {"subagent_cost_usd", [](Row r, Meta) { return subagentCost(r); }, 7},
    {"subagents", [](Row r, Meta) { return freeText(subagentList(r), 500); }, 11},
    {"models", [](Row r, Meta) { return freeText(modelList(r), 400); }, 11},
};

// The description names every column but the first, the id, and names
// each place once.
constexpr bool everyColumnNamedOnce() {
    for (const Column& c : kColumns) {
        if ((c.place == 0) != (&c == &kColumns[0])) return false;
        int named = 0;
        for (const Column& d : kColumns) {
            if (d.place == c.place && !d.words.empty()) ++named;
        }
        if (named != (c.place == 0 ? 0 : 1)) return false;
    }
    return true;
}
static_assert(everyColumnNamedOnce(), "a column the Export screen's description does not name, or names twice");

}  // namespace

std::vector<std::string_view> describedColumns() {
    std::vector<const Column*> named;
    for (const Column& c : kColumns) {
        if (!c.words.empty()) named.push_back(&c);
    }
    std::stable_sort(named.begin(), named.end(), [](const Column* a, const Column* b) { return a->place < b->place; });
    std::vector<std::string_view> words;
    for (const Column* c : named) words.push_back(c->words);
    return words;
}

std::string build(const std::vector<SessionRow>& rows, const MetadataStore& meta) {
    std::vector<const SessionRow*> ordered;
    ordered.reserve(rows.size());
    for (const SessionRow& r : rows) ordered.push_back(&r);
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const SessionRow* a, const SessionRow* b) { return a->startTime < b->startTime; });

    std::string out;
    for (const Column& c : kColumns) {
        if (&c != kColumns) out += ',';
        appendQuoted(out, c.header);
    }
    out += '\n';

    for (const SessionRow* row : ordered) {
        for (const Column& c : kColumns) {
            if (&c != kColumns) out += ',';
            appendQuoted(out, c.cell(*row, meta));
        }
        out += '\n';
    }
    return out;
}

SaveResult write(const QString& path, const std::string& text) {
    SaveResult result{SaveResult::Status::failed, path, {}};
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        result.reason = file.errorString();
        return result;
    }
    // Written here rather than through the QSaveFile: it says nothing of a
    // write that stopped part way (a disk that filled up), and a buffered
    // write that fails only in commit() would still put the short file in
    // place of the old one. The data must be on the disk before it replaces
    // anything: some file systems report a full disk only then.
    const int fd = file.handle();
    std::string_view rest = text;
    while (!rest.empty()) {
        const ssize_t n = ::write(fd, rest.data(), rest.size());
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = EIO;  // no progress, and no reason given
        if (n <= 0) break;
        rest.remove_prefix(static_cast<size_t>(n));
    }
    // The file replaced keeps its owner and group: one exported by root
    // over the user's file stays the user's. Where the process may not give
    // them, it stays the process's, as a new file is.
    struct stat old {};
    if (::stat(QFile::encodeName(path).constData(), &old) == 0 && S_ISREG(old.st_mode) &&
        ::fchown(fd, old.st_uid, old.st_gid) != 0) {
        // Left with the process's owner and group.
    }
    if (!rest.empty() || (::fsync(fd) != 0 && errno != EINVAL)) {
        result.reason = QString::fromLocal8Bit(std::strerror(errno));
        file.cancelWriting();  // the temporary file goes, the old one stays
        return result;
    }
    if (!file.commit()) {
        result.reason = file.errorString();
        return result;
    }
    result.status = SaveResult::Status::written;
    return result;
}

SaveResult save(const std::vector<SessionRow>& rows, const MetadataStore& meta, const FileChooser& choose) {
    const std::string text = build(rows, meta);
    const QString path = choose ? choose(proposedFileName(clock().now())) : QString();
    if (path.isEmpty()) return SaveResult{};
    return write(path, text);
}

QString failureMessage(const SaveResult& result) {
    QString reason = result.reason.trimmed();
    if (reason.isEmpty()) reason = QStringLiteral("Unknown error");
    return QStringLiteral("The conversation costs were not saved to \u201c%1\u201d.\n\n%2")
        .arg(isolated(QDir::toNativeSeparators(result.path)), reason);
}

}  // namespace vorel::CSVExport
