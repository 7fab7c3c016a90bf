#include "pysource/imports.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pindrel::pysource {
namespace {

// Each statement as "import a.b c" or "from ..a import x *".
std::vector<std::string> statements(std::string_view text) {
  std::vector<std::string> found;
  for_each_import(text, [&](const ImportStatement& statement) {
    std::string line = statement.form == ImportForm::plain
                           ? "import"
                           : "from " + std::string(statement.level, '.') + statement.source + " import";
    for (const std::string& name : statement.names) line += " " + name;
    found.push_back(line);
  });
  return found;
}

using Lines = std::vector<std::string>;

TEST(Imports, StatementsAsPythonReadsThem) {
  struct Case {
    std::string text;
    Lines found;
  };
  const std::vector<Case> cases = {
      {"import a . b as c, d\n", {"import a.b d"}},
      {"from .. x import (y as z,\n    w)\n", {"from ..x import y w"}},
      {"from.x import y", {"from .x import y"}},
      {"from . import *", {"from . import *"}},
      {"from...x import y", {"from ...x import y"}},
      {"from a import b as c, d  # e\n", {"from a import b d"}},
      {"\xEF\xBB\xBFimport a\n", {"import a"}},
      {"import a\rimport b\r\nimport c\n", {"import a", "import b", "import c"}},
      {"import a, \\\n    b", {"import a b"}},
      {"if x: import a; import b\nimport c", {"import a", "import b", "import c"}},
      {"def f(x: int = 1) -> None: from a import b", {"from a import b"}},
      {"x = a[1:2]; d = {1: 2}; import b", {"import b"}},
      {"(y := 1); import a", {"import a"}},
      {"x = (\n    import_a)\nfrom_b = 1\nimportant = 2", {}},
      {"'''\nimport a\n'''\nimport b", {"import b"}},
      {"x = r'\\'' ; import a", {"import a"}},
      {"x = b'''a\\''' import c'''\nimport d", {"import d"}},
      {"x = 'unterminated\nimport a", {"import a"}},
      {"# import a\n  # from b import c\n", {}},
      {"from a", {}},
      {"from import x", {}},
      {"import", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(statements(c.text), c.found);
    if (c.text.starts_with("\xEF\xBB\xBF")) continue;  // a mark only at the start
    // Bytes are classified in blocks: the same source after a comment of any length meets the
    // blocks' edges everywhere.
    for (std::size_t shift = 1; shift < 140; ++shift) {
      SCOPED_TRACE(shift);
      ASSERT_EQ(statements("#" + std::string(shift, '(') + "\n" + c.text), c.found);
    }
  }
}

// Brackets, strings and comments that span blocks keep their count: an import line after them
// is found only outside brackets.
TEST(Imports, BracketsAndStringsAcrossBlocks) {
  const std::string long_call =
      "x = f(" + std::string(100, 'a') + ",\n" + std::string(70, ' ') + "[{" + std::string(90, '1') + "}])\nimport a\n";
  EXPECT_EQ(statements(long_call), (Lines{"import a"}));
  const std::string open_call = "x = f(" + std::string(100, 'a') + ",\nimport b\n" + std::string(80, ' ') + ")\n";
  EXPECT_EQ(statements(open_call), (Lines{}));
  const std::string docstring = "\"\"\"" + std::string(200, 'd') + "\nimport c\n\"\"\"\nimport d\n";
  EXPECT_EQ(statements(docstring), (Lines{"import d"}));
  const std::string comment = "# " + std::string(200, '(') + "\nimport e\n";
  EXPECT_EQ(statements(comment), (Lines{"import e"}));
}

}  // namespace
}  // namespace pindrel::pysource
