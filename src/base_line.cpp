#include "base_line.hpp"

namespace pindrel {

std::string render_base_line(std::string_view base, std::string_view merge_base) {
  std::string_view shown = merge_base;
  if (merge_base.size() > 7 && (static_cast<unsigned char>(merge_base[7]) & 0xC0) != 0x80) {
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
