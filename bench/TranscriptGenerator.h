#pragma once
// Deterministic transcript files shaped like the ones the two clients write,
// for the parser benchmarks: the same seed and size always give the same
// bytes, on every machine.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <string_view>

namespace vorel::bench {

// splitmix64: tiny, fast and fully specified, unlike the standard
// distributions, whose output differs between library versions.
class Rng {
public:
    explicit Rng(std::uint64_t seed) : state_(seed) {}

    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // In [lo, hi].
    std::uint64_t between(std::uint64_t lo, std::uint64_t hi) { return lo + next() % (hi - lo + 1); }
    bool chance(unsigned percent) { return next() % 100 < percent; }

private:
    std::uint64_t state_;
};

namespace detail {

inline constexpr std::string_view kWords[] = {
    "defmodule", "session", "registry", "pane_id", "conn", "params", "Logger", "warning", "return", "struct",
    "const",     "value",   "render",   "spawn",   "test", "assert", "config", "update", "format", "buffer",
    "parse",     "token",   "count",    "model",   "file", "folder", "output", "error",  "result", "handle",
};

inline void append(std::string& out, std::string_view s) { out.append(s.data(), s.size()); }

// Hex digits drawn from the generator, like the ids in real transcripts.
inline std::string hex(Rng& rng, size_t n) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) s.push_back(kDigits[rng.next() % 16]);
    return s;
}

inline std::string uuid(Rng& rng) {
    return hex(rng, 8) + "-" + hex(rng, 4) + "-" + hex(rng, 4) + "-" + hex(rng, 4) + "-" + hex(rng, 12);
}

inline std::string base62(Rng& rng, size_t n) {
    static constexpr char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    std::string s;
    for (size_t i = 0; i < n; ++i) s.push_back(kDigits[rng.next() % 62]);
    return s;
}

// Base64-like text, as in encrypted reasoning payloads: no escapes at all.
inline std::string opaque(Rng& rng, size_t n) {
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string s;
    for (size_t i = 0; i < n; ++i) s.push_back(kDigits[rng.next() % 64]);
    return s;
}

// About `bytes` of JSON string content (without the quotes) that reads like
// tool output or source code: numbered lines, escaped line feeds, tabs,
// quotes and backslashes, and with `colour` terminal colour codes written as
// \u001b escapes the way JSON encoders write control characters.
inline std::string text(Rng& rng, size_t bytes, bool colour) {
    std::string s;
    s.reserve(bytes + 128);
    unsigned lineNo = 1;
    while (s.size() < bytes) {
        char num[16];
        std::snprintf(num, sizeof num, "%6u\\t", lineNo++);
        append(s, num);
        if (colour && rng.chance(15)) append(s, "\\u001b[32m");
        size_t words = rng.between(2, 12);
        for (size_t w = 0; w < words; ++w) {
            if (w) s.push_back(' ');
            unsigned r = static_cast<unsigned>(rng.next() % 100);
            if (r < 6) {
                append(s, "\\\"");
                append(s, kWords[rng.next() % std::size(kWords)]);
                append(s, "\\\"");
            } else if (r < 8) {
                append(s, "C:\\\\src\\\\");
                append(s, kWords[rng.next() % std::size(kWords)]);
            } else if (r < 9) {
                append(s, "caf\xC3\xA9 \xE2\x86\x92 ok");  // raw UTF-8, as JSON encoders write it
            } else {
                append(s, kWords[rng.next() % std::size(kWords)]);
            }
        }
        if (colour && rng.chance(15)) append(s, "\\u001b[0m");
        append(s, "\\n");
    }
    return s;
}

// Timestamps one to several seconds apart from 2026-02-12T15:36:00Z.
class Timeline {
public:
    std::string next(Rng& rng) {
        ms_ += rng.between(40, 9000);
        std::uint64_t total = ms_ / 1000;
        unsigned s = total % 60, m = (total / 60) % 60, h = static_cast<unsigned>(15 + total / 3600);
        unsigned day = 12 + h / 24;
        h %= 24;
        char buf[40];
        std::snprintf(buf, sizeof buf, "2026-02-%02uT%02u:%02u:%02u.%03uZ", day, h, m, s,
                      static_cast<unsigned>(ms_ % 1000));
        return buf;
    }

private:
    std::uint64_t ms_ = 36 * 60 * 1000;
};

}  // namespace detail

// A Claude Code conversation of about `targetBytes`: user prompts, assistant
// messages written one content block per line with the message id and usage
// repeated on each line, user lines carrying tool results of 1 to 20 KB,
// and the progress and snapshot lines the client writes in between.
inline std::string claudeTranscript(std::uint64_t seed, size_t targetBytes) {
    using namespace detail;
    Rng rng(seed);
    Timeline clock;
    const std::string session = uuid(rng);
    const std::string common = R"("isSidechain":false,"userType":"external","cwd":"/home/USER/projects/vorel-sample","sessionId":")" +
                               session + R"(","version":"2.1.39","gitBranch":"main",)";
    static constexpr std::string_view kModels[] = {"claude-opus-4-6", "claude-sonnet-4-5-20250929",
                                                   "claude-haiku-4-5-20251001"};
    std::string out;
    out.reserve(targetBytes + 64 * 1024);
    std::string parent = uuid(rng);

    auto line = [&](std::string_view body) {
        std::string id = uuid(rng);
        out += R"({"parentUuid":")" + parent + "\"," + common;
        append(out, body);
        out += R"(,"uuid":")" + id + R"(","timestamp":")" + clock.next(rng) + "\"}\n";
        parent = id;
    };

    out += R"({"type":"file-history-snapshot","messageId":")" + uuid(rng) +
           R"(","snapshot":{"trackedFileBackups":{},"timestamp":"2026-02-12T15:36:09.516Z"},"isSnapshotUpdate":false})"
           "\n";
    for (int i = 0; i < 3; ++i) {
        line(R"("type":"progress","data":{"type":"hook_progress","hookEvent":"SessionStart","hookName":"SessionStart:startup","command":"bd prime"},"parentToolUseID":"toolu_)" +
             base62(rng, 24) + R"(","toolUseID":"toolu_)" + base62(rng, 24) + "\"");
    }

    while (out.size() < targetBytes) {
        // The user's prompt.
        line(R"("type":"user","message":{"role":"user","content":")" + text(rng, rng.between(80, 900), false) +
             "\"}");
        std::string_view model = kModels[rng.chance(70) ? 0 : 1 + rng.next() % 2];
        size_t steps = rng.between(2, 8);
        for (size_t step = 0; step < steps && out.size() < targetBytes; ++step) {
            const std::string msgId = "msg_01" + base62(rng, 22);
            const std::string reqId = "req_011C" + base62(rng, 20);
            char usage[400];
            unsigned long long write = rng.between(0, 9000), read = rng.between(10000, 180000);
            std::snprintf(usage, sizeof usage,
                          R"("usage":{"input_tokens":%llu,"cache_creation_input_tokens":%llu,"cache_read_input_tokens":%llu,"cache_creation":{"ephemeral_5m_input_tokens":%llu,"ephemeral_1h_input_tokens":0},"output_tokens":%llu,"service_tier":"standard","inference_geo":"global"})",
                          static_cast<unsigned long long>(rng.between(1, 40)), write, read, write,
                          static_cast<unsigned long long>(rng.between(1, 3000)));
            // One line per content block, each repeating id and usage.
            auto block = [&](const std::string& content) {
                line(R"("message":{"model":")" + std::string(model) + R"(","id":")" + msgId +
                     R"(","type":"message","role":"assistant","content":[)" + content +
                     R"(],"stop_reason":null,"stop_sequence":null,)" + usage + R"(},"requestId":")" + reqId +
                     R"(","type":"assistant")");
            };
            if (rng.chance(50)) {
                block(R"({"type":"thinking","thinking":")" + text(rng, rng.between(600, 6000), false) +
                      R"(","signature":")" + opaque(rng, rng.between(300, 1200)) + "\"}");
            }
            if (rng.chance(60)) block(R"({"type":"text","text":")" + text(rng, rng.between(500, 4000), false) + "\"}");
            const std::string toolId = "toolu_01" + base62(rng, 22);
            block(R"({"type":"tool_use","id":")" + toolId +
                  R"(","name":"Write","input":{"file_path":"/home/USER/projects/vorel-sample/lib/module.ex","content":")" +
                  text(rng, rng.between(600, 19000), false) + R"("},"caller":{"type":"direct"}})");

            // The tool's result: the output in the message and again in the
            // client's own record of the call.
            bool colour = rng.chance(25);
            std::string output = text(rng, rng.between(400, 9500), colour);
            line(R"("type":"user","message":{"role":"user","content":[{"tool_use_id":")" + toolId +
                 R"(","type":"tool_result","content":")" + output + R"(","is_error":false}]},"toolUseResult":{"stdout":")" +
                 output + R"(","stderr":"","interrupted":false,"isImage":false},"sourceToolAssistantUUID":")" +
                 uuid(rng) + "\"");
            if (rng.chance(30)) {
                line(R"("type":"progress","data":{"type":"hook_progress","hookEvent":"PostToolUse","hookName":"PostToolUse:Write","command":"${CLAUDE_PLUGIN_ROOT}/scripts/notify.sh"},"parentToolUseID":")" +
                     toolId + R"(","toolUseID":")" + toolId + "\"");
            }
        }
        if (rng.chance(20)) {
            line(R"("type":"system","subtype":"turn_duration","durationMs":)" + std::to_string(rng.between(2000, 90000)) +
                 R"(,"isMeta":false)");
        }
    }
    return out;
}

// A Codex rollout of about `targetBytes`: the session_meta line with its
// long instructions, then turns of turn_context, the user's message,
// reasoning, function calls with their outputs (1 to 20 KB) and the
// token_count events, some of them repeated with unchanged totals.
inline std::string codexTranscript(std::uint64_t seed, size_t targetBytes) {
    using namespace detail;
    Rng rng(seed);
    Timeline clock;
    std::string out;
    out.reserve(targetBytes + 64 * 1024);
    const std::string thread = uuid(rng);
    const std::string cwd = "/home/USER/projects/vorel-sample";

    auto line = [&](std::string_view type, std::string_view payload) {
        out += R"({"timestamp":")" + clock.next(rng) + R"(","type":")";
        append(out, type);
        out += R"(","payload":{)";
        append(out, payload);
        out += "}}\n";
    };

    line("session_meta", R"("id":")" + thread + R"(","timestamp":"2026-02-12T15:36:00.042Z","cwd":")" + cwd +
                             R"(","originator":"codex-tui","cli_version":"0.125.0","source":"cli","model_provider":"openai","base_instructions":{"text":")" +
                             text(rng, 18000, false) + "\"}");

    unsigned long long totIn = 0, totCached = 0, totOut = 0, totReason = 0;
    // Each call's input is the context so far, which grows until the client
    // compacts it below the model's window.
    unsigned long long context = 0;
    while (out.size() < targetBytes) {
        line("turn_context", R"("turn_id":")" + uuid(rng) + R"(","cwd":")" + cwd +
                                 R"(","current_date":"2026-02-12","timezone":"Europe/Vilnius","approval_policy":"on-request","sandbox_policy":{"type":"workspace-write","writable_roots":[],"network_access":false},"model":"gpt-5.5","personality":"pragmatic","collaboration_mode":{"mode":"default","settings":{"model":"gpt-5.5","reasoning_effort":"medium","developer_instructions":")" +
                                 text(rng, 2500, false) + R"("}},"effort":"medium","summary":"auto")");
        std::string prompt = text(rng, rng.between(60, 700), false);
        line("response_item", R"("type":"message","role":"user","content":[{"type":"input_text","text":")" + prompt +
                                  "\"}]");
        line("event_msg", R"("type":"user_message","message":")" + prompt + R"(","images":[],"local_images":[],"text_elements":[])");
        size_t calls = rng.between(3, 12);
        for (size_t c = 0; c < calls && out.size() < targetBytes; ++c) {
            if (rng.chance(40)) {
                line("response_item", R"("type":"reasoning","summary":[],"content":null,"encrypted_content":"gAAAAAB)" +
                                          opaque(rng, rng.between(800, 4000)) + "\"");
            }
            const std::string callId = "call_" + base62(rng, 24);
            line("response_item", R"("type":"function_call","name":"exec_command","arguments":"{\"cmd\":\"sed -n 1,200p lib/module.ex\",\"workdir\":\")" +
                                      cwd + R"(\",\"yield_time_ms\":1000}","call_id":")" + callId + "\"");

            context = std::min<unsigned long long>(context + rng.between(2000, 30000), 240000);
            unsigned long long in = context, cached = in * rng.between(50, 95) / 100,
                               o = rng.between(20, 2500), r = rng.between(0, o);
            totIn += in;
            totCached += cached;
            totOut += o;
            totReason += r;
            char usage[600];
            std::snprintf(usage, sizeof usage,
                          R"("type":"token_count","info":{"total_token_usage":{"input_tokens":%llu,"cached_input_tokens":%llu,"output_tokens":%llu,"reasoning_output_tokens":%llu,"total_tokens":%llu},"last_token_usage":{"input_tokens":%llu,"cached_input_tokens":%llu,"output_tokens":%llu,"reasoning_output_tokens":%llu,"total_tokens":%llu},"model_context_window":258400},"rate_limits":null)",
                          totIn, totCached, totOut, totReason, totIn + totOut, in, cached, o, r, in + o);
            line("event_msg", usage);
            // The client writes some token counts twice with the same totals.
            if (rng.chance(25)) line("event_msg", usage);

            std::string output = text(rng, rng.between(1000, 19000), rng.chance(25));
            line("response_item", R"("type":"function_call_output","call_id":")" + callId +
                                      R"(","output":"Chunk ID: a21e41\nWall time: 1.0037 seconds\nProcess exited with code 0\nOutput:\n)" +
                                      output + "\"");
            if (rng.chance(40)) {
                // The first half of the output, cut after a whole line.
                size_t cut = output.find("\\n", output.size() / 2);
                std::string head = output.substr(0, cut == std::string::npos ? output.size() : cut + 2);
                line("event_msg", R"("type":"exec_command_end","call_id":")" + callId + R"(","stdout":")" + head +
                                      R"(","stderr":"","exit_code":0)");
            }
        }
        line("event_msg", R"("type":"agent_message","message":")" + text(rng, rng.between(200, 2000), false) + "\"");
    }
    return out;
}

inline bool writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(f);
}

}  // namespace vorel::bench
