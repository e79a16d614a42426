#pragma once
// A deterministic corpus of transcript folders laid out like the ones both
// clients keep on disk, for the refresh benchmark. The same parameters give
// the same folders, file names, bytes and modification times on every
// machine.
//
// Layout under the corpus folder:
//   claude/projects/-home-user-projects-<name>/<session>.jsonl
//       conversations; some are resumed: a newer file that starts with a copy
//       of an older conversation's lines (the same message ids), so the
//       older file's responses are counted in the newer one;
//   claude/projects/-home-user-projects-<name>/<session>/subagents/agent-<id>.jsonl
//       subagent transcripts of a conversation (and, now and then, a
//       tool-results folder holding files that are not transcripts);
//   codex/sessions/YYYY/MM/DD/rollout-<start>-<thread>.jsonl
//       rollouts in dated folders, some with subagent threads (session_meta
//       with thread_source "subagent" and the parent's thread id, either at
//       the top level or under source.subagent.thread_spawn);
//   codex/archived_sessions/rollout-<start>-<thread>.jsonl
//       archived rollouts, flat, with their subagent threads.
// Activity spreads over the 90 days up to kLastDay, more of it recent; each
// file's modification time is its last timestamp.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vorel::bench {

struct CorpusParams {
    // Conversations of both clients: Claude Code main files (resumed ones
    // included) and Codex rollouts that are not subagent threads.
    std::size_t conversations = 2000;
    // About this many bytes of transcripts in all.
    std::uint64_t totalBytes = 1000000000;
    std::uint64_t seed = 1;
};

struct Corpus {
    std::string folder;
    std::string claudeRoot;  // for VOREL_CLAUDE_ROOT
    std::string codexRoot;   // for VOREL_CODEX_ROOT; archived_sessions lies beside it
    std::uint64_t bytes = 0;  // transcript files only
    std::size_t files = 0;
};

// The last day with activity, 2026-02-12 (UTC).
inline constexpr std::chrono::sys_days kLastDay{std::chrono::year{2026} / std::chrono::February / 12};

// The roots of a corpus in `folder`, with the files found there now.
Corpus corpusAt(const std::string& folder);

// Writes the corpus into `folder`, replacing its claude and codex folders.
Corpus generateCorpus(const std::string& folder, const CorpusParams& params);

// The corpus already in `folder` when it was made with the same parameters
// and its files still add up to what was written; otherwise a new one.
// Throws std::runtime_error, touching nothing, when `folder` holds claude or
// codex folders that this generator did not write.
Corpus ensureCorpus(const std::string& folder, const CorpusParams& params);

}  // namespace vorel::bench
