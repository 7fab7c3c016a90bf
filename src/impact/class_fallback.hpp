#pragma once

#include "impact/walk_state.hpp"

#include <expected>
#include <vector>

namespace pindrel::impact {

// The class whose body holds `method`: the innermost class of the method's qualified name
// prefix that spans it; null when there is none.
const pysource::Definition* enclosing_class(const pysource::Outline& outline, const pysource::Definition& method);

// The definition holding a walked symbol's line in a file outside test files, with the outline
// it stands in; no definition where the file is a test file, has no usable outline or holds
// none there.
struct WalkedDefinition {
  pysource::SharedOutline outline;
  const pysource::Definition* definition = nullptr;
};
std::expected<WalkedDefinition, WalkOutcome> walked_definition(WalkState& state, const FrontierSymbol& symbol);

// Follows a method outside test files through its class as well as through its own sites.
// Python calls many methods without naming them, or on receivers the reference source cannot
// type (__init__ through Cls(...), __eq__, overrides called through a base class, methods of
// untyped parameters), so whatever uses the class may reach the method: the class's sites, its
// own definition line left out, are handled as sites of `symbol`, queueing into `next`. One
// query per (file, class) and walk.
WalkOutcome follow_through_class(WalkState& state, const FrontierSymbol& symbol, std::vector<FrontierSymbol>& next);

}  // namespace pindrel::impact
