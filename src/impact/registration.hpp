#pragma once

// Registrations that no reference shows. A dead end may still be called by a registry that
// the walk cannot see: a decorator that hands the function over (@register("upper"),
// @receiver(signal)), or a base class whose __init_subclass__ or metaclass records every
// subclass. Both happen when the module is imported, so the tests that import the module are
// the ones that can reach the registry's entry.

#include "impact/walk_state.hpp"

#include <span>
#include <string>

namespace pindrel::impact {

// For a symbol outside test files whose own sites, and for a method its class's, reached
// nothing: when a decorator of its definition that is neither transparent nor matched by
// `ignore-decorators` may register it unseen (an undotted one, or a dotted one among
// `unresolved`, those the dispatch could not resolve), or when it is a class, or a method of
// one, that has a base other than `object` or a metaclass, or whose class carries such a
// decorator, its module is changed at import time, entered as reached through the symbol.
WalkOutcome seed_unseen_registration(WalkState& state, const FrontierSymbol& symbol,
                                     std::span<const std::string> unresolved);

}  // namespace pindrel::impact
