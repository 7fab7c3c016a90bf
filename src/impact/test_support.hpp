#pragma once

// Test code that other test files import: support modules of the test directories that pytest
// collects no tests from (tests/helpers.py, tests/base.py, a fixtures module), test modules and
// conftest.py files. What breaks in them at import breaks the test files that import them, so a
// changed one, or one reached as a whole, counts as changed at import time.

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

// A module seed under each name of every changed Python file among `test_files`.
std::vector<Seed> test_file_seeds(const std::filesystem::path& root, std::span<const std::string> test_files);

// After the walk: the test files that import a support file holding a reached test, or a test
// file reached as a whole, are recorded whole through its module names, and what they reach in
// turn is handled the same way. A support file gives way to its importers, since pytest runs
// nothing of it; a test file or conftest.py stays. Fixtures stay for the selection to expand,
// and a test package's __init__.py for the selection to run the files below it.
WalkOutcome reach_through_test_code(WalkState& state);

}  // namespace pindrel::impact
