#pragma once

// What a definition's header evaluates when the definition runs, read from a syntax tree kept
// after outlining, so that only the headers a change touches are read.

#include "pysource/outline.hpp"
#include "util/error.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace pindrel::pysource {

// A source's syntax tree, kept with its text.
class KeptTree;
using SharedKeptTree = std::shared_ptr<const KeptTree>;

struct OutlineWithTree {
  Outline outline;
  SharedKeptTree tree;
};

// The outline of `source`, as outline_python_source gives it, with its tree kept.
Result<OutlineWithTree> outline_keeping_tree(std::string source);

// What the header of `definition`, one of the tree's outline, evaluates when it runs (its
// decorators, default values, annotations unless the module postpones them, and bases with the
// class keywords), as a hash of their texts: two headers with equal hashes run the same at
// import, and 0 means it evaluates nothing. None when the definition is not found in the tree.
std::optional<std::uint64_t> evaluated_header(const KeptTree& tree, const Definition& definition);

}  // namespace pindrel::pysource
