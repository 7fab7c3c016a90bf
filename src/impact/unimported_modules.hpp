#pragma once

// A changed module that no Python file imports may still be run by the tests: started by its
// name (`python -m pkg.cli`) or its path in a subprocess, or read as text (tests/data/x.py).
// Those tests name it somewhere, so the test files are searched for its names as words.

#include "impact/walk_state.hpp"

#include <span>

namespace pindrel::impact {

// For each file of `seeds` outside test files, or a test support file, that no other Python
// file imports by any of its names: every test file that holds its dotted module name, its
// repository path or its file name as a whole word is recorded whole, reached through the
// module.
WalkOutcome seed_unimported_modules(WalkState& state, std::span<const Seed> seeds);

}  // namespace pindrel::impact
