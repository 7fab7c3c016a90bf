#include "impact/unresolved_imports.hpp"

#include "impact/enclosing_scope.hpp"
#include "impact/follow.hpp"
#include "impact/module_seeds.hpp"
#include "impact/word_search.hpp"
#include "project/modpath.hpp"

#include <deque>
#include <iterator>
#include <set>

namespace pindrel::impact {
namespace {

// Too many hits to follow: each importer is taken whole.
WalkOutcome select_importers(WalkState& state, const FrontierSymbol& symbol, std::span<const std::size_t> importers) {
  std::vector<ImportTimeModule> modules;
  for (const std::size_t index : importers) {
    const std::filesystem::path& file = state.source_cache.python_files[index];
    if (is_test_file(file, state.root())) {
      record_impacted_test(state, file, std::nullopt, TestKind::test, symbol.name);
      continue;
    }
    const std::optional<std::string>& module = walk_module_name(state, file);
    if (!module) continue;
    mark_visited(state, *module, symbol.name);
    modules.push_back({*module, file});
  }
  return seed_import_time_changes(state, modules);
}

}  // namespace

WalkOutcome follow_unresolved_imports(WalkState& state, const FrontierSymbol& symbol, const FrontierSymbol& target,
                                      std::vector<FrontierSymbol>& next) {
  if (target.qualname.find('.') != std::string::npos || is_test_file(target.file, state.root())) {
    return WalkOutcome::completed();
  }
  const std::optional<std::string>& own_module = walk_module_name(state, target.file);
  if (!own_module) return WalkOutcome::completed();

  std::vector<ReferenceSite> hits;
  std::vector<std::size_t> importers;
  std::set<std::size_t> searched;
  std::set<std::string> exporting = {*own_module};
  std::deque<ImportTimeModule> pending = {{*own_module, target.file}};
  while (!pending.empty() && hits.size() <= max_word_hits) {
    const ImportTimeModule module = std::move(pending.front());
    pending.pop_front();
    auto files = files_importing_module(state, module.name, module.file);
    if (!files) return WalkOutcome::stop(RunAllReason::index_failed, files.error().render());
    std::vector<std::size_t> fresh;
    for (const std::size_t index : *files) {
      if (state.source_cache.python_files[index] != target.file && searched.insert(index).second) {
        fresh.push_back(index);
      }
    }
    auto found = grep_word_in_files(state.source_cache, fresh, target.qualname);
    if (!found) return WalkOutcome::stop(RunAllReason::index_failed, found.error().render());
    for (const ReferenceSite& hit : *found) {
      if (is_test_file(hit.file, state.root())) continue;
      auto scope = enclosing_definition_at(state.source_cache, hit.file, hit.line);
      if (!scope) return WalkOutcome::stop(RunAllReason::index_failed, scope.error().render());
      if (!std::holds_alternative<ImportScope>(*scope)) continue;
      const std::optional<std::string>& module_name = walk_module_name(state, hit.file);
      if (module_name && exporting.insert(*module_name).second) pending.push_back({*module_name, hit.file});
    }
    std::ranges::move(*found, std::back_inserter(hits));
    std::ranges::move(fresh, std::back_inserter(importers));
  }
  if (hits.size() > max_word_hits) return select_importers(state, symbol, importers);
  if (symbol.name == target.name) {
    return follow_references(state, symbol, DefinitionSite{target.file, target.line}, hits, next);
  }
  return follow_class_references(state, symbol, target.qualname, hits, next);
}

}  // namespace pindrel::impact
