#pragma once

// The names a repository module is imported by. Its module name is the one its packages give
// it, and the one the reports show; Python finds it by more: below a directory above its
// package that holds no `__init__.py`, below each of pytest's `pythonpath` entries, and, once
// some file of the repository changes `sys.path`, by its trailing components, since any
// directory may then stand on the import path.

#include "impact/walk_state.hpp"
#include "util/error.hpp"

#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pindrel::impact {

// The names of the module `module` read from the repository file `file`, `module` first and
// each once. Whether a file changes `sys.path` is learnt with the walk's import index, built at
// the first call that needs it; a read error is returned.
Result<std::vector<std::string>> module_import_names(WalkState& state, std::string_view module,
                                                     const std::filesystem::path& file);

// The dotted names of `file` below each entry of `pythonpath` (paths relative to the
// repository root, "." for the root itself) that holds it; an `__init__.py` is named by its
// directory.
std::vector<std::string> names_below_import_paths(const std::filesystem::path& file,
                                                  std::span<const std::string> pythonpath);

// Whether `text` changes `sys.path`: `sys.path` followed by a call of insert, append or
// extend, by an item or slice, or by an assignment.
bool changes_sys_path(std::string_view text);

}  // namespace pindrel::impact
