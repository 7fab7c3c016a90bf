#include "run/test_index.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace pindrel::run {
namespace {

using Lines = std::vector<std::string>;

constexpr std::string_view indexed_source = R"(import pytest
from pytest import fixture

@pytest.fixture
def db():
    pass

@pytest.fixture(name="conn", autouse=True)
def make_conn(db, tmp_path):
    pass

@fixture(name=NAME)
def odd():
    pass

@pytest.fixture(autouse="yes")
def auto_text():
    pass

@pytest.fixture(autouse=flag)
def auto_variable():
    pass

@pytest.fixture(autouse=False, name=True)
def not_auto():
    pass

@pytest.fixture
def test_data():
    pass

@pytest.fixture
def db(tmp_path):
    pass

def test_plain(db, conn):
    pass

@pytest.mark.usefixtures("user", "user")
class TestA:
    @pytest.mark.usefixtures("extra")
    def test_x(self, tmp_path):
        pass

    def make_data(self):
        pass

    class TestInner:
        def test_deep(self):
            pass

class TestWithInit:
    def __init__(self):
        pass

    def test_y(self):
        pass

class Base:
    def test_z(self):
        pass

@pytest.mark.usefixtures(NAME)
def test_marked():
    pass

@pytest.mark.usefixtures("a", extra=True)
def test_keyword():
    pass
)";

TestModuleIndex index_of(std::string_view source, const PytestSettings& settings = {}) {
  auto outline = pysource::outline_python_source(source);
  EXPECT_TRUE(outline && !outline->has_error);
  KnownTestFiles known;
  known.try_emplace("tests/test_a.py");
  index_fixture_consumers(known, "tests//test_a.py",
                          outline ? std::make_shared<const pysource::Outline>(std::move(*outline)) : nullptr, settings,
                          source);
  return known.at("tests/test_a.py");
}

std::string joined(const auto& names) {
  std::string text;
  for (const auto& name : names) text += (text.empty() ? "" : ",") + std::string(name);
  return text;
}

Lines consumer_lines(const TestModuleIndex& index) {
  Lines consumers;
  for (const auto& consumer : index.consumers) {
    consumers.push_back(std::string(consumer.qualname) + ": " + joined(index.fixture_names_of(consumer)) +
                        (consumer.unreadable_marks ? " unreadable" : ""));
  }
  return consumers;
}

TEST(TestIndex, FixturesAndConsumers) {
  const TestModuleIndex index = index_of(indexed_source);
  ASSERT_TRUE(index.indexed);

  Lines fixtures;
  for (const auto& [name, fixture] : index.fixtures) {
    EXPECT_EQ(fixture.file, "tests/test_a.py");
    fixtures.push_back(name + " = " + fixture.qualname + "(" + joined(fixture.parameter_names) + ")" +
                       (fixture.autouse ? " autouse" : "") + (fixture.unreadable_name ? " unreadable" : ""));
  }
  // The first definition of db holds the name; a fixture named like a test is no test.
  EXPECT_EQ(fixtures, (Lines{"auto_text = auto_text() autouse", "auto_variable = auto_variable() autouse",
                             "conn = make_conn(db,tmp_path) autouse", "db = db()", "not_auto = not_auto() unreadable",
                             "odd = odd() unreadable", "test_data = test_data()"}));

  // Marks on enclosing classes count; a class with a constructor and a class that is not
  // named as a test class collect nothing.
  EXPECT_EQ(consumer_lines(index),
            (Lines{"test_plain: conn,db", "TestA.test_x: extra,self,tmp_path,user",
                   "TestA.TestInner.test_deep: self,user", "test_marked:  unreadable", "test_keyword: a unreadable"}));
}

TEST(TestIndex, PytestmarkAndTheConfiguredUsefixturesRequestFixtures) {
  constexpr std::string_view source = R"(import pytest

pytestmark = [pytest.mark.usefixtures("mod"), pytest.mark.slow]  # a comment
pytestmark += (mark.usefixtures("more"),)

class TestA:
    pytestmark = pytest.mark.usefixtures("cls")

    def test_in_a(self):
        pass

    class TestInner:
        def test_inner(self):
            pass

class TestB:
    if True:
        pytestmark = marks

    def test_in_b(self):
        pass

class TestC:
    pytestmark = [pytest.mark.usefixtures("c", keyword=1)]

    def test_in_c(self):
        pass

def test_top():
    pytestmark = pytest.mark.usefixtures("in_a_function")
)";
  PytestSettings settings;
  settings.usefixtures = {"conf"};
  // A pytestmark that is not read as marks, or holds an unreadable mark, leaves every fixture
  // possible; one inside a function body is only a local variable.
  EXPECT_EQ(consumer_lines(index_of(source, settings)),
            (Lines{"TestA.test_in_a: cls,conf,mod,more,self", "TestA.TestInner.test_inner: cls,conf,mod,more,self",
                   "TestB.test_in_b: conf,mod,more,self unreadable", "TestC.test_in_c: c,conf,mod,more,self unreadable",
                   "test_top: conf,mod,more"}));
}

TEST(TestIndex, ConfiguredNamesDecideWhatIsATest) {
  constexpr std::string_view source = R"(class CheckA:
    def check_x(self):
        pass

    def test_y(self):
        pass

class TestB:
    def check_z(self):
        pass

def verify_top():
    pass

def check_top():
    pass
)";
  PytestSettings settings;
  settings.python_classes = {"Check"};
  settings.python_functions = {"check_", "verify_*"};
  EXPECT_EQ(consumer_lines(index_of(source, settings)), (Lines{"CheckA.check_x: self", "verify_top: ", "check_top: "}));
  settings.python_functions = std::vector<std::string>{};
  EXPECT_EQ(consumer_lines(index_of(source, settings)), Lines{});
}

TEST(TestIndex, QualifiedNamesResolveToTheDeepestCollectedPart) {
  const TestModuleIndex index = index_of(indexed_source);
  using Kind = QualnameMatch::Kind;
  struct Case {
    std::string_view qualname;
    QualnameMatch match;
  };
  const Case cases[] = {
      {"test_plain", {Kind::whole, ""}},
      {"TestA.test_x", {Kind::whole, ""}},
      {"TestA.TestInner.test_deep", {Kind::whole, ""}},
      {"TestA.make_data", {Kind::prefix, "TestA"}},
      {"TestA.TestInner.gone", {Kind::prefix, "TestA.TestInner"}},
      {"TestA..test_x", {Kind::prefix, "TestA"}},
      {"TestA", {Kind::whole, ""}},
      {"TestWithInit.test_y", {Kind::none, ""}},
      {"Base.test_z", {Kind::none, ""}},
      {"test_data", {Kind::none, ""}},
      {"", {Kind::none, ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.qualname);
    EXPECT_EQ(resolve_test_qualname(index.tests, c.qualname), c.match);
  }
}

TEST(TestIndex, UnittestClassesAreTestClassesWhateverTheirName) {
  constexpr std::string_view source = R"(import unittest
from unittest import TestCase

class ChunkedTests(TestCase):
    def __init__(self, *args):
        super().__init__(*args)

    def test_split(self):
        pass

    def check_other(self):
        pass

    class TestNested:
        def test_inner(self):
            pass

class Derived(ChunkedTests):
    def test_own(self):
        pass

class Async(unittest.IsolatedAsyncioTestCase):
    async def test_wait(self):
        pass

class Helper(SomeMixin):
    def test_hidden(self):
        pass

class TestNew:
    def __new__(cls):
        pass

    def test_n(self):
        pass

class Base:
    def __init__(self):
        pass

class TestInherits(Base):
    def test_i(self):
        pass

class TestOuter:
    class InnerCase(TestCase):
        def test_f(self):
            pass

class AbstractCase(TestCase):
    __test__ = False

    def test_abstract(self):
        pass
)";
  PytestSettings settings;
  settings.python_functions = {"check_"};
  const TestModuleIndex index = index_of(source, settings);
  using Kind = QualnameMatch::Kind;
  struct Case {
    std::string_view qualname;
    QualnameMatch match;
  };
  // unittest's loader takes test* methods whatever python_functions says, and no nested class;
  // a constructor keeps only a class that is no TestCase out.
  const Case cases[] = {
      {"ChunkedTests.test_split", {Kind::whole, ""}},
      {"ChunkedTests.check_other", {Kind::prefix, "ChunkedTests"}},
      {"ChunkedTests.TestNested.test_inner", {Kind::prefix, "ChunkedTests"}},
      {"Derived.test_own", {Kind::whole, ""}},
      {"Async.test_wait", {Kind::whole, ""}},
      {"Helper.test_hidden", {Kind::none, ""}},
      {"TestNew.test_n", {Kind::none, ""}},
      {"TestInherits.test_i", {Kind::none, ""}},
      {"TestOuter.InnerCase.test_f", {Kind::whole, ""}},
      {"AbstractCase.test_abstract", {Kind::none, ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.qualname);
    EXPECT_EQ(resolve_test_qualname(index.tests, c.qualname), c.match);
  }
}

TEST(TestIndex, SubclassesOfTheFileRunTheirInheritedTests) {
  constexpr std::string_view source = R"(class TestBase:
    def test_a(self):
        pass

    def helper(self):
        pass

class TestSqlite(TestBase):
    pass

class TestOverrides(TestBase):
    def test_a(self):
        pass

class TestBelowOverride(TestOverrides):
    pass

class TestDeep(TestSqlite):
    pass

class Hidden(TestBase):
    pass
)";
  const TestModuleIndex index = index_of(source);
  struct Case {
    std::string_view qualname;
    Lines nodes;
  };
  // A class that defines the test again runs its own, and so do its subclasses; a class pytest
  // does not collect runs nothing.
  const Case cases[] = {
      {"TestBase.test_a", {"TestSqlite.test_a", "TestDeep.test_a"}},
      {"TestBase", {"TestSqlite", "TestOverrides", "TestDeep", "TestBelowOverride"}},
      {"TestOverrides.test_a", {"TestBelowOverride.test_a"}},
      {"TestDeep.test_a", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.qualname);
    Lines nodes = inherited_nodes(index, c.qualname, PytestSettings{});
    EXPECT_EQ(nodes, c.nodes);
  }
}

TEST(TestIndex, AskingForAFixtureByNameMayConsumeAny) {
  constexpr std::string_view source = R"(import pytest

@pytest.fixture
def backend(request):
    return request.getfixturevalue("db")

@pytest.fixture
def plain(db):
    pass

def test_named(request):
    value = request.getfixturevalue(
        "db")

def test_word_inside(request):
    request.getfixturevalue_cache = 1

def test_plain(plain):
    pass
)";
  const TestModuleIndex index = index_of(source);
  EXPECT_TRUE(index.fixtures.at("backend").asks_by_name);
  EXPECT_FALSE(index.fixtures.at("plain").asks_by_name);
  EXPECT_EQ(consumer_lines(index),
            (Lines{"test_named: request unreadable", "test_word_inside: request", "test_plain: plain"}));
}

TEST(TestIndex, NoOutlineGivesAnEmptyBuiltIndexAndUnknownFilesAreLeftAlone) {
  KnownTestFiles known;
  known.try_emplace("tests/test_a.py");
  index_fixture_consumers(known, "tests/test_a.py", nullptr, PytestSettings{});
  index_fixture_consumers(known, "tests/test_b.py", nullptr, PytestSettings{});
  ASSERT_EQ(known.size(), 1u);
  const TestModuleIndex& index = known.at("tests/test_a.py");
  EXPECT_TRUE(index.indexed);
  EXPECT_TRUE(index.consumers.empty() && index.fixtures.empty() && index.tests.empty());
}

TEST(TestIndex, UsefixturesMarksKeepRepeatsAndFlagWhatCannotBeRead) {
  using pysource::LiteralValue;
  const LiteralValue a{LiteralValue::Text{"a"}};
  const LiteralValue b{LiteralValue::Text{"b"}};
  const std::vector<pysource::Decorator> decorators = {
      {"pytest.mark.usefixtures", {a, b}, {}},
      {"usefixtures", {LiteralValue{LiteralValue::NotLiteral{}}}, {}},
      {"mark.usefixtures", {a}, {}},
      {"pytest.mark.parametrize", {LiteralValue{LiteralValue::Bool{true}}}, {}},
  };
  const UsefixturesNames readable = usefixtures_marks(decorators);
  EXPECT_EQ(Lines(readable.names.begin(), readable.names.end()), (Lines{"a", "b", "a"}));
  EXPECT_FALSE(readable.unreadable);

  const std::vector<pysource::Decorator> unreadable = {
      {"pytest.mark.usefixtures", {LiteralValue{LiteralValue::Bool{true}}, b}, {}}};
  const UsefixturesNames some = usefixtures_marks(unreadable);
  EXPECT_EQ(Lines(some.names.begin(), some.names.end()), (Lines{"b"}));
  EXPECT_TRUE(usefixtures_marks(unreadable).unreadable);
}

TEST(KnownTestFiles, PathsCompareComponentByComponent) {
  struct Case {
    std::string_view a;
    std::string_view b;
    int order;
  };
  const Case cases[] = {
      {"a/b.py", "a-b.py", -1},
      {"a", "a/b", -1},
      {"a//b/", "a/b", 0},
      {"tests/x", "tests/x", 0},
      {"/a", "a", -1},
      {"a/\xff", "a/b", 1},
      {"", "a", -1},
      {"b", "a/c", 1},
      // Long shared leads, differing within or after a word of bytes.
      {"tests/area_12/test_b.py", "tests/area_12/test_a.py", 1},
      {"tests/area_1/x.py", "tests/area_12/x.py", -1},
      {"tests/unit_12345/a.py", "tests/unit_12345-a.py", -1},
      {"tests/unit_12345//a.py", "tests/unit_12345/a.py", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " vs " + std::string(c.b));
    const int order = compare_path_components(c.a, c.b);
    EXPECT_EQ((order > 0) - (order < 0), c.order);
  }
}

TEST(KnownTestFiles, ConftestCandidatesRunNearestFirstToTheRoot) {
  EXPECT_EQ(conftest_candidates("tests/unit/test_x.py"),
            (Lines{"tests/unit/conftest.py", "tests/conftest.py", "conftest.py"}));
  EXPECT_EQ(conftest_candidates("tests//unit/test_x.py"),
            (Lines{"tests//unit/conftest.py", "tests/conftest.py", "conftest.py"}));
  EXPECT_EQ(conftest_candidates("conftest.py"), (Lines{"conftest.py"}));
  EXPECT_EQ(conftest_candidates("/abs/test_x.py"), (Lines{"/abs/conftest.py", "/conftest.py"}));
}

}  // namespace
}  // namespace pindrel::run
