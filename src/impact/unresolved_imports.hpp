#pragma once

// A reference tool resolves an import only by the names it knows a module by, so one imported
// below a pytest `pythonpath` entry, from one package of several under `packages/*/src`, or
// after a `sys.path` change is used where it answers no reference at all. The walk reads the
// import lines itself: the files that import the module by any of its names are searched for
// the walked name.

#include "impact/walk_state.hpp"

#include <vector>

namespace pindrel::impact {

// For a top-level function or class `target` outside test files whose sites reached nothing:
// the files that import its module by one of its names (module_import_names), the file itself
// left out, are searched for its name as a whole word, and each hit is followed as a site of
// `symbol`, which is `target` or a method of the class `target`. A hit on an import line
// outside test files re-exports the name, so the importers of that module are searched too.
// With more hits than the word search's limit, the importing test files are recorded whole
// and the importing modules are changed at import time instead.
WalkOutcome follow_unresolved_imports(WalkState& state, const FrontierSymbol& symbol, const FrontierSymbol& target,
                                      std::vector<FrontierSymbol>& next);

}  // namespace pindrel::impact
