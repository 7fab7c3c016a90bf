#include "project/glob.hpp"

#include "util/utf8.hpp"

#include <string>

namespace pindrel {
namespace {

// End of the character that starts at `i`; malformed text still advances, an invalid
// sequence counting as one character.
std::size_t scalar_end(std::string_view s, std::size_t i) { return i + utf8_step(s, i).length; }

// One pattern segment against one path segment. A later `*` supersedes an earlier one:
// whatever the earlier star could still absorb, the later one can too, so only the last
// star's stretch is ever retried.
bool segment_matches(std::string_view p, std::string_view s) {
  std::size_t i = 0, j = 0;
  bool have_star = false;
  std::size_t star_i = 0, star_j = 0;
  while (j < s.size()) {
    if (i < p.size() && p[i] == '*') {
      have_star = true;
      star_i = i;
      star_j = j;
      ++i;
      continue;
    }
    if (i < p.size()) {
      const std::size_t p_end = scalar_end(p, i);
      const std::size_t s_end = scalar_end(s, j);
      if (p[i] == '?' || p.substr(i, p_end - i) == s.substr(j, s_end - j)) {
        i = p_end;
        j = s_end;
        continue;
      }
    }
    if (!have_star) return false;
    star_j = scalar_end(s, star_j);
    j = star_j;
    i = star_i + 1;
  }
  while (i < p.size() && p[i] == '*') ++i;
  return i == p.size();
}

}  // namespace

Result<void> validate_ignore_pattern(std::string_view pattern) {
  const std::string quoted = "`" + std::string(pattern) + "`";
  if (pattern.empty()) return std::unexpected(Error("an empty pattern matches nothing"));
  if (pattern.front() == '/') {
    return std::unexpected(Error(quoted + " is absolute; patterns are relative to the repository root"));
  }
  const std::size_t special = pattern.find_first_of("[\\]{}");
  if (special != std::string_view::npos) {
    return std::unexpected(
        Error(quoted + " uses `" + pattern[special] + "`, which is not supported: only `*`, `?` and `**` are"));
  }
  for (const auto segment : glob_segments(pattern)) {
    if (segment != "**" && segment.find("**") != std::string_view::npos) {
      return std::unexpected(Error(quoted + ": `**` must be a whole path segment, as in `docs/**` or `**/*.md`"));
    }
  }
  return {};
}

std::vector<std::string_view> glob_segments(std::string_view text) {
  std::vector<std::string_view> segments;
  while (true) {
    const std::size_t slash = text.find('/');
    segments.push_back(text.substr(0, slash));
    if (slash == std::string_view::npos) return segments;
    text.remove_prefix(slash + 1);
  }
}

// `**` over segments is what `*` is over characters, so the same last-star backtracking
// applies one level up: linear in the segments per `**`, where trying every split of the
// path among several `**` would be exponential. The result is that of trying the fewest
// segments first.
bool glob_match_segments(std::span<const std::string_view> pattern, std::span<const std::string_view> path) {
  std::size_t i = 0, j = 0;
  bool have_star = false;
  std::size_t star_i = 0, star_j = 0;
  while (j < path.size()) {
    if (i < pattern.size() && pattern[i] == "**") {
      have_star = true;
      star_i = i;
      star_j = j;
      ++i;
      continue;
    }
    if (i < pattern.size() && segment_matches(pattern[i], path[j])) {
      ++i;
      ++j;
      continue;
    }
    if (!have_star) return false;
    j = ++star_j;
    i = star_i + 1;
  }
  while (i < pattern.size() && pattern[i] == "**") ++i;
  return i == pattern.size();
}

}  // namespace pindrel
