#include "pysource/outline.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace pindrel::pysource {
namespace {

std::string_view kind_word(NameUseKind kind) {
  switch (kind) {
    case NameUseKind::runs: return "runs";
    case NameUseKind::own_name: return "own_name";
    case NameUseKind::annotation: return "annotation";
    case NameUseKind::annotation_subscript: return "annotation_subscript";
    case NameUseKind::stored: return "stored";
    case NameUseKind::instantiated: return "instantiated";
    case NameUseKind::not_run: return "not_run";
    case NameUseKind::base: return "base";
    case NameUseKind::base_subscript: return "base_subscript";
    case NameUseKind::class_keyword: return "class_keyword";
  }
  return "?";
}

// The uses of `name` in the source, each "line:column kind", with " -> bound names" for
// those that bind and " of line:column" for a base's class; "=" marks a kept value.
std::vector<std::string> uses_of(std::string_view source, std::string_view name) {
  auto outline = outline_python_source(source, ImportTimeDetail::name_uses);
  EXPECT_TRUE(outline.has_value());
  std::vector<std::string> lines;
  if (!outline) return lines;
  for (const NameUse& use : outline->name_uses) {
    if (use.name != name) continue;
    std::string line =
        std::to_string(use.line) + ":" + std::to_string(use.column) + " " + std::string(kind_word(use.kind));
    if (use.keeps_value) line += " =";
    if (!use.bound.empty()) {
      line += " ->";
      for (const BoundName& bound : use.bound) {
        line += " " + bound.qualname + "@" + std::to_string(bound.line) + ":" + std::to_string(bound.column);
      }
    }
    if (use.class_line != 0) line += " of " + std::to_string(use.class_line) + ":" + std::to_string(use.class_column);
    lines.push_back(std::move(line));
  }
  return lines;
}

using Lines = std::vector<std::string>;

TEST(NameUses, EachPlaceOfImportTimeCodeSaysWhatRunsThere) {
  struct Case {
    std::string_view name;
    std::string_view source;
    Lines want;
  };
  const Case cases[] = {
      // An argument and an operand run, and a line where the name only runs is not listed; a
      // call whose result is only bound is told apart, for a class instantiated.
      {"f", "x = f()\ny = g(f)\nz = [f(1)]\nw = f + 1\n", {"1:5 instantiated -> x@1:1", "3:6 instantiated -> z@3:1"}},
      {"f", "x = f\n", {"1:5 stored = -> x@1:1"}},
      {"f", "a = b = f\nc, d = f\nobj.attr = f\n", {"1:9 stored = -> a@1:1 b@1:5"}},
      {"f", "T = (f, g)\nD = {'k': f}\nS = {f}\n", {"1:6 stored -> T@1:1", "2:11 stored -> D@2:1"}},
      // An attribute read off the name is bound where the attribute is: `make = Foo.create`
      // may be called later.
      {"f", "f.__doc__ = 'x'\nf\nname = f.__name__\n", {"1:1 not_run", "2:1 not_run", "3:8 stored -> name@3:1"}},
      // One runs beside one that does not: both are listed, so the line is seen to run.
      {"f", "x = f; g(f)\n", {"1:5 stored = -> x@1:1", "1:10 runs"}},
      {"f",
       "class C:\n    _f = f\n    p = property(f)\n    s = staticmethod(f)\n    q = functools.partial(f, 1)\n",
       {"2:10 stored = -> C._f@2:5", "3:18 stored -> C.p@3:5", "4:22 stored -> C.s@4:5", "5:27 stored -> C.q@5:5"}},
      {"T", "T = TypeVar('T', bound=Base)\nU = TypeVar('U', bound=T)\n", {"1:1 not_run", "2:24 stored -> U@2:1"}},
      {"keys", "def cached(key=keys.hashkey, k=hashkey):\n    pass\n", {"1:16 stored"}},
      {"hashkey", "def cached(key=keys.hashkey, k=hashkey):\n    pass\n", {"1:21 stored", "1:32 stored"}},
      {"f", "def g(x=f(), y=lambda: f()):\n    pass\n", {"1:9 instantiated", "1:24 stored"}},
      {"f", "h = sorted(xs, key=lambda x: f(x))\n", {}},
      // A class instantiated where the instance is only bound, or dropped.
      {"Foo",
       "app = Foo()\nFoo(1)\nFoo().run()\nregister(Foo())\n",
       {"1:7 instantiated -> app@1:1", "2:1 instantiated"}},
      {"Foo", "class C:\n    x = pkg.Foo(1)\n", {"2:13 instantiated -> C.x@2:5"}},
      // Bases, a base through a subscript, a class keyword, and a call among the bases.
      {"Base",
       "class C(Base, mod.Base, Base[int], make(Base)):\n    pass\n",
       {"1:9 base of 1:7", "1:19 base of 1:7", "1:25 base_subscript of 1:7", "1:41 runs"}},
      {"Meta", "class C(A, metaclass=Meta):\n    pass\n", {"1:22 class_keyword of 1:7"}},
      {"C", "class C(A):\n    pass\n", {"1:7 own_name"}},
      // Annotations: looked up, except where they call something; the subscripted base is told apart.
      {"Foo",
       "x: Foo = 1\ndef f(a: Foo, *b: Foo) -> Foo:\n    pass\n",
       {"1:4 annotation", "2:10 annotation", "2:19 annotation", "2:27 annotation"}},
      {"Foo",
       "def f(a: list[Foo], b: Foo[int], c: Annotated[int, Foo()]):\n    pass\n",
       {"1:15 annotation", "1:24 annotation_subscript", "1:52 runs"}},
      {"Foo",
       "from __future__ import annotations\ndef f(b: Foo[int], c: Annotated[int, Foo()]):\n    pass\n",
       {"2:10 annotation", "2:38 annotation"}},
      // Under the `__main__` guard nothing runs at import; its other branch does.
      {"main", "if __name__ == '__main__':\n    main()\nelse:\n    main()\n", {"2:5 not_run", "4:5 instantiated"}},
      {"main", "class C:\n    if __name__ == '__main__':\n        main()\n", {"3:9 instantiated"}},
      // A decorator runs; a function's body is not read.
      {"f", "@f\ndef g():\n    return f\n", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    EXPECT_EQ(uses_of(c.source, c.name), c.want);
  }
}

// Only the callers that ask for the uses get them.
TEST(NameUses, OnlyWhatIsAskedForIsRead) {
  constexpr std::string_view source = "x = f\n";
  auto none = outline_python_source(source);
  auto uses = outline_python_source(source, ImportTimeDetail::name_uses);
  ASSERT_TRUE(none && uses);
  EXPECT_TRUE(none->name_uses.empty());
  EXPECT_EQ(uses->name_uses.size(), 2u);  // the target x and the bound f
  EXPECT_EQ(none->definitions, uses->definitions);
}

}  // namespace
}  // namespace pindrel::pysource
