#pragma once

#include "project/git.hpp"
#include "util/error.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pindrel::changed {

// Lines `start` to `start + count - 1` of one side of a file; `count` is never 0.
struct HunkRange {
  std::uint32_t start = 0;
  std::uint32_t count = 0;
  friend bool operator==(const HunkRange&, const HunkRange&) = default;
};

// The changed lines of both sides of one file, in hunk order.
struct FileRanges {
  std::vector<HunkRange> old_ranges;
  std::vector<HunkRange> new_ranges;
  friend bool operator==(const FileRanges&, const FileRanges&) = default;
};

// One changed file of the working tree against the merge base.
struct FileDiff {
  std::optional<std::string> old_path;  // absent for an added or untracked file
  std::optional<std::string> new_path;  // absent for a deleted file
  std::optional<FileRanges> ranges;     // absent: every line of both sides counts as changed
  bool is_binary = false;
  friend bool operator==(const FileDiff&, const FileDiff&) = default;
};

// The changed files of the working tree against the merge base: one `git diff`, then each
// untracked path (taken over) as a wholly new file. Paths are the bytes git wrote, which need
// not be UTF-8.
Result<std::vector<FileDiff>> diff_working_tree(const GitHandle& git, const BaseRefs& refs,
                                                std::vector<std::string> untracked);

// The records of a `git diff -U0` output, in the order the files appear.
std::vector<FileDiff> parse_unified_diff(std::string_view text);

// The path of a "--- " or "+++ " line (the text after that marker), none for /dev/null.
std::optional<std::string> parse_diff_path(std::string_view text, std::string_view prefix);

// One side of a hunk header without its sign, as "12,3" or "12".
std::optional<HunkRange> parse_hunk_range(std::string_view text);

// Lines `first` to `last` of one side, both included.
struct LineSpan {
  std::uint32_t first = 0;
  std::uint32_t last = 0;
  friend bool operator==(const LineSpan&, const LineSpan&) = default;
};

// The lines the ranges cover, as ascending spans that neither overlap nor touch. Spans, not
// line numbers: a damaged header may claim four billion lines, and the reader of the spans
// bounds the work by the lines the file has.
std::vector<LineSpan> changed_lines(std::span<const HunkRange> ranges);

}  // namespace pindrel::changed
