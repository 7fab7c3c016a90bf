#include "pysource/header_evaluation.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pindrel::pysource {
namespace {

TEST(HeaderEvaluation, HoldsWhatTheHeaderRunsAndNothingElse) {
  const auto header = [](std::string_view source) {
    auto outlined = outline_keeping_tree(std::string(source));
    EXPECT_TRUE(outlined.has_value() && !outlined->outline.definitions.empty());
    if (!outlined || outlined->outline.definitions.empty()) return std::optional<std::uint64_t>();
    return evaluated_header(*outlined->tree, outlined->outline.definitions.front());
  };
  // Names, parameters without defaults, bodies and `async` run nothing at import.
  EXPECT_EQ(header("def f(a, b):\n    return 1\n"), 0u);
  EXPECT_EQ(header("async def g(a, *args, c, **kw): return 2\n"), 0u);
  EXPECT_EQ(header("class C:\n    x = 1\n"), 0u);
  EXPECT_EQ(header("class C:\n    def m(self, a=1):\n        pass\n"), 0u);
  EXPECT_EQ(header("def f(a: int, b=1) -> str:\n    pass\n"), header("def g(x: int, y = 1)->str:\n    pass\n"));
  EXPECT_NE(header("def f(b=1):\n    pass\n"), header("def f(b=2):\n    pass\n"));
  EXPECT_NE(header("def f(b: int):\n    pass\n"), header("def f(b: str):\n    pass\n"));
  EXPECT_NE(header("def f() -> int:\n    pass\n"), header("def f():\n    pass\n"));
  EXPECT_NE(header("@cache\ndef f():\n    pass\n"), header("def f():\n    pass\n"));
  EXPECT_NE(header("class C(A):\n    pass\n"), header("class C(B):\n    pass\n"));
  EXPECT_NE(header("class C(A, metaclass=M):\n    pass\n"), header("class C(A):\n    pass\n"));
  // A body on the class line runs with it, and type parameters make objects as the definition runs.
  EXPECT_NE(header("class C(A): x = f()\n"), header("class C(A): x = g()\n"));
  EXPECT_NE(header("class C[T](A):\n    pass\n"), header("class C(A):\n    pass\n"));
  EXPECT_NE(header("def f[T]():\n    pass\n"), header("def f():\n    pass\n"));
  // Postponed annotations are not evaluated at all.
  EXPECT_EQ(header("from __future__ import annotations\ndef f(b: int) -> int:\n    pass\n"),
            header("from __future__ import annotations\ndef f(b: str):\n    pass\n"));
}

TEST(HeaderEvaluation, OnlyADefinitionOfTheTreeIsRead) {
  auto outlined = outline_keeping_tree("def f(a=1):\n    pass\n");
  ASSERT_TRUE(outlined.has_value());
  Definition elsewhere = outlined->outline.definitions.front();
  elsewhere.line = 2;
  EXPECT_EQ(evaluated_header(*outlined->tree, elsewhere), std::nullopt);
}

}  // namespace
}  // namespace pindrel::pysource
