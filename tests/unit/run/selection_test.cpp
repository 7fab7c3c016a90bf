#include "run/selection.hpp"
#include "run/selection_tree.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace pindrel::run {
namespace {

using test_support::impacted;
using test_support::lines_of;
using test_support::report_of;
using test_support::TestTree;
using Lines = std::vector<std::string>;

constexpr std::string_view test_a_source = R"(import pytest

def make_data():
    return 1

class TestA:
    def test_b(self):
        pass

    def make_data(self):
        pass

class Base:
    def test_x(self):
        pass
)";

TEST(Selection, RunAllReportReadsNothing) {
  TestTree tree;
  tree.write("tests/test_a.py", test_a_source);
  impact::ImpactReport report =
      report_of({impacted("tests/test_a.py", "tests.test_a:TestA.test_b")}, {"tests/test_a.py"});
  report.verdict = impact::Verdict::run_all;
  report.reason = impact::RunAllReason::budget;

  const Selection selection = tree.select(report);
  EXPECT_EQ(selection,
            (Selection{{}, {}, {}, impact::Verdict::run_all, Decision::run_all, impact::RunAllReason::budget}));
  EXPECT_TRUE(tree.cache.entries.empty());
}

TEST(Selection, ImpactedTestsBecomeFilesOrNodes) {
  struct Case {
    std::string file;
    std::optional<std::string> symbol;
    Lines expected;
  };
  const Case cases[] = {
      {"tests/test_a.py", std::nullopt, {"tests/test_a.py ← app.db:connect"}},
      {"tests/utils.py", std::nullopt, {"dropped tests/utils.py (not_collectible)"}},
      {"tests/test_a.py", "tests.test_a:TestA.test_b", {"tests/test_a.py::TestA::test_b ← app.db:connect"}},
      // A method of a test class that is not itself a test selects its class.
      {"tests/test_a.py", "tests.test_a:TestA.make_data", {"tests/test_a.py::TestA ← app.db:connect"}},
      {"tests/test_a.py", "tests.test_a:make_data", {"tests/test_a.py ← app.db:connect"}},
      {"tests/test_a.py", "tests.test_a:Base.test_x", {"tests/test_a.py ← app.db:connect"}},
      {"tests/test_a.py", "tests.test_a", {"tests/test_a.py ← app.db:connect"}},
      // A non-test module under a tests directory collects nothing.
      {"tests/utils.py", "tests.utils:helper", {"dropped tests/utils.py (not_collectible)"}},
      // No index for a test file that was not listed, so it runs whole.
      {"pkg/test_unlisted.py", "pkg.test_unlisted:test_u", {"pkg/test_unlisted.py ← app.db:connect"}},
      // A file whose syntax tree has an error has no known tests.
      {"tests/test_broken.py", "tests.test_broken:test_ok", {"tests/test_broken.py ← app.db:connect"}},
      {"tests/test_gone.py", "tests.test_gone:test_g", {"dropped tests.test_gone:test_g (deleted)"}},
      {"tests/test_gone.py", std::nullopt, {"dropped tests/test_gone.py (deleted)"}},
      {"tests/test_bad_utf8.py", "tests.test_bad_utf8:test_b", {"dropped tests.test_bad_utf8:test_b (deleted)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file + " " + c.symbol.value_or("(whole file)"));
    TestTree tree;
    tree.write("tests/test_a.py", test_a_source);
    tree.write("tests/utils.py", "def helper():\n    pass\n");
    tree.write("pkg/test_unlisted.py", "def test_u():\n    pass\n", test_support::Listed::no);
    tree.write("tests/test_broken.py", "def test_ok():\n    pass\n\ndef test_bad(:\n");
    tree.write("tests/test_bad_utf8.py", "def test_b():\n    return '\xff'\n");
    tree.list_only("tests/test_gone.py");
    const Selection selection = tree.select(report_of({impacted(c.file, c.symbol)}));
    EXPECT_EQ(lines_of(selection), c.expected);
    EXPECT_EQ(selection.decision, selection.node_ids.empty() ? Decision::nothing : Decision::selected);
  }
}

// The copies the walk records where pytest collects a test again: a test a subclass inherits
// names its own node, and a class or function another module defines names its node in the file
// that imports it, by name or by a star; a fixture of such a class selects the class. What the
// file neither inherits nor imports runs as before.
TEST(Selection, CopiesOfInheritedAndImportedTestsNameTheirNodes) {
  struct Case {
    std::string symbol;
    impact::TestKind kind;
    std::string expected;
  };
  const Case cases[] = {
      {"tests.test_b:TestSub.test_add", impact::TestKind::test, "tests/test_b.py::TestSub::test_add"},
      {"tests.test_b:TestSub.helper", impact::TestKind::test, "tests/test_b.py::TestSub"},
      {"tests.test_b:TestPlain.test_add", impact::TestKind::test, "tests/test_b.py::TestPlain"},
      {"tests.test_b:TestA.test_add", impact::TestKind::test, "tests/test_b.py::TestA::test_add"},
      {"tests.test_b:test_f", impact::TestKind::test, "tests/test_b.py::test_f"},
      {"tests.test_b:TestA.db", impact::TestKind::fixture, "tests/test_b.py::TestA"},
      {"tests.test_b:TestNowhere.test_add", impact::TestKind::test, "tests/test_b.py"},
      {"tests.test_star:TestA.test_add", impact::TestKind::test, "tests/test_star.py::TestA::test_add"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.symbol);
    TestTree tree;
    tree.write("tests/test_b.py",
               "from tests.test_a import TestA, test_f\n\n\nclass TestSub(TestA):\n    pass\n\n\n"
               "class TestPlain:\n    def test_own(self):\n        pass\n");
    tree.write("tests/test_star.py", "from tests.test_a import *\n");
    impact::ImpactedTest copy =
        impacted(c.symbol.starts_with("tests.test_b") ? "tests/test_b.py" : "tests/test_star.py", c.symbol);
    copy.kind = c.kind;
    EXPECT_EQ(lines_of(tree.select(report_of({copy}))), Lines{c.expected + " ← app.db:connect"});
  }
}

TEST(Selection, ChangedTestFilesCarryNoChain) {
  TestTree tree;
  tree.write("tests/test_a.py", test_a_source);
  tree.write("tests/helpers.py", "x = 1\n");
  const Selection selection =
      tree.select(report_of({}, {"tests/test_a.py", "tests/helpers.py", "tests/test_removed.py"}));
  EXPECT_EQ(lines_of(selection), (Lines{"tests/test_a.py", "dropped tests/helpers.py (not_collectible)",
                                        "dropped tests/test_removed.py (deleted)"}));
  EXPECT_EQ(selection.node_ids.at(0), (SelectedNodeId{"tests/test_a.py", {}, std::nullopt}));
}

TEST(Selection, ConftestStandsForTheCollectibleFilesUnderIt) {
  TestTree tree;
  tree.write("tests/unit/conftest.py", "import pytest\n");
  tree.write("tests/unit/test_x.py", "def test_x():\n    pass\n");
  tree.write("tests/unit/sub/test_y.py", "def test_y():\n    pass\n");
  tree.write("tests/unit/helpers.py", "x = 1\n");
  tree.write("tests/unit-b/test_z.py", "def test_z():\n    pass\n");
  tree.write("tests/empty/conftest.py", "import pytest\n");
  tree.write("tests/empty/helpers.py", "x = 1\n");

  const Selection selection = tree.select(
      report_of({impacted("tests/unit/conftest.py", "tests.unit.conftest:helper", "app.db:connect", {"app.db:pool"})},
                {"tests/empty/conftest.py"}));
  EXPECT_EQ(lines_of(selection),
            (Lines{"tests/unit/sub/test_y.py ← tests.unit.conftest ← app.db:pool ← app.db:connect",
                   "tests/unit/test_x.py ← tests.unit.conftest ← app.db:pool ← app.db:connect",
                   "expanded tests.unit.conftest (conftest_subtree): tests/unit/sub/test_y.py tests/unit/test_x.py",
                   "dropped tests.empty.conftest (not_collectible)"}));
}

TEST(Selection, TestFilesOfOneModuleNameComeTogether) {
  TestTree tree;
  tree.write("tests/api/test_utils.py", "def test_api():\n    pass\n");
  tree.write("tests/cli/test_utils.py", "def test_cli():\n    pass\n");
  tree.write("tests/pkg/__init__.py", "");
  tree.write("tests/pkg/test_utils.py", "def test_pkg():\n    pass\n");
  tree.write("build/test_utils.py", "def test_built():\n    pass\n");
  const auto report = report_of({impacted("tests/cli/test_utils.py", "test_utils:test_cli", "app.db:connect")});
  // A packaged file has a name of its own, and pytest collects nothing under build/.
  SelectionSettings settings;
  settings.suite = SuiteCollection(settings.pytest, {}, tree.root(), {});
  EXPECT_EQ(lines_of(tree.select(report, settings)),
            (Lines{"tests/api/test_utils.py ← tests/cli/test_utils.py ← app.db:connect",
                   "tests/cli/test_utils.py::test_cli ← app.db:connect"}));
  settings.import_mode = ImportMode::importlib;
  EXPECT_EQ(lines_of(tree.select(report, settings)), (Lines{"tests/cli/test_utils.py::test_cli ← app.db:connect"}));
}

TEST(Selection, TestCasesImportedFromOtherTestFilesAreTestClasses) {
  TestTree tree;
  tree.write("tests/__init__.py", "");
  tree.write("tests/pkg/__init__.py", "");
  tree.write("tests/pkg/base.py", "from unittest import TestCase\n\nclass BaseCase(TestCase):\n    pass\n");
  tree.write("tests/cycle_a.py", "from tests.cycle_b import B\n\nclass A(B):\n    pass\n");
  tree.write("tests/cycle_b.py", "from tests.cycle_a import A\n\nclass B(A):\n    pass\n");
  tree.write("tests/pkg/test_x.py", R"(from .base import BaseCase
from ..cycle_a import A
from tests.pkg.base import BaseCase as Other

class XTests(BaseCase):
    def test_a(self):
        pass

class YTests(Other):
    def test_b(self):
        pass

class Cyclic(A):
    def test_c(self):
        pass
)");
  // A cycle of imports leaves its classes unknown, so their file runs whole.
  const Selection selection =
      tree.select(report_of({impacted("tests/pkg/test_x.py", "tests.pkg.test_x:XTests.test_a"),
                             impacted("tests/pkg/test_x.py", "tests.pkg.test_x:YTests.test_b")}));
  EXPECT_EQ(lines_of(selection), (Lines{"tests/pkg/test_x.py::XTests::test_a ← app.db:connect",
                                        "tests/pkg/test_x.py::YTests::test_b ← app.db:connect"}));
  EXPECT_EQ(lines_of(tree.select(report_of({impacted("tests/pkg/test_x.py", "tests.pkg.test_x:Cyclic.test_c")}))),
            (Lines{"tests/pkg/test_x.py ← app.db:connect"}));
}

TEST(Selection, FilesTheWholeSuiteLeavesOutAreNotCollectible) {
  TestTree tree;
  tree.write("tests/conftest.py", "import pytest\n");
  tree.write("tests/test_a.py", "def test_a():\n    pass\n");
  tree.write("tests/samples/test_s.py", "def test_s():\n    pass\n");
  tree.write("bench/test_b.py", "def test_b():\n    pass\n");
  SelectionSettings settings;
  settings.pytest.testpaths = {"tests"};
  settings.pytest.norecursedirs = {"samples"};
  settings.suite = SuiteCollection(settings.pytest, {}, tree.root(), {});
  const Selection selection = tree.select(
      report_of({impacted("bench/test_b.py", "bench.test_b:test_b"), impacted("tests/samples/test_s.py", std::nullopt)},
                {"tests/conftest.py"}),
      settings);
  EXPECT_EQ(lines_of(selection),
            (Lines{"tests/test_a.py ← tests.conftest", "expanded tests.conftest (conftest_subtree): tests/test_a.py",
                   "dropped bench/test_b.py (not_collectible)", "dropped tests/samples/test_s.py (not_collectible)"}));
}

TEST(Selection, RootConftestTakesEveryCollectibleFileInComponentOrder) {
  TestTree tree;
  tree.write("conftest.py", "import pytest\n");
  tree.write("tests/a/test_x.py", "def test_x():\n    pass\n");
  tree.write("tests/a-b/test_y.py", "def test_y():\n    pass\n");
  tree.write("tests/conftest.py", "import pytest\n");
  tree.write("pkg/mod.py", "x = 1\n");

  const Selection selection = tree.select(report_of({}, {"conftest.py"}));
  // The expansion lists files by path components, the node ids by bytes.
  EXPECT_EQ(lines_of(selection),
            (Lines{"tests/a-b/test_y.py ← conftest", "tests/a/test_x.py ← conftest",
                   "expanded conftest (conftest_subtree): tests/a/test_x.py tests/a-b/test_y.py"}));
}

TEST(Selection, FirstChainStaysAndWholeFilesFoldTheirNodes) {
  TestTree tree;
  tree.write("tests/test_a.py", "def test_b():\n    pass\n\ndef t():\n    pass\n");
  tree.write("tests/test_b.py", "def test_c():\n    pass\n");
  tree.write("tests/test_c.py", "def test_d():\n    pass\n");

  const Selection selection = tree.select(report_of(
      {
          impacted("tests/test_b.py", "tests.test_b:test_c", "app.db:first"),
          impacted("tests/test_b.py", "tests.test_b:test_c", "app.db:second", {"app.db:x"}),
          impacted("tests/test_a.py", "tests.test_a:test_b"),
          impacted("tests/test_c.py", "tests.test_c:test_d", "app.db:third"),
      },
      {"tests/test_c.py", "tests/test_a.py"}));
  EXPECT_EQ(lines_of(selection),
            (Lines{"tests/test_a.py", "tests/test_b.py::test_c ← app.db:first", "tests/test_c.py",
                   "dropped tests/test_a.py::test_b (superseded)", "dropped tests/test_c.py::test_d (superseded)"}));
  EXPECT_EQ(selection.decision, Decision::selected);
}

TEST(Selection, SelectedClassesFoldTheNodesInsideThem) {
  constexpr std::string_view nested = R"(class TestA:
    def test_x(self):
        pass

    class TestB:
        def test_y(self):
            pass

class TestAB:
    def test_z(self):
        pass
)";
  struct Case {
    std::vector<std::string> qualnames;
    Lines expected;
  };
  const Case cases[] = {
      {{"TestA.test_x", "TestA"},
       {"tests/test_n.py::TestA ← app.db:connect", "dropped tests/test_n.py::TestA::test_x (superseded)"}},
      {{"TestA.TestB.test_y", "TestA"},
       {"tests/test_n.py::TestA ← app.db:connect", "dropped tests/test_n.py::TestA::TestB::test_y (superseded)"}},
      {{"TestA.TestB.test_y", "TestA.TestB", "TestA.test_x"},
       {"tests/test_n.py::TestA::TestB ← app.db:connect", "tests/test_n.py::TestA::test_x ← app.db:connect",
        "dropped tests/test_n.py::TestA::TestB::test_y (superseded)"}},
      // A class whose name extends another's is not inside it.
      {{"TestAB.test_z", "TestA"},
       {"tests/test_n.py::TestA ← app.db:connect", "tests/test_n.py::TestAB::test_z ← app.db:connect"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.qualnames.front());
    TestTree tree;
    tree.write("tests/test_n.py", nested);
    std::vector<impact::ImpactedTest> tests;
    for (const auto& qualname : c.qualnames) tests.push_back(impacted("tests/test_n.py", "tests.test_n:" + qualname));
    EXPECT_EQ(lines_of(tree.select(report_of(tests))), c.expected);
  }
}

TEST(Selection, ReportPathsOutsideTheRepositoryOrNotRegularAreNeverRead) {
  TestTree tree;
  tree.write("tests/test_a.py", "def test_b():\n    pass\n");
  std::filesystem::create_symlink("/dev/zero", tree.root() / "tests/test_zero.py");
  ASSERT_EQ(::mkfifo((tree.root() / "tests/test_fifo.py").c_str(), 0600), 0);
  std::filesystem::create_directory(tree.root() / "tests/test_dir.py");
  const std::string paths[] = {"/dev/zero",          "../../../../dev/zero", "tests/../../test_a.py",
                               "tests/test_zero.py", "tests/test_fifo.py",   "tests/test_dir.py"};
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    const Selection selection =
        tree.select(report_of({impacted(path, "tests.test_a:test_b"), impacted(path, std::nullopt)}, {path}));
    EXPECT_EQ(lines_of(selection), (Lines{"dropped tests.test_a:test_b (deleted)", "dropped " + path + " (deleted)",
                                          "dropped " + path + " (deleted)"}));
    EXPECT_TRUE(tree.cache.entries.empty());
  }
}

TEST(Selection, NodeIdsComeOutInByteOrder) {
  TestTree tree;
  tree.write("tests/test_a.py", "def test_t():\n    pass\n");
  tree.write("tests/test_b.py", "def test_c():\n    pass\n");
  tree.write("tests/test_a.py-x/test_e.py", "def test_e():\n    pass\n");
  const Selection selection = tree.select(
      report_of({impacted("tests/test_b.py", std::nullopt), impacted("tests/test_a.py", "tests.test_a:test_t"),
                 impacted("tests/test_a.py-x/test_e.py", "x:test_e")},
                {"tests/test_a.py"}));
  Lines ids;
  for (const auto& node : selection.node_ids) ids.push_back(node.node_id);
  // A prefix sorts first and "-" before ":"; the node inside the whole file is folded
  // although another file sorts between them.
  EXPECT_EQ(ids, (Lines{"tests/test_a.py", "tests/test_a.py-x/test_e.py::test_e", "tests/test_b.py"}));
  EXPECT_EQ(selection.dropped, (std::vector<DroppedEntry>{{"tests/test_a.py::test_t", DropReason::superseded}}));
}

TEST(FoldedIntoWholeFiles, EachFileOnceWithItsFirstChain) {
  Selection selection;
  selection.decision = Decision::selected;
  selection.node_ids = {{"tests/a.py", {}, "o:whole"},
                        {"tests/a.py-x/test_e.py::test_e", {"step"}, "o:e"},
                        {"tests/a.py::t", {}, "o:t"},
                        {"tests/b.py::TestB::test_c", {}, "o:c"},
                        {"tests/b.py::test_d", {}, "o:d"}};
  selection.dropped = {{"tests/gone.py", DropReason::deleted}};
  // A file sorts before its nodes, but another file may sort between them.
  EXPECT_EQ(lines_of(folded_into_whole_files(selection)),
            (Lines{"tests/a.py ← o:whole", "tests/a.py-x/test_e.py ← step ← o:e", "tests/b.py ← o:c",
                   "dropped tests/gone.py (deleted)", "dropped tests/a.py-x/test_e.py::test_e (superseded)",
                   "dropped tests/a.py::t (superseded)", "dropped tests/b.py::TestB::test_c (superseded)",
                   "dropped tests/b.py::test_d (superseded)"}));
}

TEST(Selection, NothingLeftStillKeepsTheDroppedEntries) {
  TestTree tree;
  tree.write("tests/helpers.py", "x = 1\n");
  const Selection selection = tree.select(report_of({impacted("tests/helpers.py", std::nullopt)}));
  EXPECT_EQ(selection.decision, Decision::nothing);
  EXPECT_EQ(selection.verdict, impact::Verdict::selected);
  EXPECT_EQ(lines_of(selection), (Lines{"dropped tests/helpers.py (not_collectible)"}));
}

TEST(Selection, ReadsOnlyTheFilesItNeeds) {
  TestTree tree;
  tree.write("tests/test_a.py", test_a_source);
  tree.write("tests/test_b.py", "def test_b():\n    pass\n");
  tree.write("tests/conftest.py", "import pytest\n");
  tree.select(report_of({impacted("tests/test_a.py", "tests.test_a:TestA.test_b"),
                         impacted("tests/test_a.py", "tests.test_a:TestA.make_data")}));
  ASSERT_EQ(tree.cache.entries.size(), 1u);
  EXPECT_TRUE(tree.cache.entries.contains("tests/test_a.py"));
}

TEST(CollectibleTestFile, FileNameRule) {
  struct Case {
    const char* path;
    bool collectible;
  };
  const Case cases[] = {
      {"tests/test_a.py", true},
      {"a_test.py", true},
      {"test_.py", true},
      {"_test.py", true},
      {"src/test_x.py", true},
      {"test.py", false},
      {"tests.py", false},
      {"testing_x.py", false},
      {"conftest.py", false},
      {"tests/conftest.py", false},
      {"test_a.PY", false},
      {"test_a.pyi", false},
      {"test_a", false},
      {".py", false},
      {"tests/", false},
      // pytest collects a file whose name is not UTF-8 like any other.
      {"test_\xff.py", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(is_collectible_test_file(c.path, PytestSettings{}), c.collectible);
  }
}

TEST(NodeIdText, QualifiedNamesBecomeNodeSteps) {
  EXPECT_EQ(qualname_to_node_id("tests/test_a.py", "TestA.test_b"), "tests/test_a.py::TestA::test_b");
  EXPECT_EQ(qualname_to_node_id("t.py", "test_a"), "t.py::test_a");
  // Every dot is a step, empty parts included.
  EXPECT_EQ(qualname_to_node_id("t.py", ".A..b."), "t.py::::A::::b::");
  EXPECT_EQ(qualname_to_node_id("t.py", ""), "t.py::");
  EXPECT_EQ(extend_via_chain({{"b", "c"}, "o"}, "a"), (ReferenceChain{{"a", "b", "c"}, "o"}));
}

TEST(NodeIdSet, EachIdOnceWithItsFirstChainThroughGrowth) {
  NodeIdSet set;
  const SharedChain first = share_chain({{}, "o:first"});
  const SharedChain later = share_chain({{}, "o:later"});
  // Enough ids to grow the table several times; every one is offered twice, the empty id too.
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 1000; ++i) {
      const std::string id = i == 0 ? "" : "tests/test_" + std::to_string(i % 100) + ".py::t" + std::to_string(i);
      EXPECT_EQ(set.insert(id, round == 0 ? first : later), round == 0) << id;
    }
  }
  EXPECT_TRUE(set.contains("") && set.contains("tests/test_7.py::t907"));
  EXPECT_FALSE(set.contains("tests/test_7.py::t1007") || set.contains("tests/test_7.py"));
  const std::vector<SelectedNodeId> ids = set.take();
  ASSERT_EQ(ids.size(), 1000u);
  EXPECT_EQ(ids[907].node_id, "tests/test_7.py::t907");
  EXPECT_TRUE(std::ranges::all_of(ids, [](const SelectedNodeId& id) { return id.origin() == "o:first"; }));
  EXPECT_FALSE(set.contains(""));
}

}  // namespace
}  // namespace pindrel::run
