#pragma once

// Test support code: the modules of the test directories that pytest collects no tests from
// (tests/helpers.py, tests/base.py, a fixtures module). What breaks in them breaks the test
// files that import them, so they count as changed at import time.

#include "impact/walk_state.hpp"

#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace pindrel::impact {

// A Python file of the test-file rule that pytest, by `pytest`'s collection rules, does not
// collect; a conftest.py is none.
bool is_test_support_file(const std::filesystem::path& path, const std::filesystem::path& root,
                          const PytestSettings& pytest);

// The names a test file may import a support file by: its module name and, when its directory
// is no package, each shorter dotted tail of it, since pytest puts the directories of such
// test files on the import path.
std::vector<std::string> support_module_names(const std::filesystem::path& root, const std::filesystem::path& path);

// A module seed under each name of every changed support file among `test_files`.
std::vector<Seed> support_file_seeds(const std::filesystem::path& root, std::span<const std::string> test_files,
                                     const PytestSettings& pytest);

// After the walk: every support file that holds a reached test, or was reached whole, gives way
// to the test files that import it, recorded whole through its module names; what they reach
// in turn is handled the same way. Fixtures stay for the selection to expand.
WalkOutcome reach_through_support_files(WalkState& state);

}  // namespace pindrel::impact
