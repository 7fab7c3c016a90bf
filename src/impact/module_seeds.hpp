#pragma once

#include "impact/import_index.hpp"
#include "impact/walk_state.hpp"
#include "util/error.hpp"

#include <cstddef>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pindrel::impact {

// A module changed at import time and the repository file it is read from.
struct ImportTimeModule {
  std::string name;
  std::filesystem::path file;
};

// The walk's index of the repository's import statements, built on first need.
Result<const ImportIndex*> walk_import_index(WalkState& state);

// Modules changed at import time, each already entered in `visited`: every module outside
// test files that imports one of them is changed at import time too, transitively, and is
// entered as reached through the module it imports; every test file that imports any of
// them is recorded as a whole file, reached through that module. A module is imported by
// each of its names (module_import_names). Each module is scanned once per walk, through an
// index of the repository's import lines built at the first scan.
WalkOutcome seed_import_time_changes(WalkState& state, std::span<const ImportTimeModule> modules);

// The files, as indices into the cache's list, ascending and each once, that import the module
// `module` of `file` by any of its names (module_import_names).
Result<std::vector<std::size_t>> files_importing_module(WalkState& state, std::string_view module,
                                                        const std::filesystem::path& file);

// The same for one module.
WalkOutcome seed_module_change(WalkState& state, std::string_view module, const std::filesystem::path& file);

// Whether a Python file imports the module of `file` by the name `module`.
Result<bool> is_imported(WalkState& state, std::string_view module, const std::filesystem::path& file);

// The import lines among the sites of a deleted top-level name's word search: they fail at
// import now, so a test file holding one is recorded as a whole file, and a module outside
// test files holding one is changed at import time.
WalkOutcome follow_imports_of_deleted(WalkState& state, const FrontierSymbol& deleted,
                                      std::span<const ReferenceSite> sites);

}  // namespace pindrel::impact
