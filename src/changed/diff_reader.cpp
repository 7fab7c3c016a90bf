// Reads `git diff -U0` output into one record per changed file. Lines are recognised by
// their prefix alone, without counting hunk lines: with no context lines every source
// line in a hunk starts with "+" or "-", so only the "--- "/"+++ " path lines need the
// header/hunk distinction (a removed "-- x" prints as "--- x").
#include "changed/diff_reader.hpp"

#include "util/utf8.hpp"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <limits>

namespace pindrel::changed {
namespace {

struct OpenRecord {
  std::optional<std::string> old_path;
  std::optional<std::string> new_path;
  FileRanges ranges;
  bool is_binary = false;
  bool in_hunks = false;  // an "@@ " line has been seen
};

FileDiff close_record(OpenRecord&& record) {
  FileDiff diff{std::move(record.old_path), std::move(record.new_path), std::nullopt, record.is_binary};
  const bool renamed =
      diff.old_path && diff.new_path && std::filesystem::path(*diff.old_path) != std::filesystem::path(*diff.new_path);
  if (!renamed) diff.ranges = std::move(record.ranges);
  return diff;
}

// The paths of a "diff --git a/X b/Y" line; `rest` follows "diff --git ".
void read_git_line_paths(std::string_view rest, OpenRecord& record) {
  const auto split = rest.find(" b/");
  if (split == std::string_view::npos) return;
  record.new_path = std::string(rest.substr(split + 3));
  if (rest.starts_with("a/") && split >= 2) record.old_path = std::string(rest.substr(2, split - 2));
}

void read_hunk_header(std::string_view rest, FileRanges& ranges) {
  const auto close = rest.find(" @@");
  const std::string_view header = rest.substr(0, close);
  const auto space = header.find(' ');
  if (space == std::string_view::npos) return;
  const std::string_view old_side = header.substr(0, space);
  const std::string_view new_side = header.substr(space + 1);
  if (!old_side.starts_with('-') || !new_side.starts_with('+')) return;
  const auto old_range = parse_hunk_range(old_side.substr(1));
  const auto new_range = parse_hunk_range(new_side.substr(1));
  if (!old_range || !new_range) return;
  if (old_range->count != 0) ranges.old_ranges.push_back(*old_range);
  if (new_range->count != 0) ranges.new_ranges.push_back(*new_range);
}

void read_line(std::string_view line, std::optional<OpenRecord>& open, std::vector<FileDiff>& out) {
  constexpr std::string_view git_line = "diff --git ";
  if (line.size() > 10 && line.starts_with(git_line)) {
    if (open) out.push_back(close_record(std::move(*open)));
    open.emplace();
    read_git_line_paths(line.substr(git_line.size()), *open);
    return;
  }
  if (!open) return;
  OpenRecord& record = *open;
  if (!record.in_hunks) {
    if (line.starts_with("--- ")) {
      record.old_path = parse_diff_path(line.substr(4), "a/");
      return;
    }
    if (line.starts_with("+++ ")) {
      record.new_path = parse_diff_path(line.substr(4), "b/");
      return;
    }
  }
  constexpr std::string_view rename_from = "rename from ";
  constexpr std::string_view rename_to = "rename to ";
  if (line.starts_with(rename_from)) {
    record.old_path = std::string(line.substr(rename_from.size()));
  } else if (line.starts_with(rename_to)) {
    record.new_path = std::string(line.substr(rename_to.size()));
  } else if (line.starts_with("Binary files ") || line.starts_with("GIT binary patch")) {
    record.is_binary = true;
  } else if (line.starts_with("@@ ")) {
    record.in_hunks = true;
    read_hunk_header(line.substr(3), record.ranges);
  }
}

// A decimal u32, optionally after one "+".
std::optional<std::uint32_t> parse_u32(std::string_view text) {
  if (text.starts_with('+')) text.remove_prefix(1);
  std::uint32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

Result<std::vector<FileDiff>> diff_working_tree(const GitHandle& git, const BaseRefs& refs,
                                                std::vector<std::string> untracked) {
  auto out = diff_working_tree_text(git, refs.merge_base);
  if (!out) {
    return std::unexpected(std::move(out.error()).context("could not diff the working tree against the merge base"));
  }
  std::vector<FileDiff> diffs = parse_unified_diff(*out);
  diffs.reserve(diffs.size() + untracked.size());
  for (auto& path : untracked) diffs.push_back(FileDiff{std::nullopt, std::move(path), std::nullopt, false});
  return diffs;
}

std::vector<FileDiff> parse_unified_diff(std::string_view text) {
  std::vector<FileDiff> out;
  std::optional<OpenRecord> open;
  while (!text.empty()) {
    read_line(take_line(text), open, out);
  }
  if (open) out.push_back(close_record(std::move(*open)));
  return out;
}

std::optional<std::string> parse_diff_path(std::string_view text, std::string_view prefix) {
  // git ends a name that holds a space with a tab.
  text = text.substr(0, text.find('\t'));
  if (text == "/dev/null") return std::nullopt;
  if (text.starts_with(prefix)) text.remove_prefix(prefix.size());
  return std::string(text);
}

std::optional<HunkRange> parse_hunk_range(std::string_view text) {
  const auto comma = text.find(',');
  const auto start = parse_u32(text.substr(0, comma));
  if (!start) return std::nullopt;
  if (comma == std::string_view::npos) return HunkRange{*start, 1};
  const auto count = parse_u32(text.substr(comma + 1));
  if (!count) return std::nullopt;
  return HunkRange{*start, *count};
}

std::vector<LineSpan> changed_lines(std::span<const HunkRange> ranges) {
  std::vector<LineSpan> spans;
  spans.reserve(ranges.size());
  for (const auto& range : ranges) {
    // A range that runs past the last line number ends there, that number excluded.
    constexpr std::uint64_t limit = std::numeric_limits<std::uint32_t>::max();
    const std::uint64_t end = std::min<std::uint64_t>(std::uint64_t{range.start} + range.count, limit);
    if (end > range.start) spans.push_back(LineSpan{range.start, static_cast<std::uint32_t>(end - 1)});
  }
  std::sort(spans.begin(), spans.end(), [](const LineSpan& a, const LineSpan& b) { return a.first < b.first; });
  std::vector<LineSpan> merged;
  for (const auto& span : spans) {
    if (!merged.empty() && std::uint64_t{span.first} <= std::uint64_t{merged.back().last} + 1) {
      merged.back().last = std::max(merged.back().last, span.last);
    } else {
      merged.push_back(span);
    }
  }
  return merged;
}

}  // namespace pindrel::changed
