#include "impact/import_index.hpp"
#include "project/modpath.hpp"
#include "scratch.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace pindrel::impact {
namespace {

// One file per source, each asked whether it imports pkg.mod. The relative lines stand in
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
      // A statement on its compound statement's line is one Python runs like any other.
      {"a/guarded.py", "if TYPE_CHECKING: import pkg.mod", true},
      {"a/in_def.py", "def f(): import pkg.mod", true},
      {"a/in_class.py", "class A(B): from pkg import mod", true},
      {"a/after_assignment.py", "if x: y = 1; import pkg.mod", true},
      {"a/subscript_header.py", "if d[1:2]: import pkg.mod", true},
      {"a/after_lambda.py", "f = lambda: 0; import pkg.mod", true},
      {"a/after_bracket.py", "x = (\n    1); import pkg.mod", true},
      // Spellings of the tokenizer's: a byte-order mark, line ends, blanks around dots.
      {"a/bom.py", "\xEF\xBB\xBFimport pkg.mod", true},
      {"a/lone_cr.py", "import os\rimport pkg.mod\r", true},
      {"a/lone_cr_from.py", "x = 1\rfrom pkg import mod", true},
      {"a/crlf.py", "import os\r\nfrom pkg import (\r\n    mod,\r\n)", true},
      {"a/form_feed.py", "\fimport pkg.mod", true},
      {"a/blank_dots.py", "import pkg. mod", true},
      {"a/blank_dots_before.py", "import pkg .mod as m", true},
      {"a/from_blank_dots.py", "from pkg . mod import X", true},
      {"a/from_continued.py", "from pkg \\\n  . mod import X", true},
      {"a/list_comment.py", "from pkg import (other,  # closes with )\n    mod)", true},
      {"a/comment_backslash.py", "import os  # \\\nimport pkg.mod", true},
      {"a/comment_paren.py", "x = 1  # (\nimport pkg.mod", true},
      {"a/raw_quote.py", "x = rb\"\\\"\"; import pkg.mod", true},
      {"a/from_alias.py", "from pkg import other as mod", false},
      // Strings and comments import nothing.
      {"a/docstring.py", "\"\"\"Usage:\n\nimport pkg.mod\n\"\"\"", false},
      {"a/triple_single.py", "x = '''a\nfrom pkg import mod'''", false},
      {"a/string_continued.py", "x = \"a\\\nimport pkg.mod\"", false},
      {"a/string_on_line.py", "print('x'); 'import pkg.mod'", false},
      {"a/fstring.py", "x = f\"{a}\" '''\nimport pkg.mod'''", false},
      {"a/unfinished.py", "from pkg.mod", false},
      {"a/comment.py", "# import pkg.mod", false},
      // Relative imports, resolved against the importing file's own module.
      {"pkg/rel_dot.py", "from . import mod", true},
      {"pkg/rel_mod.py", "from .mod import x", true},
      {"pkg/rel_sub.py", "from .mod.sub import x", true},
      {"pkg/rel_other.py", "from .modx import x", false},
      {"pkg/tests/test_up.py", "from ..mod import LIMIT", true},
      {"pkg/tests/test_up_dot.py", "from .. import mod", true},
      {"pkg/tests/test_up_no_space.py", "from..mod import LIMIT", true},
      {"pkg/tests/test_up_blank.py", "from .. mod import LIMIT", true},
      {"pkg/rel_no_space.py", "from.mod import x", true},
      {"pkg/rel_import_no_space.py", "from .import mod", true},
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
