#include "run/pytest_command.hpp"
#include "scratch.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <tuple>

namespace pindrel::run {
namespace {

using Words = std::vector<std::string>;

TEST(ResolvePytestArgv, VariableThenConfigurationThenPath) {
  test_support::ScratchDir dir;
  test_support::write_file(dir.path() / "bin" / "pytest", "#!/bin/sh\n", test_support::FileMode::executable);
  PathSearch search{(dir.path() / "bin").native(), std::nullopt, dir.path()};
  struct Case {
    std::optional<std::string> variable;
    Words configured;
    Words words;
  };
  const Case cases[] = {
      {"py test -q", {"uv", "run", "pytest"}, {"py test -q"}},  // one word, never split
      {"", {"uv"}, {""}},
      {std::nullopt, {"uv", "run", "pytest"}, {"uv", "run", "pytest"}},
      {std::nullopt, {}, {(dir.path() / "bin" / "pytest").native()}},
  };
  for (const auto& c : cases) {
    auto resolved = resolve_pytest_argv(c.variable, c.configured, "/repo", search);
    ASSERT_TRUE(resolved) << resolved.error().render();
    EXPECT_EQ(resolved->words, c.words);
    EXPECT_EQ(resolved->root, "/repo");
  }
  search.path = dir.path().native();
  auto missing = resolve_pytest_argv(std::nullopt, {}, "/repo", search);
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().render(),
            "`pytest` not found on PATH. Set `pytest-command` under [tool.pindrel] in pyproject.toml, or point "
            "PINDREL_PYTEST at the binary.: cannot find binary path");
}

TEST(BuildPytestArgv, WordsThenNodeIdsThenArgumentsAsGiven) {
  const Words node_ids = {"tests/test_a.py::t", "tests/test_b.py"};
  EXPECT_EQ(build_pytest_argv({"uv", "run", "pytest"}, node_ids, {"-q", "-k x"}),
            (Words{"uv", "run", "pytest", "tests/test_a.py::t", "tests/test_b.py", "-q", "-k x"}));
  EXPECT_EQ(build_pytest_argv({"pytest"}, {}, {}), Words{"pytest"});
}

TEST(BuildPytestArgv, PathsThatLookLikeOptionsStartWithDotSlash) {
  struct Case {
    std::string node_id;
    std::string word;
  };
  const Case cases[] = {
      {"-k/test_dash.py", "./-k/test_dash.py"},
      {"-a_test.py", "./-a_test.py"},
      {"--x/test_a.py::TestA::test_b", "./--x/test_a.py::TestA::test_b"},
      {"tests/-k/test_dash.py", "tests/-k/test_dash.py"},
      {"tests/test_a.py::test_b[-1]", "tests/test_a.py::test_b[-1]"},
  };
  for (const Case& c : cases) {
    // The words after `--` are the user's and stay as given.
    EXPECT_EQ(build_pytest_argv({"pytest"}, Words{c.node_id}, {"-q"}), (Words{"pytest", c.word, "-q"}));
  }
}

// The least limit at which `argv` fits with our environment as it is.
std::size_t least_limit(const Words& argv) { return exec_size(argv, {}); }

TEST(FitSelectionToExecLimit, AsSelectedThenWholeFilesThenTheWholeSuite) {
  Selection selected;
  selected.decision = Decision::selected;
  selected.node_ids = {{"tests/a.py::t1", {}, "o:one"}, {"tests/a.py::t2", {}, "o:two"}, {"tests/b.py", {}, "o:b"}};
  const std::size_t as_selected = least_limit({"pytest", "tests/a.py::t1", "tests/a.py::t2", "tests/b.py", "-q"});
  const std::size_t as_files = least_limit({"pytest", "tests/a.py", "tests/b.py", "-q"});
  struct Case {
    std::size_t limit;
    ArgvFit fit;
    Decision decision;
    Words node_ids;
  };
  const Case cases[] = {
      {as_selected, ArgvFit::as_selected, Decision::selected, {"tests/a.py::t1", "tests/a.py::t2", "tests/b.py"}},
      {as_selected - 1, ArgvFit::whole_files, Decision::selected, {"tests/a.py", "tests/b.py"}},
      {as_files, ArgvFit::whole_files, Decision::selected, {"tests/a.py", "tests/b.py"}},
      {as_files - 1, ArgvFit::whole_suite, Decision::run_all, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.limit);
    Selection selection = selected;
    fit_selection_to_exec_limit(selection, {"pytest"}, {"-q"}, CommandSpec{}, c.limit);
    Words ids;
    for (const auto& id : selection.node_ids) ids.push_back(id.node_id);
    EXPECT_EQ((std::tuple(selection.fit, selection.decision, ids)), (std::tuple(c.fit, c.decision, c.node_ids)));
  }

  Selection nothing;
  fit_selection_to_exec_limit(nothing, {"pytest"}, {}, CommandSpec{}, 0);
  EXPECT_EQ(nothing, Selection{});
}

}  // namespace
}  // namespace pindrel::run
