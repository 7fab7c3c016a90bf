#pragma once

#include <string_view>

namespace pindrel::pysource {

// Whether `line` holds `name` with neither an ASCII letter, digit nor "_" just before or
// after it. Occurrences are tried left to right without overlapping.
bool contains_word(std::string_view line, std::string_view name);

}  // namespace pindrel::pysource
