#pragma once

#include <string_view>

namespace pindrel::pysource {

// An ASCII letter, digit or "_": a byte that continues a word.
inline bool is_word_byte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Whether `line` holds `name` with neither an ASCII letter, digit nor "_" just before or
// after it. Occurrences are tried left to right without overlapping.
bool contains_word(std::string_view line, std::string_view name);

}  // namespace pindrel::pysource
