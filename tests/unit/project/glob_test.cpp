#include "project/glob.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace pindrel {
namespace {

bool matches(std::string_view pattern, std::string_view path) {
  return glob_match_segments(glob_segments(pattern), glob_segments(path));
}

TEST(Glob, SegmentsKeepEmptyPieces) {
  EXPECT_EQ(glob_segments("a//b"), (std::vector<std::string_view>{"a", "", "b"}));
  EXPECT_EQ(glob_segments("docs/"), (std::vector<std::string_view>{"docs", ""}));
  EXPECT_EQ(glob_segments("x"), (std::vector<std::string_view>{"x"}));
}

TEST(Glob, Matching) {
  struct Case {
    std::string_view pattern;
    std::string_view path;
    bool match;
  };
  const Case cases[] = {
      {"docs/**", "docs/a.md", true},
      {"docs/**", "docs/x/y/z.png", true},
      {"docs/**", "docs", true},  // `**` may stand for no segment
      {"docs/**", "doc/a.md", false},
      {"docs/**", "sub/docs/a.md", false},
      {"**/*.md", "README.md", true},
      {"**/*.md", "a/b/c.md", true},
      {"*.md", "README.md", true},
      {"*.md", "a/README.md", false},  // `*` never crosses a "/"
      {"**", "a/b/c", true},
      {"**", "x", true},
      {"a/**/b", "a/b", true},
      {"a/**/b", "a/x/y/b", true},
      {"a/**/b", "a/x/y/c", false},
      {"**/b/**", "x/b/y", true},
      {"*.py?", "x.pyc", true},
      {"*.py?", "x.py", false},  // `?` matches exactly one character
      {"?", "a", true},
      {"?", "ab", false},
      {"?", "d/a", false},
      {"Docs/**", "docs/a.md", false},
      {"a*b*c", "abc", true},
      {"a*b*c", "aXbYc", true},
      {"a*b*c", "abbc", true},
      {"a*b*c", "acb", false},
      {"*a", "banana", true},
      {"*", "", true},
      {"a*", "b", false},
      {"a", "a*", false},  // a `*` in the path is an ordinary character
      {"a?", "a*", true},
      {"docs/", "docs/a", false},  // an empty segment matches no listed path
      {"docs//x", "docs/x", false},
      {"./docs/**", "docs/a.md", false},
      {"\xC3\xA9t\xC3\xA9.txt", "\xC3\xA9t\xC3\xA9.txt", true},
      {"?t?.txt", "\xC3\xA9t\xC3\xA9.txt", true},  // `?` is one scalar value, not one byte
      {"??t.txt", "\xC3\xA9t.txt", false},
      {"*\xE5\x90\x8D", "\xE5\x90\x8D\xE5\x90\x8D", true},
      {"e\xCC\x81", "\xC3\xA9", false},  // no normalisation: e and a combining accent differ from é
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " ~ " + std::string(c.path));
    EXPECT_EQ(matches(c.pattern, c.path), c.match);
  }
}

// The matching rules read literally: plain recursion that tries every split for `**`.
bool reference_segment(std::string_view p, std::string_view s) {
  if (p.empty()) return s.empty();
  if (p[0] == '*') return reference_segment(p.substr(1), s) || (!s.empty() && reference_segment(p, s.substr(1)));
  if (s.empty()) return false;
  return (p[0] == '?' || p[0] == s[0]) && reference_segment(p.substr(1), s.substr(1));
}

bool reference_match(std::span<const std::string_view> p, std::span<const std::string_view> s) {
  if (p.empty()) return s.empty();
  if (p[0] == "**") {
    for (std::size_t k = 0; k <= s.size(); ++k) {
      if (reference_match(p.subspan(1), s.subspan(k))) return true;
    }
    return false;
  }
  if (s.empty()) return false;
  return reference_segment(p[0], s[0]) && reference_match(p.subspan(1), s.subspan(1));
}

// Every pattern and path over a small alphabet, so the linear matcher is held to the
// rules on all their interactions, not just hand-picked cases.
TEST(Glob, AgreesWithTheRulesOnEverySmallInput) {
  const std::vector<std::string> pattern_segments = {"**", "*", "a", "?", "a*", "*a", "*a*", "?*", ""};
  const std::vector<std::string> path_segments = {"a", "b", "aa", "ab", "ba", ""};
  std::vector<std::vector<std::string_view>> patterns = {{}}, paths = {{}};
  const std::function<void(std::vector<std::vector<std::string_view>>&, const std::vector<std::string>&, std::size_t,
                           std::vector<std::string_view>&)>
      grow = [&](auto& out, const auto& alphabet, std::size_t depth, auto& current) {
        if (depth == 0) return;
        for (const auto& segment : alphabet) {
          current.push_back(segment);
          out.push_back(current);
          grow(out, alphabet, depth - 1, current);
          current.pop_back();
        }
      };
  std::vector<std::string_view> current;
  grow(patterns, pattern_segments, 3, current);
  grow(paths, path_segments, 3, current);
  for (const auto& p : patterns) {
    for (const auto& s : paths) {
      ASSERT_EQ(glob_match_segments(p, s), reference_match(p, s))
          << ::testing::PrintToString(p) << " ~ " << ::testing::PrintToString(s);
    }
  }
}

TEST(Glob, ManyDoubleStarsOnADeepPathFinish) {
  std::string path;
  for (int i = 0; i < 400; ++i) path += "d/";
  path += "file.txt";
  EXPECT_FALSE(matches("**/**/**/**/**/**/**/**/**/**/**/**/x/**/y", path));
  EXPECT_TRUE(matches("**/**/**/**/**/**/**/**/**/**/**/**/d/**/*.txt", path));
}

TEST(Glob, Validation) {
  struct Case {
    std::string_view pattern;
    std::string_view error;  // empty: valid
  };
  const Case cases[] = {
      {"**", ""},
      {"*.md", ""},
      {"a/**/b", ""},
      {"x?y", ""},
      {"docs/", ""},
      {"docs//x", ""},
      {"./docs/**", ""},
      {"", "an empty pattern matches nothing"},
      {"/tmp/x", "`/tmp/x` is absolute; patterns are relative to the repository root"},
      {"/[x]", "`/[x]` is absolute; patterns are relative to the repository root"},
      {"[abc].txt", "`[abc].txt` uses `[`, which is not supported: only `*`, `?` and `**` are"},
      {"docs/{a,b}", "`docs/{a,b}` uses `{`, which is not supported: only `*`, `?` and `**` are"},
      {"a]b\\c", "`a]b\\c` uses `]`, which is not supported: only `*`, `?` and `**` are"},
      {"a\\b", "`a\\b` uses `\\`, which is not supported: only `*`, `?` and `**` are"},
      {"x}", "`x}` uses `}`, which is not supported: only `*`, `?` and `**` are"},
      {"a/**b", "`a/**b`: `**` must be a whole path segment, as in `docs/**` or `**/*.md`"},
      {"***", "`***`: `**` must be a whole path segment, as in `docs/**` or `**/*.md`"},
      {"[**b", "`[**b` uses `[`, which is not supported: only `*`, `?` and `**` are"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pattern);
    auto valid = validate_ignore_pattern(c.pattern);
    if (c.error.empty()) {
      EXPECT_TRUE(valid) << valid.error().render();
    } else {
      ASSERT_FALSE(valid);
      EXPECT_EQ(valid.error().chain(), std::vector<std::string>{std::string(c.error)});
    }
  }
}

}  // namespace
}  // namespace pindrel
