// Arbitrary bytes as a Claude Code and as a Codex transcript, through the
// conversation detail reader: must never crash, leak or trip a sanitizer;
// every detail keeps its own invariants; the kept reading of a file that
// grew equals a reading of the whole file; and a value's text cut to what
// clean needs cleans like the whole text.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>

#include "detail/ConversationDetailCache.h"
#include "detail/ConversationDetailParser.h"

using namespace vorel;
namespace P = vorel::ConversationDetailParser;

namespace {

// The file the inputs are written to, removed at exit.
struct ScratchFile {
    std::string path;
    ScratchFile() {
        char name[] = "/tmp/vorel-detail-fuzz-XXXXXX";
        int fd = ::mkstemp(name);
        if (fd < 0) std::abort();
        ::close(fd);
        path = name;
    }
    ~ScratchFile() { ::unlink(path.c_str()); }
};

const std::string& scratchFile() {
    static const ScratchFile file;
    return file.path;
}

void write(const std::string& path, const std::string& bytes, std::ios::openmode mode) {
    std::ofstream(path, std::ios::binary | mode) << bytes;
}

void check(const ConversationDetail& d) {
    TimePoint previous = kDistantPast;
    for (size_t i = 0; i < d.events.size(); ++i) {
        const ConversationEvent& e = d.events[i];
        if (e.id != static_cast<int>(i)) std::abort();
        TimePoint t = e.timestamp.value_or(kDistantPast);
        if (t < previous) std::abort();
        previous = t;
        bool priced = e.cost && *e.cost > 0;
        if (priced != (e.turnIndex > 0)) std::abort();
        if (e.cost && e.kind != ConversationEventKind::token) std::abort();
    }
    if (d.stats != P::recomputedStats(d.events, d.stats.compactions)) std::abort();
}

// Keys made up for responses without one differ from reading to reading;
// only where they point must agree.
ConversationDetail withoutMadeUpKeys(ConversationDetail d) {
    std::vector<int> positions;
    for (const auto& [key, position] : d.claudeCostEventIndex) positions.push_back(position);
    std::sort(positions.begin(), positions.end());
    d.claudeCostEventIndex.clear();
    for (size_t i = 0; i < positions.size(); ++i) d.claudeCostEventIndex.emplace(std::to_string(i), positions[i]);
    return d;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string& path = scratchFile();
    for (SourceKind source : {SourceKind::claudeCode, SourceKind::codex}) {
        ConversationDetailCache cache;
        write(path, bytes.substr(0, size / 2), std::ios::trunc);
        check(*cache.detail({path}, source));
        write(path, bytes.substr(size / 2), std::ios::app);
        auto kept = cache.detail({path}, source);
        ConversationDetail whole = P::parse({path}, source);
        check(whole);
        if (!(withoutMadeUpKeys(*kept) == withoutMadeUpKeys(whole))) std::abort();
    }

    simdjson::dom::parser parser;
    simdjson::dom::element value;
    if (!parser.parse(bytes).get(value)) {
        const std::string all = P::stringValue(value);
        for (int max : {1, 7, 300}) {
            if (P::clean(P::stringValue(value, max), max) != P::clean(all, max)) std::abort();
        }
    }
    return 0;
}
