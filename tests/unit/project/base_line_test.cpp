#include "project/base_line.hpp"

#include <gtest/gtest.h>

namespace pindrel {
namespace {

TEST(BaseLine, ShortensTheMergeBaseToSevenBytes) {
  struct Case {
    std::string_view base, merge_base, line;
  };
  const Case cases[] = {
      {"origin/main", "0123456789abcdef", "base origin/main (merge-base 0123456)\n"},
      {"main", "01234567", "base main (merge-base 0123456)\n"},
      {"main", "0123456", "base main (merge-base 0123456)\n"},
      {"main", "", "base main (merge-base )\n"},
      // The eighth byte continues a character: nothing is cut.
      {"x", "012345\xC3\xA9", "base x (merge-base 012345\xC3\xA9)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(render_base_line(c.base, c.merge_base), c.line);
  }
}

}  // namespace
}  // namespace pindrel
