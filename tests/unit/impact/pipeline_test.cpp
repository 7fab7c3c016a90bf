#include "impact/pipeline.hpp"
#include "walk_fixture.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace pindrel::impact {
namespace {

using changed::ChangedSymbols;
using changed::ChangeKind;
using changed::SymbolChange;
using pysource::DefinitionKind;
using test_support::FixedClock;
using test_support::ScriptedReferences;
using test_support::sites;
using Lines = std::vector<std::string>;
using namespace std::chrono_literals;

SymbolChange change(std::string symbol, std::string file, std::uint32_t line, ChangeKind kind = ChangeKind::modified) {
  return {std::move(symbol), std::move(file), DefinitionKind::function, line, 5, kind, std::nullopt};
}

TEST(WalkLimits, FlagThenConfigurationThenDefault) {
  const Clock::Instant start{std::chrono::seconds(50)};
  const WalkLimits defaults = settle_walk_limits({}, {}, start);
  EXPECT_EQ(defaults.max_symbols, 500u);
  EXPECT_EQ(defaults.max_depth, 10u);
  EXPECT_EQ(defaults.deadline, start + 30000ms);

  Config config;
  config.max_depth = 3;
  config.max_symbols = 7;
  config.budget_ms = 100;
  const WalkLimits configured = settle_walk_limits({}, config, start);
  EXPECT_EQ(configured.max_depth, 3u);
  EXPECT_EQ(configured.max_symbols, 7u);
  EXPECT_EQ(configured.deadline, start + 100ms);

  // A flag of 0 wins over the configuration: no levels past the first, and no deadline.
  const WalkLimits flagged = settle_walk_limits({0, 9, 0}, config, start);
  EXPECT_EQ(flagged.max_depth, 0u);
  EXPECT_EQ(flagged.max_symbols, 9u);
  EXPECT_EQ(flagged.deadline, std::nullopt);
}

TEST(WalkLimits, DeadlineBeyondTheClockIsNoDeadline) {
  const Clock::Instant start{std::chrono::seconds(50)};
  EXPECT_EQ(
      settle_walk_limits({std::nullopt, std::nullopt, std::numeric_limits<std::uint64_t>::max()}, {}, start).deadline,
      std::nullopt);
  const Clock::Instant late = Clock::Instant::max() - 1ms;
  EXPECT_EQ(settle_walk_limits({std::nullopt, std::nullopt, 1}, {}, late).deadline, Clock::Instant::max());
  EXPECT_EQ(settle_walk_limits({std::nullopt, std::nullopt, 2}, {}, late).deadline, std::nullopt);
}

class Seeds : public test_support::WalkFixture {};

TEST_F(Seeds, SortedByNameWithTheFirstOfEachNameKept) {
  write("pkg/__init__.py", "");
  write("pkg/mod.py", R"(import os

def c():
    pass

class B:
    def m(self):
        pass

if os.name:
    def a():
        pass
)");
  ChangedSymbols changes;
  changes.changed_symbols = {change("pkg.mod:a", "pkg/mod.py", 99),
                             change("pkg.z:gone", "pkg/z.py", 4, ChangeKind::deleted), change("nocolon", "x.py", 1)};
  changes.ignored_symbols = {change("pkg.mod:ignored", "pkg/mod.py", 1)};
  changes.module_level_changes = {{"pkg.mod", "pkg/mod.py"}, {"pkg.old", "pkg/old.py"}};

  auto seeds = seeds_from_changes(state().source_cache, changes);
  ASSERT_TRUE(seeds) << seeds.error().render();
  const std::vector<Seed> expected = {
      {{"pkg.mod", "pkg.mod", "pkg/mod.py", 0, 0}, SeedKind::module},
      {{"pkg.mod:B", "B", "pkg/mod.py", 6, 7}, SeedKind::changed},
      {{"pkg.mod:a", "a", "pkg/mod.py", 99, 5}, SeedKind::changed},  // the changed symbol, not the outline's
      {{"pkg.mod:c", "c", "pkg/mod.py", 3, 5}, SeedKind::changed},
      {{"pkg.old", "pkg.old", "pkg/old.py", 0, 0}, SeedKind::module},
      {{"pkg.z:gone", "gone", "pkg/z.py", 4, 5}, SeedKind::deleted},
  };
  EXPECT_EQ(*seeds, expected);
}

// A changed test file, support file or conftest.py is a module under each name a test may
// import it by.
TEST_F(Seeds, ChangedTestFilesAreModuleSeeds) {
  write("tests/helpers.py", "def make():\n    return 1\n");
  ChangedSymbols changes;
  changes.test_files_changed = {"tests/conftest.py", "tests/gone.py", "tests/helpers.py", "tests/test_a.py"};

  auto seeds = seeds_from_changes(state().source_cache, changes);
  ASSERT_TRUE(seeds) << seeds.error().render();
  // A deleted helper breaks its importers too.
  const std::vector<Seed> expected = {
      {{"conftest", "conftest", "tests/conftest.py", 0, 0}, SeedKind::module},
      {{"gone", "gone", "tests/gone.py", 0, 0}, SeedKind::module},
      {{"helpers", "helpers", "tests/helpers.py", 0, 0}, SeedKind::module},
      {{"test_a", "test_a", "tests/test_a.py", 0, 0}, SeedKind::module},
      {{"tests.conftest", "tests.conftest", "tests/conftest.py", 0, 0}, SeedKind::module},
      {{"tests.gone", "tests.gone", "tests/gone.py", 0, 0}, SeedKind::module},
      {{"tests.helpers", "tests.helpers", "tests/helpers.py", 0, 0}, SeedKind::module},
      {{"tests.test_a", "tests.test_a", "tests/test_a.py", 0, 0}, SeedKind::module},
  };
  EXPECT_EQ(*seeds, expected);
}

TEST(DedupImpactedTests, WholeFileEntriesHideTheSymbolsOfTheirFile) {
  const ImpactedTest whole{"tests/test_a.py", std::nullopt, {}, "o", TestKind::test};
  const ImpactedTest in_whole{"tests/test_a.py", "tests.test_a:test_x", {}, "o", TestKind::test};
  const ImpactedTest other{"tests/test_b.py", "tests.test_b:test_y", {}, "o", TestKind::fixture};
  EXPECT_EQ(dedup_impacted_tests({whole, in_whole, other}), (std::vector<ImpactedTest>{whole, other}));
  EXPECT_EQ(dedup_impacted_tests({in_whole, other}), (std::vector<ImpactedTest>{in_whole, other}));
}

class WalkImpact : public test_support::WalkFixture {
 protected:
  ImpactResult run(ChangedSymbols changes) {
    return walk_impact(root(), config_, std::move(changes), listed_, limits_, references_, clock_);
  }
  static ChangedSymbols changes_of(std::vector<SymbolChange> symbols) {
    ChangedSymbols changes;
    changes.base = "main";
    changes.merge_base = "abc";
    changes.changed_symbols = std::move(symbols);
    changes.test_files_changed = {"tests/test_t.py"};
    changes.ignored_paths = {"docs/x.md"};
    changes.errors = {"never/copied.py"};
    return changes;
  }
};

TEST_F(WalkImpact, StoppedWalkKeepsWhatItFound) {
  write("pkg/__init__.py", "");
  write("pkg/a.py", "def f():\n    pass\n\ndef g():\n    f()\n");
  write("tests/test_a.py", "def test_f():\n    f()\n");
  references_.answers = {{"pkg.a:f", sites({"tests/test_a.py:2", "pkg/a.py:5"})}};
  references_.on_question = [&] { clock_.instant += 7ms; };
  // The changed test file is a module seed under two names.
  limits_.max_symbols = 3;

  const ImpactResult result = run(changes_of({change("pkg.a:f", "pkg/a.py", 1)}));

  const ImpactReport& report = result.impact_report;
  EXPECT_EQ(report.verdict, Verdict::run_all);
  EXPECT_EQ(report.reason, RunAllReason::max_symbols);
  EXPECT_EQ(report.impacted_tests,
            (std::vector<ImpactedTest>{{"tests/test_a.py", "tests.test_a:test_f", {}, "pkg.a:f", TestKind::test}}));
  EXPECT_EQ(report.stats, (Stats{3, 4, 0, 1, 7}));
  EXPECT_EQ(report.base, "main");
  EXPECT_EQ(report.merge_base, "abc");
  EXPECT_EQ(report.test_files_changed, Lines{"tests/test_t.py"});
  EXPECT_EQ(report.ignored_paths, Lines{"docs/x.md"});
  EXPECT_TRUE(report.errors.empty());
  EXPECT_EQ(result.repository_files, listed_);
  // The files the walk read come with the result, outlined, for the selection to read on.
  ASSERT_TRUE(result.cache.has_value());
  const auto read = result.cache->entries.find("tests/test_a.py");
  ASSERT_NE(read, result.cache->entries.end());
  ASSERT_NE(read->second, nullptr);
  EXPECT_TRUE(read->second->outline.has_value());
}

TEST_F(WalkImpact, StopMessageFollowsTheWalksOwnErrors) {
  write("pkg/__init__.py", "");
  write("pkg/a.py", "def f():\n    pass\n\ndef g():\n    f()\n");
  references_.answers = {{"pkg.a:f", sites({"pkg/gone.py:1", "pkg/a.py:5"})}};
  references_.on_question = [&] {
    if (references_.questions.size() == 2) references_.failure = Error("broke");
  };
  const ImpactReport report = run(changes_of({change("pkg.a:f", "pkg/a.py", 1)})).impact_report;
  EXPECT_EQ(report.reason, RunAllReason::refs_failed);
  EXPECT_EQ(report.errors, (Lines{"could not read pkg/gone.py:1 while walking from `pkg.a:f`", "broke"}));
}

TEST_F(WalkImpact, UnresolvedRegistrationMakesACompletedWalkRunAll) {
  write("pkg/__init__.py", "");
  write("pkg/a.py", "@app.route('/')\ndef f():\n    pass\n");
  const ImpactReport report = run(changes_of({change("pkg.a:f", "pkg/a.py", 2)})).impact_report;
  EXPECT_EQ(report.verdict, Verdict::run_all);
  EXPECT_EQ(report.reason, RunAllReason::decorator_dispatch);
  EXPECT_EQ(report.errors.size(), 1u);
}

TEST_F(WalkImpact, UnreadableModuleChangeIsIndexFailed) {
  std::filesystem::create_directories(root() / "pkg/mod.py");
  ChangedSymbols changes = changes_of({});
  changes.module_level_changes = {{"pkg.mod", "pkg/mod.py"}};
  listed_ = {"pkg/mod.py"};
  const ImpactResult result = run(changes);
  EXPECT_EQ(result.impact_report.reason, RunAllReason::index_failed);
  EXPECT_EQ(result.impact_report.errors,
            Lines{"could not read " + (root() / "pkg/mod.py").string() + ": Is a directory (os error 21)"});
  EXPECT_EQ(result.impact_report.stats, Stats{});
  EXPECT_EQ(result.repository_files, listed_);
}

// The whole pipeline in a scratch repository; no seed ever reaches the reference tool here.
class ComputeImpact : public ::testing::Test {
 protected:
  ComputeImpact() {
    repo_.write("pkg/__init__.py", "");
    repo_.write("pkg/a.py", "def f():\n    return 1\n");
    repo_.write("README.md", "read me\n");
    repo_.commit("base");
    env_.pindrel_qlo = "/nonexistent/qlo";
  }
  Result<ImpactResult> run(FastSuiteCheck check = FastSuiteCheck::off,
                           const std::optional<std::filesystem::path>& changed = std::nullopt) {
    const Workspace workspace{config_, {"git", repo_.path()}, repo_.path().string()};
    return compute_impact(workspace, env_, std::nullopt, changed, {}, check, clock_, {});
  }
  std::string reason() {
    auto result = run(check_);
    if (!result) return result.error().render();
    const auto& reason = result->impact_report.reason;
    return reason ? std::string(run_all_reason_name(*reason)) : "selected";
  }

  pindrel::test_support::ScratchRepo repo_;
  Config config_;
  Environment env_;
  FixedClock clock_;
  FastSuiteCheck check_ = FastSuiteCheck::off;
};

TEST_F(ComputeImpact, CleanTreeIsSelectedWithNothing) {
  auto result = run();
  ASSERT_TRUE(result) << result.error().render();
  EXPECT_EQ(result->impact_report.verdict, Verdict::selected);
  EXPECT_EQ(result->impact_report.base, "main");
  EXPECT_TRUE(result->impact_report.impacted_tests.empty());
  EXPECT_EQ(result->impact_report.stats, Stats{});
  EXPECT_EQ(result->repository_files, (Lines{"README.md", "pkg/__init__.py", "pkg/a.py"}));

  // The tool is looked for even with nothing to walk.
  env_.pindrel_qlo.reset();
  env_.path_search.path = "";
  result = run();
  ASSERT_TRUE(result);
  EXPECT_EQ(result->impact_report.reason, RunAllReason::qlo_unavailable);
  EXPECT_EQ(
      result->impact_report.errors,
      Lines{"`qlo` not found on PATH. Install it with `uv add --dev quillo`, or point PINDREL_QLO at the binary.: "
            "cannot find binary path"});
  EXPECT_EQ(result->repository_files, std::nullopt);
}

TEST_F(ComputeImpact, EarlyVerdictsInTheirOrder) {
  env_.pindrel_qlo.reset();
  env_.path_search.path = "";
  repo_.write("pkg/a.py", "def f():\n    return 2\n");
  EXPECT_EQ(reason(), "qlo_unavailable");
  config_.suite_ms = 2001;
  check_ = FastSuiteCheck::on;
  EXPECT_EQ(reason(), "qlo_unavailable");
  config_.suite_ms = 2000;
  EXPECT_EQ(reason(), "fast_suite");
  check_ = FastSuiteCheck::off;
  EXPECT_EQ(reason(), "qlo_unavailable");
  repo_.write("pkg/b.py", "def (:\n");
  EXPECT_EQ(reason(), "parse_errors");
  repo_.write("README.md", "changed\n");
  EXPECT_EQ(reason(), "non_python_changes");
  auto result = run();
  ASSERT_TRUE(result);
  EXPECT_TRUE(result->impact_report.errors.empty());
  EXPECT_EQ(result->changes.errors, Lines{"pkg/b.py"});
  EXPECT_EQ(result->repository_files, std::nullopt);
}

TEST_F(ComputeImpact, ReplayedChangesThatCannotBeHad) {
  const std::filesystem::path missing = repo_.path() / "none.json";
  auto result = run(FastSuiteCheck::off, missing);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().render(),
            "cannot read --changed " + missing.string() + ": No such file or directory (os error 2)");

  const std::filesystem::path wrong = repo_.path() / "wrong.json";
  pindrel::test_support::write_file(wrong, "[]");
  result = run(FastSuiteCheck::off, wrong);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().chain().front(), "cannot parse " + wrong.string() + " as a changed-symbols report");
}

TEST_F(ComputeImpact, ReplayedChangesAreUsedInsteadOfGit) {
  const std::filesystem::path saved = repo_.path() / "changes.json";
  pindrel::test_support::write_file(saved, R"({"base": "b", "merge_base": "m", "changed_symbols": [],
    "ignored_symbols": [], "module_level_changes": [], "non_python_changes": ["x.txt"], "ignored_paths": [],
    "test_files_changed": [], "errors": []})");
  auto result = run(FastSuiteCheck::off, saved);
  ASSERT_TRUE(result) << result.error().render();
  EXPECT_EQ(result->impact_report.reason, RunAllReason::non_python_changes);
  EXPECT_EQ(result->impact_report.base, "b");
  EXPECT_EQ(result->changes.non_python_changes, Lines{"x.txt"});
}

}  // namespace
}  // namespace pindrel::impact
