#include "pysource/outline.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace pindrel::pysource {
namespace {

Outline outline_of(std::string_view source) {
  auto outline = outline_python_source(source);
  EXPECT_TRUE(outline.has_value()) << outline.error().render();
  return outline ? std::move(*outline) : Outline{};
}

// "kind qualname start-end @line:column", one line per definition in outline order.
std::vector<std::string> definitions_of(const Outline& outline) {
  std::vector<std::string> lines;
  for (const auto& d : outline.definitions) {
    lines.push_back(std::string(definition_kind_word(d.kind)) + " " + d.qualname + " " + std::to_string(d.start_line) +
                    "-" + std::to_string(d.end_line) + " @" + std::to_string(d.line) + ":" + std::to_string(d.column));
  }
  return lines;
}

std::string literal_text(const LiteralValue& literal) {
  if (auto* text = std::get_if<LiteralValue::Text>(&literal.value)) return "\"" + text->content + "\"";
  if (auto* flag = std::get_if<LiteralValue::Bool>(&literal.value)) return flag->value ? "True" : "False";
  return "?";
}

// A decorator as `name(arg, kw=value)`, a literal string in double quotes, a non-literal as ?.
std::string decorator_text(const Decorator& decorator) {
  std::string text = decorator.decorator_name;
  if (decorator.args.empty() && decorator.kwargs.empty()) return text;
  std::string separator = "(";
  for (const auto& arg : decorator.args) {
    text += separator + literal_text(arg);
    separator = ", ";
  }
  for (const auto& [keyword, value] : decorator.kwargs) {
    text += separator + keyword + "=" + literal_text(value);
    separator = ", ";
  }
  return text + ")";
}

using Lines = std::vector<std::string>;

TEST(Outline, EmptySourceGivesEmptyOutline) {
  EXPECT_EQ(outline_of(""), Outline{});
  EXPECT_EQ(outline_of("\n\n# only a comment\n"), Outline{});
}

TEST(Outline, DefinitionsKindsQualnamesAndSpans) {
  struct Case {
    std::string_view name;
    std::string_view source;
    Lines definitions;
  };
  const Case cases[] = {
      {"nested classes and their methods",
       R"(class A:
    def m(self):
        pass
    class B:
        def m(self):
            pass
)",
       {"class A 1-6 @1:7", "method A.m 2-3 @2:9", "class A.B 4-6 @4:11", "method A.B.m 5-6 @5:13"}},
      {"nothing inside a function body, at any depth",
       R"(def outer():
    def inner():
        pass
    class Local:
        def m(self):
            def deeper(): pass
    return inner
async def coro():
    pass
)",
       {"function outer 1-7 @1:5", "function coro 8-9 @8:11"}},
      {"module-level blocks keep functions; class-level blocks keep methods",
       R"(if TYPE_CHECKING:
    def f(): ...
class C:
    if sys.version_info >= (3, 8):
        def m(self): ...
    else:
        def m(self): ...
    try:
        def t(self): ...
    except ImportError:
        pass
with ctx:
    def w(): ...
for x in y:
    class K:
        def k(self): ...
while 0:
    async def a(): ...
)",
       {"function f 2-2 @2:9", "class C 3-11 @3:7", "method C.m 5-5 @5:13", "method C.m 7-7 @7:13",
        "method C.t 9-9 @9:13", "function w 13-13 @13:9", "class K 15-16 @15:11", "method K.k 16-16 @16:13",
        "function a 18-18 @18:15"}},
      {"a decorated definition starts at its first decorator",
       R"(import x

@first
@second(1)
def f(
    a,
):
    return a

@dataclass
class P:
    x: int
    @property
    def m(self): ...
)",
       {"function f 3-8 @5:5", "class P 10-14 @11:7", "method P.m 13-14 @14:9"}},
      {"the last token ends the span; a comment in the block is part of it",
       "def f():\n    return 1\n    # inner\n\n# outer\nx = 1\n",
       {"function f 1-3 @1:5"}},
      {"CRLF line ends",
       "class A:\r\n    def m(self):\r\n        pass\r\n",
       {"class A 1-3 @1:7", "method A.m 2-3 @2:9"}},
      {"the column counts bytes",
       "if \"\xc3\xa9\": \n    def f(): pass\nx = \"\xc3\xa9\"; y = 1\n",
       {"function f 2-2 @2:9"}},
      {"lambdas and assignments are not definitions", "f = lambda: 0\nclass E: pass\n", {"class E 2-2 @2:7"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Outline outline = outline_of(c.source);
    EXPECT_EQ(definitions_of(outline), c.definitions);
    EXPECT_FALSE(outline.has_error);
  }
}

TEST(Outline, Decorators) {
  struct Case {
    std::string_view source;
    Lines decorators;
  };
  const Case cases[] = {
      {"@app.route('/x', methods=['GET'])\ndef f(): pass\n", {"app.route(\"/x\", methods=?)"}},
      {"@pytest.fixture(autouse=True, name=\"db\", scope=scope)\ndef f(): pass\n",
       {"pytest.fixture(autouse=True, name=\"db\", scope=?)"}},
      {"@dec(f'{x}', f'plain', '', 1, None, False)\ndef f(): pass\n", {"dec(?, \"plain\", \"\", ?, ?, False)"}},
      // Escape sequences stay as written; prefixes and quotes are dropped; a concatenation,
      // a splat and a comment are no literal.
      {R"(@dec(1,  # note
     "a\n", r'raw', b"bytes", """doc""", "a" "b", *rest, **options)
def f(): pass
)",
       {R"(dec(?, ?, "a\n", "raw", "bytes", "doc", ?, ?, ?))"}},
      {"@x[0]\n@a().b\n@factory()\n@property\ndef f(): pass\n", {"a.b", "factory", "property"}},
      {"@first\n@second.third(True)\nclass C: pass\n", {"first", "second.third(True)"}},
      {"@buttons[0].clicked.connect\n@(lambda f: f)\ndef f(): pass\n", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    Outline outline = outline_of(c.source);
    ASSERT_EQ(outline.definitions.size(), 1u);
    Lines decorators;
    for (const auto& d : outline.definitions[0].decorators) decorators.push_back(decorator_text(d));
    EXPECT_EQ(decorators, c.decorators);
  }
}

TEST(Outline, ParameterNames) {
  struct Case {
    std::string_view source;
    Lines names;
  };
  const Case cases[] = {
      {"def f(a, b: int, c=1, d: int = 2, *args, e, **kw): pass\n", {"a", "b", "c", "d", "e"}},
      {"def g(*args: int, **kw: str): pass\n", {"*args", "**kw"}},
      {"def h(a, /, b, *, c): pass\n", {"a", "b", "c"}},
      {"def k(self,  # comment\n      x=lambda y: y): pass\n", {"self", "x"}},
      {"def n(): pass\n", {}},
      {"class C(Base): pass\n", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    Outline outline = outline_of(c.source);
    ASSERT_EQ(outline.definitions.size(), 1u);
    EXPECT_EQ(outline.definitions[0].parameter_names, c.names);
  }
}

TEST(Outline, SuperclassNames) {
  struct Case {
    std::string_view source;
    Lines names;
  };
  const Case cases[] = {
      {"class C(Base, mod.Mixin, Generic[T], metaclass=M): pass\n", {"Base", "mod.Mixin", "Generic"}},
      {"class D(make(), typing.Generic[T], f()[0], a().b): pass\n", {"make", "typing.Generic", "f", "a.b"}},
      {"class E(*bases, **kw, x[0].y, 'str', # comment\n  Last): pass\n", {"Last"}},
      {"class F: pass\n", {}},
      {"class G(): pass\n", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    Outline outline = outline_of(c.source);
    ASSERT_EQ(outline.definitions.size(), 1u);
    EXPECT_EQ(outline.definitions[0].superclass_names, c.names);
  }
}

// The header runs to the colon of the definition itself, not to one inside a lambda default,
// an annotation's slice or a base's call.
TEST(Outline, HeaderEndsAtTheColonThatOpensTheBody) {
  struct Case {
    std::string_view source;
    std::vector<std::uint32_t> header_ends;  // one per definition, in outline order
  };
  const Case cases[] = {
      {"def f(): return 1\n", {1}},
      {"@cache(maxsize=1)\n@other\ndef f(\n    key=lambda x: x,\n    rows: dict[str, int] = {1: 2},\n) -> list[int]:\n"
       "    return []\n",
       {6}},
      {"class C(\n    make(lambda: 1),\n    metaclass=M,\n):\n    x: int = 1\n\n    def m(self,\n          y=2):\n"
       "        pass\n",
       {4, 8}},
      {"async def g(a: \"A\"):\n\n    await a\n", {1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    std::vector<std::uint32_t> ends;
    for (const Definition& definition : outline_of(c.source).definitions) ends.push_back(definition.header_end_line);
    EXPECT_EQ(ends, c.header_ends);
  }
}

TEST(Outline, ImportRangesCoverEveryImportStatement) {
  Outline outline = outline_of(R"(from __future__ import annotations
import os
from a import (
    b,
    c,
)
def f():
    import json
class C:
    from x import y
if t:
    import z as zz
x = 1
)");
  EXPECT_EQ(outline.import_ranges, (std::vector<LineRange>{{1, 1}, {2, 2}, {3, 6}, {8, 8}, {10, 10}, {12, 12}}));
}

TEST(Outline, AliasedImportsEverywhere) {
  Outline outline = outline_of(R"(import a.b.c as d, e
from x import y as z, w
from . import q as r
def f():
    import json as j
from __future__ import annotations as ann
)");
  EXPECT_EQ(outline.aliased_imports, (std::vector<ImportAlias>{{"c", "d", 1, 17},
                                                               {"y", "z", 2, 20},
                                                               {"q", "r", 3, 20},
                                                               {"json", "j", 5, 20},
                                                               {"annotations", "ann", 6, 39}}));
}

TEST(Outline, ModuleLevelNames) {
  Outline outline = outline_of(R"(import os.path
import a.b as ab, c
from . import x as y
from pkg.sub import name, other as alias
from m import *
from __future__ import annotations
x = 1
x: int = 1
x += 1
a, b = t
obj.attr = 1
items[0] = 1
first = second = 3
if cond:
    inside = 1
try:
    import optional
except ImportError:
    optional = None
def f():
    local = 1
    import json
class C:
    attr = 1
@dec
def g(): pass
if "é": z = 1
)");
  EXPECT_EQ(outline.module_names, (std::vector<ModuleLevelName>{{"os", 1, 8},
                                                                {"ab", 2, 15},
                                                                {"c", 2, 19},
                                                                {"y", 3, 20},
                                                                {"name", 4, 21},
                                                                {"alias", 4, 36},
                                                                {"x", 7, 1},
                                                                {"x", 8, 1},
                                                                {"first", 13, 1},
                                                                {"inside", 15, 5},
                                                                {"optional", 17, 12},
                                                                {"optional", 19, 5},
                                                                {"z", 27, 10}}));
}

// What each module-level `from` import binds, and from where; imports in functions bind nothing there.
TEST(Outline, FromImportsAtModuleLevel) {
  Outline outline = outline_of(R"(from . import x as y
from pkg . sub import (name,
    other as alias)
from ..up import *
import os
if cond:
    from m import z
def f():
    from n import local
)");
  EXPECT_EQ(outline.from_imports, (std::vector<FromImport>{
                                      {".", {{"x", "y"}}, false},
                                      {"pkg.sub", {{"name", "name"}, {"other", "alias"}}, false},
                                      {"..up", {}, true},
                                      {"m", {{"z", "z"}}, false},
                                  }));
}

TEST(Outline, SyntaxErrorsKeepTheWellFormedParts) {
  struct Case {
    std::string_view source;
    Lines definitions;
  };
  const Case cases[] = {
      // A missing token is an error too, though the tree around it is whole.
      {"def broken(:\n    pass\n\ndef good():\n    return 1\n", {"function broken 1-2 @1:5", "function good 4-5 @4:5"}},
      {"class A:\n    x = 1\n\n\n@dec\n", {"class A 1-2 @1:7"}},
      {"class A:\n    def m(self):\n        x = (\n\ndef g(): pass\n",
       {"class A 1-3 @1:7", "method A.m 2-3 @2:9", "function g 5-5 @5:5"}},
      {"class A: def m(self): pass\n", {"class A 1-1 @1:7", "function m 1-1 @1:14"}},
      {"x = (\n", {}},
      {"def lost()\n    pass\n", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    Outline outline = outline_of(c.source);
    EXPECT_EQ(definitions_of(outline), c.definitions);
    EXPECT_TRUE(outline.has_error);
  }
}

TEST(Outline, DeeplyNestedSourceDoesNotExhaustTheStack) {
  const std::size_t depth = 100000;
  std::string source = "x = " + std::string(depth, '(') + "1" + std::string(depth, ')') + "\n";
  source += "class C(" + std::string(depth, '(') + "a" + std::string(depth, ')') + "):\n    def m(self): pass\n";
  std::string chain = "d";
  for (std::size_t i = 0; i < depth / 4; ++i) chain += "().a";
  source += "@" + chain + "\ndef f(): pass\n";
  Outline outline = outline_of(source);
  EXPECT_EQ(definitions_of(outline), (Lines{"class C 2-3 @2:7", "method C.m 3-3 @3:9", "function f 4-5 @5:5"}));
  EXPECT_FALSE(outline.has_error);
  ASSERT_EQ(outline.definitions.size(), 3u);
  ASSERT_EQ(outline.definitions[2].decorators.size(), 1u);
  EXPECT_EQ(outline.definitions[2].decorators[0].decorator_name.size(), 1 + 2 * (depth / 4));
  EXPECT_EQ(outline.module_names, (std::vector<ModuleLevelName>{{"x", 1, 1}}));
}

TEST(Outline, GrammarAbiVersionCheck) {
  EXPECT_TRUE(check_grammar_abi_version(13).has_value());
  EXPECT_TRUE(check_grammar_abi_version(15).has_value());
  auto too_old = check_grammar_abi_version(12);
  ASSERT_FALSE(too_old.has_value());
  EXPECT_EQ(too_old.error().render(),
            "could not load the tree-sitter Python grammar: "
            "Incompatible language version 12. Expected minimum 13, maximum 15");
  auto too_new = check_grammar_abi_version(16);
  ASSERT_FALSE(too_new.has_value());
  EXPECT_EQ(too_new.error().chain(),
            (std::vector<std::string>{"could not load the tree-sitter Python grammar",
                                      "Incompatible language version 16. Expected minimum 13, maximum 15"}));
}

TEST(OutlineShared, FillsTheSlotOnceAndSharesTheOutline) {
  OutlineSlot slot;
  SharedOutline first = outline_shared(slot, "def f(): pass\n");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(definitions_of(*first), (Lines{"function f 1-1 @1:5"}));
  ASSERT_TRUE(slot.has_value());
  EXPECT_EQ(*slot, first);
  // A filled slot is not outlined again, whatever text comes with it.
  EXPECT_EQ(outline_shared(slot, "def g(): pass\n"), first);
}

TEST(OutlineShared, NoneForASourceWithSyntaxErrors) {
  OutlineSlot slot;
  EXPECT_EQ(outline_shared(slot, "def good(): pass\ndef broken(:\n"), nullptr);
  ASSERT_TRUE(slot.has_value());
  EXPECT_EQ(*slot, nullptr);
  EXPECT_EQ(outline_shared(slot, "def good(): pass\n"), nullptr);
}

}  // namespace
}  // namespace pindrel::pysource
