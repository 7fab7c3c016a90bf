#pragma once

// Whether a site of a walked symbol in code run at import (module level, a class body, a
// definition's header) runs the symbol's changed code while the module is imported. Only then
// is the module changed at import time; a site that only names the symbol is followed as an
// ordinary reference instead.

#include "impact/walk_state.hpp"
#include "pysource/outline.hpp"

#include <cstdint>
#include <string_view>
#include <vector>

namespace pindrel::impact {

// What the walk follows to a site.
struct WalkedName {
  std::string_view name;     // the name the site spells: the symbol's last name, or its class's
  std::string_view carried;  // the inherited method reached through the class; empty when none
  bool deleted = false;      // the name no longer resolves, so every use of it fails
};

struct SiteJudgement {
  bool at_import = true;
  // When the site does not run the symbol: its uses of the name on the line.
  std::vector<const pysource::NameUse*> uses;
};

// Judges the uses of the walked name on `line`. A line the outline lists no such use for is
// taken as running it.
SiteJudgement judge_import_time_site(const pysource::Outline& outline, std::uint32_t line, const WalkedName& walked);

// Follows what a site that does not run the symbol hands it on to: a class that takes it as a
// base carries the inherited method, and the names a statement binds to it are walked, as an
// alias is. `reached` is the walked symbol's name.
void follow_unrun_uses(WalkState& state, const pysource::Outline& outline, const std::filesystem::path& file,
                       const SiteJudgement& judgement, const WalkedName& walked, std::string_view reached,
                       std::vector<FrontierSymbol>& next);

// Queues a name as the alias rule does, noting the method it carries; false when it was visited.
bool queue_carrier(WalkState& state, std::string name, std::string qualname, const std::filesystem::path& file,
                   std::uint32_t line, std::uint32_t column, std::string_view carried, std::string_view reached,
                   std::vector<FrontierSymbol>& next);

// The inherited method a queued class or alias was queued to carry; empty when none.
std::string_view carried_method(const WalkState& state, std::string_view name);

}  // namespace pindrel::impact
