#include "project/pytest_collection.hpp"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace pindrel
