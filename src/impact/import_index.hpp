#pragma once

// The import statements of the repository's Python files, read once and indexed by the modules
// they name, so that the importers of a module are found without reading every file again.

#include "impact/source_cache.hpp"
#include "util/error.hpp"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace pindrel::impact {

// A `from P import ...` statement: its file and the names it imports, separated by blanks
// ("*" alone for a star import).
struct FromImportLine {
  std::size_t file = 0;
  std::string names;
};

// Files are indices into the cache's list of Python files.
struct ImportIndex {
  // By each module an `import` statement names or a `from` statement imports from, and each package
  // above it: `import a.b.c` is filed under a, a.b and a.b.c.
  std::unordered_map<std::string, std::vector<std::size_t>> by_module;
  // By P, the `from P import ...` statements, which may import a submodule of P by its name.
  std::unordered_map<std::string, std::vector<FromImportLine>> by_package;
};

// The dotted module name of a repository file, none when it has none.
using ModuleNameOf = std::function<std::optional<std::string>(const std::filesystem::path&)>;

// Indexes the import statements of every Python file of the cache, as Python reads them
// (pysource::for_each_import); a relative source (`from ..core import x`) is resolved
// against the module name of its file and filed like an absolute one, and one that cannot be
// resolved is left out. A read error ends the indexing; absent files are passed over.
Result<ImportIndex> index_import_lines(SourceCache& cache, const ModuleNameOf& module_name_of);

// The files, ascending and each once, with a statement that imports `module`: `import` of it
// or a submodule, or `from` it, a submodule, or its parent package naming its last part (or
// importing *, which takes the submodules the package's `__all__` lists).
std::vector<std::size_t> files_importing(const ImportIndex& index, std::string_view module);

}  // namespace pindrel::impact
