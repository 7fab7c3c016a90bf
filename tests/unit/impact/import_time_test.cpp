#include "impact/walk.hpp"
#include "walk_fixture.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pindrel::impact {
namespace {

using test_support::changed_seed;
using test_support::sites;
using Lines = std::vector<std::string>;

constexpr std::string_view base_source = R"(class Base:
    def run(self):
        return 1

    def __init_subclass__(cls):
        pass

    def __class_getitem__(cls, item):
        return cls

    def __init__(self):
        pass


def helper():
    return 1
)";

Seed method_seed(std::string_view method) {
  const std::uint32_t line = method == "run" ? 2 : method == "__init_subclass__" ? 5 : method == "__init__" ? 11 : 8;
  return changed_seed("pkg.base:Base." + std::string(method), "pkg/base.py", line, 9);
}

// pkg/user.py names the walked symbol on its line 3; tests/test_user.py only imports pkg.user,
// so it is selected exactly when the site makes pkg.user changed at import time. What the
// walk queues in pkg.user is used by tests/test_uses.py, so that it reaches a test.
class ImportTimeSite : public ::testing::Test {
 protected:
  struct Outcome {
    bool at_import;
    Lines queued;  // what the walk asked about in pkg.user
  };

  Outcome walk(std::string_view user, const Seed& seed, std::uint32_t site_line = 3) {
    pindrel::test_support::ScratchDir dir;
    const std::vector<std::string> files = {"pkg/__init__.py",    "pkg/base.py",        "pkg/user.py",
                                            "tests/test_user.py", "tests/test_uses.py", "tests/test_other.py"};
    const std::string_view texts[] = {
        "", base_source, user, "import pkg.user\n", "def test_uses():\n    pass\n", "def test_other():\n    pass\n"};
    for (std::size_t i = 0; i < files.size(); ++i) pindrel::test_support::write_file(dir.path() / files[i], texts[i]);
    test_support::ScriptedReferences references;
    const std::string site = "pkg/user.py:" + std::to_string(site_line);
    references.answers = {{"pkg.base:Base", sites({site})}, {"pkg.base:helper", sites({site})}};
    for (const char* used : {"Sub", "make", "job", "_h", "Alias", "C", "C.h", "app"}) {
      references.answers.emplace(std::string("pkg.user:") + used, sites({"tests/test_uses.py:2"}));
    }
    SourceCache cache = new_source_cache(dir.path(), files);
    Config config;
    test_support::FixedClock clock;
    WalkState state(references, cache, config, WalkLimits{}, clock);
    const std::vector<Seed> seeds = {seed};
    EXPECT_TRUE(walk_references(state, seeds).is_completed());

    Outcome outcome{false, {}};
    for (const auto& [key, test] : state.impacted_tests) {
      EXPECT_NE(test.file, "tests/test_other.py");
      outcome.at_import = outcome.at_import || test.file == "tests/test_user.py";
    }
    for (const auto& level : references.questions) {
      for (const std::string& question : level) {
        if (question.starts_with("pkg.user:")) outcome.queued.push_back(question);
      }
    }
    return outcome;
  }
};

TEST_F(ImportTimeSite, OnlyWhatPythonRunsAtImportChangesTheModule) {
  struct Case {
    std::string_view name;
    std::string_view user;
    Seed seed;
    bool at_import;
    Lines queued;
  };
  const Seed helper = changed_seed("pkg.base:helper", "pkg/base.py", 15);
  const Case cases[] = {
      // Creating the subclass runs none of an ordinary method: the subclass carries it.
      {"base list, ordinary method",
       "from pkg.base import Base\n\nclass Sub(Base):\n    pass\n",
       method_seed("run"),
       false,
       {"pkg.user:Sub pkg/user.py:3:7"}},
      {"base list, __init_subclass__",
       "from pkg.base import Base\n\nclass Sub(Base):\n    pass\n",
       method_seed("__init_subclass__"),
       true,
       {"pkg.user:Sub pkg/user.py:3:7"}},
      {"Base[T] in the base list, __class_getitem__",
       "from pkg.base import Base\n\nclass Sub(Base[int]):\n    pass\n",
       method_seed("__class_getitem__"),
       true,
       {"pkg.user:Sub pkg/user.py:3:7"}},
      {"Base[T] in the base list, ordinary method",
       "from pkg.base import Base\n\nclass Sub(Base[int]):\n    pass\n",
       method_seed("run"),
       false,
       {"pkg.user:Sub pkg/user.py:3:7"}},
      {"a call in the base list",
       "from pkg.base import helper\n\nclass Sub(helper()):\n    pass\n",
       helper,
       true,
       {"pkg.user:Sub pkg/user.py:3:7"}},
      // An annotation is looked up and calls nothing; under postponed annotations it is not
      // even evaluated, so a subscript runs no __class_getitem__ either.
      {"annotation",
       "from pkg.base import Base\n\ndef make(x: Base) -> Base:\n    return x\n",
       method_seed("run"),
       false,
       {"pkg.user:make pkg/user.py:3:5"}},
      {"evaluated annotation Base[T], __class_getitem__",
       "from pkg.base import Base\n\ndef make(x: Base[int]):\n    return x\n",
       method_seed("__class_getitem__"),
       true,
       {"pkg.user:make pkg/user.py:3:5"}},
      {"postponed annotation Base[T], __class_getitem__",
       "from __future__ import annotations\nfrom pkg.base import Base\ndef make(x: Base[int]):\n    return x\n",
       method_seed("__class_getitem__"),
       false,
       {"pkg.user:make pkg/user.py:3:5"}},
      {"decorator",
       "from pkg.base import helper\n\n@helper\ndef job():\n    pass\n",
       helper,
       true,
       {"pkg.user:job pkg/user.py:4:5"}},
      {"default value that calls",
       "from pkg.base import helper\n\ndef job(x=helper()):\n    pass\n",
       helper,
       true,
       {"pkg.user:job pkg/user.py:3:5"}},
      {"default value that only names",
       "from pkg.base import helper\n\ndef job(key=helper):\n    pass\n",
       helper,
       false,
       {"pkg.user:job pkg/user.py:3:5"}},
      // A bare binding or a keeping wrapper binds a name, which is walked instead.
      {"bare binding", "from pkg.base import helper\n\n_h = helper\n", helper, false, {"pkg.user:_h pkg/user.py:3:1"}},
      {"binding of the class keeps its method",
       "from pkg.base import Base\n\nAlias = Base\n",
       method_seed("run"),
       false,
       {"pkg.user:Alias pkg/user.py:3:1"}},
      {"stored by staticmethod in a class body",
       "from pkg.base import helper\nclass C:\n    h = staticmethod(helper)\n",
       helper,
       false,
       {"pkg.user:C pkg/user.py:2:7", "pkg.user:C.h pkg/user.py:3:5"}},
      {"attribute write", "from pkg.base import helper\n\nhelper.__doc__ = 'x'\n", helper, false, {}},
      {"under the __main__ guard",
       "from pkg.base import helper\nif __name__ == '__main__':\n    helper()\n",
       helper,
       false,
       {}},
      // An instance bound at import runs only the construction hooks.
      {"instantiation, ordinary method",
       "from pkg.base import Base\n\napp = Base()\n",
       method_seed("run"),
       false,
       {"pkg.user:app pkg/user.py:3:1"}},
      {"instantiation, __init__", "from pkg.base import Base\n\napp = Base()\n", method_seed("__init__"), true, {}},
      {"a call", "from pkg.base import helper\n\nVALUE = helper()\n", helper, true, {}},
      {"passed to a call", "from pkg.base import helper\n\nVALUES = list(map(helper, [1]))\n", helper, true, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome outcome = walk(c.user, c.seed);
    EXPECT_EQ(outcome.at_import, c.at_import);
    EXPECT_EQ(outcome.queued, c.queued);
  }
}

TEST_F(ImportTimeSite, DeletedNameFailsWhereverImportTimeCodeNamesIt) {
  // No import line names the class, so only the base list can fail.
  const Seed deleted{{"pkg.base:Gone", "Gone", "pkg/base.py", 20, 7}, SeedKind::deleted};
  EXPECT_TRUE(walk("import pkg.base as b\n\nclass Sub(b.Gone):\n    pass\n", deleted).at_import);
  EXPECT_FALSE(walk("import pkg.base as b\n\nclass Sub(b.Base):\n    pass\n", method_seed("run")).at_import);
}

}  // namespace
}  // namespace pindrel::impact
