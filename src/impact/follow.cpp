#include "impact/follow.hpp"

#include "changed/symbols_from_diff.hpp"
#include "impact/decorator_rules.hpp"
#include "impact/enclosing_scope.hpp"
#include "impact/framework_names.hpp"
#include "impact/import_time.hpp"
#include "impact/module_seeds.hpp"
#include "project/modpath.hpp"
#include "util/utf8.hpp"

#include <algorithm>

namespace pindrel::impact {
namespace {

bool is_fixture(const std::vector<std::string>& decorator_names) {
  return std::ranges::any_of(decorator_names,
                             [](const std::string& name) { return name == "fixture" || name.ends_with(".fixture"); });
}

bool queue(WalkState& state, std::string name, std::string qualname, const std::filesystem::path& file,
           std::uint32_t line, std::uint32_t column, std::string_view reached, std::vector<FrontierSymbol>& next) {
  if (!mark_visited(state, name, reached)) return false;
  next.push_back({std::move(name), std::move(qualname), file, line, column});
  return true;
}

void follow_into_test_file(WalkState& state, const FrontierSymbol& symbol, const ReferenceSite& site,
                           const EnclosingScope& scope, std::vector<FrontierSymbol>& next) {
  if (std::holds_alternative<ImportScope>(scope)) return;
  ++state.reaching_sites;
  const auto* definition = std::get_if<InDefinition>(&scope);
  // Code that runs at import (a class body, a decorator, a default) fails the whole module when
  // it breaks, whichever of its tests is asked for.
  if (definition == nullptr || definition->at_import || !walk_module_name(state, site.file)) {
    record_impacted_test(state, site.file, std::nullopt, TestKind::test, symbol.name);
    return;
  }
  const std::string& module = *walk_module_name(state, site.file);
  std::string test_name = module + ":" + definition->qualname;
  const std::string_view last = last_name_part(definition->qualname);
  const bool test_like = last.starts_with("Test") || is_framework_called_method(last);
  const bool fixture = is_fixture(definition->decorator_names);
  if (test_like || fixture) {
    record_impacted_test(state, site.file, std::move(test_name), fixture ? TestKind::fixture : TestKind::test,
                         symbol.name);
    return;
  }
  // A helper of the test file: the tests that use it are found at the next level.
  if (queue(state, std::move(test_name), definition->qualname, site.file, definition->line, definition->column,
            symbol.name, next)) {
    state.test_helpers.push_back(next.back());
  }
}

// An import line outside test files: what it imports (the symbol's own name or its class's)
// is re-exported only under an alias, which carries the class's inherited method along.
Result<void> follow_import_alias(WalkState& state, const FrontierSymbol& symbol, const WalkedName& walked,
                                 const ReferenceSite& site, std::vector<FrontierSymbol>& next) {
  auto source = read_source_cached(state.source_cache, site.file);
  if (!source) return std::unexpected(std::move(source.error()));
  if (*source == nullptr) return {};
  const pysource::SharedOutline outline = cached_outline(**source);
  if (outline == nullptr) return {};
  const auto alias = std::ranges::find_if(outline->aliased_imports, [&](const pysource::ImportAlias& candidate) {
    return candidate.line == site.line && candidate.imported_name == walked.name;
  });
  if (alias == outline->aliased_imports.end()) return {};
  const std::optional<std::string>& module = walk_module_name(state, site.file);
  if (!module) return {};
  ++state.reaching_sites;
  queue_carrier(state, *module + ":" + alias->alias_name, alias->alias_name, site.file, site.line, alias->column,
                walked.carried, symbol.name, next);
  return {};
}

enum class ImportTimeSite {
  runs,      // the module runs the symbol when it is imported
  names,     // it only names it there: followed as an ordinary reference
  own_name,  // the symbol's own definition line, reached through an alias: nothing to follow
};

// What a site in code run at import does with the walked symbol; one that does not run it is
// followed for what it hands the symbol on to.
Result<ImportTimeSite> judge_site(WalkState& state, const FrontierSymbol& symbol, const WalkedName& walked,
                                  const ReferenceSite& site, std::vector<FrontierSymbol>& next) {
  auto source = read_source_cached(state.source_cache, site.file);
  if (!source) return std::unexpected(std::move(source.error()));
  if (*source == nullptr) return ImportTimeSite::runs;
  const pysource::SharedOutline outline = cached_outline(**source);
  if (outline == nullptr) return ImportTimeSite::runs;
  const SiteJudgement judgement = judge_import_time_site(*outline, site.line, walked);
  if (judgement.at_import) return ImportTimeSite::runs;
  const bool own_name = std::ranges::all_of(
      judgement.uses, [](const pysource::NameUse* use) { return use->kind == pysource::NameUseKind::own_name; });
  if (own_name) return ImportTimeSite::own_name;
  follow_unrun_uses(state, *outline, site.file, judgement, walked, symbol.name, next);
  return ImportTimeSite::names;
}

WalkOutcome follow_outside_test_files(WalkState& state, const FrontierSymbol& symbol, const WalkedName& walked,
                                      const ReferenceSite& site, const EnclosingScope& scope,
                                      std::vector<FrontierSymbol>& next) {
  if (const auto* definition = std::get_if<InDefinition>(&scope)) {
    const std::optional<std::string>& module = walk_module_name(state, site.file);
    if (!module) return WalkOutcome::completed();
    std::string name = *module + ":" + definition->qualname;
    if (auto entry = ignoring_entry_for(definition->decorator_names, state.config.ignore_decorators)) {
      ++state.reaching_sites;
      if (!state.ignored_symbols.contains(name)) {
        IgnoredSymbol ignored{name, reported_path(state, site.file), std::move(*entry)};
        state.ignored_symbols.emplace(std::move(name), std::move(ignored));
      }
      return WalkOutcome::completed();
    }
    bool at_import = definition->at_import;
    if (at_import) {
      auto judged = judge_site(state, symbol, walked, site, next);
      if (!judged) return WalkOutcome::stop(RunAllReason::index_failed, judged.error().render());
      if (*judged == ImportTimeSite::own_name) return WalkOutcome::completed();
      at_import = *judged == ImportTimeSite::runs;
    }
    ++state.reaching_sites;
    queue(state, std::move(name), definition->qualname, site.file, definition->line, definition->column, symbol.name,
          next);
    if (!at_import) return WalkOutcome::completed();
    // Used where the module runs it at import time, as a module-level statement would.
    mark_visited(state, *module, symbol.name);
    return seed_module_change(state, *module, site.file);
  }
  if (std::holds_alternative<ImportScope>(scope)) {
    auto followed = follow_import_alias(state, symbol, walked, site, next);
    if (!followed) return WalkOutcome::stop(RunAllReason::index_failed, followed.error().render());
    return WalkOutcome::completed();
  }
  if (std::holds_alternative<ModuleLevelScope>(scope)) {
    // The module runs the symbol at import time, and so does every module that imports it.
    const std::optional<std::string>& module = walk_module_name(state, site.file);
    if (!module) return WalkOutcome::completed();
    const std::size_t queued = next.size();
    auto judged = judge_site(state, symbol, walked, site, next);
    if (!judged) return WalkOutcome::stop(RunAllReason::index_failed, judged.error().render());
    if (next.size() != queued) ++state.reaching_sites;
    if (*judged != ImportTimeSite::runs) return WalkOutcome::completed();
    ++state.reaching_sites;
    mark_visited(state, *module, symbol.name);
    return seed_module_change(state, *module, site.file);
  }
  state.errors.push_back("could not read " + display_path(site.file) + ":" + std::to_string(site.line) +
                         " while walking from `" + symbol.name + "`");
  return WalkOutcome::completed();
}

WalkOutcome follow_sites(WalkState& state, const FrontierSymbol& symbol, const WalkedName& walked,
                         const std::optional<DefinitionSite>& definition, std::span<const ReferenceSite> sites,
                         std::vector<FrontierSymbol>& next) {
  for (const ReferenceSite& site : sites) {
    if (definition && is_definition_site(site, *definition)) continue;
    auto scope = enclosing_definition_at(state.source_cache, site.file, site.line);
    if (!scope) return WalkOutcome::stop(RunAllReason::index_failed, scope.error().render());
    if (is_test_file(site.file, state.root())) {
      follow_into_test_file(state, symbol, site, *scope, next);
      continue;
    }
    WalkOutcome outcome = follow_outside_test_files(state, symbol, walked, site, *scope, next);
    if (!outcome.is_completed()) return outcome;
  }
  return WalkOutcome::completed();
}

}  // namespace

std::optional<std::string> ignoring_entry_for(std::span<const std::string> decorator_names,
                                              std::span<const std::string> ignore_decorators) {
  for (const std::string& name : decorator_names) {
    for (const std::string& entry : ignore_decorators) {
      if (changed::decorator_matches_entry(name, entry)) return entry;
    }
  }
  return std::nullopt;
}

bool is_definition_site(const ReferenceSite& site, const DefinitionSite& definition) {
  return site.line == definition.line && site.file == definition.file;
}

WalkOutcome follow_references(WalkState& state, const FrontierSymbol& symbol,
                              const std::optional<DefinitionSite>& definition, std::span<const ReferenceSite> sites,
                              std::vector<FrontierSymbol>& next) {
  const WalkedName walked{last_name_part(symbol.qualname), carried_method(state, symbol.name), false};
  return follow_sites(state, symbol, walked, definition, sites, next);
}

WalkOutcome follow_deleted_name_sites(WalkState& state, const FrontierSymbol& deleted,
                                      std::span<const ReferenceSite> sites, std::vector<FrontierSymbol>& next) {
  const WalkedName walked{last_name_part(deleted.qualname), {}, true};
  return follow_sites(state, deleted, walked, std::nullopt, sites, next);
}

WalkOutcome follow_class_references(WalkState& state, const FrontierSymbol& method, std::string_view class_qualname,
                                    std::span<const ReferenceSite> sites, std::vector<FrontierSymbol>& next) {
  const WalkedName walked{last_name_part(class_qualname), last_name_part(method.qualname), false};
  return follow_sites(state, method, walked, std::nullopt, sites, next);
}

}  // namespace pindrel::impact
