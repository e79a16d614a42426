#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <memory>
#include <thread>
#include <vector>

#include "engine/TranscriptReading.h"
#include "tests/TestSupport.h"

using namespace vorel;
using namespace vorel::Transcript;
using namespace std::chrono;
using namespace vorel::test;

namespace {

std::vector<std::string> linesOf(const TranscriptText& t) {
    std::vector<std::string> out;
    t.forEachLine([&](std::string_view l) { out.emplace_back(l); });
    return out;
}

// What a TranscriptLineReader gives from `offset` on, checking that
// completeEnd() never goes back and no line follows an unfinished one.
struct ReaderResult {
    std::vector<std::string> lines;
    bool accepted = false, unfinished = false;
    std::int64_t end = 0;  // completeEnd() at the end
};
ReaderResult readerLines(const std::string& path, std::int64_t offset) {
    TranscriptLineReader reader(path, offset);
    ReaderResult r;
    r.end = offset;
    while (auto line = reader.next()) {
        r.lines.emplace_back(*line);
        EXPECT_GE(reader.completeEnd(), r.end);
        r.end = reader.completeEnd();
        if ((r.unfinished = reader.lastWasUnfinished())) {
            EXPECT_FALSE(reader.next()) << "a line after the unfinished piece";
            break;
        }
    }
    r.accepted = reader.accepted();
    return r;
}

// One line parsed the way the parsers do, from a padded transcript text.
struct ParsedLine {
    TranscriptText text;
    JsonLineParser parser;
    std::optional<simdjson::dom::object> obj;

    explicit ParsedLine(std::string line) : text(textOf(std::move(line))) {
        text.forEachLine([&](std::string_view l) { obj = parser.parse(l); });
    }
    std::int64_t count(std::string_view key) const { return intValue(field(*obj, key)); }
};

}  // namespace

TEST(TranscriptReading, IntValueReadsCountsAndZeroesEverythingElse) {
    ParsedLine l(R"({"int":12,"frac":12.9,"neg":-3.7,"str":"12","null":null,"bool":true,"obj":{"a":1},)"
                 R"("arr":[5],"huge":1e30,"u64":9223372036854775808,"max":9223372036854775807,)"
                 R"("min":-9223372036854775808,"exp":1.5e3,"dup":1,"dup":2})");
    ASSERT_TRUE(l.obj);
    const std::pair<const char*, std::int64_t> counts[] = {
        {"int", 12}, {"frac", 12}, {"neg", -3}, {"max", INT64_MAX}, {"min", INT64_MIN}, {"exp", 1500},
        {"dup", 2},  // a repeated key counts by its last value
    };
    for (const auto& [key, n] : counts) EXPECT_EQ(l.count(key), n) << key;
    for (const char* zero : {"str", "null", "absent", "bool", "obj", "arr", "huge", "u64"}) EXPECT_EQ(l.count(zero), 0);

    // A byte-order mark before a line's object is passed over.
    EXPECT_EQ(ParsedLine("\xEF\xBB\xBF{\"n\":3}").count("n"), 3);

    // Only whole JSON objects count; the size fallback rescues no broken line.
    for (const std::string& bad : {std::string("[1,2]"), std::string("42"), std::string("{\"a\":"),
                                   std::string("{\"a\":1}}"), std::string("{\"a\":123456789012345678901234567890,"),
                                   std::string("[123456789012345678901234567890]"),
                                   "{\"a\":0" + std::string(400, '0') + "1e-330}"})
        EXPECT_FALSE(ParsedLine(bad).obj) << bad;
}

TEST(TranscriptReading, OversizedNumbersReadAlikeInAnyLocale) {
    // Numbers the JSON library rejects for their size read as 0 and the rest
    // of the line is kept. Too large for a double: 1e308 with its sign, so a
    // count reads 0. Too small: left for the JSON library, which reads it as 0.
    // Also: a leading 9, a long mantissa with a negative exponent, a long
    // negative decimal without one; an ordinary fraction beside them stays.
    const std::string line =
        R"({"in":1.5e400,"one":1e400,"neg":-2.5E+400,"frac":0.00001e405,"tiny":1e-400,"zero":0e999,)"
        R"("far":1e99999999999999999999,"big":123456789012345678901234567890,"n":7,"x":12.5,"nine":9.5e400,)"
        R"("s":"x\"123456789012345678901234567890\\","c":-9223372036854775809,"d":18446744073709551616,)"
        R"("long":1)" + std::string(400, '0') + R"(e-5,"longneg":-)" + std::string(400, '7') + ".5}";
    auto check = [&] {
        ParsedLine l(line);
        ASSERT_TRUE(l.obj);
        for (const char* zero : {"in", "one", "neg", "frac", "tiny", "zero", "far", "big", "c", "d", "nine", "long", "longneg"})
            EXPECT_EQ(l.count(zero), 0) << zero;
        EXPECT_EQ(l.count("n"), 7);
        EXPECT_EQ(l.count("x"), 12);
        EXPECT_EQ(*stringValue(field(*l.obj, "s")), "x\"123456789012345678901234567890\\");
        const std::pair<const char*, double> values[] = {
            {"in", 1e308}, {"one", 1e308},   {"neg", -1e308},  {"frac", 1e308},     {"tiny", 0},   {"zero", 0},
            {"far", 1e308}, {"nine", 1e308}, {"long", 1e308}, {"longneg", -1e308}, {"x", 12.5}};
        for (const auto& [key, v] : values) EXPECT_EQ(field(*l.obj, key)->get_double().value(), v) << key;
    };
    check();
    // The desktop's locale may use a comma as the decimal mark.
    test::CommaLocale comma;
    if (!comma.active()) GTEST_SKIP() << "no comma-decimal C library locale could be installed or compiled";
    check();
}

TEST(TranscriptReading, DatesNeedAFullDateTimeWithZone) {
    EXPECT_EQ(parseDate("2026-07-05T10:20:30Z"), utc(2026, 7, 5, 10, 20, 30));
    EXPECT_EQ(parseDate("2026-07-05T00:10:00.5-03:30"), utc(2026, 7, 5, 3, 40) + milliseconds{500});
    EXPECT_EQ(parseDate("2026-07-05T10:20:30.123456Z"), utc(2026, 7, 5, 10, 20, 30) + milliseconds{123});
    EXPECT_EQ(parseDate("2024-02-29T23:59:59Z"), utc(2024, 2, 29, 23, 59, 59));
    // The largest offsets either way, two digits of a fraction, the first year.
    EXPECT_EQ(parseDate("2026-07-05T23:59:59+23:59"), utc(2026, 7, 5, 0, 0, 59));
    EXPECT_EQ(parseDate("2026-07-05T10:20:30.12-23:59"), utc(2026, 7, 6, 10, 19, 30) + milliseconds{120});
    EXPECT_EQ(parseDate("0001-01-01T00:00:00Z"), utc(1, 1, 1));
    // Every digit may stand in a fraction.
    EXPECT_EQ(parseDate("2026-07-05T10:20:30.090Z"), utc(2026, 7, 5, 10, 20, 30) + milliseconds{90});
    EXPECT_EQ(parseDate("2026-07-05T10:20:30.9+00:00"), utc(2026, 7, 5, 10, 20, 30) + milliseconds{900});
    // One wrong character anywhere in the date and time.
    for (const char* bad : {"2a26-07-05T10:20:30Z", "2026x07-05T10:20:30Z", "2026-0a-05T10:20:30Z",
                            "2026-07x05T10:20:30Z", "2026-07-0aT10:20:30Z", "2026-07-05T1a:20:30Z",
                            "2026-07-05T10x20:30Z", "2026-07-05T10:2a:30Z", "2026-07-05T10:20x30Z",
                            "2026-07-05T10:20:3aZ", "2026-07-05T10:20:30x"})
        EXPECT_FALSE(parseDate(bad)) << bad;
    for (const char* bad : {"", "2026-07-05", "2026-07-05T10:20:30", "2026-07-05 10:20:30Z", "2026-02-30T10:20:30Z",
                            "2026-07-05T24:00:00Z", "2026-07-05T10:60:00Z", "2026-07-05T10:20:60Z",
                            "2026-07-05T10:20:30+24:00", "2026-07-05T10:20:30-00:60", "2026-07-05T10:20:30+01:0", "2026-07-05T10:20:30+01x00",
                            "2026-07-05T10:20:30+0a:00", "2026-07-05T10:20:30+01:0x", "2026-07-05T10:20:30+01",
                            "2026-07-05T10:20:30.Z", "2026-07-05T10:20:30Zjunk", "2026-07-05T10:20:30.5",
                            "2026-07-05T10:20:30+0200", "0000-01-01T00:00:00Z", "2026-7-05T10:20:30Z"})
        EXPECT_FALSE(parseDate(bad)) << bad;
}

TEST(TranscriptReading, ParserGivesBackOnlyBuffersGrownForLongLines) {
    const size_t kept = JsonLineParser::kKeptLineBytes;
    auto parse = [](JsonLineParser& parser, const std::string& line) {
        TranscriptText text = textOf(line);
        bool parsed = false;
        text.forEachLine([&](std::string_view l) { parsed = parser.parse(l).has_value(); });
        EXPECT_TRUE(parsed);
    };
    // A number too large for the JSON library makes the parser keep a
    // rewritten copy of the line too.
    JsonLineParser parser;
    parse(parser, "{\"n\":1e400}");
    const size_t small = parser.bufferBytes();
    EXPECT_LT(small, kept);
    parser.trim();
    EXPECT_EQ(parser.bufferBytes(), small);

    parse(parser, "{\"n\":1e400,\"s\":\"" + std::string(3 * kept, 'x') + "\"}");
    EXPECT_GT(parser.bufferBytes(), 6 * kept);
    parser.trim();
    EXPECT_EQ(parser.bufferBytes(), kept);
}

TEST(TranscriptReading, TextRulesForBytesAndLines) {
    // CRLF and LF lines read alike; blank lines and lone CRs are dropped; a
    // valid unterminated last line is kept.
    EXPECT_EQ(linesOf(textOf("{\"a\":1}\r\n\r\n{\"b\":2}\n\n\r\n{\"c\":3}")),
              (std::vector<std::string>{"{\"a\":1}", "{\"b\":2}", "{\"c\":3}"}));
    EXPECT_TRUE(linesOf(textOf("\n\n")).empty());

    // An invalid byte before the last line feed rejects the whole text.
    EXPECT_FALSE(TranscriptText::fromBytes("{\"a\":1}\n{\"b\":\"\xff\"}\n{\"c\":3}\n"));
    EXPECT_FALSE(TranscriptText::fromBytes("{\"a\":1}\n{\"b\":\"\xc3\"}\n"));
    // A character cut off after the last line feed (a file read mid-write)
    // drops only that unfinished piece.
    auto cut = TranscriptText::fromBytes("{\"a\":\"\xe2\x82\xac\"}\n{\"b\":\"\xe2\x82");
    ASSERT_TRUE(cut);
    EXPECT_EQ(linesOf(*cut), (std::vector<std::string>{"{\"a\":\"\xe2\x82\xac\"}"}));
    EXPECT_EQ(cut->text(), "{\"a\":\"\xe2\x82\xac\"}\n");
    // With no line feed at all, everything is that unfinished piece.
    for (const char* unfinished : {"", "\xff", "{\"a\":\"\xe2\x82"}) {
        auto t = TranscriptText::fromBytes(unfinished);
        ASSERT_TRUE(t) << unfinished;
        EXPECT_EQ(t->text(), "") << unfinished;
    }
}

TEST(TranscriptReading, ReadsOnlyRegularFilesAndNeverBlocks) {
    TempDir dir;
    auto text = readTranscriptFile(dir.write("s.jsonl", "{\"a\":1}\n"));
    EXPECT_EQ(text ? text->text() : "", "{\"a\":1}\n");
    auto empty = readTranscriptFile(dir.write("empty.jsonl", ""));
    EXPECT_TRUE(empty && empty->text().empty());
    // A file whose size the system gives as 0 is still read to its end.
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    const std::string cmdline{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_FALSE(cmdline.empty());
    auto proc = readTranscriptFile("/proc/self/cmdline");
    EXPECT_EQ(proc ? proc->text() : "", cmdline);
    // And a large one, where the buffer grows many times over.
    std::ifstream symbols("/proc/kallsyms", std::ios::binary);
    const std::string large{std::istreambuf_iterator<char>(symbols), std::istreambuf_iterator<char>()};
    if (large.size() > 1024 * 1024) {
        auto read = readTranscriptFile("/proc/kallsyms");
        EXPECT_EQ(read ? read->text().size() : 0, large.size());
    }
    EXPECT_FALSE(readTranscriptFile(dir.file("missing.jsonl")));
    std::filesystem::create_directories(dir.path() / "folder.jsonl");
    EXPECT_FALSE(readTranscriptFile(dir.file("folder.jsonl")));
    EXPECT_FALSE(readTranscriptFile("/dev/null"));
    // The line reader, which follows growing files, refuses them too.
    for (const std::string& notAFile : {dir.file("folder.jsonl"), std::string("/dev/null")})
        EXPECT_FALSE(readerLines(notAFile, 0).accepted) << notAFile;

    // A FIFO without a writer would block a plain open or read forever.
    std::string fifo = dir.file("pipe.jsonl");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto done = std::make_shared<std::promise<bool>>();
    auto result = done->get_future();
    std::thread([done, fifo] { done->set_value(readTranscriptFile(fifo).has_value()); }).detach();
    ASSERT_EQ(result.wait_for(seconds{5}), std::future_status::ready) << "reading a FIFO blocked";
    EXPECT_FALSE(result.get());
}

TEST(TranscriptReading, ClosesEveryFileItOpensEvenAsDescriptorZero) {
    // A process started with standard input closed hands descriptor 0 to the
    // next file opened; it must be closed like any other.
    TempDir dir;
    std::string file = dir.write("s.jsonl", "{\"a\":1}\n");
    std::filesystem::create_directories(dir.path() / "folder.jsonl");
    int savedInput = ::dup(0);
    ASSERT_GE(savedInput, 0);
    auto zeroIsOpen = [] { return ::fcntl(0, F_GETFD) != -1; };
    auto openedAsZero = [&](const std::function<void()>& use) {
        ::close(0);
        use();
        bool leaked = zeroIsOpen();
        if (leaked) ::close(0);
        return !leaked;
    };
    EXPECT_TRUE(openedAsZero([&] { TranscriptLineReader unread(file); }));
    EXPECT_TRUE(openedAsZero([&] {
        TranscriptLineReader reader(file);
        int lines = 0;
        while (reader.next()) ++lines;
        EXPECT_TRUE(reader.accepted());
        EXPECT_EQ(lines, 1);
    }));
    EXPECT_TRUE(openedAsZero([&] { TranscriptLineReader folder(dir.file("folder.jsonl")); }));
    EXPECT_TRUE(openedAsZero([&] { EXPECT_TRUE(readTranscriptFile(file)); }));
    ASSERT_EQ(::dup2(savedInput, 0), 0);
    ::close(savedInput);
    // Nor does a reader close descriptor 0 when it belongs to someone else.
    {
        TranscriptLineReader toTheEnd(file);
        while (toTheEnd.next()) {
        }
        TranscriptLineReader folder(dir.file("folder.jsonl"));
    }
    EXPECT_TRUE(zeroIsOpen());
}

TEST(TranscriptReading, LineReaderGivesTheLinesOfTheWholeTextPieceByPiece) {
    TempDir dir;
    constexpr size_t kPiece = 256 * 1024;
    // Lines of many lengths, so that lines and two-byte characters cross the
    // piece boundaries; one line is longer than two pieces; CRLF and blank lines.
    std::mt19937 rng(5);
    std::string bytes;
    size_t beforeLong = 0, afterLong = 0;
    for (int i = 0; bytes.size() < 4 * kPiece; ++i) {
        if (i == 30) beforeLong = bytes.size();
        std::string body = i == 30 ? std::string(2 * kPiece + 7, 'x') : std::string(rng() % 12000, 'x');
        for (size_t k = 0; k + 1 < body.size(); k += 97) body.replace(k, 2, "\xc3\xa9");
        bytes += "{\"n\":" + std::to_string(i) + ",\"s\":\"" + body + (i % 4 ? "\"}\n" : "\"}\r\n\n");
        if (i == 30) afterLong = bytes.size();
    }
    std::string path = dir.write("a.jsonl", bytes);
    ReaderResult whole = readerLines(path, 0);
    EXPECT_EQ(whole.lines, linesOf(textOf(bytes)));
    EXPECT_TRUE(whole.accepted);
    EXPECT_EQ(whole.end, static_cast<std::int64_t>(bytes.size()));
    // From a line start on: the lines from there, and the end counted in
    // the file's offsets.
    EXPECT_EQ(readerLines(path, static_cast<std::int64_t>(afterLong)).lines, linesOf(textOf(bytes.substr(afterLong))));
    // Starting with the long line, the buffer grows several times over before
    // its line feed shows.
    EXPECT_EQ(readerLines(path, static_cast<std::int64_t>(beforeLong)).lines,
              linesOf(textOf(bytes.substr(beforeLong))));
    EXPECT_FALSE(readerLines(path, static_cast<std::int64_t>(bytes.size()) + 1).accepted);
    const ReaderResult atEnd = readerLines(path, static_cast<std::int64_t>(bytes.size()));
    EXPECT_TRUE(atEnd.accepted && atEnd.lines.empty());

    // The unfinished piece is the last line, and the end stays at the last
    // line feed; with an invalid byte it is dropped.
    const std::int64_t size = static_cast<std::int64_t>(bytes.size());
    for (const std::string& tail : {std::string("{\"tail\":1}"), "{\"s\":\"\xff" + std::string(kPiece, 'y')}) {
        std::string tailed = dir.write("t.jsonl", bytes + tail);
        for (std::int64_t from : {std::int64_t{0}, size}) {
            ReaderResult r = readerLines(tailed, from);
            EXPECT_TRUE(r.accepted);
            EXPECT_EQ(r.end, size);
            EXPECT_EQ(r.lines, linesOf(textOf((bytes + tail).substr(static_cast<size_t>(from)))));
            EXPECT_EQ(r.unfinished, tail.size() < 20);
        }
    }

    // Memory: a small file is read into its own size and a byte, also from
    // an offset; short lines keep to one piece however long the file.
    auto bufferAfterReading = [](const std::string& file, std::int64_t from) {
        TranscriptLineReader reader(file, from);
        while (reader.next()) {
        }
        EXPECT_TRUE(reader.accepted());
        return reader.bufferBytes();
    };
    EXPECT_EQ(bufferAfterReading(dir.write("small.jsonl", "{\"a\":1}\n{\"b\":2}\n"), 0), 17u);
    EXPECT_EQ(bufferAfterReading(dir.file("small.jsonl"), 8), 9u);
    EXPECT_EQ(bufferAfterReading(path, static_cast<std::int64_t>(afterLong)), kPiece);

    // An invalid byte early in a finished line that spans pieces rejects the file.
    std::string bad = bytes.substr(0, afterLong) + "{\"s\":\"\xff" + std::string(kPiece + 3, 'z') + "\"}\n" +
                      bytes.substr(afterLong);
    EXPECT_FALSE(readerLines(dir.write("bad.jsonl", bad), 0).accepted);
    EXPECT_FALSE(forEachFileLine(dir.file("bad.jsonl"), [](std::string_view) {}));
}
