#include "pysource/word.hpp"

#include <gtest/gtest.h>

namespace pindrel::pysource {
namespace {

TEST(ContainsWord, WholeWordsOnly) {
  struct Case {
    std::string_view line;
    std::string_view name;
    bool found;
  };
  const Case cases[] = {
      {"x = foo(1)", "foo", true},
      {"foo", "foo", true},
      {"a.foo", "foo", true},
      {"(foo)", "foo", true},
      {"foobar", "foo", false},
      {"foo_bar", "foo", false},
      {"_foo", "foo", false},
      {"foo2", "foo", false},
      {"2foo", "foo", false},
      {"Xfoo", "foo", false},
      {"foo_x + foo", "foo", true},  // a later occurrence counts
      {"foofoo foo", "foo", true},
      {"\xC3\xA9"
       "foo\xC3\xA9",
       "foo", true},  // every byte of a non-ASCII character is a boundary
      {"x = foo", "", false},
      {"", "", false},
      {"", "foo", false},
      {"fo", "foo", false},
      {"pkg.mod", "pkg.mod", true},
      // Occurrences do not overlap: after "a-a" at 1, the search goes on from 4.
      {"ba-a-a", "a-a", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.line) + " / " + std::string(c.name));
    EXPECT_EQ(contains_word(c.line, c.name), c.found);
  }
}

}  // namespace
}  // namespace pindrel::pysource
