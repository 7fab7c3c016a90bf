#include "impact/impact_report_text.hpp"

#include <gtest/gtest.h>

namespace pindrel::impact {
namespace {

ImpactReport report_on_main() {
  ImpactReport report;
  report.base = "origin/main";
  report.merge_base = "4b825dc642cb6eb9a060e54bf8d69288fbee4904";
  return report;
}

TEST(ImpactReportText, SelectedTestWithItsChain) {
  ImpactReport report = report_on_main();
  report.impacted_tests = {{"tests/test_api.py",
                            "tests.test_api:TestClient.test_get",
                            {"pkg.client:Client.get"},
                            "pkg.transport:request",
                            TestKind::test}};
  report.stats = {1, 5, 1, 2, 37};
  EXPECT_EQ(render_impact_report_text(report),
            "base origin/main (merge-base 4b825dc)\n"
            "verdict selected\n"
            "\n"
            "impacted tests (1)\n"
            "  tests/test_api.py::TestClient.test_get\n"
            "    \u2190 pkg.client:Client.get \u2190 pkg.transport:request\n"
            "\n"
            "5 symbol(s) visited, 2 qlo call(s), 37 ms\n");
}

TEST(ImpactReportText, EarlyRunAllShowsNoTestsAndTheSections) {
  ImpactReport report = report_on_main();
  report.verdict = Verdict::run_all;
  report.reason = RunAllReason::non_python_changes;
  report.ignored_paths = {"docs/index.md"};
  EXPECT_EQ(render_impact_report_text(report),
            "base origin/main (merge-base 4b825dc)\n"
            "verdict run_all \u2014 non-Python files changed\n"
            "\n"
            "No impacted tests.\n"
            "\n"
            "ignored paths (1)\n"
            "  docs/index.md\n"
            "\n"
            "0 symbol(s) visited, 0 qlo call(s), 0 ms\n");
}

// Entries keep their order within a group; the groups come as tests, fixtures, conftests.
TEST(ImpactReportText, GroupsTestsFixturesAndConftests) {
  ImpactReport report = report_on_main();
  report.verdict = Verdict::run_all;
  report.reason = RunAllReason::decorator_dispatch;
  report.impacted_tests = {
      {"conftest.py", std::nullopt, {}, "pkg.a:f", TestKind::test},
      {"tests/conftest.py", std::nullopt, {"pkg.a:g"}, "pkg.a:f", TestKind::test},
      {"tests/conftest.py", "tests.conftest:client", {}, "pkg.a:f", TestKind::fixture},
      {"tests/conftest.py", "tests.conftest:test_in_conftest", {}, "pkg.a:f", TestKind::test},
      {"tests/my_conftest.py", std::nullopt, {}, "pkg.a:f", TestKind::test},
      {"tests/test_x.py", std::nullopt, {"pkg.b:h", "pkg.a:g"}, "pkg.a:f", TestKind::test},
      {"tests/test_x.py", "test_bare", {}, "pkg.a:f", TestKind::test},
      {"tests/test_y.py", std::nullopt, {}, "pkg.a:f", TestKind::fixture},
  };
  report.stats = {1, 4, 2, 3, 12};
  EXPECT_EQ(render_impact_report_text(report),
            "base origin/main (merge-base 4b825dc)\n"
            "verdict run_all \u2014 a changed symbol is dispatched by an unresolvable decorator\n"
            "\n"
            "impacted tests (4)\n"
            "  tests/conftest.py::test_in_conftest\n"
            "    \u2190 pkg.a:f\n"
            "  tests/my_conftest.py  (whole file)\n"
            "    \u2190 pkg.a:f\n"
            "  tests/test_x.py  (whole file)\n"
            "    \u2190 pkg.b:h \u2190 pkg.a:g \u2190 pkg.a:f\n"
            "  tests/test_x.py::test_bare\n"
            "    \u2190 pkg.a:f\n"
            "\n"
            "impacted fixtures (2)\n"
            "  tests.conftest:client  (the tests that consume it)\n"
            "    \u2190 pkg.a:f\n"
            "  tests/test_y.py  (the tests that consume it)\n"
            "    \u2190 pkg.a:f\n"
            "\n"
            "impacted conftests (2)\n"
            "  conftest.py  (every test file in its subtree)\n"
            "    \u2190 pkg.a:f\n"
            "  tests/conftest.py  (every test file in its subtree)\n"
            "    \u2190 pkg.a:g \u2190 pkg.a:f\n"
            "\n"
            "4 symbol(s) visited, 3 qlo call(s), 12 ms\n");
}

TEST(ImpactReportText, OptionalSectionsInTheirOrder) {
  ImpactReport report = report_on_main();
  report.verdict = Verdict::run_all;
  report.reason = RunAllReason::refs_failed;
  report.test_files_changed = {"tests/test_a.py", "tests/test_b.py"};
  report.ignored_symbols = {{"pkg.jobs:nightly", "pkg/jobs.py", "app.task"}};
  report.ignored_paths = {"docs/a.md"};
  report.errors = {"could not resolve references for pkg/a.py:1:5: boom"};
  report.stats = {1, 1, 0, 1, u128{1} << 64};
  EXPECT_EQ(render_impact_report_text(report),
            "base origin/main (merge-base 4b825dc)\n"
            "verdict run_all \u2014 qlo failed during the walk\n"
            "\n"
            "No impacted tests.\n"
            "\n"
            "changed test files (2)\n"
            "  tests/test_a.py\n"
            "  tests/test_b.py\n"
            "\n"
            "ignored symbols (1)\n"
            "  pkg.jobs:nightly  (@app.task)\n"
            "\n"
            "ignored paths (1)\n"
            "  docs/a.md\n"
            "\n"
            "errors (1)\n"
            "  could not resolve references for pkg/a.py:1:5: boom\n"
            "\n"
            "1 symbol(s) visited, 1 qlo call(s), 18446744073709551616 ms\n");
}

}  // namespace
}  // namespace pindrel::impact
