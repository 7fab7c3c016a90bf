#include "impact/walk_state.hpp"

#include "project/modpath.hpp"
#include "util/utf8.hpp"

namespace pindrel::impact {

bool mark_visited(WalkState& state, std::string_view name, std::string_view parent) {
  if (state.visited.contains(std::string(name))) return false;
  const auto parent_entry = state.visited.find(std::string(parent));
  std::string origin = parent_entry != state.visited.end() ? parent_entry->second.origin : std::string(parent);
  state.visited.emplace(std::string(name), VisitedEntry{std::move(origin), std::string(parent)});
  return true;
}

std::string reported_path(WalkState& state, const std::filesystem::path& file) {
  if (!is_valid_utf8(file.native())) state.undecodable_paths.insert(file.native());
  return display_path(file);
}

void record_impacted_test(WalkState& state, const std::filesystem::path& file, std::optional<std::string> symbol,
                          TestKind kind, std::string_view reached) {
  ImpactedTestKey key{reported_path(state, file), std::move(symbol)};
  if (state.impacted_tests.contains(key)) return;

  ReachChain chain = reach_chain(state.visited, reached);
  ImpactedTest test{key.first, key.second, std::move(chain.via), std::move(chain.origin), kind};
  state.impacted_tests.emplace(std::move(key), std::move(test));
}

ReachChain reach_chain(const std::map<std::string, VisitedEntry>& visited, std::string_view reached) {
  const auto reached_entry = visited.find(std::string(reached));
  ReachChain chain{{}, reached_entry != visited.end() ? reached_entry->second.origin : std::string(reached)};
  // A parent is always entered before its child, so the chain ends; the bound only guards.
  std::string current(reached);
  while (current != chain.origin && chain.via.size() <= visited.size()) {
    chain.via.push_back(current);
    const auto entry = visited.find(current);
    if (entry == visited.end() || !entry->second.parent) break;
    current = *entry->second.parent;
  }
  return chain;
}

const std::optional<std::string>& walk_module_name(WalkState& state, const std::filesystem::path& file) {
  auto found = state.module_names.find(file);
  if (found == state.module_names.end()) {
    const InitFileProbe probe = [&state](const std::filesystem::path& dir) {
      const auto [at, added] = state.init_files.try_emplace(dir, false);
      if (added) {
        std::error_code ignored;
        at->second = std::filesystem::exists(state.root() / dir / "__init__.py", ignored);
      }
      return at->second;
    };
    found = state.module_names.emplace(file, module_name_for_path(file, probe)).first;
  }
  return found->second;
}

WalkOutcome failed_query_stop(const WalkState& state, const Error& error) {
  if (state.limits.deadline && state.clock.now() >= *state.limits.deadline)
    return WalkOutcome::stop(RunAllReason::budget);
  return WalkOutcome::stop(RunAllReason::refs_failed, error.render());
}

std::vector<SymbolQuery> symbol_queries(std::span<const FrontierSymbol> symbols) {
  std::vector<SymbolQuery> queries;
  queries.reserve(symbols.size());
  for (const FrontierSymbol& symbol : symbols)
    queries.push_back({symbol.name, symbol.file, symbol.line, symbol.column});
  return queries;
}

}  // namespace pindrel::impact
