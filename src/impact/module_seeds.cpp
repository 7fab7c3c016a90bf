#include "impact/module_seeds.hpp"

#include "impact/enclosing_scope.hpp"
#include "impact/import_index.hpp"
#include "impact/import_names.hpp"
#include "project/modpath.hpp"

#include <algorithm>
#include <deque>
#include <iterator>
#include <vector>

namespace pindrel::impact {
Result<const ImportIndex*> walk_import_index(WalkState& state) {
  if (!state.import_index) {
    auto index = index_import_lines(
        state.source_cache, [&state](const std::filesystem::path& file) { return walk_module_name(state, file); });
    if (!index) return std::unexpected(std::move(index.error()));
    state.import_index = std::move(*index);
  }
  return &*state.import_index;
}

Result<std::vector<std::size_t>> files_importing_module(WalkState& state, std::string_view module,
                                                        const std::filesystem::path& file) {
  auto index = walk_import_index(state);
  if (!index) return std::unexpected(std::move(index.error()));
  auto names = module_import_names(state, module, file);
  if (!names) return std::unexpected(std::move(names.error()));
  std::vector<std::size_t> importing;
  for (const std::string& name : *names)
    std::ranges::copy(files_importing(**index, name), std::back_inserter(importing));
  std::ranges::sort(importing);
  const auto repeats = std::ranges::unique(importing);
  importing.erase(repeats.begin(), repeats.end());
  return importing;
}

WalkOutcome seed_import_time_changes(WalkState& state, std::span<const ImportTimeModule> modules) {
  std::deque<ImportTimeModule> pending;
  for (const ImportTimeModule& module : modules) {
    if (state.import_time_modules.insert(module.name).second) pending.push_back(module);
  }
  while (!pending.empty()) {
    const ImportTimeModule module = std::move(pending.front());
    pending.pop_front();
    auto importing = files_importing_module(state, module.name, module.file);
    if (!importing) return WalkOutcome::stop(RunAllReason::index_failed, importing.error().render());
    for (const std::size_t file_index : *importing) {
      const std::filesystem::path& file = state.source_cache.python_files[file_index];
      if (is_test_file(file, state.root())) {
        record_impacted_test(state, file, std::nullopt, TestKind::test, module.name);
        continue;
      }
      const std::optional<std::string>& importer = walk_module_name(state, file);
      if (!importer) continue;
      mark_visited(state, *importer, module.name);
      if (state.import_time_modules.insert(*importer).second) pending.push_back({*importer, file});
    }
  }
  return WalkOutcome::completed();
}

WalkOutcome seed_module_change(WalkState& state, std::string_view module, const std::filesystem::path& file) {
  const ImportTimeModule modules[] = {{std::string(module), file}};
  return seed_import_time_changes(state, modules);
}

Result<bool> is_imported(WalkState& state, std::string_view module, const std::filesystem::path& file) {
  auto importing = files_importing_module(state, module, file);
  if (!importing) return std::unexpected(std::move(importing.error()));
  return !importing->empty();
}

WalkOutcome follow_imports_of_deleted(WalkState& state, const FrontierSymbol& deleted,
                                      std::span<const ReferenceSite> sites) {
  // Only a top-level name can be imported.
  if (deleted.qualname.find('.') != std::string::npos) return WalkOutcome::completed();
  std::vector<ImportTimeModule> importers;
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
    importers.push_back({*module, site.file});
  }
  return seed_import_time_changes(state, importers);
}

}  // namespace pindrel::impact
