#include "impact/test_support.hpp"
#include "walk_fixture.hpp"

#include <gtest/gtest.h>

namespace pindrel::impact {
namespace {

using test_support::changed_seed;
using test_support::sites;
using Lines = std::vector<std::string>;

TEST(TestSupport, SupportFilesAreTestFilesThatPytestDoesNotCollect) {
  const std::pair<std::string_view, bool> cases[] = {
      {"tests/helpers.py", true}, {"tests/unit/base.py", true}, {"test/__init__.py", true}, {"tests/test_a.py", false},
      {"tests/a_test.py", false}, {"tests/conftest.py", false}, {"conftest.py", false},     {"pkg/helpers.py", false},
      {"tests/data.json", false}, {"tests/notes.PY", false},    {"test_top.py", false},
  };
  for (const auto& [path, support] : cases) {
    SCOPED_TRACE(path);
    EXPECT_EQ(is_test_support_file(path, "/repo", {}), support);
  }
}

// A file that the configured python_files collects is a test file, whatever its name.
TEST(TestSupport, ConfiguredPythonFilesDecideWhatIsSupport) {
  PytestSettings pytest;
  pytest.python_files = std::vector<std::string>{"*_tests.py", "check_*.py"};
  const std::pair<std::string_view, bool> cases[] = {
      {"tests/user_tests.py", false},
      {"tests/check_user.py", false},
      {"tests/test_user.py", true},
      {"tests/helpers.py", true},
  };
  for (const auto& [path, support] : cases) {
    SCOPED_TRACE(path);
    EXPECT_EQ(is_test_support_file(path, "/repo", pytest), support);
  }
}

TEST(TestSupport, ModuleNamesAddTheTailsOutsideAPackage) {
  pindrel::test_support::ScratchDir root;
  pindrel::test_support::write_file(root.path() / "tests/unit/helpers.py", "");
  pindrel::test_support::write_file(root.path() / "suite/__init__.py", "");
  pindrel::test_support::write_file(root.path() / "suite/helpers.py", "");
  EXPECT_EQ(support_module_names(root.path(), "tests/unit/helpers.py"),
            (Lines{"tests.unit.helpers", "unit.helpers", "helpers"}));
  // Inside a package pytest imports it by its package name alone.
  EXPECT_EQ(support_module_names(root.path(), "suite/helpers.py"), Lines{"suite.helpers"});
}

class SupportWalk : public test_support::WalkFixture {};

// A test reached in tests/base.py runs in the files that import base (one through another
// support file, which imports base back), not in base itself; a fixture there stays.
TEST_F(SupportWalk, TestsReachedInSupportFilesGiveWayToTheirImporters) {
  write("pkg/__init__.py", "");
  write("pkg/calc.py", "def add(a, b):\n    return a + b\n");
  write("tests/base.py",
        "from pkg.calc import add\nimport mixins\n\n\nclass AddContract:\n    def test_add_contract(self):\n"
        "        assert add(1, 2) == 3\n");
  write("tests/mixins.py", "from tests.base import AddContract\n");
  write("tests/fixtures.py", "import pytest\n\n\n@pytest.fixture\ndef three():\n    return add(1, 2)\n");
  write("tests/test_impl.py", "from base import AddContract\n\n\nclass TestImpl(AddContract):\n    pass\n");
  write("tests/test_mixed.py", "from mixins import AddContract\n");
  write("tests/test_other.py", "def test_other():\n    pass\n");
  references_.answers["pkg.calc:add"] = sites({"tests/base.py:7", "tests/fixtures.py:6"});

  ASSERT_TRUE(walk({changed_seed("pkg.calc:add", "pkg/calc.py", 1)}).is_completed());
  ASSERT_TRUE(reach_through_test_code(state()).is_completed());
  EXPECT_EQ(tests(), (Lines{
                         "tests/fixtures.py tests.fixtures:three fixture pkg.calc:add",
                         "tests/test_impl.py - test pkg.calc:add <base <tests.base:AddContract.test_add_contract",
                         "tests/test_mixed.py - test pkg.calc:add <mixins <tests.base "
                         "<tests.base:AddContract.test_add_contract",
                     }));
}

// A test module or conftest.py that breaks at import breaks the test files that import it,
// and stays selected itself.
TEST_F(SupportWalk, TestModulesReachedWholeBreakTheirImporters) {
  write("pkg/__init__.py", "");
  write("pkg/config.py", "LIMIT = 1\n");
  write("tests/test_a.py", "from pkg.config import LIMIT\n\n\ndef helper():\n    return LIMIT\n");
  write("tests/test_b.py", "from test_a import helper\n");
  write("tests/web/conftest.py", "import pkg.config\n");
  write("tests/test_c.py", "from tests.web.conftest import pkg\n");
  write("tests/test_other.py", "def test_other():\n    pass\n");

  ASSERT_TRUE(walk({{{"pkg.config", "pkg.config", "pkg/config.py", 0, 0}, SeedKind::module}}).is_completed());
  ASSERT_TRUE(reach_through_test_code(state()).is_completed());
  EXPECT_EQ(tests(), (Lines{
                         "tests/test_a.py - test pkg.config",
                         "tests/test_b.py - test pkg.config <test_a",
                         "tests/test_c.py - test pkg.config <tests.web.conftest",
                         "tests/web/conftest.py - test pkg.config",
                     }));
}

// A test reached in a class is copied to every class and module where pytest collects it again:
// subclasses here and in an importer, a relative import, a star import, an import of the
// subclass onwards; a star import from a module with `__all__` may or may not take it, so that
// importer runs whole. An alias pytest does not collect, a constructed subclass, a subclass that
// defines the test again and a non-test importer get none.
TEST_F(SupportWalk, TestsReachedInAClassAreCopiedWherePytestCollectsThemAgain) {
  write("pkg/__init__.py", "");
  write("pkg/calc.py", "def add(a, b):\n    return a + b\n");
  write("tests/__init__.py", "");
  write("tests/test_a.py",
        "from pkg.calc import add\n\n\nclass TestA:\n    def test_add(self):\n        assert add(1, 2) == 3\n\n\n"
        "class TestSub(TestA):\n    pass\n\n\nclass TestBuilt(TestA):\n    def __init__(self):\n        pass\n");
  write("tests/test_b.py",
        "from .test_a import TestA as Base\n\n\nclass TestB(Base):\n    pass\n\n\n"
        "class TestOwn(Base):\n    def test_add(self):\n        pass\n");
  write("tests/test_c.py", "from tests.test_b import TestB\n");
  write("tests/test_star.py", "from tests.test_a import *\n");
  write("tests/listed.py", "__all__ = ['TestA']\nfrom tests.test_a import TestA\n");
  write("tests/test_listed.py", "from tests.listed import *\n");
  write("pkg/uses.py", "from tests.test_a import TestA\n");
  write("tests/test_other.py", "def test_other():\n    pass\n");
  references_.answers["pkg.calc:add"] = sites({"tests/test_a.py:6"});

  ASSERT_TRUE(walk({changed_seed("pkg.calc:add", "pkg/calc.py", 1)}).is_completed());
  ASSERT_TRUE(reach_through_test_code(state()).is_completed());
  EXPECT_EQ(tests(), (Lines{
                         "tests/test_a.py tests.test_a:TestA.test_add test pkg.calc:add",
                         "tests/test_a.py tests.test_a:TestSub.test_add test pkg.calc:add",
                         "tests/test_b.py tests.test_b:TestB.test_add test pkg.calc:add",
                         "tests/test_c.py tests.test_c:TestB.test_add test pkg.calc:add",
                         "tests/test_listed.py - test pkg.calc:add",
                         "tests/test_star.py tests.test_star:TestA.test_add test pkg.calc:add",
                         "tests/test_star.py tests.test_star:TestSub.test_add test pkg.calc:add",
                     }));
}

// A walked helper of a test module, imported by test files whose uses of it the reference source
// may not see (they name the module by its path below the test directory): each importer with no
// test reached through it runs whole.
TEST_F(SupportWalk, AWalkedHelperOfATestModuleRunsTheImportersWithNoTestReachedThroughIt) {
  write("pkg/__init__.py", "");
  write("pkg/users.py", "def name():\n    return 'ann'\n");
  write("tests/test_models.py",
        "from pkg.users import name\n\n\ndef make_user():\n    return {'name': name()}\n\n\n"
        "def test_make_user():\n    assert make_user()\n");
  write("tests/test_api.py", "from test_models import make_user\n\n\ndef test_api():\n    assert make_user()\n");
  write("tests/test_seen.py", "from test_models import make_user\n\n\ndef test_seen():\n    assert make_user()\n");
  write("tests/test_other.py", "from test_models import test_make_user as check\n");
  references_.answers["pkg.users:name"] = sites({"tests/test_models.py:5"});
  references_.answers["tests.test_models:make_user"] = sites({"tests/test_models.py:9", "tests/test_seen.py:5"});

  ASSERT_TRUE(walk({changed_seed("pkg.users:name", "pkg/users.py", 1)}).is_completed());
  ASSERT_TRUE(reach_through_test_code(state()).is_completed());
  EXPECT_EQ(tests(),
            (Lines{
                "tests/test_api.py - test pkg.users:name <tests.test_models:make_user",
                "tests/test_models.py tests.test_models:test_make_user test pkg.users:name "
                "<tests.test_models:make_user",
                "tests/test_seen.py tests.test_seen:test_seen test pkg.users:name <tests.test_models:make_user",
            }));
}

// pytest collects a TestCase under any name, its constructor notwithstanding, so each name that
// holds one, or a subclass of it, gets its copy.
TEST_F(SupportWalk, AReachedTestOfATestCaseIsCopiedUnderEveryName) {
  write("pkg/__init__.py", "");
  write("pkg/calc.py", "def add(a, b):\n    return a + b\n");
  write("tests/__init__.py", "");
  write("tests/test_u.py",
        "import unittest\n\nfrom pkg.calc import add\n\n\nclass Chunked(unittest.TestCase):\n"
        "    def __init__(self, *args):\n        super().__init__(*args)\n\n"
        "    def test_add(self):\n        self.assertEqual(add(1, 2), 3)\n");
  write("tests/test_v.py", "from tests.test_u import Chunked as Base\n\n\nclass More(Base):\n    pass\n");
  references_.answers["pkg.calc:add"] = sites({"tests/test_u.py:11"});

  ASSERT_TRUE(walk({changed_seed("pkg.calc:add", "pkg/calc.py", 1)}).is_completed());
  ASSERT_TRUE(reach_through_test_code(state()).is_completed());
  EXPECT_EQ(tests(), (Lines{
                         "tests/test_u.py tests.test_u:Chunked.test_add test pkg.calc:add",
                         "tests/test_v.py tests.test_v:Base.test_add test pkg.calc:add",
                         "tests/test_v.py tests.test_v:More.test_add test pkg.calc:add",
                     }));
}

}  // namespace
}  // namespace pindrel::impact
