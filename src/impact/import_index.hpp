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

// Hashes a module name given as any kind of text, so that a lookup makes no string.
struct ModuleNameHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
};

template <class Value>
using ByModuleName = std::unordered_map<std::string, Value, ModuleNameHash, std::equal_to<>>;

// Files are indices into the cache's list of Python files, each list ascending and each file
// once.
struct ImportIndex {
  // By each module an `import` statement names or a `from` statement imports from, and each
  // package above it: `import a.b.c` is filed under a, a.b and a.b.c. A name that `from P import`
  // takes, which may be a submodule, is filed as P.name too.
  ByModuleName<std::vector<std::size_t>> by_module;
  // By P, the files with `from P import *`, which takes the submodules P's `__all__` lists.
  ByModuleName<std::vector<std::size_t>> star_imports;
  // Whether some file that imports sys changes sys.path (changes_sys_path), so that any
  // directory may stand on it.
  bool changes_sys_path = false;
};

// The dotted module name of a repository file, none when it has none.
using ModuleNameOf = std::function<std::optional<std::string>(const std::filesystem::path&)>;

// Indexes the import statements of every Python file of the cache, as Python reads them
// (pysource::for_each_import); a relative source (`from ..core import x`) is resolved
// against the module name of its file and filed like an absolute one, and one that cannot be
// resolved is left out. Each file's text is let go once scanned (scan_source). A read error
// ends the indexing; absent files are passed over.
Result<ImportIndex> index_import_lines(SourceCache& cache, const ModuleNameOf& module_name_of);

// The files, ascending and each once, with a statement that imports `module`: `import` of it
// or a submodule, or `from` it, a submodule, or its parent package naming its last part or *.
std::vector<std::size_t> files_importing(const ImportIndex& index, std::string_view module);

}  // namespace pindrel::impact
