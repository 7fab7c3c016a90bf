#include "impact/module_seeds.hpp"
#include "walk_fixture.hpp"

#include <gtest/gtest.h>

namespace pindrel::impact {
namespace {

TEST(ModuleSeeds, ImportLinesOfAModule) {
  struct Case {
    std::string_view line;
    bool imports;
  };
  const Case cases[] = {
      {"import pkg.mod", true},
      {"import os, pkg.mod as m", true},
      {"import pkg.mod.sub", true},
      {"from pkg.mod import x", true},
      {"from pkg.mod.sub import y", true},
      {"from pkg import mod as m", true},
      {"from pkg import other, mod", true},
      {"from pkg import (", true},
      {"import pkg.modx", false},
      {"import pkg", false},
      {"from pkg import other", false},
      {"from pkg import modx", false},
      {"from . import mod", false},
      {"from .mod import x", false},
      {"if TYPE_CHECKING: import pkg.mod", false},
      {"from pkg.mod", false},
      {"# import pkg.mod", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(line_imports_module(c.line, "pkg.mod", "pkg.mod.", "pkg", "mod"), c.imports);
  }
  // A top-level module has no parent package to import it from.
  EXPECT_TRUE(line_imports_module("import util.text", "util", "util.", "", "util"));
  EXPECT_TRUE(line_imports_module("from util import x", "util", "util.", "", "util"));
  EXPECT_FALSE(line_imports_module("from x import util", "util", "util.", "", "util"));
  EXPECT_FALSE(line_imports_module("import utility", "util", "util.", "", "util"));
}

class ModuleScan : public test_support::WalkFixture {};

TEST_F(ModuleScan, RecordsTheTestFilesThatImportTheModule) {
  write("pkg/__init__.py", "");
  write("pkg/mod.py", "X = 1\n");
  write("pkg/user.py", "import pkg.mod\n");
  write("tests/test_late.py", "'''doc'''\n\ndef test_x():\n    from pkg.mod import X\n");
  write("tests/test_paren.py", "from pkg import (\n    mod,\n)\n");
  write("tests/test_other.py", "import pkg.modx\n");
  listed_.push_back("tests/test_gone.py");
  state().visited.insert({"pkg.mod", {"pkg.a:f", "pkg.a:f"}});

  EXPECT_TRUE(seed_module_change(state(), "pkg.mod").is_completed());

  std::vector<std::string> recorded;
  for (const auto& [key, test] : state().impacted_tests) {
    EXPECT_EQ(test.symbol, std::nullopt);
    EXPECT_EQ(test.origin, "pkg.a:f");
    EXPECT_EQ(test.via, std::vector<std::string>{"pkg.mod"});
    recorded.push_back(test.file);
  }
  EXPECT_EQ(recorded, (std::vector<std::string>{"tests/test_late.py", "tests/test_paren.py"}));
}

TEST_F(ModuleScan, UnreadableTestFileStopsTheWalk) {
  std::filesystem::create_directories(root() / "tests/test_dir.py");
  listed_.push_back("tests/test_dir.py");
  const WalkOutcome outcome = seed_module_change(state(), "pkg.mod");
  EXPECT_EQ(outcome.stopped, RunAllReason::index_failed);
  EXPECT_EQ(outcome.message,
            "could not read " + (root() / "tests/test_dir.py").string() + ": Is a directory (os error 21)");
}

}  // namespace
}  // namespace pindrel::impact
