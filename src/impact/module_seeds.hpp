#pragma once

#include "impact/walk_state.hpp"

#include <string_view>

namespace pindrel::impact {

// Records as whole files the test files that import `module` or a submodule of it, reached
// through the module. Modules that import it are not followed.
WalkOutcome seed_module_change(WalkState& state, std::string_view module);

// Whether one line of a file, trimmed, imports the module: `import` of it or a submodule, or
// `from` it, a submodule or its parent package naming it. `prefix` is "{module}.".
bool line_imports_module(std::string_view line, std::string_view module, std::string_view prefix,
                         std::string_view parent, std::string_view last_part);

}  // namespace pindrel::impact
