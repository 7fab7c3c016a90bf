// Definitions are sorted by start line, so those that start at or before a line are a prefix
// of the outline, and the answer is the last of them that has not ended. Lines only grow, so
// a definition that ended before one line has ended before every later one: the stack of
// started definitions drops it for good once it reaches the top, and each definition is
// pushed and popped at most once.
#include "pysource/enclosing.hpp"

#include <algorithm>
#include <cassert>

namespace pindrel::pysource {

const Definition* enclosing_definition(const Outline& outline, std::uint32_t line) {
  // For one line, walking back from the last definition that starts at or before it meets the
  // greatest start line first, and the later one of a tie first; nothing is allocated.
  const auto& definitions = outline.definitions;
  auto it = std::ranges::upper_bound(definitions, line, {}, &Definition::start_line);
  while (it != definitions.begin()) {
    --it;
    if (line <= it->end_line) return &*it;
  }
  return nullptr;
}

const Definition* EnclosingDefinitions::at(std::uint32_t line) {
  assert(line >= last_line_ && "lines are asked in ascending order");
  last_line_ = line;
  while (started_ < definitions_.size() && definitions_[started_].start_line <= line) {
    open_.push_back(&definitions_[started_++]);
  }
  while (!open_.empty() && open_.back()->end_line < line) open_.pop_back();
  return open_.empty() ? nullptr : open_.back();
}

}  // namespace pindrel::pysource
