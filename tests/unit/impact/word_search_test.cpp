#include "impact/word_search.hpp"
#include "scratch.hpp"

#include <gtest/gtest.h>

namespace pindrel::impact {
namespace {

TEST(WordSearch, WholeWordLinesInCacheOrder) {
  pindrel::test_support::ScratchDir dir;
  pindrel::test_support::write_file(dir.path() / "b.py", "app = 1\r\nx = app.y  # app\napple\nmyapp\n\n  app");
  pindrel::test_support::write_file(dir.path() / "a.py", "\n\napp\n");
  pindrel::test_support::write_file(dir.path() / "notes.txt", "app\n");
  SourceCache cache = new_source_cache(dir.path(), std::vector<std::string>{"b.py", "gone.py", "a.py", "notes.txt"});

  auto hits = grep_word_in_files(cache, "app");
  ASSERT_TRUE(hits) << hits.error().render();
  const std::vector<ReferenceSite> expected = {{"b.py", 1}, {"b.py", 2}, {"b.py", 6}, {"a.py", 3}};
  EXPECT_EQ(*hits, expected);

  auto none = grep_word_in_files(cache, "zebra");
  ASSERT_TRUE(none);
  EXPECT_TRUE(none->empty());
}

TEST(WordSearch, ReadErrorEndsTheSearch) {
  pindrel::test_support::ScratchDir dir;
  std::filesystem::create_directories(dir.path() / "pkg.py");
  SourceCache cache = new_source_cache(dir.path(), std::vector<std::string>{"pkg.py"});
  auto hits = grep_word_in_files(cache, "app");
  ASSERT_FALSE(hits);
  EXPECT_EQ(hits.error().render(),
            "could not read " + (dir.path() / "pkg.py").string() + ": Is a directory (os error 21)");
}

}  // namespace
}  // namespace pindrel::impact
