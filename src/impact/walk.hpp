#pragma once

#include "impact/walk_state.hpp"

#include <span>

namespace pindrel::impact {

// Walks references backwards from the seeds (sorted by name, repeats dropped), breadth first,
// one batched reference query per level, under the state's limits. What it finds stays in the
// state; the outcome says whether it completed or why it stopped.
WalkOutcome walk_references(WalkState& state, std::span<const Seed> seeds);

}  // namespace pindrel::impact
