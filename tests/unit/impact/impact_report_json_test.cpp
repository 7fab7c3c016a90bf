#include "impact/impact_report_json.hpp"

#include <gtest/gtest.h>

namespace pindrel::impact {
namespace {

// A valid report, one member per line, so that a case can replace the line of one key.
constexpr std::string_view report_lines = R"({
  "verdict": "selected",
  "reason": null,
  "base": "main",
  "merge_base": "abc",
  "impacted_tests": [],
  "test_files_changed": [],
  "ignored_symbols": [],
  "ignored_paths": [],
  "stats": {"seeds": 0, "visited": 0, "max_depth_reached": 0, "qlo_calls": 0, "duration_ms": 0},
  "errors": []
})";

// The report with the line of `key` replaced by `line`; an empty `line` removes it.
std::string report_with(std::string_view key, std::string_view line) {
  std::string text(report_lines);
  const std::size_t start = text.find("  \"" + std::string(key) + "\":");
  const std::size_t end = text.find('\n', start);
  text.replace(start, end - start + 1, line.empty() ? "" : std::string(line) + "\n");
  if (const std::size_t last = text.rfind(",\n}"); last != std::string::npos) text.erase(last, 1);
  return text;
}

std::string outcome(std::string_view text) {
  auto report = parse_impact_report(text);
  return report ? "ok" : report.error().render();
}

ImpactReport full_report() {
  ImpactReport report;
  report.verdict = Verdict::run_all;
  report.reason = RunAllReason::max_depth;
  report.base = "origin/main";
  report.merge_base = "4b825dc642cb6eb9a060e54bf8d69288fbee4904";
  report.impacted_tests = {
      {"tests/test_a.py", std::nullopt, {}, "pkg.a:f", TestKind::test},
      {"tests/test_a.py", "tests.test_a:client", {"pkg.a:g", "pkg.b:h"}, "pkg.a:f", TestKind::fixture},
  };
  report.test_files_changed = {"tests/test_b.py"};
  report.ignored_symbols = {{"pkg.c:task", "pkg/c.py", "app.task"}};
  report.ignored_paths = {"docs/\"é\"\n.md"};
  report.stats = {3, 7, 2, 4, u128{1} << 64};
  report.errors = {"could not resolve references for a.py:1:5: `qlo` exited with exit status: 1: boom"};
  return report;
}

TEST(ImpactReportJson, WritesEveryKey) {
  ImpactReport report;
  report.base = "main";
  report.merge_base = "4b825dc642cb6eb9a060e54bf8d69288fbee4904";
  EXPECT_EQ(render_impact_report_json(report), R"({
  "verdict": "selected",
  "reason": null,
  "base": "main",
  "merge_base": "4b825dc642cb6eb9a060e54bf8d69288fbee4904",
  "impacted_tests": [],
  "test_files_changed": [],
  "ignored_symbols": [],
  "ignored_paths": [],
  "stats": {
    "seeds": 0,
    "visited": 0,
    "max_depth_reached": 0,
    "qlo_calls": 0,
    "duration_ms": 0
  },
  "errors": []
})");
}

TEST(ImpactReportJson, WritesEntriesAndCounters) {
  ImpactReport report = full_report();
  report.test_files_changed.clear();
  report.ignored_paths.clear();
  report.errors.clear();
  EXPECT_EQ(render_impact_report_json(report), R"({
  "verdict": "run_all",
  "reason": "max_depth",
  "base": "origin/main",
  "merge_base": "4b825dc642cb6eb9a060e54bf8d69288fbee4904",
  "impacted_tests": [
    {
      "file": "tests/test_a.py",
      "symbol": null,
      "via": [],
      "origin": "pkg.a:f",
      "kind": "test"
    },
    {
      "file": "tests/test_a.py",
      "symbol": "tests.test_a:client",
      "via": [
        "pkg.a:g",
        "pkg.b:h"
      ],
      "origin": "pkg.a:f",
      "kind": "fixture"
    }
  ],
  "test_files_changed": [],
  "ignored_symbols": [
    {
      "symbol": "pkg.c:task",
      "file": "pkg/c.py",
      "ignored_by": "app.task"
    }
  ],
  "ignored_paths": [],
  "stats": {
    "seeds": 3,
    "visited": 7,
    "max_depth_reached": 2,
    "qlo_calls": 4,
    "duration_ms": 18446744073709551616
  },
  "errors": []
})");
}

TEST(ImpactReportJson, WrittenReportsReadBackEqual) {
  ImpactReport largest = full_report();
  largest.stats = {UINT64_MAX, UINT64_MAX, UINT32_MAX, UINT64_MAX, ~u128{0}};
  for (const ImpactReport& report : {full_report(), largest, ImpactReport{}}) {
    auto read = parse_impact_report(render_impact_report_json(report));
    ASSERT_TRUE(read) << read.error().render();
    EXPECT_EQ(*read, report);
  }
}

TEST(ImpactReportJson, ArrayFormReadsLikeTheObject) {
  auto from_object = parse_impact_report(report_lines);
  auto from_array = parse_impact_report(R"(["selected", null, "main", "abc", [], [], [], [], [0, 0, 0, 0, 0], []])");
  ASSERT_TRUE(from_object) << from_object.error().render();
  ASSERT_TRUE(from_array) << from_array.error().render();
  EXPECT_EQ(*from_array, *from_object);
}

TEST(ImpactReportJson, LenientValuesOfTheFormat) {
  const auto read = [](std::string_view key, std::string_view line) {
    auto report = parse_impact_report(report_with(key, line));
    EXPECT_TRUE(report) << report.error().render();
    return report.value_or(ImpactReport{});
  };
  EXPECT_EQ(read("verdict", R"(  "verdict": {"run_all": null},)").verdict, Verdict::run_all);
  EXPECT_EQ(read("reason", "").reason, std::nullopt);
  EXPECT_EQ(read("reason", R"(  "reason": {"budget": null},)").reason, RunAllReason::budget);
  // A read report is not held to the invariants of a computed one.
  EXPECT_EQ(read("reason", R"(  "reason": "fast_suite",)").reason, RunAllReason::fast_suite);
  const ImpactedTest whole_file{"t.py", std::nullopt, {}, "o", TestKind::test};
  for (std::string_view line : {R"(  "impacted_tests": [{"file": "t.py", "via": [], "origin": "o"}],)",
                                R"(  "impacted_tests": [{"file": "t.py", "symbol": null, "via": [], "origin": "o"}],)",
                                R"(  "impacted_tests": [["t.py", null, [], "o"]],)"}) {
    SCOPED_TRACE(line);
    EXPECT_EQ(read("impacted_tests", line).impacted_tests, std::vector<ImpactedTest>{whole_file});
  }
  EXPECT_EQ(read("impacted_tests", R"(  "impacted_tests": [["t.py", "m:t", [], "o", {"fixture": null}]],)")
                .impacted_tests[0]
                .kind,
            TestKind::fixture);
}

TEST(ImpactReportJson, ReaderMessages) {
  struct Case {
    std::string text;
    std::string_view message;
  };
  const Case cases[] = {
      {"", "EOF while parsing a value at line 1 column 0"},
      {"x", "expected value at line 1 column 1"},
      {R"("x")", "invalid type: string \"x\", expected struct ImpactReport at line 1 column 3"},
      {"{}", "missing field `verdict` at line 1 column 2"},
      {report_with("verdict", ""), "missing field `verdict` at line 11 column 1"},
      {report_with("errors", ""), "missing field `errors` at line 11 column 1"},
      {report_with("base", R"(  "note": 1, "base": "main",)"),
       "unknown field `note`, expected one of `verdict`, `reason`, `base`, `merge_base`, `impacted_tests`, "
       "`test_files_changed`, `ignored_symbols`, `ignored_paths`, `stats`, `errors` at line 4 column 8"},
      {report_with("base", R"(  "base": "main", "base": "x",)"), "duplicate field `base` at line 4 column 24"},
      {report_with("verdict", R"(  "verdict": "SELECTED",)"),
       "unknown variant `SELECTED`, expected `selected` or `run_all` at line 2 column 23"},
      {report_with("verdict", R"(  "verdict": 1,)"), "expected value at line 2 column 14"},
      {report_with("reason", R"(  "reason": "budget ",)"),
       "unknown variant `budget `, expected one of `non_python_changes`, `parse_errors`, `qlo_unavailable`, "
       "`refs_failed`, `index_failed`, `max_depth`, `max_symbols`, `budget`, `decorator_dispatch`, `fast_suite` at "
       "line 3 column 21"},
      {report_with("impacted_tests", R"(  "impacted_tests": [["t.py", null, []]],)"),
       "invalid length 3, expected struct ImpactedTest with 5 elements at line 6 column 39"},
      {report_with("impacted_tests", R"(  "impacted_tests": [["t.py", "m:t", [], "o", "Fixture"]],)"),
       "unknown variant `Fixture`, expected `test` or `fixture` at line 6 column 55"},
      {report_with("ignored_symbols", R"(  "ignored_symbols": [["s", "f"]],)"),
       "invalid length 2, expected struct IgnoredSymbol with 3 elements at line 8 column 32"},
      {report_with("stats", R"(  "stats": [0, 0, 0, 0],)"),
       "invalid length 4, expected struct Stats with 5 elements at line 10 column 23"},
      {report_with("stats", R"(  "stats": "x",)"),
       "invalid type: string \"x\", expected struct Stats at line 10 column 14"},
      {report_with("stats", R"(  "stats": [0, 0, 4294967296, 0, 0],)"),
       "invalid value: integer `4294967296`, expected u32 at line 10 column 28"},
      {report_with("stats", R"(  "stats": [-1, 0, 0, 0, 0],)"),
       "invalid value: integer `-1`, expected u64 at line 10 column 14"},
      {report_with("stats", R"(  "stats": {"seeds": 1.0, "visited": 0},)"),
       "invalid type: floating point `1.0`, expected u64 at line 10 column 24"},
      {report_with("stats", R"(  "stats": [0, 0, 0, 0, 340282366920938463463374607431768211456],)"),
       "invalid value: integer `340282366920938463463374607431768211456`, expected u128 at line 10 column 63"},
      {report_with("errors", R"(  "errors": [1])"),
       "invalid type: integer `1`, expected a string at line 11 column 14"},
      {R"(["selected", null, "b", "m", [], [], [], [], [0, 0, 0, 0, 0]])",
       "invalid length 9, expected struct ImpactReport with 10 elements at line 1 column 61"},
      {R"(["selected", null, "b", "m", [], [], [], [], [0, 0, 0, 0, 0], [], 1])",
       "trailing characters at line 1 column 67"},
      {std::string(report_lines) + "\n{}", "trailing characters at line 13 column 1"},
      {std::string(report_lines) + " x", "trailing characters at line 12 column 3"},
      {std::string(report_lines) + "\n\n", "ok"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(outcome(c.text), c.message);
  }
}

TEST(RunAllReason, NamesAndTexts) {
  EXPECT_EQ(run_all_reason_from_name("decorator_dispatch"), RunAllReason::decorator_dispatch);
  EXPECT_EQ(run_all_reason_name(RunAllReason::non_python_changes), "non_python_changes");
  EXPECT_EQ(run_all_reason_text(RunAllReason::index_failed), "the working tree could not be read");
  EXPECT_EQ(run_all_reason_text(RunAllReason::fast_suite), "the full suite is faster than a selection");
  EXPECT_EQ(run_all_reason_text(std::nullopt), "no reason given");
  auto unknown = run_all_reason_from_name("Budget");
  ASSERT_FALSE(unknown);
  EXPECT_EQ(unknown.error().render(),
            "unknown variant `Budget`, expected one of `non_python_changes`, `parse_errors`, `qlo_unavailable`, "
            "`refs_failed`, `index_failed`, `max_depth`, `max_symbols`, `budget`, `decorator_dispatch`, "
            "`fast_suite`");
}

}  // namespace
}  // namespace pindrel::impact
