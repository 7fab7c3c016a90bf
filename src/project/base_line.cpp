#include "project/base_line.hpp"

#include "util/utf8.hpp"

namespace pindrel {

std::string render_base_line(std::string_view base, std::string_view merge_base) {
  std::string_view shown = merge_base;
  if (merge_base.size() > 7 && is_char_boundary(merge_base, 7)) {
    shown = merge_base.substr(0, 7);
  }
  std::string line = "base ";
  line.append(base);
  line += " (merge-base ";
  line.append(shown);
  line += ")\n";
  return line;
}

}  // namespace pindrel
