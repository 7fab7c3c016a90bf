#pragma once

#include "pysource/outline.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pindrel::pysource {

// The innermost definition holding `line`: among those with start_line <= line <= end_line,
// the greatest start line, and on a tie the later in the outline's order (a method over its
// class, a nested class over the class that holds it); null when no definition holds it.
const Definition* enclosing_definition(const Outline& outline, std::uint32_t line);

// The same answers for lines asked in ascending order, in time linear in the definitions and
// the lines together, so a whole changed file costs no more than one pass over it.
class EnclosingDefinitions {
 public:
  explicit EnclosingDefinitions(const Outline& outline) : definitions_(outline.definitions) {}

  // `line` is no less than the line asked before.
  const Definition* at(std::uint32_t line);

 private:
  const std::vector<Definition>& definitions_;
  std::size_t started_ = 0;              // the definitions before this index start at or before the last line asked
  std::vector<const Definition*> open_;  // started ones in outline order; ended ones leave from the top
  std::uint32_t last_line_ = 0;
};

}  // namespace pindrel::pysource
