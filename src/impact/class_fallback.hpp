#pragma once

#include "impact/walk_state.hpp"

#include <vector>

namespace pindrel::impact {

// Follows a dead-end method outside test files through its class. Python calls many methods
// without naming them (__init__, __eq__, overrides called through a base class, methods of
// untyped parameters), so a method that no site names is still reached by whatever uses its
// class: the class's references, its own definition line left out, are handled as references
// to `symbol`, queueing into `next`. One query per (file, class) and walk.
WalkOutcome follow_through_class(WalkState& state, const FrontierSymbol& symbol, std::vector<FrontierSymbol>& next);

}  // namespace pindrel::impact
