#include "impact/decorator_dispatch.hpp"
#include "impact/walk.hpp"
#include "walk_fixture.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pindrel::impact {
namespace {

using test_support::changed_seed;
using test_support::sites;
using Questions = std::vector<std::vector<std::string>>;
using Lines = std::vector<std::string>;

class Walk : public test_support::WalkFixture {};

TEST_F(Walk, AsksOncePerLevelAndChainsBackToTheSeeds) {
  write("pkg/__init__.py", "");
  write("pkg/core.py", "def a():\n    return 1\n\ndef b():\n    return 2\n");
  write("pkg/api.py", R"(from pkg.core import a, b

def use_a():
    return a()

def use_b():
    return b()
)");
  write("tests/test_api.py", R"(from pkg.api import use_a, use_b

def test_a():
    assert use_a() == 1

def test_b():
    assert use_b() == 2
)");
  references_.answers = {
      {"pkg.core:a", sites({"pkg/core.py:1", "pkg/api.py:1", "pkg/api.py:4"})},
      {"pkg.core:b", sites({"pkg/api.py:7"})},
      {"pkg.api:use_a", sites({"tests/test_api.py:4"})},
      {"pkg.api:use_b", sites({"tests/test_api.py:7"})},
  };

  const WalkOutcome outcome =
      walk({changed_seed("pkg.core:a", "pkg/core.py", 1), changed_seed("pkg.core:b", "pkg/core.py", 4)});

  EXPECT_TRUE(outcome.is_completed());
  EXPECT_EQ(references_.questions, (Questions{{"pkg.core:a pkg/core.py:1:5", "pkg.core:b pkg/core.py:4:5"},
                                              {"pkg.api:use_a pkg/api.py:3:5", "pkg.api:use_b pkg/api.py:6:5"}}));
  EXPECT_EQ(tests(), (Lines{"tests/test_api.py tests.test_api:test_a test pkg.core:a <pkg.api:use_a",
                            "tests/test_api.py tests.test_api:test_b test pkg.core:b <pkg.api:use_b"}));
  EXPECT_EQ(state().qlo_calls, 2u);
  EXPECT_EQ(state().max_depth_reached, 1u);
  EXPECT_EQ(state().visited.size(), 4u);
  EXPECT_TRUE(state().errors.empty());
}

TEST_F(Walk, SitesInTestFilesRecordTestsFixturesWholeFilesAndWalkHelpers) {
  write("pkg/__init__.py", "");
  write("pkg/core.py", "def helper():\n    return 1\n");
  write("tests/test_app.py", R"(import pytest
from pkg.core import helper

class TestLogin:
    def test_ok(self):
        assert helper()

@pytest.fixture
def client():
    return helper()

def make():
    return helper()

def test_make():
    assert make()
)");
  write("tests/test_mod.py", "VALUE = helper()\n");
  write("tests/broken_test.py", "def (:\n    helper()\n");
  references_.answers = {
      {"pkg.core:helper", sites({"tests/test_app.py:2", "tests/test_app.py:6", "tests/test_app.py:10",
                                 "tests/test_app.py:13", "tests/test_mod.py:1", "tests/broken_test.py:2"})},
      {"tests.test_app:make", sites({"tests/test_app.py:16"})},
  };

  EXPECT_TRUE(walk({changed_seed("pkg.core:helper", "pkg/core.py", 1)}).is_completed());

  EXPECT_EQ(tests(), (Lines{
                         "tests/broken_test.py - test pkg.core:helper",
                         "tests/test_app.py tests.test_app:TestLogin.test_ok test pkg.core:helper",
                         "tests/test_app.py tests.test_app:client fixture pkg.core:helper",
                         "tests/test_app.py tests.test_app:test_make test pkg.core:helper <tests.test_app:make",
                         "tests/test_mod.py - test pkg.core:helper",
                     }));
  EXPECT_EQ(references_.questions[1], Lines{"tests.test_app:make tests/test_app.py:12:5"});
}

TEST_F(Walk, SitesElsewhereQueueAliasesIgnoreDecoratedScanModulesAndNoteUnreadableFiles) {
  config_.ignore_decorators = {"task"};
  write("pkg/__init__.py", "");
  write("pkg/mod.py", "def helper():\n    return 1\n");
  write("pkg/api.py", R"(from pkg.mod import helper as h
from pkg.mod import helper

@app.task
def job():
    return helper()

@celery.app.task
def job2():
    return helper()

TABLE = helper()
)");
  write("tests/test_x.py", "from pkg.api import job\n");
  write("tests/test_y.py", "import pkg.mod\n");
  references_.answers = {
      {"pkg.mod:helper", sites({"pkg/mod.py:1", "pkg/api.py:1", "pkg/api.py:2", "pkg/api.py:6", "pkg/api.py:10",
                                "pkg/api.py:10", "pkg/api.py:12", "pkg/gone.py:3"})},
  };

  EXPECT_TRUE(walk({changed_seed("pkg.mod:helper", "pkg/mod.py", 1)}).is_completed());

  EXPECT_EQ(references_.questions, (Questions{{"pkg.mod:helper pkg/mod.py:1:5"}, {"pkg.api:h pkg/api.py:1:31"}}));
  ASSERT_EQ(state().ignored_symbols.size(), 2u);
  EXPECT_EQ(state().ignored_symbols.at("pkg.api:job"), (IgnoredSymbol{"pkg.api:job", "pkg/api.py", "task"}));
  EXPECT_EQ(state().ignored_symbols.at("pkg.api:job2"), (IgnoredSymbol{"pkg.api:job2", "pkg/api.py", "task"}));
  // The module-level use reaches the tests that import pkg.api, and only those.
  EXPECT_EQ(tests(), Lines{"tests/test_x.py - test pkg.mod:helper <pkg.api"});
  EXPECT_EQ(state().errors, Lines{"could not read pkg/gone.py:3 while walking from `pkg.mod:helper`"});
  EXPECT_EQ(state().visited.size(), 3u);
}

TEST_F(Walk, DeadEndInATestFileIsATest) {
  write("tests/test_x.py", "def test_solo():\n    pass\n");
  EXPECT_TRUE(walk({changed_seed("tests.test_x:test_solo", "tests/test_x.py", 1)}).is_completed());
  EXPECT_EQ(tests(), Lines{"tests/test_x.py tests.test_x:test_solo test tests.test_x:test_solo"});
}

TEST_F(Walk, RegisteredDeadEndFollowsItsRegistryOncePerFile) {
  write("pkg/__init__.py", "");
  write("pkg/m.py", R"(bus = Bus()

def f():
    pass

@bus.on("a")
def g():
    pass

@bus.on("b")
def h():
    pass
)");
  write("tests/test_bus.py", "def test_emit():\n    bus.emit('a')\n    f()\n");
  references_.answers = {
      {"pkg.m:f", sites({"tests/test_bus.py:3"})},
      {"pkg.m:g", sites({"tests/test_bus.py:3"})},  // a test already recorded: nothing new
      {"pkg.m:bus", sites({"pkg/m.py:1", "tests/test_bus.py:2"})},
  };

  EXPECT_TRUE(walk({changed_seed("pkg.m:f", "pkg/m.py", 3), changed_seed("pkg.m:g", "pkg/m.py", 7),
                    changed_seed("pkg.m:h", "pkg/m.py", 11)})
                  .is_completed());

  EXPECT_EQ(references_.questions, (Questions{{"pkg.m:f pkg/m.py:3:5", "pkg.m:g pkg/m.py:7:5", "pkg.m:h pkg/m.py:11:5"},
                                              {"pkg.m:bus pkg/m.py:1:1"}}));
  EXPECT_EQ(state().qlo_calls, 2u);
  EXPECT_EQ(tests(), Lines{"tests/test_bus.py tests.test_bus:test_emit test pkg.m:f"});
  EXPECT_FALSE(state().decorator_dispatch);
  EXPECT_TRUE(state().errors.empty());
}

TEST_F(Walk, RegistrationThatNothingElseUsesIsUnresolved) {
  write("pkg/__init__.py", "");
  write("pkg/web.py", "@app.get('/')\n@app.post('/')\n@login_required\n@functools.wraps(f)\ndef k():\n    pass\n");
  EXPECT_TRUE(walk({changed_seed("pkg.web:k", "pkg/web.py", 5)}).is_completed());
  EXPECT_EQ(state().errors,
            Lines{"`pkg.web:k` is registered by @app.get, @app.post and nothing referencing `app`, `app` could be "
                  "resolved"});
  EXPECT_TRUE(state().decorator_dispatch);
  EXPECT_EQ(state().qlo_calls, 1u);  // app is not bound in the file: the word search stands in
}

TEST_F(Walk, WordSearchForARegistryGivesUpAfter400Hits) {
  write("pkg/__init__.py", "");
  write("pkg/web.py", "@app.get('/')\ndef k():\n    pass\n");
  const FrontierSymbol k = changed_seed("pkg.web:k", "pkg/web.py", 2);
  for (const int extra_hits : {399, 400}) {
    SCOPED_TRACE(extra_hits);
    std::string user = "def user():\n";
    for (int i = 0; i < extra_hits; ++i) user += "    app.run()\n";
    pindrel::test_support::write_file(root() / "pkg/user.py", user);
    SourceCache cache = new_source_cache(root(), std::vector<std::string>{"pkg/web.py", "pkg/user.py"});
    WalkState fresh(references_, cache, config_, limits_, clock_);
    fresh.visited.insert({"pkg.web:k", {"pkg.web:k", std::nullopt}});
    std::vector<FrontierSymbol> next;
    const std::vector<std::string> decorators = {"app.get"};
    std::vector<std::string> unresolved;
    EXPECT_TRUE(dispatch_decorators(fresh, k, decorators, next, unresolved).is_completed());
    if (extra_hits == 399) {
      EXPECT_TRUE(unresolved.empty());
      EXPECT_FALSE(fresh.decorator_dispatch);
      ASSERT_EQ(next.size(), 1u);
      EXPECT_EQ(next[0].name, "pkg.user:user");
    } else {
      EXPECT_EQ(unresolved, Lines{"app.get"});
      EXPECT_TRUE(fresh.decorator_dispatch);
      EXPECT_TRUE(next.empty());
    }
  }
}

// Each dead end below reaches nothing through its own sites; the module counts as changed at
// import time only when something may register the definition unseen.
TEST_F(Walk, DeadEndThatMayBeRegisteredUnseenRunsTheImportersOfItsModule) {
  write("pkg/__init__.py", "");
  write("pkg/m.py", R"(@functools.lru_cache
def cached():
    pass

@register("x")
def registered():
    pass

@task
def ignored():
    pass

@app.get("/")
def routed():
    pass

def plain():
    pass

class Plain(object):
    def run(self):
        pass

class Plugin(Base):
    def run(self):
        pass

class Used(Base):
    def run(self):
        pass

@register
class Marked:
    def run(self):
        pass

class Meta(metaclass=Registry):
    def run(self):
        pass
)");
  write("pkg/api.py", "import pkg.m\n\ndef serve():\n    pass\n");
  write("tests/test_m.py", "from pkg.m import Used\n\ndef test_used():\n    Used()\n");
  write("tests/test_api.py", "import pkg.api\n");
  write("tests/test_other.py", "def test_other():\n    pass\n");
  config_.ignore_decorators = {"task"};
  references_.answers = {
      {"pkg.m:Used", sites({"tests/test_m.py:1", "tests/test_m.py:4"})},
      {"pkg.m:Plugin", sites({"pkg/api.py:1"})},  // an import line reaches nothing
      {"app", sites({"pkg/m.py:14"})},
  };
  const Lines importers = {"tests/test_api.py - test pkg.m:{} <pkg.api <pkg.m",
                           "tests/test_m.py - test pkg.m:{} <pkg.m"};
  struct Case {
    std::string qualname;
    std::uint32_t line, column;
    bool registered;
  };
  const Case cases[] = {
      {"cached", 2, 5, false},    {"registered", 6, 5, true},  {"ignored", 10, 5, false}, {"routed", 14, 5, true},
      {"plain", 17, 5, false},    {"Plain.run", 21, 9, false}, {"Plugin", 24, 7, true},   {"Plugin.run", 25, 9, true},
      {"Used.run", 29, 9, false}, {"Marked.run", 34, 9, true}, {"Meta.run", 38, 9, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.qualname);
    SourceCache cache = new_source_cache(root(), listed_);
    WalkState fresh(references_, cache, config_, limits_, clock_);
    EXPECT_TRUE(
        walk_references(fresh, std::vector<Seed>{changed_seed("pkg.m:" + c.qualname, "pkg/m.py", c.line, c.column)})
            .is_completed());
    Lines recorded;
    for (const auto& [key, test] : fresh.impacted_tests) {
      std::string line = test.file + " " + test.symbol.value_or("-") + " test " + test.origin;
      for (const std::string& step : test.via) line += " <" + step;
      recorded.push_back(std::move(line));
    }
    Lines expected;
    if (c.registered) {
      for (std::string line : importers) expected.push_back(line.replace(line.find("{}"), 2, c.qualname));
    } else if (c.qualname == "Used.run") {
      expected = {"tests/test_m.py tests.test_m:test_used test pkg.m:Used.run"};
    }
    EXPECT_EQ(recorded, expected);
  }
}

// The reference source answers nothing for f, used across imports it cannot resolve.
TEST_F(Walk, UnansweredTopLevelNameIsSearchedForInItsImportersUpToTheWordLimit) {
  write("lib/pkg/m.py", "def f():\n    pass\n");
  write("tests/test_m.py", "from pkg.m import f\n\ndef test_f():\n    f()\n");
  write("tests/test_user.py", "import pkg.user\n");
  write("tests/test_other.py", "f = 1\n");  // names f, imports nothing of it
  state().pytest.pythonpath = {"lib"};
  for (const int uses : {397, 398}) {
    SCOPED_TRACE(uses);
    std::string user = "from pkg.m import f\n\ndef user():\n";
    for (int i = 0; i < uses; ++i) user += "    f()\n";
    write("lib/pkg/user.py", user);
    SourceCache cache = new_source_cache(root(), listed_);
    WalkState fresh(references_, cache, config_, limits_, clock_);
    fresh.pytest.pythonpath = {"lib"};
    EXPECT_TRUE(
        walk_references(fresh, std::vector<Seed>{changed_seed("lib.pkg.m:f", "lib/pkg/m.py", 1)}).is_completed());
    Lines recorded;
    for (const auto& [key, test] : fresh.impacted_tests)
      recorded.push_back(test.file + " " + test.symbol.value_or("-"));
    if (uses == 397) {
      // 400 hits, two imports among them: each followed, and user is walked next; the test
      // file importing it names nothing of it.
      EXPECT_EQ(recorded, Lines{"tests/test_m.py tests.test_m:test_f"});
      EXPECT_EQ(fresh.visited.count("lib.pkg.user:user"), 1u);
    } else {
      // 401 hits: the importers are taken whole instead, test files and modules alike.
      EXPECT_EQ(recorded, (Lines{"tests/test_m.py -", "tests/test_user.py -"}));
      EXPECT_EQ(fresh.visited.count("lib.pkg.user:user"), 0u);
    }
  }
}

TEST_F(Walk, DeadEndMethodIsReachedThroughItsClass) {
  write("pkg/__init__.py", "");
  write("pkg/cart.py", R"(class Cart:
    def __init__(self):
        self.items = []

    def __eq__(self, other):
        return True

class Empty:
    def size(self):
        return 0
)");
  write("tests/test_cart.py", R"(from pkg.cart import Cart

def test_new():
    assert Cart().items == []

class TestCart:
    def check(self):
        pass
)");
  references_.answers = {
      {"pkg.cart:Cart", sites({"pkg/cart.py:1", "tests/test_cart.py:1", "tests/test_cart.py:4"})},
      {"pkg.cart:Empty", sites({"pkg/cart.py:8"})},
  };

  EXPECT_TRUE(walk({changed_seed("pkg.cart:Cart.__eq__", "pkg/cart.py", 5, 9),
                    changed_seed("pkg.cart:Cart.__init__", "pkg/cart.py", 2, 9),
                    changed_seed("pkg.cart:Empty.size", "pkg/cart.py", 9, 9),
                    changed_seed("tests.test_cart:TestCart.check", "tests/test_cart.py", 7, 9)})
                  .is_completed());

  // One question per class, at the class's name; none for a method of a test file.
  EXPECT_EQ(references_.questions,
            (Questions{{"pkg.cart:Cart.__eq__ pkg/cart.py:5:9", "pkg.cart:Cart.__init__ pkg/cart.py:2:9",
                        "pkg.cart:Empty.size pkg/cart.py:9:9", "tests.test_cart:TestCart.check tests/test_cart.py:7:9"},
                       {"pkg.cart:Cart pkg/cart.py:1:7"},
                       {"pkg.cart:Empty pkg/cart.py:8:7"}}));
  EXPECT_EQ(tests(), (Lines{"tests/test_cart.py tests.test_cart:TestCart.check test tests.test_cart:TestCart.check",
                            "tests/test_cart.py tests.test_cart:test_new test pkg.cart:Cart.__eq__"}));
  EXPECT_EQ(state().qlo_calls, 3u);
  EXPECT_TRUE(state().errors.empty());
}

TEST_F(Walk, MethodWithItsOwnSitesIsStillFollowedThroughItsClass) {
  write("pkg/__init__.py", "");
  write("pkg/opts.py", R"(def norm(v):
    return v

class Option:
    def __init__(self, v):
        self.v = norm(v)
)");
  write("pkg/cli.py", R"(from pkg.opts import Option

def build(v):
    return Option(v)
)");
  write("tests/test_opts.py", R"(from pkg.opts import Option
from pkg.cli import build

def test_direct():
    assert Option(1).v == 1

def test_build():
    assert build(1).v == 1
)");
  // The tool names __init__ only where a test builds an Option; the library's own Option(v)
  // is a site of the class alone.
  references_.answers = {
      {"pkg.opts:norm", sites({"pkg/opts.py:6"})},
      {"pkg.opts:Option.__init__", sites({"tests/test_opts.py:5"})},
      {"pkg.opts:Option",
       sites({"pkg/opts.py:4", "pkg/cli.py:1", "pkg/cli.py:4", "tests/test_opts.py:1", "tests/test_opts.py:5"})},
      {"pkg.cli:build", sites({"tests/test_opts.py:8"})},
  };

  EXPECT_TRUE(walk({changed_seed("pkg.opts:norm", "pkg/opts.py", 1)}).is_completed());

  // The class is asked about after the method's own level, before the level it feeds.
  EXPECT_EQ(references_.questions, (Questions{{"pkg.opts:norm pkg/opts.py:1:5"},
                                              {"pkg.opts:Option.__init__ pkg/opts.py:5:9"},
                                              {"pkg.opts:Option pkg/opts.py:4:7"},
                                              {"pkg.cli:build pkg/cli.py:3:5"}}));
  EXPECT_EQ(tests(),
            (Lines{"tests/test_opts.py tests.test_opts:test_build test pkg.opts:norm <pkg.cli:build "
                   "<pkg.opts:Option.__init__",
                   "tests/test_opts.py tests.test_opts:test_direct test pkg.opts:norm <pkg.opts:Option.__init__"}));
  EXPECT_EQ(state().qlo_calls, 4u);
  EXPECT_EQ(state().max_depth_reached, 2u);
}

TEST_F(Walk, ImportLineThatAliasesTheClassQueuesTheAliasForTheMethod) {
  write("pkg/__init__.py", "from pkg.shapes import Square as Sq\nfrom pkg.shapes import Square\n");
  write("pkg/shapes.py", R"(class Square:
    def __eq__(self, other):
        return True
)");
  write("pkg/geo.py", R"(from pkg import Sq

def same():
    return Sq(2) == Sq(2)
)");
  write("tests/test_geo.py", R"(from pkg.geo import same

def test_same():
    assert same()
)");
  references_.answers = {
      {"pkg.shapes:Square", sites({"pkg/shapes.py:1", "pkg/__init__.py:1", "pkg/__init__.py:2"})},
      {"pkg:Sq", sites({"pkg/geo.py:1", "pkg/geo.py:4"})},
      {"pkg.geo:same", sites({"tests/test_geo.py:4"})},
  };

  EXPECT_TRUE(walk({changed_seed("pkg.shapes:Square.__eq__", "pkg/shapes.py", 2, 9)}).is_completed());

  // The alias is judged against the class's name, not the method's; the plain import adds nothing.
  EXPECT_EQ(references_.questions, (Questions{{"pkg.shapes:Square.__eq__ pkg/shapes.py:2:9"},
                                              {"pkg.shapes:Square pkg/shapes.py:1:7"},
                                              {"pkg:Sq pkg/__init__.py:1:34"},
                                              {"pkg.geo:same pkg/geo.py:3:5"}}));
  EXPECT_EQ(state().visited.at("pkg:Sq").parent, "pkg.shapes:Square.__eq__");
  EXPECT_EQ(tests(), Lines{"tests/test_geo.py tests.test_geo:test_same test pkg.shapes:Square.__eq__ "
                           "<pkg.geo:same <pkg:Sq"});
}

TEST_F(Walk, DeletedSeedWalksWhatStillUsesItsName) {
  write("pkg/__init__.py", "");
  write("pkg/b.py", "def user():\n    return gone()\n");
  write("tests/test_b.py", "def test_user():\n    user()\n");
  references_.answers = {{"pkg.b:user", sites({"tests/test_b.py:2"})}};
  Seed deleted{{"pkg.a:gone", "gone", "pkg/a.py", 1, 5}, SeedKind::deleted};

  EXPECT_TRUE(walk({deleted, changed_seed("pkg.b:user", "pkg/b.py", 1)}).is_completed());

  // Queued through the deleted name and again as a seed: asked twice, the seed's entry kept.
  EXPECT_EQ(references_.questions, (Questions{{"pkg.b:user pkg/b.py:1:5", "pkg.b:user pkg/b.py:1:5"}}));
  EXPECT_EQ(state().visited.at("pkg.b:user").parent, std::nullopt);
  EXPECT_EQ(tests(), Lines{"tests/test_b.py tests.test_b:test_user test pkg.b:user"});
}

TEST_F(Walk, ModuleSeedScansWithoutAsking) {
  write("pkg/__init__.py", "");
  write("pkg/mod.py", "X = 1\n");
  write("tests/test_m.py", "import pkg.mod\n");
  EXPECT_TRUE(walk({Seed{{"pkg.mod", "pkg.mod", "pkg/mod.py", 0, 0}, SeedKind::module}}).is_completed());
  EXPECT_TRUE(references_.questions.empty());
  EXPECT_EQ(tests(), Lines{"tests/test_m.py - test pkg.mod"});
}

class WalkStops : public test_support::WalkFixture {
 protected:
  // pkg.a:f is used by g, which nothing uses.
  void SetUp() override {
    write("pkg/__init__.py", "");
    write("pkg/a.py", "def f():\n    pass\n\ndef g():\n    f()\n");
    references_.answers = {{"pkg.a:f", sites({"pkg/a.py:5"})}};
  }
  WalkOutcome walk_f() { return walk({changed_seed("pkg.a:f", "pkg/a.py", 1)}); }
  static std::string reason(const WalkOutcome& outcome) {
    return outcome.stopped ? std::string(run_all_reason_name(*outcome.stopped)) : "completed";
  }
};

TEST_F(WalkStops, FailedQuestionStopsWithItsError) {
  references_.failure = Error("exited").context("could not resolve references for pkg/a.py:1:5");
  const WalkOutcome outcome = walk_f();
  EXPECT_EQ(reason(outcome), "refs_failed");
  EXPECT_EQ(outcome.message, "could not resolve references for pkg/a.py:1:5: exited");
}

TEST_F(WalkStops, QuestionThatFailsAfterTheDeadlineIsTheBudgetsStop) {
  // The real source ends a run that is still going at the deadline, and the run then fails.
  limits_.deadline = clock_.instant + std::chrono::milliseconds(5);
  references_.failure = Error("`qlo` was still running at the deadline");
  references_.on_question = [&] { clock_.instant += std::chrono::milliseconds(5); };
  const WalkOutcome outcome = walk_f();
  EXPECT_EQ(reason(outcome), "budget");
  EXPECT_EQ(outcome.message, std::nullopt);

  state_.reset();
  limits_.deadline = clock_.instant + std::chrono::milliseconds(5);
  references_.on_question = [&] { clock_.instant += std::chrono::milliseconds(4); };
  EXPECT_EQ(reason(walk_f()), "refs_failed");
}

TEST_F(WalkStops, UnreadableSiteStopsWithTheReadError) {
  std::filesystem::create_directories(root() / "pkg/dir.py");
  references_.answers = {{"pkg.a:f", sites({"pkg/dir.py:1"})}};
  const WalkOutcome outcome = walk_f();
  EXPECT_EQ(reason(outcome), "index_failed");
  EXPECT_EQ(outcome.message, "could not read " + (root() / "pkg/dir.py").string() + ": Is a directory (os error 21)");
}

TEST_F(WalkStops, SymbolLimitIsCheckedBeforeEachQuestion) {
  limits_.max_symbols = 0;
  EXPECT_EQ(reason(walk_f()), "max_symbols");
  EXPECT_TRUE(references_.questions.empty());
}

TEST_F(WalkStops, DepthLimitStopsWhenAnotherLevelWouldBeNeeded) {
  limits_.max_depth = 0;
  const WalkOutcome outcome = walk_f();
  EXPECT_EQ(reason(outcome), "max_depth");
  EXPECT_EQ(outcome.message, std::nullopt);
  EXPECT_EQ(references_.questions.size(), 1u);
  EXPECT_EQ(state().max_depth_reached, 0u);
}

TEST_F(WalkStops, LargestDepthLimitLetsTheWalkComplete) {
  limits_.max_depth = std::numeric_limits<std::uint32_t>::max();
  EXPECT_EQ(reason(walk_f()), "completed");
  EXPECT_EQ(state().max_depth_reached, 1u);
}

TEST_F(WalkStops, DeadlineIsCheckedBeforeEachLevelAndAfterTheLast) {
  limits_.deadline = clock_.instant;
  EXPECT_EQ(reason(walk_f()), "budget");
  EXPECT_TRUE(references_.questions.empty());

  state_.reset();
  limits_.deadline = clock_.instant + std::chrono::milliseconds(5);
  references_.on_question = [&] { clock_.instant += std::chrono::milliseconds(3); };
  EXPECT_EQ(reason(walk_f()), "budget");
  EXPECT_EQ(references_.questions.size(), 2u);  // the second level, which queued nothing, ran out
}

}  // namespace
}  // namespace pindrel::impact
