#pragma once

// pytest collects a test class in every test module whose namespace holds it, so a test reached in
// a class runs again under each class that inherits it and in each test module that imports the
// class (or a subclass), by name or by a star import; an imported test function runs again too.
// These copies share the chain of the test they copy.

#include "impact/walk_state.hpp"

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pindrel::impact {

// A test file and the name under which its namespace holds a test class or function; a whole file
// when it cannot be told whether it holds it.
struct CopyPlace {
  std::filesystem::path file;
  std::string name;
  bool whole = false;
};

// The places of each (file, top-level name) asked about, so the tests of one class find them once.
using CopyPlaces = std::map<std::pair<std::filesystem::path, std::string>, std::vector<CopyPlace>>;

// A name that a module imports from another, as it binds it.
struct ImportedName {
  std::string bound;
  bool star = false;  // bound by a star import, which takes the names an `__all__` lists, if any
};

// How the module of `file` (its outline and module name) binds `name` of the module `module`:
// through each `from` import of `module`, and a star import for a public name. A relative
// source is read from the module's package.
std::vector<ImportedName> imported_names(const pysource::Outline& importer, const std::filesystem::path& file,
                                         const std::optional<std::string>& importer_module, std::string_view module,
                                         std::string_view name);

// The test files that hold the top-level function `name` of the test module `file` by importing
// it, from there or from one another.
Result<std::vector<CopyPlace>> function_importers(WalkState& state, const std::filesystem::path& file,
                                                  const std::string& name);

// The copies of `test`, a test or fixture recorded with its symbol in a collectible test file: a
// class member (or the class, or a test function) under each subclass and importing name that
// pytest collects, the test's own record left out. An importer that star-imports from a module
// with an `__all__`, which may or may not list the name, is a whole file.
Result<std::vector<ImpactedTest>> collected_copies(WalkState& state, const ImpactedTest& test, CopyPlaces& places);

}  // namespace pindrel::impact
