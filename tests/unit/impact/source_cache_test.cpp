#include "impact/source_cache.hpp"
#include "scratch.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

namespace pindrel::impact {
namespace {

class SourceCacheTest : public ::testing::Test {
 protected:
  void write(const std::string& rel, std::string_view text) { test_support::write_file(root_ / rel, text); }

  test_support::ScratchDir scratch_;
  const std::filesystem::path& root_ = scratch_.path();
};

TEST(SourceCacheFiles, PythonFileRuleLooksAtTheNameOnly) {
  const std::vector<std::string> listed = {
      "a.py",  "pkg/a.b.py", "tests/test_x.py", ".py",      "py",      "a.PY", "a.pyi",
      "a.pyc", "a.py.bak",   "docs/conf.py",    "setup.PY", "pkg/.py", "a.py", "dir.py/"};
  const SourceCache cache = new_source_cache("/repo", listed);
  const std::vector<std::filesystem::path> expected = {"a.py", "pkg/a.b.py", "tests/test_x.py", "docs/conf.py", "a.py"};
  EXPECT_EQ(cache.python_files, expected);
  EXPECT_TRUE(cache.entries.empty());
  EXPECT_TRUE(new_source_cache("/repo", {}).python_files.empty());
}

TEST_F(SourceCacheTest, EntriesAreSharedAndKeyedByComponents) {
  write("pkg/a.py", "def f():\n    pass\n");
  SourceCache cache = new_source_cache(root_, {});
  auto first = read_source_cached(cache, "pkg/a.py");
  ASSERT_TRUE(first) << first.error().render();
  ASSERT_NE(*first, nullptr);
  EXPECT_EQ((*first)->text, "def f():\n    pass\n");

  auto outline = cached_outline(**first);
  ASSERT_NE(outline, nullptr);
  EXPECT_EQ(outline->definitions.at(0).qualname, "f");

  // The second request, spelled differently, gets the same entry and its built outline even
  // though the file has changed on disk meanwhile.
  write("pkg/a.py", "changed = 1\n");
  auto second = read_source_cached(cache, "pkg//a.py");
  ASSERT_TRUE(second);
  EXPECT_EQ(second->get(), first->get());
  ASSERT_TRUE((*second)->outline.has_value());
  EXPECT_EQ(cached_outline(**second), outline);
  EXPECT_EQ(cache.entries.size(), 1u);
}

TEST_F(SourceCacheTest, MissingFileIsRememberedAsAbsent) {
  SourceCache cache = new_source_cache(root_, {});
  auto missing = read_source_cached(cache, "gone.py");
  ASSERT_TRUE(missing);
  EXPECT_EQ(*missing, nullptr);
  write("gone.py", "x = 1\n");  // not looked at again
  auto again = read_source_cached(cache, "gone.py");
  ASSERT_TRUE(again);
  EXPECT_EQ(*again, nullptr);
}

TEST_F(SourceCacheTest, ReadErrorsAreNotRemembered) {
  write("bad.py", "x = '\xFF'\n");
  SourceCache cache = new_source_cache(root_, {});
  for (int attempt = 0; attempt < 2; ++attempt) {
    auto bad = read_source_cached(cache, "bad.py");
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.error().render(),
              "could not read " + (root_ / "bad.py").string() + ": stream did not contain valid UTF-8");
  }
  write("bad.py", "x = 1\n");
  auto fixed = read_source_cached(cache, "bad.py");
  ASSERT_TRUE(fixed);
  ASSERT_NE(*fixed, nullptr);
  EXPECT_EQ((*fixed)->text, "x = 1\n");
}

TEST_F(SourceCacheTest, SystemErrorsNameTheJoinedPath) {
  write("plain.py", "x = 1\n");
  std::filesystem::create_directories(root_ / "pkg.py");
  ASSERT_EQ(::mkfifo((root_ / "fifo.py").c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", root_ / "zero.py");
  SourceCache cache = new_source_cache(root_, {});
  struct Case {
    std::string path;
    std::string reason;
  };
  const Case cases[] = {
      {"pkg.py", "Is a directory (os error 21)"},
      {"plain.py/inner.py", "Not a directory (os error 20)"},
      // The system would stop at the NUL and read plain.py instead.
      {std::string("plain.py\0.bak", 13), "file name contained an unexpected NUL byte"},
      // Reading a FIFO would wait for a writer forever.
      {"fifo.py", "not a regular file"},
      // A device behind a link would be read without end.
      {"zero.py", "not a regular file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    auto failed = read_source_cached(cache, c.path);
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().render(), "could not read " + (root_ / c.path).string() + ": " + c.reason);
  }
  EXPECT_TRUE(cache.entries.empty());
}

// A scan holds a file's text only while it scans it; a later step reads the file again. A file
// read before is scanned as the cache holds it.
TEST_F(SourceCacheTest, ScanKeepsNoText) {
  write("a.py", "x = 1\n");
  write("b.py", "y = 2\n");
  SourceCache cache = new_source_cache(root_, {});
  auto held = read_source_cached(cache, "b.py");
  ASSERT_TRUE(held && *held != nullptr);
  write("a.py", "x = 10\n");
  write("b.py", "y = 20\n");

  std::vector<std::string> scanned;
  const auto keep = [&](std::string_view text) { scanned.emplace_back(text); };
  for (const char* path : {"a.py", "b.py"}) {
    auto found = scan_source(cache, path, keep);
    ASSERT_TRUE(found) << found.error().render();
    EXPECT_TRUE(*found);
  }
  EXPECT_EQ(scanned, (std::vector<std::string>{"x = 10\n", "y = 2\n"}));
  EXPECT_FALSE(cache.entries.contains("a.py"));

  write("a.py", "x = 100\n");
  auto again = read_source_cached(cache, "a.py");
  ASSERT_TRUE(again && *again != nullptr);
  EXPECT_EQ((*again)->text, "x = 100\n");

  auto gone = scan_source(cache, "gone.py", keep);
  ASSERT_TRUE(gone);
  EXPECT_FALSE(*gone);
  EXPECT_EQ(cache.entries.at("gone.py"), nullptr);

  write("bad.py", "\xff\n");
  auto bad = scan_source(cache, "bad.py", keep);
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.error().render(),
            "could not read " + (root_ / "bad.py").string() + ": stream did not contain valid UTF-8");
  EXPECT_EQ(scanned.size(), 2u);
}

TEST_F(SourceCacheTest, AbsolutePathIsReadAsItIs) {
  write("abs.py", "y = 2\n");
  SourceCache cache = new_source_cache("/nonexistent-root", {});
  auto entry = read_source_cached(cache, root_ / "abs.py");
  ASSERT_TRUE(entry) << entry.error().render();
  ASSERT_NE(*entry, nullptr);
  EXPECT_EQ((*entry)->text, "y = 2\n");
}

TEST_F(SourceCacheTest, SyntaxErrorGivesTextWithoutOutline) {
  write("broken.py", "def f(:\n");
  SourceCache cache = new_source_cache(root_, {});
  auto entry = read_source_cached(cache, "broken.py");
  ASSERT_TRUE(entry);
  ASSERT_NE(*entry, nullptr);
  EXPECT_EQ((*entry)->text, "def f(:\n");
  EXPECT_EQ(cached_outline(**entry), nullptr);
  EXPECT_TRUE((*entry)->outline.has_value());  // stored as none, not retried
}

}  // namespace
}  // namespace pindrel::impact
