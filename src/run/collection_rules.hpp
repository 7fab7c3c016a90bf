#pragma once

// What the selection follows besides the report: pytest's collection rules and the changed
// definitions whose files hold doctests.

#include "impact/walk_state.hpp"
#include "project/config.hpp"
#include "project/pytest_collection.hpp"

#include <map>
#include <string>
#include <vector>

namespace pindrel::run {

// A changed definition (or module) and the file that holds it.
struct ChangedDefinition {
  std::string symbol;
  std::string file;
};

// What the selection follows besides the report and the files.
struct SelectionSettings {
  PytestSettings pytest;
  SuiteCollection suite;  // where the whole suite looks for test files
  ImportMode import_mode = ImportMode::prepend;
  bool doctest_modules = false;                        // pytest collects the doctests of source modules
  std::vector<ChangedDefinition> changed_definitions;  // their files hold doctests a change can break
  // The names the walk entered, with how each was reached: their files hold doctests too.
  std::map<std::string, impact::VisitedEntry> reached;
  // Each expansion lists its node ids, which only the JSON plan shows; thousands of them are
  // kept otherwise for nothing.
  bool list_expansions = false;
};

}  // namespace pindrel::run
