#pragma once

#include "util/error.hpp"

#include <span>
#include <string_view>
#include <vector>

namespace pindrel {

// Accepts a pattern of the `ignore-paths` language (`*`, `?` and `**` as a whole
// segment) or names the first rule it breaks.
Result<void> validate_ignore_pattern(std::string_view pattern);

// `text` split at every "/", empty segments kept ("a//b" has three, "docs/" ends in an empty one).
std::vector<std::string_view> glob_segments(std::string_view text);

// Whether the pattern's segments match the path's: `**` stands for zero or more whole
// segments, `*` for any run and `?` for one Unicode scalar value within a segment.
bool glob_match_segments(std::span<const std::string_view> pattern, std::span<const std::string_view> path);

}  // namespace pindrel
