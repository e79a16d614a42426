#include "engine/TranscriptReading.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <random>

#include "engine/LongPath.h"
#include "engine/Saturating.h"

namespace vorel::Transcript {

namespace dom = simdjson::dom;

std::optional<TranscriptText> TranscriptText::fromBytes(std::string bytes) {
    size_t usable = bytes.size();
    size_t lastNewline = bytes.rfind('\n');
    size_t headEnd = lastNewline == std::string::npos ? 0 : lastNewline + 1;
    if (!simdjson::validate_utf8(bytes.data(), headEnd)) return std::nullopt;
    if (!simdjson::validate_utf8(bytes.data() + headEnd, bytes.size() - headEnd)) usable = headEnd;

    TranscriptText t;
    t.size_ = usable;
    t.buffer_ = std::move(bytes);
    t.buffer_.resize(t.buffer_.size() + simdjson::SIMDJSON_PADDING, '\0');
    return t;
}

std::optional<TranscriptText> readTranscriptFile(const std::string& path) {
    int fd = openLongPath(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    std::string bytes;
    // Room for the padding too, so that adding it moves nothing. The file
    // may grow while it is read; read to its end, whatever that is.
    bytes.reserve(static_cast<size_t>(st.st_size) + 1 + simdjson::SIMDJSON_PADDING);
    bytes.resize(static_cast<size_t>(st.st_size) + 1);
    size_t have = 0;
    for (;;) {
        if (have == bytes.size()) bytes.resize(bytes.size() * 2 + 4096);
        ssize_t n = ::read(fd, bytes.data() + have, bytes.size() - have);
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        have += static_cast<size_t>(n);
    }
    ::close(fd);
    bytes.resize(have);
    return TranscriptText::fromBytes(std::move(bytes));
}

namespace {

// Bytes asked of the file at a time: enough that system calls do not count,
// few enough that a piece is still in the core's cache while it is checked,
// split and parsed.
constexpr size_t kPieceBytes = 256 * 1024;

}  // namespace

TranscriptLineReader::TranscriptLineReader(const std::string& path, std::int64_t offset)
    : base_(offset), completeEnd_(offset) {
    fd_ = openLongPath(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd_ < 0) {
        fail();
        return;
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        fail();
        return;
    }
    if (offset > st.st_size || ::lseek(fd_, offset, SEEK_SET) != offset) {
        fail();
        return;
    }
    // A small file fits in one piece with a byte to spare, so its end shows
    // without the buffer having to grow.
    capacity_ = std::min(static_cast<size_t>(st.st_size - offset) + 1, kPieceBytes);
    buffer_.reset(new char[capacity_ + simdjson::SIMDJSON_PADDING]);
}

TranscriptLineReader::~TranscriptLineReader() {
    if (fd_ >= 0) ::close(fd_);
}

void TranscriptLineReader::fail() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    done_ = failed_ = true;
    buffer_.reset();
    capacity_ = filled_ = complete_ = pos_ = 0;
}

std::optional<std::string_view> TranscriptLineReader::next() {
    for (;;) {
        while (pos_ < complete_) {
            const char* start = buffer_.get() + pos_;
            size_t left = complete_ - pos_;
            const char* nl = static_cast<const char*>(std::memchr(start, '\n', left));
            size_t length = nl ? static_cast<size_t>(nl - start) : left;
            pos_ += nl ? length + 1 : length;
            if (nl) completeEnd_ = base_ + static_cast<std::int64_t>(pos_);
            lastUnfinished_ = !nl;
            std::string_view line(start, length);
            if (line.ends_with('\r')) line.remove_suffix(1);
            if (!line.empty()) return line;
        }
        if (done_) return std::nullopt;
        fill();
    }
}

// Reads until the buffer holds at least one more whole, checked line, or the
// file ends, or the reading fails (which ends it too). The unfinished line is
// kept, moved to the front; the UTF-8 rule is checked from its start up to
// the last line feed read, so every byte is checked once and the pieces
// between line feeds add up to the whole rule.
void TranscriptLineReader::fill() {
    if (pos_ > 0) {
        std::memmove(buffer_.get(), buffer_.get() + pos_, filled_ - pos_);
        filled_ -= pos_;
        base_ += static_cast<std::int64_t>(pos_);
        pos_ = complete_ = 0;
    }
    for (;;) {
        if (filled_ == capacity_) {
            // A line longer than the buffer.
            size_t grown = std::max(capacity_ * 2, kPieceBytes);
            std::unique_ptr<char[]> bigger(new char[grown + simdjson::SIMDJSON_PADDING]);
            std::memcpy(bigger.get(), buffer_.get(), filled_);
            buffer_ = std::move(bigger);
            capacity_ = grown;
        }
        char* buf = buffer_.get();
        ssize_t n = ::read(fd_, buf + filled_, capacity_ - filled_);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail();
            return;
        }
        if (n == 0) {
            // What follows the last line feed is one more line when it is
            // valid UTF-8, and is dropped when not: a file caught in the
            // middle of a write.
            ::close(fd_);
            fd_ = -1;
            done_ = true;
            if (hash_ && whole_) {
                *whole_ = *hash_;
                whole_->add({buf, filled_});
            }
            if (!simdjson::validate_utf8(buf, filled_)) filled_ = 0;
            complete_ = filled_;
            std::memset(buf + filled_, 0, simdjson::SIMDJSON_PADDING);
            return;
        }
        size_t start = filled_;
        filled_ += static_cast<size_t>(n);
        const char* last = static_cast<const char*>(::memrchr(buf + start, '\n', static_cast<size_t>(n)));
        if (!last) continue;
        size_t end = static_cast<size_t>(last - buf) + 1;
        if (!simdjson::validate_utf8(buf, end)) {
            fail();
            return;
        }
        if (hash_) hash_->add({buf, end});
        complete_ = end;
        std::memset(buf + filled_, 0, simdjson::SIMDJSON_PADDING);
        return;
    }
}

namespace {

// Whether a number outside the double's range lies beyond its largest
// value rather than below its smallest: the power of ten of its first
// significant digit, plus its exponent, is positive.
bool beyondLargest(std::string_view number) {
    long long exponent = 0;
    const size_t e = number.find_first_of("eE");
    if (e != std::string_view::npos) {
        std::string_view digits = number.substr(e + 1);
        if (digits.starts_with('+')) digits.remove_prefix(1);
        auto res = std::from_chars(digits.data(), digits.data() + digits.size(), exponent);
        // An exponent past 64 bits decides on its own.
        if (res.ec == std::errc::result_out_of_range) return !digits.starts_with('-');
        number = number.substr(0, e);
    }
    const size_t point = std::min(number.find('.'), number.size());
    const size_t first = number.find_first_of("123456789");
    if (first == std::string_view::npos) return false;  // zero
    const long long power = first < point ? static_cast<long long>(point - first - 1)
                                          : -static_cast<long long>(first - point);
    return exponent > -power;
}

// The line with every number that the JSON library rejects for its size
// rewritten: an integer past the 64-bit range, and a double past its range,
// become 1e308 with their sign. That is outside the 64-bit range, so a count
// there still reads as 0. (The integer's own digits as a double would not
// do: -9223372036854775809 rounds to -2^63, which is in range.) The numbers
// are read with from_chars, which takes a point as the decimal mark in
// every locale; strtod would stop at it under a comma locale.
std::string relaxNumbers(std::string_view line) {
    std::string out;
    out.reserve(line.size() + 16);
    bool inString = false;
    for (size_t i = 0; i < line.size();) {
        char c = line[i];
        if (inString) {
            out.push_back(c);
            if (c == '\\' && i + 1 < line.size()) {
                out.push_back(line[i + 1]);
                i += 2;
                continue;
            }
            if (c == '"') inString = false;
            ++i;
            continue;
        }
        if (c == '"') {
            inString = true;
            out.push_back(c);
            ++i;
            continue;
        }
        if (c != '-' && (c < '0' || c > '9')) {
            out.push_back(c);
            ++i;
            continue;
        }
        size_t j = i + 1;
        bool integral = true;
        while (j < line.size()) {
            char d = line[j];
            if (d >= '0' && d <= '9') {
            } else if (d == '.' || d == 'e' || d == 'E' || d == '+' || d == '-') {
                integral = false;
            } else {
                break;
            }
            ++j;
        }
        std::string_view token = line.substr(i, j - i);
        const char* first = token.data();
        const char* last = first + token.size();
        bool tooLarge;
        if (integral && token[0] == '-') {
            long long v;
            tooLarge = std::from_chars(first, last, v).ec == std::errc::result_out_of_range;
        } else if (integral) {
            unsigned long long v;
            tooLarge = std::from_chars(first, last, v).ec == std::errc::result_out_of_range;
        } else {
            double v;
            tooLarge = std::from_chars(first, last, v).ec == std::errc::result_out_of_range && beyondLargest(token);
        }
        if (tooLarge) token = token[0] == '-' ? "-1e308" : "1e308";
        out += token;
        i = j;
    }
    return out;
}

}  // namespace

std::optional<dom::object> JsonLineParser::parse(std::string_view line) {
    // A line may begin with a UTF-8 byte-order mark (an editor's, at the top
    // of a file); JSON readers accept it, and so does this one.
    if (line.starts_with("\xEF\xBB\xBF")) line.remove_prefix(3);
    dom::element root;
    auto error = parser_.parse(line.data(), line.size(), false).get(root);
    if (error == simdjson::NUMBER_ERROR) {
        relaxed_ = simdjson::padded_string(relaxNumbers(line));
        error = parser_.parse(relaxed_).get(root);
    }
    if (error) return std::nullopt;
    dom::object obj;
    if (root.get_object().get(obj)) return std::nullopt;
    return obj;
}

void JsonLineParser::trim() {
    if (parser_.capacity() > kKeptLineBytes) {
        // On failure the parser allocates again for its next line.
        [[maybe_unused]] simdjson::error_code e = parser_.allocate(kKeptLineBytes);
    }
    if (relaxed_.size() > kKeptLineBytes) relaxed_ = simdjson::padded_string();
}

JsonValue field(dom::object obj, std::string_view key) {
    JsonValue found;
    for (dom::key_value_pair kv : obj) {
        if (kv.key == key) found = kv.value;
    }
    return found;
}

namespace {

bool digits(std::string_view s, size_t pos, size_t count, int& out) {
    if (pos + count > s.size()) return false;
    out = 0;
    for (size_t i = pos; i < pos + count; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        out = out * 10 + (s[i] - '0');
    }
    return true;
}

}  // namespace

std::optional<TimePoint> parseDate(std::string_view s) {
    using namespace std::chrono;
    // YYYY-MM-DDTHH:MM:SS
    int y, mo, d, h, mi, sec;
    if (s.size() < 20) return std::nullopt;
    if (!digits(s, 0, 4, y) || s[4] != '-' || !digits(s, 5, 2, mo) || s[7] != '-' || !digits(s, 8, 2, d) ||
        s[10] != 'T' || !digits(s, 11, 2, h) || s[13] != ':' || !digits(s, 14, 2, mi) || s[16] != ':' ||
        !digits(s, 17, 2, sec)) {
        return std::nullopt;
    }
    if (h > 23 || mi > 59 || sec > 59) return std::nullopt;
    year_month_day ymd{year{y}, month{static_cast<unsigned>(mo)}, day{static_cast<unsigned>(d)}};
    if (y < 1 || !ymd.ok()) return std::nullopt;

    size_t pos = 19;
    long long millis = 0;
    if (s[pos] == '.') {
        size_t start = ++pos;
        while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
            if (pos - start < 3) millis = millis * 10 + (s[pos] - '0');
            ++pos;
        }
        if (pos == start) return std::nullopt;
        for (size_t n = pos - start; n < 3; ++n) millis *= 10;
    }
    if (pos >= s.size()) return std::nullopt;
    int offsetMinutes = 0;
    if (s[pos] == 'Z') {
        ++pos;
    } else if (s[pos] == '+' || s[pos] == '-') {
        int oh, om;
        // The minutes' digits are checked before the colon: they prove the
        // colon is inside the text.
        if (!digits(s, pos + 1, 2, oh) || !digits(s, pos + 4, 2, om) || s[pos + 3] != ':') return std::nullopt;
        if (oh > 23 || om > 59) return std::nullopt;
        offsetMinutes = oh * 60 + om;
        if (s[pos] == '-') offsetMinutes = -offsetMinutes;
        pos += 6;
    } else {
        return std::nullopt;
    }
    if (pos != s.size()) return std::nullopt;
    auto t = sys_days{ymd} + hours{h} + minutes{mi} + seconds{sec} + milliseconds{millis} - minutes{offsetMinutes};
    return time_point_cast<milliseconds>(t);
}

std::int64_t intValue(dom::element v) {
    switch (v.type()) {
        case dom::element_type::INT64: return v.get_int64().value_unsafe();
        case dom::element_type::DOUBLE: return truncatedOrZero(v.get_double().value_unsafe());
        // The parser holds every integer in the signed range as INT64, so an
        // unsigned one is past it and reads as 0 like any other type.
        default: return 0;
    }
}

TokenCounts claudeUsageCounts(dom::object usage) {
    // One pass over the usage object; a repeated key counts by its last
    // value, as field() would read it.
    JsonValue in, out, read, split, total;
    for (dom::key_value_pair kv : usage) {
        std::string_view k = kv.key;
        if (k == "input_tokens") in = kv.value;
        else if (k == "output_tokens") out = kv.value;
        else if (k == "cache_read_input_tokens") read = kv.value;
        else if (k == "cache_creation") split = kv.value;
        else if (k == "cache_creation_input_tokens") total = kv.value;
    }
    TokenCounts n;
    n.input = intValue(in);
    n.output = intValue(out);
    n.cacheRead = intValue(read);
    if (auto byLifetime = objectValue(split)) {
        n.cacheWrite5m = intValue(field(*byLifetime, "ephemeral_5m_input_tokens"));
        n.cacheWrite1h = intValue(field(*byLifetime, "ephemeral_1h_input_tokens"));
    } else {
        n.cacheWrite5m = intValue(total);
    }
    return n;
}

CodexCallUsage codexCallUsage(dom::object lastTokenUsage) {
    CodexCallUsage u;
    u.input = intValue(field(lastTokenUsage, "input_tokens"));
    const std::int64_t cached = std::min(intValue(field(lastTokenUsage, "cached_input_tokens")), u.input);
    // cached <= input, so the difference is never below 0.
    u.billed.input = satSub(u.input, cached);
    u.billed.cacheRead = cached;
    u.billed.output = intValue(field(lastTokenUsage, "output_tokens"));
    return u;
}

std::string randomUUID() {
    thread_local std::mt19937_64 rng{std::random_device{}()};
    std::uint64_t hi = rng(), lo = rng();
    hi = (hi & 0xFFFFFFFFFFFF0FFFULL) | 0x0000000000004000ULL;  // version 4
    lo = (lo & 0x3FFFFFFFFFFFFFFFULL) | 0x8000000000000000ULL;  // variant 1
    char buf[37];
    std::snprintf(buf, sizeof buf, "%08X-%04X-%04X-%04X-%012llX", static_cast<unsigned>(hi >> 32),
                  static_cast<unsigned>((hi >> 16) & 0xFFFF), static_cast<unsigned>(hi & 0xFFFF),
                  static_cast<unsigned>(lo >> 48), static_cast<unsigned long long>(lo & 0xFFFFFFFFFFFFULL));
    return buf;
}

std::string codexTotalsKey(dom::object totals) {
    static constexpr std::string_view kNames[] = {"input_tokens", "cached_input_tokens", "output_tokens",
                                                  "reasoning_output_tokens", "total_tokens"};
    std::string key;
    key.reserve(128);
    for (std::string_view name : kNames) {
        if (!key.empty()) key += ';';
        key += name;
        key += '=';
        char buf[24];
        auto res = std::to_chars(buf, buf + sizeof buf, intValue(field(totals, name)));
        key.append(buf, res.ptr);
    }
    return key;
}

}  // namespace vorel::Transcript
