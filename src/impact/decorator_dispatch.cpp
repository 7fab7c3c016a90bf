#include "impact/decorator_dispatch.hpp"

#include "impact/decorator_rules.hpp"
#include "impact/enclosing_scope.hpp"
#include "impact/word_search.hpp"

#include <algorithm>

namespace pindrel::impact {
namespace {

bool is_registering(const WalkState& state, const std::string& name) {
  if (is_transparent_decorator(name) || name.find('.') == std::string::npos) return false;
  return !ignoring_entry_for(std::span(&name, 1), state.config.ignore_decorators);
}

// The places that reference the registry object `root` as seen from the dead end's file: a
// query for its module-level binding there, else a word search over the repository.
std::expected<std::vector<ReferenceSite>, WalkOutcome> find_registry_sites(WalkState& state,
                                                                           const FrontierSymbol& symbol,
                                                                           const std::string& root) {
  auto source = read_source_cached(state.source_cache, symbol.file);
  if (!source) return std::unexpected(WalkOutcome::stop(RunAllReason::index_failed, source.error().render()));
  const pysource::SharedOutline outline = *source ? cached_outline(**source) : nullptr;
  if (outline != nullptr) {
    const auto binding = std::ranges::find(outline->module_names, root, &pysource::ModuleLevelName::bound_name);
    if (binding != outline->module_names.end()) {
      const std::optional<std::string>& module = walk_module_name(state, symbol.file);
      const FrontierSymbol target{module ? *module + ":" + root : root, root, symbol.file, binding->line,
                                  binding->column};
      auto sites = query_sites_except_definition(state, target);
      if (!sites || !sites->empty()) return sites;
    }
  }
  auto hits = grep_word_in_files(state.source_cache, root);
  if (!hits) return std::unexpected(WalkOutcome::stop(RunAllReason::index_failed, hits.error().render()));
  if (hits->size() > max_word_hits) hits->clear();
  return std::move(*hits);
}

std::string join(std::span<const std::string> parts, std::string_view separator) {
  std::string joined;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) joined += separator;
    joined += parts[i];
  }
  return joined;
}

}  // namespace

std::vector<ReferenceSite> references_except_definition(std::span<const SymbolReferences> answers,
                                                        std::string_view target, const DefinitionSite& definition) {
  std::vector<ReferenceSite> sites;
  for (const SymbolReferences& answer : answers) {
    if (answer.name != target) continue;
    for (const ReferenceSite& site : answer.sites) {
      if (!is_definition_site(site, definition)) sites.push_back(site);
    }
  }
  return sites;
}

std::expected<std::vector<ReferenceSite>, WalkOutcome> query_sites_except_definition(WalkState& state,
                                                                                     const FrontierSymbol& target) {
  ++state.qlo_calls;
  auto answers = state.references.references(symbol_queries(std::span(&target, 1)));
  if (!answers) return std::unexpected(failed_query_stop(state, answers.error()));
  return references_except_definition(*answers, target.name, {target.file, target.line});
}

WalkOutcome dispatch_decorators(WalkState& state, const FrontierSymbol& symbol,
                                std::span<const std::string> decorator_names, std::vector<FrontierSymbol>& next,
                                std::vector<std::string>& unresolved) {
  bool resolved = false;
  std::vector<std::string> registering;
  std::vector<std::string> roots;
  for (const std::string& name : decorator_names) {
    if (!is_registering(state, name)) continue;
    std::string root = *decorator_registry_root(name);
    registering.push_back(name);
    roots.push_back(root);

    auto key = std::make_pair(symbol.file, root);
    auto cached = state.decorator_sites.find(key);
    if (cached == state.decorator_sites.end()) {
      auto found = find_registry_sites(state, symbol, root);
      if (!found) return found.error();
      cached = state.decorator_sites.emplace(std::move(key), std::move(*found)).first;
    }
    const std::vector<ReferenceSite>& sites = cached->second;
    if (sites.empty()) {
      unresolved.push_back(name);
      continue;
    }

    // Another function registered with the same object does not tell who calls the object.
    bool counted = false;
    for (const ReferenceSite& site : sites) {
      auto scope = enclosing_definition_at(state.source_cache, site.file, site.line);
      if (!scope) return WalkOutcome::stop(RunAllReason::index_failed, scope.error().render());
      const auto* definition = std::get_if<InDefinition>(&*scope);
      const bool same_registry =
          definition != nullptr && std::ranges::any_of(definition->decorator_names, [&](const std::string& other) {
            return decorator_registry_root(other) == root;
          });
      if (!same_registry) {
        counted = true;
        break;
      }
    }
    if (counted) {
      resolved = true;
    } else {
      unresolved.push_back(name);
    }
    WalkOutcome outcome = follow_references(state, symbol, std::nullopt, sites, next);
    if (!outcome.is_completed()) return outcome;
  }
  if (!registering.empty() && !resolved) {
    state.errors.push_back("`" + symbol.name + "` is registered by @" + join(registering, ", @") +
                           " and nothing referencing `" + join(roots, "`, `") + "` could be resolved");
    state.decorator_dispatch = true;
  }
  return WalkOutcome::completed();
}

}  // namespace pindrel::impact
