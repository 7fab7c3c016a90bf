#include "impact/pipeline.hpp"

#include "changed/changed_symbols_json.hpp"
#include "changed/symbols_from_diff.hpp"
#include "impact/test_support.hpp"
#include "impact/unimported_modules.hpp"
#include "impact/walk.hpp"
#include "project/git.hpp"
#include "qlo/client.hpp"
#include "util/file_read.hpp"
#include "util/utf8.hpp"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <limits>
#include <ratio>
#include <set>
#include <span>
#include <string_view>
#include <utility>

namespace pindrel::impact {
namespace {

__extension__ using i128 = __int128;

constexpr std::uint64_t default_budget_ms = 30000;
constexpr std::uint64_t default_max_symbols = 500;
constexpr std::uint32_t default_max_depth = 10;
// A run whose whole suite takes no longer than this gains nothing from a selection.
constexpr std::uint64_t fast_suite_ms = 2000;

Result<changed::ChangedSymbols> read_replayed_changes(const std::filesystem::path& path) {
  auto text = read_text_file(path);
  if (!text) return std::unexpected(std::move(text.error()).context("cannot read --changed " + display_path(path)));
  auto changes = changed::parse_changed_symbols(*text);
  if (!changes) {
    return std::unexpected(
        std::move(changes.error()).context("cannot parse " + display_path(path) + " as a changed-symbols report"));
  }
  return changes;
}

// The changes of the working tree against the merge-base, with the untracked files they used.
Result<std::pair<changed::WorkingTreeChanges, std::vector<std::string>>> working_tree_changes(
    const Workspace& workspace, const std::optional<std::string>& base) {
  auto untracked = list_untracked_files(workspace.git);
  if (!untracked) return std::unexpected(std::move(untracked.error()));
  auto refs = resolve_merge_base(workspace.git, base);
  if (!refs) return std::unexpected(std::move(refs.error()));
  auto changes = changed::changed_symbols_from_diff(workspace.git, workspace.root, workspace.config, *refs, *untracked);
  if (!changes) return std::unexpected(std::move(changes.error()));
  return std::make_pair(std::move(*changes), std::move(*untracked));
}

// The paths of a replayed report that hold U+FFFD: the report was written with an undecodable
// path replaced, and names no file that can be read back.
std::vector<std::string> replaced_paths(const changed::ChangedSymbols& changes) {
  constexpr std::string_view replacement = "\xEF\xBF\xBD";
  std::set<std::string> found;
  const auto check = [&](const std::string& path) {
    if (path.find(replacement) != std::string::npos) found.insert(path);
  };
  for (const auto& symbol : changes.changed_symbols) check(symbol.file);
  for (const auto& symbol : changes.ignored_symbols) check(symbol.file);
  for (const auto& module : changes.module_level_changes) check(module.file);
  for (const auto& path : changes.non_python_changes) check(path);
  for (const auto& path : changes.test_files_changed) check(path);
  return {found.begin(), found.end()};
}

// A path that is not UTF-8 is known to the report only with replacement characters, which
// name no file: nothing about it can be judged.
std::vector<std::string> undecodable_path_errors(std::span<const std::string> paths) {
  std::vector<std::string> errors;
  errors.reserve(paths.size());
  for (const std::string& path : paths) errors.push_back("changed path " + debug_quoted(path) + " is not valid UTF-8");
  return errors;
}

std::optional<RunAllReason> early_reason(const changed::ChangedSymbols& changes, const Config& config,
                                         FastSuiteCheck check_fast_suite) {
  if (!changes.non_python_changes.empty()) return RunAllReason::non_python_changes;
  if (!changes.errors.empty()) return RunAllReason::parse_errors;
  const bool something_to_walk = !changes.changed_symbols.empty() || !changes.module_level_changes.empty();
  if (check_fast_suite == FastSuiteCheck::on && config.suite_ms && *config.suite_ms <= fast_suite_ms &&
      something_to_walk) {
    return RunAllReason::fast_suite;
  }
  return std::nullopt;
}

std::string_view after_first_colon(std::string_view symbol) { return symbol.substr(symbol.find(':') + 1); }

// A report that carries over what the changes say besides the symbols.
ImpactReport report_of_changes(const changed::ChangedSymbols& changes) {
  ImpactReport report;
  report.base = changes.base;
  report.merge_base = changes.merge_base;
  report.test_files_changed = changes.test_files_changed;
  report.ignored_paths = changes.ignored_paths;
  return report;
}

u128 whole_milliseconds(Clock::Instant from, Clock::Instant to) {
  if (to <= from) return 0;
  return static_cast<u128>(std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count());
}

}  // namespace

WalkLimits settle_walk_limits(const BudgetFlags& budgets, const Config& config, Clock::Instant start) {
  WalkLimits limits;
  limits.max_symbols = budgets.max_symbols.value_or(config.max_symbols.value_or(default_max_symbols));
  limits.max_depth = budgets.max_depth.value_or(config.max_depth.value_or(default_max_depth));
  const std::uint64_t budget_ms = budgets.budget_ms.value_or(config.budget_ms.value_or(default_budget_ms));
  if (budget_ms == 0) return limits;
  // In 128 bits neither sum can overflow; a deadline beyond the clock's range is none at all.
  using Ticks = std::ratio_divide<std::milli, Clock::Instant::period>;
  const i128 deadline =
      static_cast<i128>(start.time_since_epoch().count()) + static_cast<i128>(budget_ms) * Ticks::num / Ticks::den;
  if (deadline > static_cast<i128>(std::numeric_limits<Clock::Instant::rep>::max())) return limits;
  limits.deadline = Clock::Instant(Clock::Instant::duration(static_cast<Clock::Instant::rep>(deadline)));
  return limits;
}

Result<std::vector<Seed>> seeds_from_changes(SourceCache& cache, const changed::ChangedSymbols& changes) {
  std::vector<Seed> seeds;
  for (const changed::SymbolChange& change : changes.changed_symbols) {
    if (change.symbol.find(':') == std::string::npos) continue;
    const SeedKind kind = change.change == changed::ChangeKind::deleted ? SeedKind::deleted : SeedKind::changed;
    seeds.push_back(
        {{change.symbol, std::string(after_first_colon(change.symbol)), change.file, change.line, change.column},
         kind});
  }
  for (const changed::ModuleChange& change : changes.module_level_changes) {
    seeds.push_back({{change.module, change.module, change.file, 0, 0}, SeedKind::module});
    // Top-level code runs at import, so every function and class at the top may have changed.
    auto source = read_source_cached(cache, change.file);
    if (!source) return std::unexpected(std::move(source.error()));
    const pysource::SharedOutline outline = *source ? cached_outline(**source) : nullptr;
    if (outline == nullptr) continue;
    for (const pysource::Definition& definition : outline->definitions) {
      if (definition.qualname.find('.') != std::string::npos) continue;
      seeds.push_back({{change.module + ":" + definition.qualname, definition.qualname, change.file, definition.line,
                        definition.column},
                       SeedKind::changed});
    }
  }
  // A changed test file breaks what imports it; the test-file rule kept it out of the symbols.
  std::ranges::move(test_file_seeds(cache.root, changes.test_files_changed), std::back_inserter(seeds));
  std::ranges::stable_sort(seeds, {}, &Seed::name);
  const auto repeats = std::ranges::unique(seeds, {}, &Seed::name);
  seeds.erase(repeats.begin(), repeats.end());
  return seeds;
}

ImpactResult walk_impact(const std::filesystem::path& root, const Config& config, changed::ChangedSymbols changes,
                         std::vector<std::string> repository_files, const WalkLimits& limits,
                         ReferenceSource& references, const Clock& clock, const PytestSettings& pytest) {
  SourceCache cache = new_source_cache(root, repository_files);
  ImpactResult result{{}, std::move(repository_files), std::move(changes), std::nullopt, {}};
  auto seeds = seeds_from_changes(cache, result.changes);
  if (!seeds) {
    result.impact_report = run_all_report(result.changes, RunAllReason::index_failed, {seeds.error().render()});
    return result;
  }

  WalkState state(references, cache, config, limits, clock);
  state.pytest = pytest;
  const Clock::Instant walk_start = clock.now();
  WalkOutcome outcome = walk_references(state, *seeds);
  if (outcome.is_completed()) outcome = seed_unimported_modules(state, *seeds);
  if (outcome.is_completed()) outcome = reach_through_test_code(state);
  if (outcome.is_completed() && !state.undecodable_paths.empty()) {
    outcome = WalkOutcome::stop(RunAllReason::index_failed);
    for (const std::string& path : state.undecodable_paths) {
      state.errors.push_back("listed path " + debug_quoted(path) + " is not valid UTF-8");
    }
  }

  ImpactReport& report = result.impact_report;
  report = report_of_changes(result.changes);
  if (outcome.stopped) {
    report.verdict = Verdict::run_all;
    report.reason = outcome.stopped;
    if (outcome.message) state.errors.push_back(std::move(*outcome.message));
  } else if (state.decorator_dispatch) {
    report.verdict = Verdict::run_all;
    report.reason = RunAllReason::decorator_dispatch;
  }
  std::vector<ImpactedTest> tests;
  tests.reserve(state.impacted_tests.size());
  for (auto& [key, test] : state.impacted_tests) tests.push_back(std::move(test));
  report.impacted_tests = dedup_impacted_tests(std::move(tests));
  for (auto& [symbol, ignored] : state.ignored_symbols) report.ignored_symbols.push_back(std::move(ignored));
  const u128 duration_ms = whole_milliseconds(walk_start, clock.now());
  report.stats = {seeds->size(), state.visited.size(), state.max_depth_reached, state.qlo_calls, duration_ms};
  report.errors = std::move(state.errors);
  result.cache = std::move(cache);
  result.visited = std::move(state.visited);
  return result;
}

Result<ImpactResult> compute_impact(const Workspace& workspace, const Environment& env,
                                    const std::optional<std::string>& base,
                                    const std::optional<std::filesystem::path>& changed, const BudgetFlags& budgets,
                                    FastSuiteCheck check_fast_suite, const Clock& clock, const PytestSettings& pytest) {
  // The deadline counts from here, so git and the outlines spend the budget too.
  const WalkLimits limits = settle_walk_limits(budgets, workspace.config, clock.now());

  changed::ChangedSymbols changes;
  std::vector<std::string> undecodable_paths;
  std::optional<std::vector<std::string>> untracked;  // reused for the listing when git gave the changes
  if (changed) {
    auto replayed = read_replayed_changes(*changed);
    if (!replayed) return std::unexpected(std::move(replayed.error()));
    changes = std::move(*replayed);
    undecodable_paths = replaced_paths(changes);
  } else {
    auto computed = working_tree_changes(workspace, base);
    if (!computed) return std::unexpected(std::move(computed.error()));
    changes = std::move(computed->first.report);
    undecodable_paths = std::move(computed->first.undecodable_paths);
    untracked = std::move(computed->second);
  }

  auto decided = [&](RunAllReason reason, std::vector<std::string> errors) {
    ImpactReport report = run_all_report(changes, reason, std::move(errors));
    return ImpactResult{std::move(report), std::nullopt, std::move(changes), std::nullopt, {}};
  };
  if (!undecodable_paths.empty()) {
    return decided(RunAllReason::index_failed, undecodable_path_errors(undecodable_paths));
  }
  if (auto reason = early_reason(changes, workspace.config, check_fast_suite)) return decided(*reason, {});
  // The tool is looked for even when there is nothing to walk, before any listing.
  auto client = resolve_qlo(workspace.root, env);
  if (!client) return decided(RunAllReason::qlo_unavailable, {client.error().render()});
  auto files = list_repository_files(workspace.git, std::move(untracked));
  if (!files) return decided(RunAllReason::index_failed, {files.error().render()});

  QloReferenceSource references(std::move(*client), workspace.root, limits.deadline);
  return walk_impact(workspace.root, workspace.config, std::move(changes), std::move(*files), limits, references, clock,
                     pytest);
}

ImpactReport run_all_report(const changed::ChangedSymbols& changes, RunAllReason reason,
                            std::vector<std::string> errors) {
  ImpactReport report = report_of_changes(changes);
  report.verdict = Verdict::run_all;
  report.reason = reason;
  report.errors = std::move(errors);
  return report;
}

std::vector<ImpactedTest> dedup_impacted_tests(std::vector<ImpactedTest> tests) {
  std::set<std::string, std::less<>> whole_files;
  for (const ImpactedTest& test : tests) {
    if (!test.symbol) whole_files.insert(test.file);
  }
  if (whole_files.empty()) return tests;
  std::erase_if(tests, [&](const ImpactedTest& test) { return test.symbol && whole_files.contains(test.file); });
  return tests;
}

}  // namespace pindrel::impact
