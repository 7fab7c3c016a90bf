#include "impact/class_fallback.hpp"

#include "impact/decorator_dispatch.hpp"
#include "impact/follow.hpp"
#include "impact/unresolved_imports.hpp"
#include "project/modpath.hpp"
#include "pysource/enclosing.hpp"

namespace pindrel::impact {

const pysource::Definition* enclosing_class(const pysource::Outline& outline, const pysource::Definition& method) {
  const std::string_view qualname = method.qualname;
  const std::string_view class_name = qualname.substr(0, qualname.rfind('.'));
  const pysource::Definition* found = nullptr;
  for (const pysource::Definition& candidate : outline.definitions) {
    if (candidate.kind == pysource::DefinitionKind::class_ && candidate.qualname == class_name &&
        candidate.start_line <= method.start_line && method.end_line <= candidate.end_line &&
        (found == nullptr || candidate.start_line >= found->start_line)) {
      found = &candidate;
    }
  }
  return found;
}

std::expected<WalkedDefinition, WalkOutcome> walked_definition(WalkState& state, const FrontierSymbol& symbol) {
  if (is_test_file(symbol.file, state.root())) return WalkedDefinition{};
  auto source = read_source_cached(state.source_cache, symbol.file);
  if (!source) return std::unexpected(WalkOutcome::stop(RunAllReason::index_failed, source.error().render()));
  if (*source == nullptr) return WalkedDefinition{};
  WalkedDefinition walked{cached_outline(**source), nullptr};
  if (walked.outline != nullptr) walked.definition = pysource::enclosing_definition(*walked.outline, symbol.line);
  return walked;
}

WalkOutcome follow_through_class(WalkState& state, const FrontierSymbol& symbol, std::vector<FrontierSymbol>& next) {
  const auto walked = walked_definition(state, symbol);
  if (!walked) return walked.error();
  const pysource::Definition* method = walked->definition;
  if (method == nullptr || method->kind != pysource::DefinitionKind::method) return WalkOutcome::completed();
  const pysource::Definition* owner = enclosing_class(*walked->outline, *method);
  if (owner == nullptr) return WalkOutcome::completed();

  const std::optional<std::string>& module = walk_module_name(state, symbol.file);
  const FrontierSymbol target{module ? *module + ":" + owner->qualname : owner->qualname, owner->qualname, symbol.file,
                              owner->line, owner->column};
  auto key = std::make_pair(symbol.file, owner->qualname);
  auto cached = state.class_sites.find(key);
  if (cached == state.class_sites.end()) {
    auto sites = query_sites_except_definition(state, target);
    if (!sites) return sites.error();
    cached = state.class_sites.emplace(std::move(key), std::move(*sites)).first;
  }
  const std::uint64_t reaching = state.reaching_sites;
  WalkOutcome outcome = follow_class_references(state, symbol, owner->qualname, cached->second, next);
  if (!outcome.is_completed() || state.reaching_sites != reaching) return outcome;
  return follow_unresolved_imports(state, symbol, target, next);
}

}  // namespace pindrel::impact
