#include "bench/CorpusGenerator.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "bench/TranscriptGenerator.h"
#include "engine/CostSource.h"
#include "engine/ParallelFor.h"

namespace vorel::bench {

namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

constexpr std::string_view kStampName = "corpus-stamp.txt";
constexpr std::string_view kStampVersion = "vorel-corpus 4";
// What the transcript generator writes, replaced by each conversation's own.
constexpr std::string_view kGeneratedCwd = "/home/USER/projects/vorel-sample";
constexpr int kGeneratedDay = 12;  // the generator's timelines start on 2026-02-12
constexpr int kDaysSpanned = 90;

constexpr std::string_view kProjectWords[] = {"billing", "atlas",  "ledger", "pipeline", "dashboard", "scheduler",
                                              "gateway", "notes",  "infra",  "search",   "mobile",    "payments",
                                              "metrics", "auth",   "docs",   "crawler"};
constexpr std::string_view kProjectKinds[] = {"api", "web", "cli", "core", "service", "app", "", "tools"};
constexpr std::string_view kNicknames[] = {"Hume", "Euclid", "Noether", "Turing", "Lovelace", "Gauss", "Hopper"};
constexpr std::string_view kRoles[] = {"explorer", "worker", "reviewer"};

enum class UnitKind { claude, claudeResumed, codex };

// One conversation and the files that belong to it.
struct Unit {
    UnitKind kind = UnitKind::claude;
    std::uint64_t seed = 0;
    double weight = 1;  // share of the byte budget
    int daysBack = 0;   // days before kLastDay
    std::size_t project = 0;
    int subagents = 0;
    bool archived = false;      // Codex: in archived_sessions
    bool nestedParent = false;  // Codex subagents: parent id under source.subagent.thread_spawn
    bool toolResults = false;   // Claude: a tool-results folder beside the subagents
    std::size_t repeats = 0;    // resumed: the unit whose file it starts with
    int repeatPercent = 100;    // resumed: how much of that file it copies

    // Filled in when written.
    std::uint64_t target = 0;
    std::string mainPath;
    std::int64_t mainMtimeMs = 0;
    std::uint64_t written = 0;
};

std::string projectName(std::size_t i) {
    std::string name(kProjectWords[i % std::size(kProjectWords)]);
    std::string_view kind = kProjectKinds[(i / std::size(kProjectWords)) % std::size(kProjectKinds)];
    if (!kind.empty()) name += "-" + std::string(kind);
    if (i >= std::size(kProjectWords) * std::size(kProjectKinds)) name += std::to_string(i);
    return name;
}

void replaceAll(std::string& s, std::string_view from, std::string_view to) {
    if (from == to) return;
    std::string out;
    out.reserve(s.size() + s.size() / 64);
    size_t pos = 0;
    while (true) {
        size_t at = s.find(from, pos);
        if (at == std::string::npos) break;
        out.append(s, pos, at - pos);
        out.append(to);
        pos = at + from.size();
    }
    out.append(s, pos, std::string::npos);
    s = std::move(out);
}

std::string dateText(sys_days d) {
    year_month_day ymd{d};
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u", static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                  static_cast<unsigned>(ymd.day()));
    return buf;
}

// Moves every timestamp of a generated transcript (written on 2026-02-12
// and the days after) to the same time of day, `daysBack` days before
// kLastDay. Dates keep their length, so this is done in place.
void shiftDays(std::string& s, int daysBack) {
    const sys_days base = kLastDay - days{daysBack};
    std::string cache[8];
    size_t pos = 0;
    while ((pos = s.find("\"2026-02-", pos)) != std::string::npos) {
        size_t d = pos + 9;
        if (d + 2 < s.size() && std::isdigit(static_cast<unsigned char>(s[d])) &&
            std::isdigit(static_cast<unsigned char>(s[d + 1])) && s[d + 2] == 'T') {
            int day = (s[d] - '0') * 10 + (s[d + 1] - '0');
            int offset = day - kGeneratedDay;
            std::string text;
            if (offset >= 0 && offset < 8) {
                if (cache[offset].empty()) cache[offset] = dateText(base + days{offset});
                text = cache[offset];
            } else {
                text = dateText(base + days{offset});
            }
            s.replace(pos + 1, 10, text);
        }
        pos = d;
    }
}

// "YYYY-MM-DDTHH:MM:SS.mmmZ" as milliseconds since the epoch; 0 when it
// does not read.
std::int64_t timestampMs(std::string_view t) {
    int y, mo, d, h, mi, s, ms;
    std::string text(t.substr(0, 24));
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3dZ", &y, &mo, &d, &h, &mi, &s, &ms) != 7) return 0;
    sys_days day{year{y} / month{static_cast<unsigned>(mo)} / static_cast<unsigned>(d)};
    auto t0 = day + hours{h} + minutes{mi} + seconds{s} + milliseconds{ms};
    return duration_cast<milliseconds>(t0.time_since_epoch()).count();
}

// The value of the first `"key":"value"` at or after `from`.
std::string stringAfter(const std::string& s, std::string_view key, size_t from = 0) {
    std::string needle = "\"" + std::string(key) + "\":\"";
    size_t at = s.find(needle, from);
    if (at == std::string::npos) return {};
    at += needle.size();
    size_t end = s.find('"', at);
    return s.substr(at, end - at);
}

std::int64_t lastTimestampMs(const std::string& s) {
    constexpr std::string_view kNeedle = "\"timestamp\":\"";
    size_t at = s.rfind(kNeedle);
    if (at == std::string::npos) return 0;
    return timestampMs(std::string_view(s).substr(at + kNeedle.size()));
}

bool writeWithMtime(const std::string& path, const std::string& bytes, std::int64_t mtimeMs) {
    if (!writeFile(path, bytes)) return false;
    timespec times[2];
    times[0].tv_sec = static_cast<time_t>(mtimeMs / 1000);
    times[0].tv_nsec = static_cast<long>(mtimeMs % 1000) * 1000000L;
    times[1] = times[0];
    return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

std::string readWhole(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

// The first `percent` of `s`, cut after a whole line.
std::string linesPrefix(const std::string& s, int percent) {
    if (percent >= 100) return s;
    size_t cut = s.size() * static_cast<size_t>(percent) / 100;
    size_t nl = s.find('\n', cut);
    return nl == std::string::npos ? s : s.substr(0, nl + 1);
}

class Writer {
public:
    Writer(const std::string& folder, const std::vector<std::string>& projects)
        : claudeRoot_(folder + "/claude/projects"),
          codexRoot_(folder + "/codex/sessions"),
          archivedRoot_(folder + "/codex/archived_sessions"),
          projects_(projects) {}

    void write(Unit& u, std::vector<Unit>& all) {
        switch (u.kind) {
            case UnitKind::claude: writeClaude(u); break;
            case UnitKind::claudeResumed: writeResumed(u, all[u.repeats]); break;
            case UnitKind::codex: writeCodex(u); break;
        }
    }

    std::string projectDir(std::size_t project) const { return claudeRoot_ + "/-home-user-projects-" + projects_[project]; }
    std::string projectCwd(std::size_t project) const { return "/home/user/projects/" + projects_[project]; }
    std::string dayDir(int daysBack) const {
        std::string d = dateText(kLastDay - days{daysBack});  // YYYY-MM-DD
        return codexRoot_ + "/" + d.substr(0, 4) + "/" + d.substr(5, 2) + "/" + d.substr(8, 2);
    }
    const std::string& archivedRoot() const { return archivedRoot_; }

private:
    std::string claudeText(std::uint64_t seed, std::uint64_t bytes, const Unit& u) const {
        std::string s = claudeTranscript(seed, static_cast<size_t>(bytes));
        replaceAll(s, kGeneratedCwd, projectCwd(u.project));
        shiftDays(s, u.daysBack);
        return s;
    }

    void writeClaude(Unit& u) {
        Rng rng(u.seed ^ 0xC1A0DEULL);
        std::uint64_t mainBytes = u.subagents ? u.target * 65 / 100 : u.target;
        std::string main = claudeText(u.seed, mainBytes, u);
        const std::string session = stringAfter(main, "sessionId");
        const std::string dir = projectDir(u.project);
        u.mainPath = dir + "/" + session + ".jsonl";
        u.mainMtimeMs = lastTimestampMs(main) + static_cast<std::int64_t>(rng.between(50, 4000));
        writeWithMtime(u.mainPath, main, u.mainMtimeMs);
        u.written += main.size();

        if (u.subagents) {
            fs::create_directories(dir + "/" + session + "/subagents");
            std::uint64_t each = (u.target - mainBytes) / static_cast<std::uint64_t>(u.subagents);
            for (int k = 0; k < u.subagents; ++k) {
                std::string sub = claudeText(u.seed * 31 + static_cast<std::uint64_t>(k) + 1, each, u);
                replaceAll(sub, "\"isSidechain\":false", "\"isSidechain\":true");
                // A subagent's lines carry its conversation's session id.
                replaceAll(sub, stringAfter(sub, "sessionId"), session);
                std::string path = dir + "/" + session + "/subagents/agent-a" + detail::hex(rng, 16) + ".jsonl";
                writeWithMtime(path, sub, lastTimestampMs(sub) + static_cast<std::int64_t>(rng.between(50, 4000)));
                u.written += sub.size();
            }
        }
        if (u.toolResults) {
            // Not transcripts: the listing passes over them.
            fs::create_directories(dir + "/" + session + "/tool-results");
            for (int k = 0; k < 3; ++k) {
                writeFile(dir + "/" + session + "/tool-results/toolu_01" + detail::base62(rng, 22) + ".txt",
                          detail::text(rng, 4000, false));
            }
        }
    }

    void writeResumed(Unit& u, const Unit& earlier) {
        Rng rng(u.seed ^ 0x5E5E5EULL);
        std::string content = linesPrefix(readWhole(earlier.mainPath), u.repeatPercent);
        std::uint64_t fresh = u.target > content.size() + 4096 ? u.target - content.size() : 4096;
        std::string more = claudeText(u.seed, fresh, u);
        const std::string session = stringAfter(more, "sessionId");
        content += more;
        u.mainPath = projectDir(u.project) + "/" + session + ".jsonl";
        // Written after the conversation it continues.
        u.mainMtimeMs = std::max(lastTimestampMs(content), earlier.mainMtimeMs + 60000) +
                        static_cast<std::int64_t>(rng.between(50, 600000));
        writeWithMtime(u.mainPath, content, u.mainMtimeMs);
        u.written += content.size();
    }

    // A rollout's file name: its start time and thread id.
    std::string rolloutName(const std::string& s) {
        std::string start = stringAfter(s, "timestamp").substr(0, 19);
        std::replace(start.begin(), start.end(), ':', '-');
        return "rollout-" + start + "-" + stringAfter(s, "id") + ".jsonl";
    }

    std::string codexText(std::uint64_t seed, std::uint64_t bytes, const Unit& u) const {
        std::string s = codexTranscript(seed, static_cast<size_t>(bytes));
        replaceAll(s, kGeneratedCwd, projectCwd(u.project));
        shiftDays(s, u.daysBack);
        return s;
    }

    void writeCodex(Unit& u) {
        Rng rng(u.seed ^ 0xC0DE5ULL);
        std::uint64_t mainBytes = u.subagents ? u.target * 70 / 100 : u.target;
        std::string main = codexText(u.seed, mainBytes, u);
        const std::string thread = stringAfter(main, "id");
        const std::string dir = u.archived ? archivedRoot_ : dayDir(u.daysBack);
        u.mainPath = dir + "/" + rolloutName(main);
        u.mainMtimeMs = lastTimestampMs(main) + static_cast<std::int64_t>(rng.between(50, 4000));
        writeWithMtime(u.mainPath, main, u.mainMtimeMs);
        u.written += main.size();

        std::uint64_t each = u.subagents ? (u.target - mainBytes) / static_cast<std::uint64_t>(u.subagents) : 0;
        for (int k = 0; k < u.subagents; ++k) {
            std::string sub = codexText(u.seed * 37 + static_cast<std::uint64_t>(k) + 1, each, u);
            size_t firstEnd = sub.find('\n');
            std::string meta = sub.substr(0, firstEnd);
            std::string extra = "\"thread_source\":\"subagent\",\"agent_nickname\":\"" +
                                std::string(kNicknames[rng.next() % std::size(kNicknames)]) + "\",\"agent_role\":\"" +
                                std::string(kRoles[rng.next() % std::size(kRoles)]) + "\",";
            if (u.nestedParent) {
                replaceAll(meta, "\"source\":\"cli\"",
                           "\"source\":{\"subagent\":{\"thread_spawn\":{\"parent_thread_id\":\"" + thread +
                               "\",\"depth\":1}}}");
            } else {
                extra += "\"parent_thread_id\":\"" + thread + "\",";
            }
            replaceAll(meta, "\"payload\":{", "\"payload\":{" + extra);
            sub = meta + sub.substr(firstEnd);
            std::string path = dir + "/" + rolloutName(sub);
            writeWithMtime(path, sub, lastTimestampMs(sub) + static_cast<std::int64_t>(rng.between(50, 4000)));
            u.written += sub.size();
        }
    }

    std::string claudeRoot_, codexRoot_, archivedRoot_;
    const std::vector<std::string>& projects_;
};

std::vector<Unit> plan(const CorpusParams& p, std::size_t& projectCount) {
    Rng rng(p.seed);
    const std::size_t claudeCount = (p.conversations * 6 + 5) / 10;
    const std::size_t resumedCount = claudeCount / 10;
    const std::size_t codexCount = p.conversations - claudeCount;
    projectCount = std::max<std::size_t>(1, claudeCount / 15);

    auto day = [&] {
        double u = static_cast<double>(rng.next() >> 11) / 9007199254740992.0;
        return static_cast<int>(kDaysSpanned * u * u);
    };
    // Sizes spread evenly on a log scale between 1 and about 1000 parts:
    // many small conversations, a few large ones. Integer steps of an eighth
    // of a doubling, so no library function can round differently.
    auto weight = [&] {
        std::uint64_t k = rng.next() % 80;
        return static_cast<double>((std::uint64_t{1} << (k / 8)) * (8 + k % 8)) / 8.0;
    };

    std::vector<Unit> units;
    for (std::size_t i = 0; i + resumedCount < claudeCount; ++i) {
        Unit u;
        u.kind = UnitKind::claude;
        u.seed = rng.next();
        u.weight = weight();
        u.daysBack = i == 0 ? 0 : day();
        // Popular projects get more conversations.
        std::size_t pick = rng.next() % projectCount;
        u.project = pick % (1 + rng.next() % projectCount);
        u.subagents = rng.chance(25) ? static_cast<int>(rng.between(1, 4)) : 0;
        u.toolResults = rng.chance(5);
        units.push_back(u);
    }
    for (std::size_t i = 0; i < codexCount; ++i) {
        Unit u;
        u.kind = UnitKind::codex;
        u.seed = rng.next();
        u.weight = weight();
        u.daysBack = day();
        u.project = rng.next() % projectCount;
        u.subagents = rng.chance(15) ? static_cast<int>(rng.between(1, 3)) : 0;
        u.archived = rng.chance(15);
        u.nestedParent = rng.chance(50);
        units.push_back(u);
    }
    // Mix the two clients, so the byte budget is spread over both alike.
    for (std::size_t i = units.size(); i > 1; --i) std::swap(units[i - 1], units[rng.next() % i]);
    // Resumed conversations continue ones from before today, so today's
    // live conversations stay the newest files.
    std::vector<std::size_t> resumable;
    for (std::size_t i = 0; i < units.size(); ++i) {
        if (units[i].kind == UnitKind::claude && units[i].daysBack > 0) resumable.push_back(i);
    }
    for (std::size_t i = 0; i < resumedCount && !resumable.empty(); ++i) {
        const std::size_t earlier = resumable[rng.next() % resumable.size()];
        Unit u;
        u.kind = UnitKind::claudeResumed;
        u.seed = rng.next();
        u.weight = weight();
        u.repeats = earlier;
        u.project = units[earlier].project;
        u.daysBack = static_cast<int>(rng.between(1, static_cast<std::uint64_t>(units[earlier].daysBack)));
        // Most resumes copy the whole earlier conversation, some only its start.
        u.repeatPercent = rng.chance(70) ? 100 : static_cast<int>(rng.between(20, 90));
        units.push_back(u);
    }
    return units;
}

std::string stampText(const CorpusParams& p, const Corpus& c) {
    std::ostringstream s;
    s << kStampVersion << " conversations=" << p.conversations << " totalBytes=" << p.totalBytes << " seed=" << p.seed
      << " files=" << c.files << " bytes=" << c.bytes << "\n";
    return s.str();
}

}  // namespace

Corpus corpusAt(const std::string& folder) {
    Corpus c;
    c.folder = folder;
    c.claudeRoot = folder + "/claude/projects";
    c.codexRoot = folder + "/codex/sessions";
    for (const std::string& root : {c.claudeRoot, c.codexRoot, folder + "/codex/archived_sessions"}) {
        for (const TranscriptFile& f : listTranscripts(root)) {
            c.bytes += static_cast<std::uint64_t>(f.size);
            ++c.files;
        }
    }
    return c;
}

Corpus generateCorpus(const std::string& folder, const CorpusParams& params) {
    std::error_code ec;
    fs::remove(fs::path(folder) / kStampName, ec);
    fs::remove_all(fs::path(folder) / "claude", ec);
    fs::remove_all(fs::path(folder) / "codex", ec);

    std::size_t projectCount = 0;
    std::vector<Unit> units = plan(params, projectCount);
    std::vector<std::string> projects;
    for (std::size_t i = 0; i < projectCount; ++i) projects.push_back(projectName(i));
    Writer writer(folder, projects);

    // Every folder that more than one conversation writes into, made first.
    for (std::size_t i = 0; i < projectCount; ++i) fs::create_directories(writer.projectDir(i));
    fs::create_directories(writer.archivedRoot());
    for (const Unit& u : units) {
        if (u.kind == UnitKind::codex && !u.archived) fs::create_directories(writer.dayDir(u.daysBack));
    }

    // Written in batches on every core. Each batch's byte targets share out
    // what is left of the budget, so the sizes the generator overshoots by
    // are made up for by later batches.
    double weightLeft = 0;
    for (const Unit& u : units) weightLeft += u.weight;
    std::uint64_t written = 0;
    constexpr std::size_t kBatch = 64;
    for (std::size_t start = 0; start < units.size();) {
        const std::size_t end = std::min(units.size(), start + kBatch);
        // Resumed conversations copy earlier files: never in the batch of
        // the file they copy.
        std::size_t stop = end;
        for (std::size_t i = start; i < end; ++i) {
            if (units[i].kind == UnitKind::claudeResumed && units[i].repeats >= start) {
                stop = i;
                break;
            }
        }
        if (stop == start) stop = start + 1;
        const double left =
            params.totalBytes > written ? static_cast<double>(params.totalBytes - written) : 0.0;
        for (std::size_t i = start; i < stop; ++i) {
            // A rollout's first line alone is about 18 KB: give each at
            // least one turn.
            const std::uint64_t least = units[i].kind == UnitKind::codex ? 30000 : 2048;
            units[i].target = std::max<std::uint64_t>(
                least, static_cast<std::uint64_t>(left * units[i].weight / std::max(weightLeft, 1e-9)));
        }
        parallelFor(stop - start, coreCount(),
                    [&](std::size_t k, std::size_t) { writer.write(units[start + k], units); });
        for (std::size_t i = start; i < stop; ++i) {
            written += units[i].written;
            weightLeft -= units[i].weight;
        }
        start = stop;
    }

    Corpus c = corpusAt(folder);
    std::ofstream(fs::path(folder) / kStampName) << stampText(params, c);
    return c;
}

Corpus ensureCorpus(const std::string& folder, const CorpusParams& params) {
    std::string stamp = readWhole((fs::path(folder) / kStampName).string());
    if (!stamp.empty()) {
        Corpus c = corpusAt(folder);
        if (stamp == stampText(params, c)) return c;
    } else if (fs::exists(fs::path(folder) / "claude") || fs::exists(fs::path(folder) / "codex")) {
        // Never replace folders this generator did not write.
        throw std::runtime_error("not a generated corpus, left alone: " + folder);
    }
    fs::create_directories(folder);
    return generateCorpus(folder, params);
}

}  // namespace vorel::bench
