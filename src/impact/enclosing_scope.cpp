#include "impact/enclosing_scope.hpp"

#include <algorithm>

#include "impact/decorator_rules.hpp"

namespace pindrel::impact {

const pysource::Definition* innermost_definition(const pysource::Outline& outline, std::uint32_t line) {
  // Definitions are sorted by start line, so walking back from the last one that starts at or
  // before the line meets the greatest start line first, and the later one of a tie first.
  const auto& definitions = outline.definitions;
  auto it = std::ranges::upper_bound(definitions, line, {}, &pysource::Definition::start_line);
  while (it != definitions.begin()) {
    --it;
    if (line <= it->end_line) return &*it;
  }
  return nullptr;
}

Result<EnclosingScope> enclosing_definition_at(SourceCache& cache, const std::filesystem::path& file,
                                               std::uint32_t line) {
  auto source = read_source_cached(cache, file);
  if (!source) return std::unexpected(std::move(source.error()));
  if (*source == nullptr) return UnknownScope{};
  const pysource::SharedOutline outline = cached_outline(**source);
  if (outline == nullptr) return UnknownScope{};

  if (const pysource::Definition* definition = innermost_definition(*outline, line)) {
    return InDefinition{definition->qualname, decorator_names(*definition), definition->line, definition->column};
  }
  const bool in_import = std::ranges::any_of(
      outline->import_ranges, [&](const pysource::LineRange& range) { return range.start_line <= line && line <= range.end_line; });
  if (in_import) return ImportScope{};
  return ModuleLevelScope{};
}

}  // namespace pindrel::impact
