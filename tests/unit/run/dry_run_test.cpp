#include "run/dry_run.hpp"

#include <gtest/gtest.h>

namespace pindrel::run {
namespace {

using impact::RunAllReason;
using impact::Verdict;

SelectedNodeId node(std::string id, std::vector<std::string> via = {}, std::optional<std::string> origin = {}) {
  return {std::move(id), std::move(via), std::move(origin)};
}

Selection selected(std::vector<SelectedNodeId> ids) {
  Selection selection;
  selection.node_ids = std::move(ids);
  selection.decision = Decision::selected;
  return selection;
}

Selection run_all(std::optional<RunAllReason> reason) {
  Selection selection;
  selection.verdict = Verdict::run_all;
  selection.decision = Decision::run_all;
  selection.reason = reason;
  return selection;
}

TEST(DecisionSummaryLine, CountsNodeIdsAndDistinctOrigins) {
  Selection folded = selected({node("tests/test_a.py", {}, "pkg.a:f")});
  folded.fit = ArgvFit::whole_files;
  Selection too_long = run_all(std::nullopt);
  too_long.fit = ArgvFit::whole_suite;
  struct Case {
    Selection selection;
    std::string_view line;
  };
  const Case cases[] = {
      {selected({node("tests/test_a.py::t1", {}, "pkg.a:f"), node("tests/test_a.py::t2", {"pkg.b:g"}, "pkg.a:f"),
                 node("tests/test_b.py")}),
       "3 node id(s) from 1 origin(s) in 42 ms — details: pindrel impacted-tests"},
      {run_all(RunAllReason::non_python_changes), "full suite — non-Python files changed"},
      {run_all(std::nullopt), "full suite — no reason given"},
      {Selection{}, "no tests impacted — nothing to run"},
      {folded,
       "1 node id(s) from 1 origin(s) in 42 ms — folded into whole files to fit the argument limit — details: "
       "pindrel impacted-tests"},
      {too_long, "full suite — the selection does not fit the argument limit, even as whole files"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(decision_summary_line(c.selection, 42), c.line);
  }
}

TEST(ArgvToJsonText, CompactWithJsonEscapes) {
  EXPECT_EQ(argv_to_json_text({}), "[]");
  EXPECT_EQ(argv_to_json_text({"pick.sh", "say \"hi\"\n", "tab\there\x01", "back\\slash", "é"}),
            R"(["pick.sh","say \"hi\"\n","tab\there\u0001","back\\slash","é"])");
}

DryRunPlan selected_plan() {
  Selection selection = selected({
      node("tests/test_a.py"),
      node("tests/test_b.py::TestB::test_x", {"pkg.helpers:wrap", "pkg.core:run"}, "pkg.core:parse"),
      node("tests/unit/test_c.py", {"tests.unit.conftest"}, "pkg.core:parse"),
  });
  selection.expanded = {{"tests.unit.conftest", {"tests/unit/test_c.py"}, ExpansionKind::conftest_subtree, 1}};
  selection.dropped = {{"tests/test_gone.py", DropReason::deleted},
                       {"tests/test_a.py::test_one", DropReason::superseded},
                       {"tests/test_a.py::test_two", DropReason::superseded}};
  return DryRunPlan{
      std::move(selection),
      7,
      GitEnvPolicy::isolate,
      {"GIT_DIR", "GIT_INDEX_FILE"},
      std::nullopt,
      {"/usr/bin/pytest", "tests/test_a.py", "tests/test_b.py::TestB::test_x", "tests/unit/test_c.py", "-q"}};
}

TEST(DryRunText, SelectedPlanShowsChainsExpansionsFoldingAndArgv) {
  EXPECT_EQ(write_dry_run_text(selected_plan()),
            "decision: selected\n"
            "pindrel: 3 node id(s) from 1 origin(s) in 7 ms — details: pindrel impacted-tests\n"
            "git env: isolate — removes GIT_DIR, GIT_INDEX_FILE\n"
            "\n"
            "tests/test_a.py\n"
            "tests/test_b.py::TestB::test_x\n"
            "  ← pkg.helpers:wrap ← pkg.core:run ← pkg.core:parse\n"
            "tests/unit/test_c.py\n"
            "  ← tests.unit.conftest ← pkg.core:parse\n"
            "\n"
            "expanded tests.unit.conftest (conftest subtree) → 1 node id(s)\n"
            "\n"
            "2 per-test node id(s) folded into 2 whole file(s): a file selected wholesale supersedes the node ids "
            "inside it\n"
            "\n"
            "dropped (3)\n"
            "  tests/test_gone.py  — no longer in the working tree\n"
            "  tests/test_a.py::test_one  — covered by the whole file\n"
            "  tests/test_a.py::test_two  — covered by the whole file\n"
            "\n"
            "argv\n"
            "  /usr/bin/pytest\n"
            "  tests/test_a.py\n"
            "  tests/test_b.py::TestB::test_x\n"
            "  tests/unit/test_c.py\n"
            "  -q\n");
}

TEST(DryRunText, EndingsWithoutNodeIds) {
  struct Case {
    DryRunPlan plan;
    std::string_view text;
  };
  Selection nothing;
  nothing.dropped = {{"tests/helpers.py", DropReason::not_collectible}};
  const Case cases[] = {
      {{nothing, 3, GitEnvPolicy::isolate, {}, std::nullopt, {}},
       "decision: nothing\n"
       "pindrel: no tests impacted — nothing to run\n"
       "\n"
       "dropped (1)\n"
       "  tests/helpers.py  — pytest collects no tests from it\n"
       "\n"
       "argv: none — nothing would be run\n"},
      {{run_all(RunAllReason::budget), 3, GitEnvPolicy::isolate, {}, std::nullopt, {}},
       "decision: run_all\n"
       "pindrel: full suite — the time budget ran out\n"
       "git env: isolate — no repository-local git variable is set\n"
       "\n"
       "argv: unknown — pytest could not be resolved\n"},
      {{run_all(std::nullopt), 3, GitEnvPolicy::inherit, {}, std::nullopt, {"pytest", "-x"}},
       "decision: run_all\n"
       "pindrel: full suite — no reason given\n"
       "git env: inherit\n"
       "\n"
       "argv\n"
       "  pytest\n"
       "  -x\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(write_dry_run_text(c.plan), c.text);
}

DryRunPlan fallback_plan(const changed::ChangedSymbols* report) {
  const std::vector<std::string> argv = {"/repo/scripts/pick.sh", "--from \"pindrel\""};
  return DryRunPlan{run_all(RunAllReason::non_python_changes),
                    5,
                    GitEnvPolicy::inherit,
                    {},
                    FallbackPlan{argv, FallbackSource::config, "non_python_changes", {1, "non_python_changes", report}},
                    argv};
}

TEST(DryRunText, FallbackPlanShowsTheCommandItsReasonAndSource) {
  EXPECT_EQ(write_dry_run_text(fallback_plan(nullptr)),
            "decision: run_all\n"
            "pindrel: full suite — non-Python files changed\n"
            "git env: inherit\n"
            "\n"
            "would exec fallback: [\"/repo/scripts/pick.sh\",\"--from \\\"pindrel\\\"\"] (reason: non_python_changes)\n"
            "  from: fallback-command in pyproject.toml\n"
            "\n"
            "argv\n"
            "  /repo/scripts/pick.sh\n"
            "  --from \"pindrel\"\n");
}

TEST(DryRunJson, SelectedPlanWithSortedKeys) {
  DryRunPlan plan = selected_plan();
  plan.selection.dropped.resize(1);
  plan.selection.node_ids.resize(2);
  plan.argv = {"pytest", "bad\xFF"};
  EXPECT_EQ(dry_run_plan_json(plan), R"({
  "argv": [
    "pytest",
    "bad�"
  ],
  "decision": "selected",
  "dropped": [
    {
      "entry": "tests/test_gone.py",
      "why": "deleted"
    }
  ],
  "expanded": [
    {
      "from": "tests.unit.conftest",
      "into": [
        "tests/unit/test_c.py"
      ],
      "kind": "conftest_subtree"
    }
  ],
  "fallback": null,
  "git_env": {
    "policy": "isolate",
    "removed": [
      "GIT_DIR",
      "GIT_INDEX_FILE"
    ]
  },
  "node_ids": [
    {
      "node_id": "tests/test_a.py",
      "origin": null,
      "via": []
    },
    {
      "node_id": "tests/test_b.py::TestB::test_x",
      "origin": "pkg.core:parse",
      "via": [
        "pkg.helpers:wrap",
        "pkg.core:run"
      ]
    }
  ],
  "reason": null,
  "verdict": "selected"
})");
}

TEST(DryRunJson, FallbackPayloadShowsTheReportWithSortedKeys) {
  changed::ChangedSymbols report;
  report.base = "main";
  report.merge_base = "abc123";
  report.changed_symbols = {
      {"pkg.a:f", "pkg/a.py", pysource::DefinitionKind::function, 3, 5, changed::ChangeKind::modified, std::nullopt}};
  report.module_level_changes = {{"pkg.b", "pkg/b.py"}};
  report.non_python_changes = {"README.md"};
  EXPECT_EQ(dry_run_plan_json(fallback_plan(&report)), R"({
  "argv": [
    "/repo/scripts/pick.sh",
    "--from \"pindrel\""
  ],
  "decision": "run_all",
  "dropped": [],
  "expanded": [],
  "fallback": {
    "argv": [
      "/repo/scripts/pick.sh",
      "--from \"pindrel\""
    ],
    "payload": {
      "pindrel_fallback_payload_version": 1,
      "reason": "non_python_changes",
      "report": {
        "base": "main",
        "changed_symbols": [
          {
            "change": "modified",
            "column": 5,
            "file": "pkg/a.py",
            "kind": "function",
            "line": 3,
            "symbol": "pkg.a:f"
          }
        ],
        "errors": [],
        "ignored_paths": [],
        "ignored_symbols": [],
        "merge_base": "abc123",
        "module_level_changes": [
          {
            "file": "pkg/b.py",
            "module": "pkg.b"
          }
        ],
        "non_python_changes": [
          "README.md"
        ],
        "test_files_changed": []
      }
    },
    "reason": "non_python_changes",
    "source": "config"
  },
  "git_env": {
    "policy": "inherit",
    "removed": []
  },
  "node_ids": [],
  "reason": "non_python_changes",
  "verdict": "run_all"
})");
}

}  // namespace
}  // namespace pindrel::run
