#include "impact/module_seeds.hpp"
#include "walk_fixture.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace pindrel::impact {
namespace {

using Questions = std::vector<std::vector<std::string>>;
using Lines = std::vector<std::string>;

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

  EXPECT_TRUE(seed_module_change(state(), "pkg.mod", "pkg/mod.py").is_completed());

  std::vector<std::string> recorded;
  for (const auto& [key, test] : state().impacted_tests) {
    EXPECT_EQ(test.symbol, std::nullopt);
    EXPECT_EQ(test.origin, "pkg.a:f");
    EXPECT_EQ(test.via, std::vector<std::string>{"pkg.mod"});
    recorded.push_back(test.file);
  }
  EXPECT_EQ(recorded, (std::vector<std::string>{"tests/test_late.py", "tests/test_paren.py"}));
}

// consts <- shop <-> cart (a cycle), through absolute and relative imports; other imports
// nothing that changed.
TEST_F(ModuleScan, ImportersAreFollowedTransitivelyEachOnce) {
  write("pkg/__init__.py", "");
  write("pkg/consts.py", "RATE = 2\n");
  write("pkg/shop.py", "from pkg.consts import RATE\nimport pkg.cart\n\ndef price(x):\n    return x * RATE\n");
  write("pkg/cart.py", "from . import shop\n");
  write("pkg/other.py", "import os\n");
  write("pkg/tests/__init__.py", "");
  write("pkg/tests/test_limit.py", "from ..consts import RATE\n");
  write("tests/test_shop.py", "from pkg.shop import price\n");
  write("tests/test_cart.py", "import pkg.cart\n");
  write("tests/test_other.py", "import pkg.other\n");

  EXPECT_TRUE(walk({Seed{{"pkg.consts", "pkg.consts", "pkg/consts.py", 0, 0}, SeedKind::module}}).is_completed());

  EXPECT_TRUE(references_.questions.empty());
  EXPECT_EQ(tests(), (Lines{"pkg/tests/test_limit.py - test pkg.consts",
                            "tests/test_cart.py - test pkg.consts <pkg.cart <pkg.shop",
                            "tests/test_shop.py - test pkg.consts <pkg.shop"}));
  EXPECT_EQ(state().import_time_modules, (std::set<std::string>{"pkg.cart", "pkg.consts", "pkg.shop"}));
  EXPECT_EQ(state().visited.at("pkg.cart").parent, "pkg.shop");
  // A second module reached later is not scanned again, and its tests keep their first record.
  EXPECT_TRUE(seed_module_change(state(), "pkg.shop", "pkg/shop.py").is_completed());
  EXPECT_EQ(tests().size(), 3u);
}

// ns holds no `__init__.py`: pkg is a package inside the namespace package ns, and is
// imported as ns.pkg, the name its module does not show.
TEST_F(ModuleScan, ModulesBelowANamespacePackageAreImportedByTheLongerName) {
  write("ns/pkg/__init__.py", "");
  write("ns/pkg/consts.py", "RATE = 2\n");
  write("ns/pkg/shop.py", "from ns.pkg.consts import RATE\n");
  write("tests/test_shop.py", "from ns.pkg import shop\n");
  write("tests/test_other.py", "from other.pkg.consts import RATE\n");

  EXPECT_TRUE(seed_module_change(state(), "pkg.consts", "ns/pkg/consts.py").is_completed());

  EXPECT_EQ(tests(), (Lines{"tests/test_shop.py - test pkg.consts <pkg.shop"}));
}

// An import line of the deleted name fails at import: its test file runs whole, and its
// module is changed at import time; a use inside a function is walked as before.
TEST_F(ModuleScan, FilesStillImportingADeletedNameFailAtImport) {
  write("pkg/__init__.py", "");
  write("pkg/core.py", "def other():\n    pass\n");
  write("pkg/api.py", "from pkg.core import helper, other\n");
  write("pkg/api2.py", "from pkg.core import (\n    other,\n    helper,\n)\n");
  write("pkg/app.py", "from pkg.api import serve\n");
  write("pkg/use.py", "def f():\n    return helper()\n");
  write("tests/test_app.py", "import pkg.app\n");
  write("tests/test_api2.py", "from pkg.api2 import x\n");
  write("tests/test_use.py", "import pkg.use\n");
  write("tests/test_core.py", "from pkg.core import other, helper\n\ndef test_other():\n    other()\n");
  const Seed deleted{{"pkg.core:helper", "helper", "pkg/core.py", 4, 5}, SeedKind::deleted};

  EXPECT_TRUE(walk({deleted}).is_completed());

  EXPECT_EQ(references_.questions, (Questions{{"pkg.use:f pkg/use.py:1:5"}}));
  EXPECT_EQ(tests(), (Lines{"tests/test_api2.py - test pkg.core:helper <pkg.api2",
                            "tests/test_app.py - test pkg.core:helper <pkg.app <pkg.api",
                            "tests/test_core.py - test pkg.core:helper"}));
}

// A method cannot be imported: a line importing a name like it is not its import.
TEST_F(ModuleScan, ImportLinesDoNotImportADeletedMethod) {
  write("pkg/__init__.py", "");
  write("pkg/api.py", "from pkg.other import helper\n");
  write("tests/test_api.py", "import pkg.api\n");
  write("tests/test_other.py", "from pkg.other import helper\n");
  const Seed deleted{{"pkg.core:Box.helper", "Box.helper", "pkg/core.py", 4, 9}, SeedKind::deleted};

  EXPECT_TRUE(walk({deleted}).is_completed());

  EXPECT_EQ(tests(), Lines{});
  EXPECT_TRUE(state().import_time_modules.empty());
}

TEST_F(ModuleScan, UnreadableTestFileStopsTheWalk) {
  std::filesystem::create_directories(root() / "tests/test_dir.py");
  listed_.push_back("tests/test_dir.py");
  const WalkOutcome outcome = seed_module_change(state(), "pkg.mod", "pkg/mod.py");
  EXPECT_EQ(outcome.stopped, RunAllReason::index_failed);
  EXPECT_EQ(outcome.message,
            "could not read " + (root() / "tests/test_dir.py").string() + ": Is a directory (os error 21)");
}

}  // namespace
}  // namespace pindrel::impact
