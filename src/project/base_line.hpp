#pragma once

#include <string>
#include <string_view>

namespace pindrel {

// "base {} (merge-base {})\n" with the merge base cut to its first 7 bytes when that
// falls on a character boundary.
std::string render_base_line(std::string_view base, std::string_view merge_base);

}  // namespace pindrel
