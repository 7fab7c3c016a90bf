#include "run/fixture_consumers.hpp"
#include "run/selection_tree.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pindrel::run {
namespace {

using test_support::impacted;
using test_support::lines_of;
using test_support::report_of;
using test_support::TestTree;
using Lines = std::vector<std::string>;

constexpr std::string_view plain_conftest = R"(import pytest

@pytest.fixture
def db():
    pass

@pytest.fixture
def user(db):
    pass

@pytest.fixture
def other():
    pass

@pytest.fixture(name=NAME)
def make_thing():
    pass
)";

// tests/test_api.py asks for the fixtures directly, through a class mark and through an
// unreadable mark; tests/test_override.py overrides db and asks for the one above;
// tests/test_shadow.py overrides db without asking for it; tests/unit/conftest.py overrides
// db for the files under it and asks for the one above; tests/test_dup.py defines db in two
// classes; tests/fixtures.py defines a fixture outside any test file.
void write_tree(TestTree& tree, std::string_view conftest) {
  tree.write("tests/conftest.py", conftest);
  tree.write("tests/test_api.py", R"(import pytest

def test_db(db):
    pass

def test_user(user):
    pass

def test_other(other):
    pass

@pytest.mark.usefixtures("db")
class TestMarked:
    def test_m(self):
        pass

@pytest.mark.usefixtures(NAME)
def test_unreadable():
    pass

@pytest.fixture
def local():
    pass

def test_local(local):
    pass
)");
  tree.write("tests/test_override.py", R"(import pytest

@pytest.fixture
def db(db):
    pass

def test_o(db):
    pass

def test_p(other):
    pass
)");
  tree.write("tests/test_shadow.py", R"(import pytest

@pytest.fixture
def db():
    pass

def test_s(db):
    pass
)");
  tree.write("tests/unit/conftest.py", R"(import pytest

@pytest.fixture
def db(db):
    pass
)");
  tree.write("tests/unit/test_deep.py", "def test_d(db):\n    pass\n\ndef test_e(other):\n    pass\n");
  tree.write("tests/fixtures.py", "import pytest\n\n@pytest.fixture\ndef shared():\n    pass\n");
  tree.write("tests/test_dup.py", R"(import pytest

class TestA:
    @pytest.fixture
    def db(self):
        pass

class TestB:
    @pytest.fixture
    def db(self):
        pass

    def test_b(self, db):
        pass
)");
}

// The expansions and dropped entries alone, without the node ids they produced.
Lines expansion_lines(const Selection& selection) {
  Lines lines;
  for (const auto& line : lines_of(selection)) {
    if (line.starts_with("expanded ") || line.starts_with("dropped ")) lines.push_back(line);
  }
  return lines;
}

TEST(FixtureConsumers, ChangedFixtureReachesItsConsumersThroughOverrides) {
  TestTree tree;
  write_tree(tree, plain_conftest);
  const Selection selection = tree.select(report_of({impacted("tests/conftest.py", "tests.conftest:db")}));
  // test_shadow.py's own db hides the changed one; the overrides that ask for db pass it on.
  EXPECT_EQ(lines_of(selection),
            (Lines{"tests/test_api.py::TestMarked::test_m ← tests.conftest:db ← app.db:connect",
                   "tests/test_api.py::test_db ← tests.conftest:db ← app.db:connect",
                   "tests/test_api.py::test_unreadable ← tests.conftest:db ← app.db:connect",
                   "tests/test_api.py::test_user ← tests.conftest:db ← app.db:connect",
                   "tests/test_override.py::test_o ← tests.conftest:db ← app.db:connect",
                   "tests/unit/test_deep.py::test_d ← tests.conftest:db ← app.db:connect",
                   "expanded tests.conftest:db (fixture): tests/test_api.py::test_db tests/test_api.py::test_user "
                   "tests/test_api.py::TestMarked::test_m tests/test_api.py::test_unreadable "
                   "tests/test_override.py::test_o tests/unit/test_deep.py::test_d"}));
}

TEST(FixtureConsumers, UnlistedExpansionsCountTheSameNodeIds) {
  TestTree tree;
  write_tree(tree, plain_conftest);
  const impact::ImpactReport report = report_of(
      {impacted("tests/conftest.py", "tests.conftest:db"), impacted("tests/conftest.py", "tests.conftest:user")});
  const Selection listed = tree.select(report);
  const Selection unlisted = build_selection(report, tree.cache, SelectionSettings{});
  EXPECT_EQ(unlisted.node_ids, listed.node_ids);
  EXPECT_EQ(unlisted.dropped, listed.dropped);
  ASSERT_EQ(unlisted.expanded.size(), 2u);
  for (std::size_t i = 0; i < listed.expanded.size(); ++i) {
    EXPECT_TRUE(unlisted.expanded[i].into.empty());
    EXPECT_EQ(unlisted.expanded[i].count, listed.expanded[i].into.size());
    EXPECT_EQ(listed.expanded[i].count, listed.expanded[i].into.size());
  }
}

TEST(FixtureConsumers, ExpansionsByFixture) {
  struct Case {
    std::string name;
    std::string_view conftest;
    std::string file;
    std::string symbol;
    Lines expected;
  };
  // tests/test_shadow.py and tests/test_dup.py define a db of their own that hides the changed one.
  const std::string every_test_where_db_resolves =
      "expanded tests.conftest:db (fixture): tests/test_api.py::test_db tests/test_api.py::test_user "
      "tests/test_api.py::test_other tests/test_api.py::TestMarked::test_m tests/test_api.py::test_unreadable "
      "tests/test_api.py::test_local tests/test_override.py::test_o tests/test_override.py::test_p "
      "tests/unit/test_deep.py::test_d tests/unit/test_deep.py::test_e";
  const Case cases[] = {
      {"a fixture that depends on the changed one brings its consumers",
       plain_conftest,
       "tests/conftest.py",
       "tests.conftest:user",
       {"expanded tests.conftest:user (fixture): tests/test_api.py::test_user tests/test_api.py::test_unreadable"}},
      {"an autouse fixture reaches every test where its name resolves to it",
       R"(import pytest

@pytest.fixture(autouse=True)
def db():
    pass
)",
       "tests/conftest.py",
       "tests.conftest:db",
       {every_test_where_db_resolves}},
      {"an autouse fixture that asks for the changed one reaches every test too",
       R"(import pytest

@pytest.fixture
def db():
    pass

@pytest.fixture(autouse=True)
def setup(db):
    pass
)",
       "tests/conftest.py",
       "tests.conftest:db",
       {every_test_where_db_resolves}},
      {"an autouse fixture that does not depend on the changed one changes nothing",
       R"(import pytest

@pytest.fixture
def db():
    pass

@pytest.fixture(autouse=True)
def setup(other):
    pass
)",
       "tests/conftest.py",
       "tests.conftest:db",
       {"expanded tests.conftest:db (fixture): tests/test_api.py::test_db tests/test_api.py::TestMarked::test_m "
        "tests/test_api.py::test_unreadable tests/test_override.py::test_o "
        "tests/unit/test_deep.py::test_d"}},
      {"a fixture whose name cannot be read selects every file in scope whole",
       plain_conftest,
       "tests/conftest.py",
       "tests.conftest:make_thing",
       {"expanded tests.conftest:make_thing (unresolvable_fixture): tests/test_api.py tests/test_dup.py "
        "tests/test_override.py tests/test_shadow.py tests/unit/test_deep.py"}},
      {"a fixture in a test file reaches that file alone",
       plain_conftest,
       "tests/test_api.py",
       "tests.test_api:local",
       {"expanded tests.test_api:local (fixture): tests/test_api.py::test_unreadable tests/test_api.py::test_local"}},
      {"a fixture in a module that is neither collectible nor a conftest.py has every file in scope",
       plain_conftest,
       "tests/fixtures.py",
       "tests.fixtures:shared",
       {"expanded tests.fixtures:shared (fixture): tests/test_api.py::test_unreadable"}},
      {"an override in a nested conftest.py reaches the files under it",
       plain_conftest,
       "tests/unit/conftest.py",
       "tests.unit.conftest:db",
       {"expanded tests.unit.conftest:db (fixture): tests/unit/test_deep.py::test_d"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestTree tree;
    write_tree(tree, c.conftest);
    EXPECT_EQ(expansion_lines(tree.select(report_of({impacted(c.file, c.symbol)}))), c.expected);
  }
}

TEST(FixtureConsumers, PluginFixtureReachesTheTestsOfEveryFile) {
  struct Case {
    std::string name;
    std::string_view decorator;
    Lines expected;
  };
  const Case cases[] = {
      {"asked for directly, through a fixture of another plugin module, or hidden by a file's own",
       "@pytest.fixture",
       {"tests/test_api.py::test_unreadable ← tests.fixtures:shared ← app.db:connect",
        "tests/test_plugin.py::test_account ← tests.fixtures:shared ← app.db:connect",
        "tests/test_plugin.py::test_shared ← tests.fixtures:shared ← app.db:connect",
        "tests/unit/test_asks_above.py::test_a ← tests.fixtures:shared ← app.db:connect"}},
      {"autouse: every test where the name resolves to it",
       "@pytest.fixture(autouse=True)",
       {"tests/test_api.py::test_unreadable ← tests.fixtures:shared ← app.db:connect",
        "tests/test_plugin.py::test_account ← tests.fixtures:shared ← app.db:connect",
        "tests/test_plugin.py::test_none ← tests.fixtures:shared ← app.db:connect",
        "tests/test_plugin.py::test_shared ← tests.fixtures:shared ← app.db:connect",
        "tests/unit/test_asks_above.py::test_a ← tests.fixtures:shared ← app.db:connect"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestTree tree;
    tree.write("tests/conftest.py", plain_conftest);
    tree.write("tests/fixtures.py", "import pytest\n\n" + std::string(c.decorator) + "\ndef shared():\n    pass\n");
    tree.write("tests/plugins/accounts.py", "import pytest\n\n@pytest.fixture\ndef account(shared):\n    pass\n");
    tree.write("tests/test_api.py",
               "import pytest\n\n@pytest.mark.usefixtures(NAME)\ndef test_unreadable():\n    pass\n");
    tree.write("tests/test_plugin.py", R"(def test_shared(shared):
    pass

def test_account(account):
    pass

def test_none():
    pass
)");
    // A file's own shared hides the plugin's; one that asks for shared passes it on.
    tree.write("tests/unit/test_hidden.py", R"(import pytest

@pytest.fixture(autouse=True)
def shared():
    pass

def test_h(shared):
    pass
)");
    tree.write("tests/unit/test_asks_above.py", R"(import pytest

@pytest.fixture
def shared(shared):
    pass

def test_a(shared):
    pass
)");
    const Selection selection = tree.select(report_of({impacted("tests/fixtures.py", "tests.fixtures:shared")}));
    Lines node_lines = lines_of(selection);
    node_lines.resize(selection.node_ids.size());
    EXPECT_EQ(node_lines, c.expected);
  }
}

TEST(FixtureConsumers, AFixtureOfATestClassSelectsItsClass) {
  TestTree tree;
  write_tree(tree, plain_conftest);
  const Selection selection = tree.select(report_of({impacted("tests/test_dup.py", "tests.test_dup:TestA.db"),
                                                     impacted("tests/test_dup.py", "tests.test_dup:TestB.db")}));
  // A fixture of a test class serves that class alone: TestB runs whole, and TestA has no test.
  EXPECT_EQ(lines_of(selection),
            (Lines{"tests/test_dup.py::TestB ← app.db:connect", "dropped tests.test_dup:TestA.db (no_consumers)"}));
}

TEST(FixtureConsumers, UnconsumedFixtureIsDropped) {
  TestTree tree;
  write_tree(tree, plain_conftest);
  tree.write("tests/solo/conftest.py", "import pytest\n\n@pytest.fixture\ndef lonely():\n    pass\n");
  tree.write("tests/solo/test_solo.py", "def test_s(db):\n    pass\n");
  const Selection selection =
      tree.select(report_of({impacted("tests/solo/conftest.py", "tests.solo.conftest:lonely")}));
  EXPECT_EQ(lines_of(selection), (Lines{"dropped tests.solo.conftest:lonely (no_consumers)"}));
  EXPECT_EQ(selection.decision, Decision::nothing);
}

}  // namespace
}  // namespace pindrel::run
