#pragma once

#include "impact/source_cache.hpp"
#include "pysource/outline.hpp"
#include "util/error.hpp"

#include <cstdint>
#include <filesystem>
#include <string>
#include <variant>
#include <vector>

namespace pindrel::impact {

// Where a 1-based line of a file stands.
struct ImportScope {
  friend bool operator==(const ImportScope&, const ImportScope&) = default;
};
struct InDefinition {
  std::string qualname;
  std::vector<std::string> decorator_names;
  std::uint32_t line = 0;  // position of the definition's name
  std::uint32_t column = 0;
  // The line runs when the module is imported: a decorator, a signature, a base, or a class
  // body's own statement.
  bool at_import = false;
  friend bool operator==(const InDefinition&, const InDefinition&) = default;
};
struct ModuleLevelScope {
  friend bool operator==(const ModuleLevelScope&, const ModuleLevelScope&) = default;
};
// The file is absent, or has no outline.
struct UnknownScope {
  friend bool operator==(const UnknownScope&, const UnknownScope&) = default;
};
using EnclosingScope = std::variant<ImportScope, InDefinition, ModuleLevelScope, UnknownScope>;

// The scope of `line` in `file`, read and outlined through the cache; a read error is returned.
Result<EnclosingScope> enclosing_definition_at(SourceCache& cache, const std::filesystem::path& file,
                                               std::uint32_t line);

}  // namespace pindrel::impact
