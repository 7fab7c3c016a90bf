#pragma once

#include "impact/follow.hpp"
#include "impact/walk_state.hpp"

#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pindrel::impact {

// Follows a dead end that dotted decorators register with an object (app.route, bus.on): every
// place that references the object is handled as a reference to `symbol`, queueing into `next`.
// When no such decorator leads to a place that is not itself a registration with the same
// object, says so in `errors` and sets `decorator_dispatch`. Each registering decorator that led
// to no such place is added to `unresolved`.
WalkOutcome dispatch_decorators(WalkState& state, const FrontierSymbol& symbol,
                                std::span<const std::string> decorator_names, std::vector<FrontierSymbol>& next,
                                std::vector<std::string>& unresolved);

// The sites of the answers named `target`, in order, without those on the definition's line.
std::vector<ReferenceSite> references_except_definition(std::span<const SymbolReferences> answers,
                                                        std::string_view target, const DefinitionSite& definition);

// The sites of one symbol from one reference query, counted in `qlo_calls`, without those on
// its own definition line; a failed query stops the walk with `refs_failed`.
std::expected<std::vector<ReferenceSite>, WalkOutcome> query_sites_except_definition(WalkState& state,
                                                                                     const FrontierSymbol& target);

}  // namespace pindrel::impact
