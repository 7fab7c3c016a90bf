#include "changed/diff_reader.hpp"

#include <gtest/gtest.h>

#include <ostream>

namespace pindrel::changed {

// Readable failure output for the record comparisons below.
void PrintTo(const FileDiff& d, std::ostream* os) {
  auto path = [](const std::optional<std::string>& p) { return p ? "\"" + *p + "\"" : std::string("none"); };
  auto list = [](const std::vector<HunkRange>& rs) {
    std::string s = "[";
    for (const auto& r : rs) s += " (" + std::to_string(r.start) + "," + std::to_string(r.count) + ")";
    return s + " ]";
  };
  *os << "{old " << path(d.old_path) << ", new " << path(d.new_path) << ", ranges ";
  if (d.ranges) {
    *os << list(d.ranges->old_ranges) << " " << list(d.ranges->new_ranges);
  } else {
    *os << "none";
  }
  *os << (d.is_binary ? ", binary}" : "}");
}

namespace {

using Ranges = std::vector<HunkRange>;

FileDiff with_ranges(std::optional<std::string> old_path, std::optional<std::string> new_path, Ranges old_ranges,
                     Ranges new_ranges) {
  return {std::move(old_path), std::move(new_path), FileRanges{std::move(old_ranges), std::move(new_ranges)}, false};
}

TEST(DiffReader, Records) {
  struct Case {
    std::string_view name;
    std::string_view diff;
    std::vector<FileDiff> want;
  };
  const Case cases[] = {
      {"empty diff", "", {}},
      {"lines before the first record are ignored", "warning: something\n--- a/x.py\n@@ -1 +1 @@\n", {}},
      {"modified file with several hunks, function context ignored",
       R"(diff --git a/m.py b/m.py
index 9405325..6dcb1d1 100644
--- a/m.py
+++ b/m.py
@@ -2 +2 @@ a
-b
+B
@@ -4 +3,0 @@ def f():
-d
@@ -5,0 +5,2 @@ e
+f
+g
)",
       {with_ranges("m.py", "m.py", {{2, 1}, {4, 1}}, {{2, 1}, {5, 2}})}},
      {"new file has only new ranges",
       R"(diff --git a/new.py b/new.py
new file mode 100644
index 0000000..8ba3a16
--- /dev/null
+++ b/new.py
@@ -0,0 +1,3 @@
+a
+b
+c
)",
       {with_ranges(std::nullopt, "new.py", {}, {{1, 3}})}},
      {"deleted file has only old ranges",
       R"(diff --git a/del.py b/del.py
deleted file mode 100644
index 587be6b..0000000
--- a/del.py
+++ /dev/null
@@ -1,2 +0,0 @@
-x
-y
)",
       {with_ranges("del.py", std::nullopt, {{1, 2}}, {})}},
      {"zero counts store no range",
       "diff --git a/m.py b/m.py\n--- a/m.py\n+++ b/m.py\n@@ -7,0 +8,2 @@\n+x\n+y\n@@ -3,2 +2,0 @@\n-p\n-q\n",
       {with_ranges("m.py", "m.py", {{3, 2}}, {{8, 2}})}},
      {"rename with edits has no ranges",
       R"(diff --git a/ren.py b/pkg/moved.py
similarity index 94%
rename from ren.py
rename to pkg/moved.py
index 0ff3bbb..d4de868 100644
--- a/ren.py
+++ b/pkg/moved.py
@@ -20,0 +21 @@
+21
)",
       {{"ren.py", "pkg/moved.py", std::nullopt, false}}},
      {"pure rename has no ranges",
       "diff --git a/a.py b/b.py\nsimilarity index 100%\nrename from a.py\nrename to b.py\n",
       {{"a.py", "b.py", std::nullopt, false}}},
      {"mode-only change keeps equal paths and empty ranges",
       "diff --git a/mode.sh b/mode.sh\nold mode 100644\nnew mode 100755\n",
       {with_ranges("mode.sh", "mode.sh", {}, {})}},
      {"binary file keeps the paths of its diff --git line",
       "diff --git a/b.bin b/b.bin\nindex 88768ef..3e3315e 100644\nBinary files a/b.bin and b/b.bin differ\n",
       {{"b.bin", "b.bin", FileRanges{}, true}}},
      {"binary patch marker",
       "diff --git a/img.png b/img.png\nnew file mode 100644\nGIT binary patch\nliteral 5\nzcmZ\n",
       {{"img.png", "img.png", FileRanges{}, true}}},
      {"source lines that look like path lines change no path",
       "diff --git a/m.py b/m.py\n--- a/m.py\n+++ b/m.py\n@@ -1 +1 @@\n--- a/other.py\n+++ b/other.py\n",
       {with_ranges("m.py", "m.py", {{1, 1}}, {{1, 1}})}},
      {"name with a space: path lines cut at their tab",
       "diff --git a/sp ace.py b/sp ace.py\nindex bca70f3..4286f42 100644\n--- a/sp ace.py\t\n+++ b/sp ace.py\t\n"
       "@@ -1 +1 @@\n-q\n+r\n",
       {with_ranges("sp ace.py", "sp ace.py", {{1, 1}}, {{1, 1}})}},
      {"name holding \" b/\": the diff --git line splits at its first occurrence",
       "diff --git a/x b/y.py b/x b/y.py\nold mode 100644\nnew mode 100755\n",
       {{"x", "y.py b/x b/y.py", std::nullopt, false}}},
      {"name holding \" b/\": the path lines restore it",
       "diff --git a/x b/y.py b/x b/y.py\n--- a/x b/y.py\t\n+++ b/x b/y.py\t\n@@ -2 +2 @@\n",
       {with_ranges("x b/y.py", "x b/y.py", {{2, 1}}, {{2, 1}})}},
      {"quoted names keep their quotes",
       R"(diff --git "a/qu\"ote.py" "b/qu\"ote.py"
index bca70f3..4286f42 100644
--- "a/qu\"ote.py"
+++ "b/qu\"ote.py"
@@ -1 +1 @@
-q
+r
)",
       {{R"("a/qu\"ote.py")", R"("b/qu\"ote.py")", std::nullopt, false}}},
      {"non-ASCII names as printed under core.quotePath=false",
       "diff --git a/caf\xC3\xA9.py b/caf\xC3\xA9.py\n--- a/caf\xC3\xA9.py\n+++ b/caf\xC3\xA9.py\n@@ -1 +1 @@\n",
       {with_ranges("caf\xC3\xA9.py", "caf\xC3\xA9.py", {{1, 1}}, {{1, 1}})}},
      {"carriage returns before newlines are dropped; a last line without newline counts",
       "diff --git a/m.py b/m.py\r\n--- a/m.py\r\n+++ b/m.py\r\n@@ -4 +4 @@",
       {with_ranges("m.py", "m.py", {{4, 1}}, {{4, 1}})}},
      {"malformed hunk headers add nothing",
       "diff --git a/m.py b/m.py\n@@ -1 @@\n@@ +1 -1 @@\n@@ -x +1 @@\n@@ -1 + @@\n@@ -1  +1 @@\n@@ -9 +9\n",
       {with_ranges("m.py", "m.py", {{9, 1}}, {{9, 1}})}},
      {"a diff --git line without b/ gives no paths",
       "diff --git x y\n",
       {with_ranges(std::nullopt, std::nullopt, {}, {})}},
      {"paths compared by component", "diff --git a/d//m.py b/d/m.py\n", {with_ranges("d//m.py", "d/m.py", {}, {})}},
      {"several records in order",
       "diff --git a/a.py b/a.py\n--- a/a.py\n+++ b/a.py\n@@ -1 +1 @@\n"
       "diff --git a/b.py b/b.py\n--- a/b.py\n+++ b/b.py\n@@ -2 +2 @@\n",
       {with_ranges("a.py", "a.py", {{1, 1}}, {{1, 1}}), with_ranges("b.py", "b.py", {{2, 1}}, {{2, 1}})}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(parse_unified_diff(c.diff), c.want);
  }
}

TEST(DiffReader, DiffPath) {
  struct Case {
    std::string_view text;
    std::string_view prefix;
    std::optional<std::string> want;
  };
  const Case cases[] = {
      {"a/pkg/mod.py", "a/", "pkg/mod.py"},          {"b/pkg/mod.py", "b/", "pkg/mod.py"},
      {"b/pkg/mod.py", "a/", "b/pkg/mod.py"},        {"/dev/null", "a/", std::nullopt},
      {"/dev/null\t", "b/", std::nullopt},           {"a/with space.py\t", "a/", "with space.py"},
      {"a/x.py\t2024-01-01 10:00:00", "a/", "x.py"}, {"", "a/", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parse_diff_path(c.text, c.prefix), c.want);
  }
}

TEST(DiffReader, HunkRange) {
  struct Case {
    std::string_view text;
    std::optional<HunkRange> want;
  };
  const Case cases[] = {
      {"5", HunkRange{5, 1}},
      {"7,0", HunkRange{7, 0}},
      {"12,3", HunkRange{12, 3}},
      {"+4,+2", HunkRange{4, 2}},
      {"4294967295,1", HunkRange{4294967295u, 1}},
      {"4294967296", std::nullopt},
      {"", std::nullopt},
      {"3,", std::nullopt},
      {",3", std::nullopt},
      {"-3", std::nullopt},
      {"++3", std::nullopt},
      {"3,2,1", std::nullopt},
      {"3a", std::nullopt},
      {" 3", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parse_hunk_range(c.text), c.want);
  }
}

TEST(DiffReader, ChangedLines) {
  using Spans = std::vector<LineSpan>;
  EXPECT_EQ(changed_lines(Ranges{}), Spans{});
  EXPECT_EQ(changed_lines(Ranges{{10, 3}, {11, 1}}), (Spans{{10, 12}}));
  EXPECT_EQ(changed_lines(Ranges{{8, 2}, {2, 1}}), (Spans{{2, 2}, {8, 9}}));
  EXPECT_EQ(changed_lines(Ranges{{5, 2}, {1, 4}, {3, 1}}), (Spans{{1, 6}}));  // touching ranges join
  EXPECT_EQ(changed_lines(Ranges{{4294967294u, 5}}), (Spans{{4294967294u, 4294967294u}}));
  EXPECT_EQ(changed_lines(Ranges{{4294967295u, 1}}), Spans{});
  EXPECT_EQ(changed_lines(Ranges{{1, 4294967295u}}), (Spans{{1, 4294967294u}}));  // one span, not four billion lines
}

}  // namespace
}  // namespace pindrel::changed
