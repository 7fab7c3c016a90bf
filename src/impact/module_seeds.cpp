#include "impact/module_seeds.hpp"

#include "impact/enclosing_scope.hpp"
#include "impact/import_index.hpp"
#include "modpath.hpp"

#include <deque>
#include <vector>

namespace pindrel::impact {
namespace {

Result<const ImportIndex*> walk_import_index(WalkState& state) {
  if (!state.import_index) {
    auto index = index_import_lines(
        state.source_cache, [&state](const std::filesystem::path& file) { return walk_module_name(state, file); });
    if (!index) return std::unexpected(std::move(index.error()));
    state.import_index = std::move(*index);
  }
  return &*state.import_index;
}

}  // namespace

WalkOutcome seed_import_time_changes(WalkState& state, std::span<const std::string> modules) {
  std::deque<std::string> pending;
  for (const std::string& module : modules) {
    if (state.import_time_modules.insert(module).second) pending.push_back(module);
  }
  if (pending.empty()) return WalkOutcome::completed();
  auto index = walk_import_index(state);
  if (!index) return WalkOutcome::stop(RunAllReason::index_failed, index.error().render());

  while (!pending.empty()) {
    const std::string module = std::move(pending.front());
    pending.pop_front();
    for (const std::size_t file_index : files_importing(**index, module)) {
      const std::filesystem::path& file = state.source_cache.python_files[file_index];
      if (is_test_file(file, state.root())) {
        record_impacted_test(state, file, std::nullopt, TestKind::test, module);
        continue;
      }
      const std::optional<std::string>& importer = walk_module_name(state, file);
      if (!importer) continue;
      mark_visited(state, *importer, module);
      if (state.import_time_modules.insert(*importer).second) pending.push_back(*importer);
    }
  }
  return WalkOutcome::completed();
}

WalkOutcome seed_module_change(WalkState& state, std::string_view module) {
  const std::string modules[] = {std::string(module)};
  return seed_import_time_changes(state, modules);
}

WalkOutcome follow_imports_of_deleted(WalkState& state, const FrontierSymbol& deleted,
                                      std::span<const ReferenceSite> sites) {
  // Only a top-level name can be imported.
  if (deleted.qualname.find('.') != std::string::npos) return WalkOutcome::completed();
  std::vector<std::string> importers;
  for (const ReferenceSite& site : sites) {
    auto scope = enclosing_definition_at(state.source_cache, site.file, site.line);
    if (!scope) return WalkOutcome::stop(RunAllReason::index_failed, scope.error().render());
    if (!std::holds_alternative<ImportScope>(*scope)) continue;
    if (is_test_file(site.file, state.root())) {
      record_impacted_test(state, site.file, std::nullopt, TestKind::test, deleted.name);
      continue;
    }
    const std::optional<std::string>& module = walk_module_name(state, site.file);
    if (!module) continue;
    mark_visited(state, *module, deleted.name);
    importers.push_back(*module);
  }
  return seed_import_time_changes(state, importers);
}

}  // namespace pindrel::impact
