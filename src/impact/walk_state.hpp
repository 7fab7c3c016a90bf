#pragma once

// What one reference walk knows while it runs: its limits, the symbols it entered, the tests
// and ignored symbols it found, and its counters. Every walk operation changes it in place;
// the pipeline reads the results out of it afterwards.

#include "impact/impact_report.hpp"
#include "impact/import_index.hpp"
#include "impact/source_cache.hpp"
#include "project/config.hpp"
#include "qlo/reference_source.hpp"
#include "util/clock.hpp"

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace pindrel::impact {

struct WalkLimits {
  std::optional<Clock::Instant> deadline;  // none: no time limit
  std::uint64_t max_symbols = 500;         // the walk stops once it has visited more than this
  std::uint32_t max_depth = 10;            // the deepest level that is queried
};

// One symbol of a walk level: "{module}:{qualname}" (or a module name alone) and the 1-based
// position of its name in a repository-relative file.
struct FrontierSymbol {
  std::string name;
  std::string qualname;
  std::filesystem::path file;
  std::uint32_t line = 0;
  std::uint32_t column = 0;
  friend bool operator==(const FrontierSymbol&, const FrontierSymbol&) = default;
};

enum class SeedKind {
  changed,  // its references are walked
  deleted,  // no longer defined: found by searching for its name
  module,   // a module whose top-level code changed; line and column are 0
};

struct Seed : FrontierSymbol {
  SeedKind kind = SeedKind::changed;
  friend bool operator==(const Seed&, const Seed&) = default;
};

struct VisitedEntry {
  std::string origin;                 // the seed the name was first reached from
  std::optional<std::string> parent;  // the symbol whose references reached it; none for a seed
};

// How a walk, or one of its steps, ended: `completed` lets the walk go on.
struct WalkOutcome {
  std::optional<RunAllReason> stopped;  // none: completed
  std::optional<std::string> message;   // the error behind the stop, as "{:#}"

  static WalkOutcome completed() { return {}; }
  static WalkOutcome stop(RunAllReason reason, std::optional<std::string> message = std::nullopt) {
    return {reason, std::move(message)};
  }
  bool is_completed() const { return !stopped; }
};

// (file text, symbol): a whole file sorts before the symbols of the same file.
using ImpactedTestKey = std::pair<std::string, std::optional<std::string>>;

struct WalkState {
  WalkState(ReferenceSource& source, SourceCache& cache, const Config& settings, WalkLimits walk_limits,
            const Clock& time)
      : references(source), source_cache(cache), config(settings), limits(walk_limits), clock(time) {}

  std::vector<std::string> errors;  // non-fatal problems, in the order they arose
  ReferenceSource& references;
  SourceCache& source_cache;  // also holds the root every path is relative to
  const Config& config;       // for `ignore-decorators`
  PytestSettings pytest;      // which files of the test directories pytest collects
  WalkLimits limits;
  const Clock& clock;
  std::map<std::string, VisitedEntry> visited;
  std::map<ImpactedTestKey, ImpactedTest> impacted_tests;
  std::map<std::string, IgnoredSymbol> ignored_symbols;
  std::uint64_t qlo_calls = 0;
  // Sites of a registry object, per (dead end's file, registry root); filled once each.
  std::map<std::pair<std::filesystem::path, std::string>, std::vector<ReferenceSite>> decorator_sites;
  // Sites of a class, per (file, class qualname), for the methods walked; filled once each.
  std::map<std::pair<std::filesystem::path, std::string>, std::vector<ReferenceSite>> class_sites;
  std::uint32_t max_depth_reached = 0;
  bool decorator_dispatch = false;  // a registering decorator led nowhere
  // The sites followed so far that led to a test, a definition, an alias or a module, new or
  // not: a symbol whose sites leave it unchanged reaches nothing at all.
  std::uint64_t reaching_sites = 0;
  // Module names by file, so that a file's name is formed once per walk.
  std::unordered_map<std::filesystem::path, std::optional<std::string>> module_names;
  // Whether a directory holds an `__init__.py`, probed once per walk.
  std::unordered_map<std::filesystem::path, bool> init_files;
  // The modules found changed at import time, each scanned for its importers once.
  std::set<std::string> import_time_modules;
  std::optional<ImportIndex> import_index;  // built at the first module scan
  // The helpers of test files the walk queued, whose importers it checks after the walk.
  std::vector<FrontierSymbol> test_helpers;
  std::set<std::string> undecodable_paths;  // listed files the report would name, not UTF-8
  // The classes and aliases queued as carriers of an inherited method, with the method's name.
  std::map<std::string, std::string> carried_methods;

  const std::filesystem::path& root() const { return source_cache.root; }
};

// Enters `name` as reached through `parent`, with the parent's origin; false when it was
// already there, and then nothing changes.
bool mark_visited(WalkState& state, std::string_view name, std::string_view parent);

// How a walked name was reached: the names from it back towards its seed, the seed left out,
// and the seed.
struct ReachChain {
  std::vector<std::string> via;
  std::string origin;
};

// The chain of `reached` through `visited`; a name that is not there is its own origin.
ReachChain reach_chain(const std::map<std::string, VisitedEntry>& visited, std::string_view reached);

// The text a report shows for a listed file. A name that is not UTF-8 has no such text: it is
// noted, and the walk's verdict becomes `index_failed`.
std::string reported_path(WalkState& state, const std::filesystem::path& file);

// Records a reached test, fixture or whole test file (no symbol) under (file, symbol); the
// first record of a key stays. `reached` is the symbol the test was reached through.
void record_impacted_test(WalkState& state, const std::filesystem::path& file, std::optional<std::string> symbol,
                          TestKind kind, std::string_view reached);

// The dotted module name of a repository file, looked up once per file and walk.
const std::optional<std::string>& walk_module_name(WalkState& state, const std::filesystem::path& file);

// How a failed reference query stops the walk: with `budget` once the deadline has passed, since
// the deadline ends a query that is still running; else with `refs_failed` and the error.
WalkOutcome failed_query_stop(const WalkState& state, const Error& error);

// The reference queries for a list of symbols.
std::vector<SymbolQuery> symbol_queries(std::span<const FrontierSymbol> symbols);

}  // namespace pindrel::impact
