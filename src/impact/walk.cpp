#include "impact/walk.hpp"

// A level's symbols go to the reference source in one question, so the cost of a walk is its
// depth, not its width. Since Python reaches many functions without naming them, a symbol
// whose references add nothing new (a dead end) is tried through its registering decorators,
// every method, dead end or not, is also followed through its class, and one that reaches
// nothing at all may still be registered when its module is imported.

#include "impact/class_fallback.hpp"
#include "impact/decorator_dispatch.hpp"
#include "impact/decorator_rules.hpp"
#include "impact/enclosing_scope.hpp"
#include "impact/follow.hpp"
#include "impact/module_seeds.hpp"
#include "impact/registration.hpp"
#include "impact/unresolved_imports.hpp"
#include "impact/word_search.hpp"
#include "project/modpath.hpp"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <unordered_map>

namespace pindrel::impact {
namespace {

WalkOutcome enter_seeds(WalkState& state, std::span<const Seed> seeds, std::vector<FrontierSymbol>& frontier) {
  for (const Seed& seed : seeds) {
    state.visited.insert_or_assign(seed.name, VisitedEntry{seed.name, std::nullopt});
    switch (seed.kind) {
      case SeedKind::changed: frontier.push_back(seed); break;
      case SeedKind::deleted: {
        // The definitions that still use a deleted name are walked from the first level, and
        // the files that still import it fail at import.
        auto hits = grep_word_in_files(state.source_cache, last_name_part(seed.qualname));
        if (!hits) return WalkOutcome::stop(RunAllReason::index_failed, hits.error().render());
        WalkOutcome outcome = follow_deleted_name_sites(state, seed, *hits, frontier);
        if (!outcome.is_completed()) return outcome;
        outcome = follow_imports_of_deleted(state, seed, *hits);
        if (!outcome.is_completed()) return outcome;
        break;
      }
      case SeedKind::module: {
        WalkOutcome outcome = seed_module_change(state, seed.name, seed.file);
        if (!outcome.is_completed()) return outcome;
        break;
      }
    }
  }
  return WalkOutcome::completed();
}

// The budgets that are checked between levels.
std::optional<WalkOutcome> spent_budget(const WalkState& state) {
  if (state.visited.size() > state.limits.max_symbols) return WalkOutcome::stop(RunAllReason::max_symbols);
  if (state.limits.deadline && state.clock.now() >= *state.limits.deadline)
    return WalkOutcome::stop(RunAllReason::budget);
  return std::nullopt;
}

// A symbol whose references added nothing: a test itself when it lives in a test file, and
// otherwise perhaps reached through a registering decorator; those that could not be resolved
// are added to `unresolved`.
WalkOutcome handle_dead_end(WalkState& state, const FrontierSymbol& symbol, std::vector<FrontierSymbol>& next,
                            std::vector<std::string>& unresolved) {
  if (is_test_file(symbol.file, state.root())) {
    const auto entry = state.visited.find(symbol.name);
    const std::string reached =
        entry != state.visited.end() && entry->second.parent ? *entry->second.parent : symbol.name;
    record_impacted_test(state, symbol.file, symbol.name, TestKind::test, reached);
  }
  auto scope = enclosing_definition_at(state.source_cache, symbol.file, symbol.line);
  if (!scope) return WalkOutcome::stop(RunAllReason::index_failed, scope.error().render());
  const auto* definition = std::get_if<InDefinition>(&*scope);
  if (definition == nullptr) return WalkOutcome::completed();
  return dispatch_decorators(state, symbol, definition->decorator_names, next, unresolved);
}

// One level: one question for all its symbols, then each answer followed in order.
WalkOutcome walk_level(WalkState& state, const std::vector<FrontierSymbol>& frontier,
                       std::vector<FrontierSymbol>& next) {
  ++state.qlo_calls;
  auto answers = state.references.references(symbol_queries(frontier));
  if (!answers) return failed_query_stop(state, answers.error());

  // Several symbols of one name answer as the last of them.
  std::unordered_map<std::string_view, const FrontierSymbol*> by_name;
  by_name.reserve(frontier.size());
  for (const FrontierSymbol& symbol : frontier) by_name.insert_or_assign(symbol.name, &symbol);

  for (const SymbolReferences& answer : *answers) {
    const auto found = by_name.find(answer.name);
    if (found == by_name.end()) continue;
    const FrontierSymbol& symbol = *found->second;
    const std::size_t queued = next.size();
    const std::size_t recorded = state.impacted_tests.size();
    const std::uint64_t reaching = state.reaching_sites;
    WalkOutcome outcome =
        follow_references(state, symbol, DefinitionSite{symbol.file, symbol.line}, answer.sites, next);
    if (!outcome.is_completed()) return outcome;
    if (state.reaching_sites == reaching) {
      outcome = follow_unresolved_imports(state, symbol, symbol, next);
      if (!outcome.is_completed()) return outcome;
    }
    bool reached_nothing = state.reaching_sites == reaching;
    std::vector<std::string> unresolved;
    if (next.size() == queued && state.impacted_tests.size() == recorded) {
      outcome = handle_dead_end(state, symbol, next, unresolved);
      if (!outcome.is_completed()) return outcome;
    }
    // A method's own sites miss the calls made on receivers that cannot be typed.
    const std::uint64_t reaching_before_class = state.reaching_sites;
    outcome = follow_through_class(state, symbol, next);
    if (!outcome.is_completed()) return outcome;
    reached_nothing = reached_nothing && state.reaching_sites == reaching_before_class;
    if (reached_nothing) {
      outcome = seed_unseen_registration(state, symbol, unresolved);
      if (!outcome.is_completed()) return outcome;
    }
  }
  return WalkOutcome::completed();
}

}  // namespace

WalkOutcome walk_references(WalkState& state, std::span<const Seed> seeds) {
  std::vector<FrontierSymbol> frontier;
  WalkOutcome seeded = enter_seeds(state, seeds, frontier);
  if (!seeded.is_completed()) return seeded;

  // Wider than the limit, so that a limit of 2^32 - 1 levels cannot wrap the count.
  std::uint64_t depth = 0;
  while (true) {
    if (auto spent = spent_budget(state)) return *spent;
    if (frontier.empty()) return WalkOutcome::completed();
    state.max_depth_reached = static_cast<std::uint32_t>(depth);
    std::vector<FrontierSymbol> next;
    WalkOutcome outcome = walk_level(state, frontier, next);
    if (!outcome.is_completed()) return outcome;
    std::ranges::stable_sort(next, {}, &FrontierSymbol::name);
    if (next.empty()) return spent_budget(state).value_or(WalkOutcome::completed());
    if (++depth > state.limits.max_depth) return WalkOutcome::stop(RunAllReason::max_depth);
    frontier = std::move(next);
  }
}

}  // namespace pindrel::impact
