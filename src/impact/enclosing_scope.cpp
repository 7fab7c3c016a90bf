#include "impact/enclosing_scope.hpp"

#include "impact/decorator_rules.hpp"
#include "pysource/enclosing.hpp"

#include <algorithm>

namespace pindrel::impact {

Result<EnclosingScope> enclosing_definition_at(SourceCache& cache, const std::filesystem::path& file,
                                               std::uint32_t line) {
  auto source = read_source_cached(cache, file);
  if (!source) return std::unexpected(std::move(source.error()));
  if (*source == nullptr) return UnknownScope{};
  const pysource::SharedOutline outline = cached_outline(**source);
  if (outline == nullptr) return UnknownScope{};

  if (const pysource::Definition* definition = pysource::enclosing_definition(*outline, line)) {
    const bool at_import = definition->kind == pysource::DefinitionKind::class_ || line <= definition->header_end_line;
    return InDefinition{definition->qualname, decorator_names(*definition), definition->line, definition->column,
                        at_import};
  }
  const bool in_import = std::ranges::any_of(outline->import_ranges, [&](const pysource::LineRange& range) {
    return range.start_line <= line && line <= range.end_line;
  });
  if (in_import) return ImportScope{};
  return ModuleLevelScope{};
}

}  // namespace pindrel::impact
