#pragma once

// The one entry of the impact computation: the changes, the cases that no walk can answer
// (each an early `run_all`), the seeds, the walk and the report. Only the changes themselves
// can fail; every later problem becomes a `run_all` verdict with its reason.

#include "changed/changed_symbols.hpp"
#include "cli/args.hpp"
#include "impact/impact_report.hpp"
#include "impact/source_cache.hpp"
#include "impact/walk_state.hpp"
#include "project/environment.hpp"
#include "project/workspace.hpp"
#include "qlo/reference_source.hpp"
#include "util/clock.hpp"
#include "util/error.hpp"

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace pindrel::impact {

enum class FastSuiteCheck { off, on };

struct ImpactResult {
  ImpactReport impact_report;
  std::optional<std::vector<std::string>> repository_files;  // absent when the pipeline ended before listing
  changed::ChangedSymbols changes;                           // what the report was computed from
  // The files as the walk read and outlined them, so that whoever reads on sees the same versions
  // without reading them again; absent when the pipeline ended before the walk.
  std::optional<SourceCache> cache;
  // Every name the walk entered, with how it was reached: the modules whose doctests it can break.
  std::map<std::string, VisitedEntry> visited;
};

// The impact of the working tree's changes (or of the changed-symbols report at `changed`).
// `pytest` gives the collection rules that tell test support files from test files.
Result<ImpactResult> compute_impact(const Workspace& workspace, const Environment& env,
                                    const std::optional<std::string>& base,
                                    const std::optional<std::filesystem::path>& changed, const BudgetFlags& budgets,
                                    FastSuiteCheck check_fast_suite, const Clock& clock, const PytestSettings& pytest);

// Each limit from the flag, else the configuration, else the default; a budget of 0, or one
// that ends beyond the clock's range, sets no deadline.
WalkLimits settle_walk_limits(const BudgetFlags& budgets, const Config& config, Clock::Instant start);

// The seeds of the changes, sorted by name with repeats dropped; module changes are read
// through the cache for their top-level definitions, and a changed test file is a module seed
// under each of its names. A read error is returned.
Result<std::vector<Seed>> seeds_from_changes(SourceCache& cache, const changed::ChangedSymbols& changes);

// The listed part of the pipeline: seeds, walk, verdict and report, over the listed files.
ImpactResult walk_impact(const std::filesystem::path& root, const Config& config, changed::ChangedSymbols changes,
                         std::vector<std::string> repository_files, const WalkLimits& limits,
                         ReferenceSource& references, const Clock& clock, const PytestSettings& pytest = {});

// A `run_all` report decided without walking: the changes' base and paths, no tests, counters 0.
ImpactReport run_all_report(const changed::ChangedSymbols& changes, RunAllReason reason,
                            std::vector<std::string> errors);

// Without the symbol entries of files that are also impacted whole; order kept.
std::vector<ImpactedTest> dedup_impacted_tests(std::vector<ImpactedTest> tests);

}  // namespace pindrel::impact
