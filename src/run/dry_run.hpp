#pragma once

// What `run --dry-run` prints instead of running anything: the decision, the node ids with the chains
// that explain them, the expansions and the entries left out, the git environment, the fallback
// command that would start, and the exact argv; as JSON with sorted keys, or as text.

#include "project/git_env_policy.hpp"
#include "run/fallback.hpp"
#include "run/selection.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pindrel::run {

// The fallback command as the plan shows it.
struct FallbackPlan {
  std::vector<std::string> argv;  // display text, the program word resolved
  FallbackSource source = FallbackSource::flag;
  std::string reason;  // the reason name it would get, or "unspecified"
  FallbackPayload payload;
};

struct DryRunPlan {
  Selection selection;
  std::uint64_t elapsed_ms = 0;
  GitEnvPolicy policy = GitEnvPolicy::isolate;  // always inherit for the fallback command
  std::vector<std::string> removed;             // the git variables that would be removed, in table order
  std::optional<FallbackPlan> fallback;         // present exactly when the fallback command would start
  std::vector<std::string> argv;  // what would be executed; empty for nothing and for an unresolved pytest
  std::optional<std::string> start_dir =
      std::nullopt;  // where pytest would start, relative to the top level, when not there
};

// One line without a newline: what `run` is about to do. Also `run`'s status line.
std::string decision_summary_line(const Selection& selection, std::uint64_t elapsed_ms);

// The texts as a compact JSON array: ["a","b"].
std::string argv_to_json_text(const std::vector<std::string>& words);

// The plan as one pretty-printed JSON object, every object's keys sorted; no final newline.
std::string dry_run_plan_json(const DryRunPlan& plan);

// The plan as text, ending with a newline.
std::string write_dry_run_text(const DryRunPlan& plan);

}  // namespace pindrel::run
