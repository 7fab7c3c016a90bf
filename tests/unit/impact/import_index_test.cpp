#include "impact/import_index.hpp"
#include "project/modpath.hpp"
#include "scratch.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace pindrel::impact {
namespace {

// One file per line, each asked whether it imports pkg.mod. The relative lines stand in
// files whose module name they resolve against: pkg has an `__init__.py`, so does pkg/tests.
TEST(ImportIndex, LinesThatImportAModule) {
  struct Case {
    std::string file;
    std::string line;
    bool imports;
  };
  const std::vector<Case> cases = {
      {"a/import_plain.py", "import pkg.mod", true},
      {"a/import_list.py", "import os, pkg.mod as m", true},
      {"a/import_indented.py", "def f():\n    import pkg.mod", true},
      {"a/import_sub.py", "import pkg.mod.sub", true},
      {"a/from_mod.py", "from pkg.mod import x", true},
      {"a/from_sub.py", "from pkg.mod.sub import y", true},
      {"a/from_parent.py", "from pkg import mod as m", true},
      {"a/from_parent_list.py", "from pkg import other, mod", true},
      {"a/from_parent_paren.py", "from pkg import (\n    mod,\n)", true},
      {"a/from_parent_hanging.py", "from pkg import (other,\n                 mod)", true},
      {"a/from_parent_backslash.py", "from pkg import \\\n    mod", true},
      {"a/import_backslash.py", "import os, \\\n    pkg.mod", true},
      {"a/after_semicolon.py", "import os; import pkg.mod", true},
      {"a/from_no_space.py", "from pkg import(mod)", true},
      {"a/from_tab.py", "from\tpkg.mod\timport x", true},
      {"a/from_parent_star.py", "from pkg import *", true},
      {"a/from_parent_closed.py", "from pkg import (other)", false},
      {"a/from_parent_comment.py", "from pkg import other  # (mod", false},
      {"a/import_word.py", "import_mod = pkg.mod", false},
      {"a/from_word.py", "from_pkg = (\n    mod,\n)", false},
      {"a/import_longer.py", "import pkg.modx", false},
      {"a/import_parent.py", "import pkg", false},
      {"a/from_parent_other.py", "from pkg import other", false},
      {"a/from_parent_longer.py", "from pkg import modx", false},
      {"a/guarded.py", "if TYPE_CHECKING: import pkg.mod", false},
      {"a/unfinished.py", "from pkg.mod", false},
      {"a/comment.py", "# import pkg.mod", false},
      // Relative imports, resolved against the importing file's own module.
      {"pkg/rel_dot.py", "from . import mod", true},
      {"pkg/rel_mod.py", "from .mod import x", true},
      {"pkg/rel_sub.py", "from .mod.sub import x", true},
      {"pkg/rel_other.py", "from .modx import x", false},
      {"pkg/tests/test_up.py", "from ..mod import LIMIT", true},
      {"pkg/tests/test_up_dot.py", "from .. import mod", true},
      {"pkg/tests/test_beside.py", "from .mod import x", false},  // pkg.tests.mod
      {"pkg/sub/__init__.py", "from .. import mod", true},
      {"pkg/too_high.py", "from ... import mod", false},
      {"top.py", "from . import mod", false},  // a top-level module has no package
  };
  const pindrel::test_support::ScratchDir scratch;
  std::vector<std::string> listed = {"pkg/__init__.py", "pkg/tests/__init__.py"};
  pindrel::test_support::write_file(scratch.path() / "pkg/__init__.py", "");
  pindrel::test_support::write_file(scratch.path() / "pkg/tests/__init__.py", "");
  for (const Case& c : cases) {
    pindrel::test_support::write_file(scratch.path() / c.file, c.line + "\n");
    listed.push_back(c.file);
  }
  SourceCache cache = new_source_cache(scratch.path(), listed);
  auto index = index_import_lines(
      cache, [&](const std::filesystem::path& file) { return module_name_for_path(scratch.path(), file); });
  ASSERT_TRUE(index) << index.error().render();

  const std::vector<std::size_t> importing = files_importing(*index, "pkg.mod");
  for (std::size_t k = 0; k < cases.size(); ++k) {
    SCOPED_TRACE(cases[k].file + ": " + cases[k].line);
    EXPECT_EQ(std::ranges::count(importing, k + 2), cases[k].imports ? 1 : 0);
  }
}

// A top-level module has no parent package to import it from.
TEST(ImportIndex, TopLevelModule) {
  const pindrel::test_support::ScratchDir scratch;
  const std::vector<std::string> listed = {"a.py", "b.py", "c.py", "d.py"};
  pindrel::test_support::write_file(scratch.path() / "a.py", "import util.text\n");
  pindrel::test_support::write_file(scratch.path() / "b.py", "from util import x\n");
  pindrel::test_support::write_file(scratch.path() / "c.py", "from x import util\n");
  pindrel::test_support::write_file(scratch.path() / "d.py", "import utility\n");
  SourceCache cache = new_source_cache(scratch.path(), listed);
  auto index = index_import_lines(cache, [](const std::filesystem::path&) { return std::nullopt; });
  ASSERT_TRUE(index) << index.error().render();
  EXPECT_EQ(files_importing(*index, "util"), (std::vector<std::size_t>{0, 1}));
}

}  // namespace
}  // namespace pindrel::impact
