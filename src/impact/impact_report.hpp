#pragma once

// The impact report: the tests the working tree's changes reach, or why the whole suite must run
// instead. A plain value that owns all its texts and lists.

#include "util/error.hpp"
#include "util/u128.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pindrel::impact {

enum class Verdict {
  selected,  // the listed tests are the whole impact
  run_all,   // the whole suite must run
  count_,    // the number of verdicts, for the name table
};

enum class TestKind { test, fixture, count_ };

// Why the verdict is `run_all`.
enum class RunAllReason {
  non_python_changes,
  parse_errors,
  qlo_unavailable,
  refs_failed,
  index_failed,
  max_depth,
  max_symbols,
  budget,
  decorator_dispatch,
  fast_suite,
  count_,  // the number of reasons, for the name table
};

// One reached test, fixture or whole test file.
struct ImpactedTest {
  std::string file;                   // repository-relative, "/"-separated
  std::optional<std::string> symbol;  // module name and qualified name joined by ":"; none for a whole file
  std::vector<std::string> via;       // the chain's symbols, nearest to the test first, the origin left out
  std::string origin;                 // the changed symbol the chain started from
  TestKind kind = TestKind::test;

  friend bool operator==(const ImpactedTest&, const ImpactedTest&) = default;
};

// A definition the walk did not follow because an `ignore-decorators` entry matched.
struct IgnoredSymbol {
  std::string symbol;
  std::string file;
  std::string ignored_by;

  friend bool operator==(const IgnoredSymbol&, const IgnoredSymbol&) = default;
};

// Counters of the walk; all 0 for a verdict decided before walking.
struct Stats {
  std::uint64_t seeds = 0;              // after duplicates were dropped
  std::uint64_t visited = 0;            // distinct symbols marked visited
  std::uint32_t max_depth_reached = 0;  // depth of the last level queried
  std::uint64_t qlo_calls = 0;          // `qlo refs` runs, the decorator queries included
  u128 duration_ms = 0;                 // monotonic milliseconds from the walk's start to the gathered lists

  friend bool operator==(const Stats&, const Stats&) = default;
};

struct ImpactReport {
  Verdict verdict = Verdict::selected;
  std::optional<RunAllReason> reason;  // present exactly when `run_all`, in a computed report
  std::string base;
  std::string merge_base;
  std::vector<ImpactedTest> impacted_tests;
  std::vector<std::string> test_files_changed;
  std::vector<IgnoredSymbol> ignored_symbols;
  std::vector<std::string> ignored_paths;
  Stats stats;
  std::vector<std::string> errors;  // each an error followed by its causes, joined by ": "

  friend bool operator==(const ImpactReport&, const ImpactReport&) = default;
};

// The names JSON writes, in the order of the values.
inline constexpr std::array<std::string_view, 2> verdict_names = {"selected", "run_all"};
static_assert(verdict_names.size() == std::size_t(Verdict::count_));
inline constexpr std::array<std::string_view, 2> test_kind_names = {"test", "fixture"};
static_assert(test_kind_names.size() == std::size_t(TestKind::count_));

// A reason's name (JSON, `PINDREL_FALLBACK_REASON`) and its human text, in the order of the values.
struct RunAllReasonWords {
  std::string_view name;
  std::string_view text;
};
inline constexpr std::array<RunAllReasonWords, 10> run_all_reason_words = {{
    {"non_python_changes", "non-Python files changed"},
    {"parse_errors", "a changed file did not parse"},
    {"qlo_unavailable", "qlo is not available"},
    {"refs_failed", "qlo failed during the walk"},
    {"index_failed", "the working tree could not be read"},
    {"max_depth", "the depth limit was reached"},
    {"max_symbols", "the symbol limit was reached"},
    {"budget", "the time budget ran out"},
    {"decorator_dispatch", "a changed symbol is dispatched by an unresolvable decorator"},
    {"fast_suite", "the full suite is faster than a selection"},
}};
static_assert(run_all_reason_words.size() == std::size_t(RunAllReason::count_));

inline constexpr auto run_all_reason_names = [] {
  std::array<std::string_view, run_all_reason_words.size()> names{};
  for (std::size_t i = 0; i < names.size(); ++i) names[i] = run_all_reason_words[i].name;
  return names;
}();

inline std::string_view verdict_name(Verdict verdict) { return verdict_names[static_cast<std::size_t>(verdict)]; }
inline std::string_view test_kind_name(TestKind kind) { return test_kind_names[static_cast<std::size_t>(kind)]; }
inline std::string_view run_all_reason_name(RunAllReason reason) {
  return run_all_reason_names[static_cast<std::size_t>(reason)];
}

// The reason whose name is exactly `name`, or "unknown variant `{}`, expected one of ..." with the ten names.
Result<RunAllReason> run_all_reason_from_name(std::string_view name);

// The reason's human text, or "no reason given" for none.
std::string_view run_all_reason_text(std::optional<RunAllReason> reason);

}  // namespace pindrel::impact
