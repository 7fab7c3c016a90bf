#include "project/pytest_collection.hpp"
#include "scratch.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pindrel {
namespace {

TEST(CollectionRules, FnmatchGlobs) {
  struct Case {
    std::string_view pattern;
    std::string_view text;
    bool matches;
  };
  const Case cases[] = {
      {"*_tests.py", "user_tests.py", true},
      {"*_tests.py", "user_test.py", false},
      {"test_*.py", "test_.py", true},
      {"t?st.py", "tést.py", true},
      {"*", "a/b", true},
      {"check[0-9].py", "check7.py", true},
      {"check[!0-9].py", "check7.py", false},
      {"check[!0-9].py", "checkx.py", true},
      {"[]]x", "]x", true},
      {"a[b", "a[b", true},
      {"*a*b", "xaxxb", true},
      {"*a*b", "xaxxbx", false},
      {"Test*", "test_x", false},
      {"", "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " ~ " + std::string(c.text));
    EXPECT_EQ(fnmatch_glob(c.pattern, c.text), c.matches);
  }
}

TEST(CollectionRules, ConfiguredFileNames) {
  PytestSettings settings;
  settings.python_files = {"*_tests.py", "checks/*.py"};
  struct Case {
    std::string_view path;
    bool collectible;
  };
  // A pattern with a "/" matches the path's end, as pytest matches it against the absolute path.
  const Case cases[] = {
      {"tests/user_tests.py", true}, {"tests/test_user.py", false}, {"checks/a.py", true},
      {"sub/checks/a.py", true},     {"a_tests.PY", false},         {"conftest.py", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(is_collectible_test_file(c.path, settings), c.collectible);
  }
}

TEST(CollectionRules, ClassAndFunctionNamesArePrefixesOrGlobs) {
  PytestSettings settings;
  EXPECT_TRUE(collects_class_name("TestA", settings));
  EXPECT_FALSE(collects_class_name("CheckA", settings));
  EXPECT_TRUE(collects_function_name("test", settings));
  settings.python_classes = {"Check", "*Suite"};
  settings.python_functions = {"should_*_work"};
  EXPECT_TRUE(collects_class_name("CheckA", settings));
  EXPECT_TRUE(collects_class_name("UserSuite", settings));
  EXPECT_FALSE(collects_class_name("TestA", settings));
  EXPECT_TRUE(collects_function_name("should_it_work", settings));
  EXPECT_FALSE(collects_function_name("should", settings));
}

TEST(CollectionRules, DoctestModulesFromAddoptsOrTheWordsAfterDashes) {
  PytestSettings settings;
  EXPECT_FALSE(collects_doctest_modules(settings, {"-q", "--doctest-glob=*.txt"}));
  EXPECT_TRUE(collects_doctest_modules(settings, {"--doctest-modules"}));
  settings.addopts = {"-ra", "--doctest-modules"};
  EXPECT_TRUE(collects_doctest_modules(settings, {}));
}

struct SuiteCase {
  std::string_view path;
  bool collected;
};

void expect_collected(const SuiteCollection& suite, std::span<const SuiteCase> cases) {
  for (const SuiteCase& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(suite.collects(c.path), c.collected);
  }
}

TEST(SuiteCollection, TestpathsDefaultNorecursedirsAndIgnoredPaths) {
  const test_support::ScratchDir root;
  std::filesystem::create_directories(root.path() / "tests");
  const std::vector<std::filesystem::path> files = {"tests/test_a.py", "pkg1/checks/test_c.py"};
  PytestSettings settings;
  // "missing" names nothing, so it starts nothing; a glob starts where it matches a listed file.
  settings.testpaths = {"tests", "missing", "pkg*/checks"};
  settings.addopts = {"-p", "no:cacheprovider", "--ignore=tests/legacy/", "--ignore-glob", "*_old.py"};
  const SuiteCollection suite(settings, {"-q", "--ignore", "./tests/unit/../skip"}, root.path(), files);
  const SuiteCase cases[] = {
      {"tests/test_a.py", true},       {"tests/unit/test_u.py", true},      {"tests/legacy/test_l.py", false},
      {"tests/skip/test_s.py", false}, {"tests/build/test_b.py", false},    {"tests/.hidden/test_h.py", false},
      {"tests/test_x_old.py", false},  {"benchmarks/test_bench.py", false}, {"pkg1/checks/test_c.py", true},
      {"pkgx/other/test_o.py", false},
  };
  expect_collected(suite, cases);
}

TEST(SuiteCollection, ConfiguredNorecursedirsAndStartsThatAreNeverJudged) {
  const test_support::ScratchDir root;
  std::filesystem::create_directories(root.path() / "build");
  PytestSettings settings;
  // A pattern with a "/" matches the whole path; the set replaces pytest's own.
  settings.norecursedirs = {"samples", "docs/*"};
  const SuiteCase everywhere[] = {
      {"tests/samples/test_s.py", false}, {"samples/test_top.py", false},  {"docs/tests/test_d.py", false},
      {"docs/test_d.py", true},           {"build/tests/test_b.py", true}, {"test_top.py", true},
  };
  expect_collected(SuiteCollection(settings, {}, root.path(), {}), everywhere);

  // Only what lies below a start is judged: a testpath named as pytest's own patterns is entered.
  settings.testpaths = {"build"};
  settings.norecursedirs.reset();
  const SuiteCase below_build[] = {
      {"build/tests/test_b.py", true}, {"build/.cache/test_c.py", false}, {"tests/test_t.py", false}};
  expect_collected(SuiteCollection(settings, {}, root.path(), {}), below_build);
  EXPECT_TRUE(SuiteCollection().collects("build/.cache/test_c.py"));
}

TEST(CollectionRules, ModuleNamesFollowTheChainOfPackages) {
  const std::vector<std::string_view> packages = {"tests/api", "tests/api/v1", "src/my-pkg", "src/my-pkg/sub"};
  const auto is_package = [&](std::string_view dir) { return std::ranges::find(packages, dir) != packages.end(); };
  struct Case {
    std::string_view path;
    std::string_view module;
  };
  const Case cases[] = {
      {"tests/cli/test_utils.py", "test_utils"},
      {"tests/api/test_utils.py", "api.test_utils"},
      {"tests/api/v1/test_utils.py", "api.v1.test_utils"},
      {"src/my-pkg/sub/test_x.py", "sub.test_x"},
      {"test_top.py", "test_top"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(pytest_module_name(c.path, is_package), c.module);
  }
}

TEST(CollectionRules, ImportModeIsTheLastOneGiven) {
  PytestSettings settings;
  EXPECT_EQ(import_mode(settings, {}), ImportMode::prepend);
  settings.addopts = {"--import-mode=importlib"};
  EXPECT_EQ(import_mode(settings, {}), ImportMode::importlib);
  EXPECT_EQ(import_mode(settings, {"--import-mode", "append"}), ImportMode::append);
  EXPECT_EQ(import_mode(settings, {"--", "--import-mode=append"}), ImportMode::importlib);
}

}  // namespace
}  // namespace pindrel
