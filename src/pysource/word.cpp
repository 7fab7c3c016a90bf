#include "pysource/word.hpp"

#include <string.h>

namespace pindrel::pysource {

bool contains_word(std::string_view line, std::string_view name) {
  if (name.empty()) return false;
  std::size_t from = 0;
  while (from + name.size() <= line.size()) {
    // memmem is glibc's two-way search: it keeps a search over a whole repository cheap.
    const void* hit = ::memmem(line.data() + from, line.size() - from, name.data(), name.size());
    if (hit == nullptr) return false;
    const auto at = static_cast<std::size_t>(static_cast<const char*>(hit) - line.data());
    const std::size_t end = at + name.size();
    const bool open = at == 0 || !is_word_byte(line[at - 1]);
    const bool close = end == line.size() || !is_word_byte(line[end]);
    if (open && close) return true;
    from = end;
  }
  return false;
}

}  // namespace pindrel::pysource
