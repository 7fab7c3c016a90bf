#pragma once

#include "impact/walk_state.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pindrel::impact {

// A line of a file that a symbol's own definition stands on.
struct DefinitionSite {
  std::filesystem::path file;
  std::uint32_t line = 0;
};

// Classifies each site that references `symbol`, in order: reached tests, fixtures and whole
// test files are recorded; the definitions, import aliases and modules that use the symbol are
// entered in `visited` and queued into `next` (modules are scanned at once); definitions that
// `ignore-decorators` matches are recorded as ignored. A site on the definition's own line is
// skipped.
WalkOutcome follow_references(WalkState& state, const FrontierSymbol& symbol,
                              const std::optional<DefinitionSite>& definition, std::span<const ReferenceSite> sites,
                              std::vector<FrontierSymbol>& next);

// Follows the lines that still name a deleted symbol as its references: every use there that
// runs at import fails, since the name no longer resolves.
WalkOutcome follow_deleted_name_sites(WalkState& state, const FrontierSymbol& deleted,
                                      std::span<const ReferenceSite> sites, std::vector<FrontierSymbol>& next);

// Follows the sites of the class `class_qualname` as references to its method `method`: an
// import line that aliases the class queues the alias, and every other site is classified as
// above, with the method as the symbol that reached it.
WalkOutcome follow_class_references(WalkState& state, const FrontierSymbol& method, std::string_view class_qualname,
                                    std::span<const ReferenceSite> sites, std::vector<FrontierSymbol>& next);

// The `ignore-decorators` entry that the first matching decorator name matches: the whole
// name, or a part of it that follows a ".".
std::optional<std::string> ignoring_entry_for(std::span<const std::string> decorator_names,
                                              std::span<const std::string> ignore_decorators);

// Whether a site lies on the definition's line in the same file, paths compared by components.
bool is_definition_site(const ReferenceSite& site, const DefinitionSite& definition);

}  // namespace pindrel::impact
