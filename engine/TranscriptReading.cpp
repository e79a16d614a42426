#include "TranscriptReading.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>

#include "Saturating.h"

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
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    std::string bytes;
    // The file may grow while it is read; read to its end, whatever that is.
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

// The line with every number that the JSON library rejects for its size
// rewritten: an integer past the 64-bit range becomes the same digits as a
// double, and a double past its range becomes 1e308 with its sign. Both are
// outside the 64-bit range, so a count there still reads as 0.
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
        std::string token(line.substr(i, j - i));
        errno = 0;
        if (integral) {
            if (token[0] == '-') {
                (void)std::strtoll(token.c_str(), nullptr, 10);
            } else {
                (void)std::strtoull(token.c_str(), nullptr, 10);
            }
            if (errno == ERANGE) token += ".0";
        }
        errno = 0;
        double d = std::strtod(token.c_str(), nullptr);
        if (std::isinf(d)) token = d < 0 ? "-1e308" : "1e308";
        out += token;
        i = j;
    }
    return out;
}

}  // namespace

std::optional<dom::object> JsonLineParser::parse(std::string_view line) {
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
        if (!digits(s, pos + 1, 2, oh) || pos + 3 >= s.size() || s[pos + 3] != ':' || !digits(s, pos + 4, 2, om)) {
            return std::nullopt;
        }
        if (oh > 23 || om > 59) return std::nullopt;
        offsetMinutes = (oh * 60 + om) * (s[pos] == '-' ? -1 : 1);
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
        case dom::element_type::UINT64: {
            // Only values past the signed range are held as unsigned.
            std::uint64_t u = v.get_uint64().value_unsafe();
            return u <= static_cast<std::uint64_t>(INT64_MAX) ? static_cast<std::int64_t>(u) : 0;
        }
        case dom::element_type::DOUBLE: return truncatedOrZero(v.get_double().value_unsafe());
        default: return 0;
    }
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

}  // namespace vorel::Transcript
