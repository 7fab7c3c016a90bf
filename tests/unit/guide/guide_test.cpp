#include "guide/guide.hpp"
#include "guide/guide_texts.hpp"
#include "scratch.hpp"
#include "util/utf8.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace pindrel {
namespace {

constexpr GuideChoice setup_not_configured{GuideTopic::setup, GuideChosen::not_configured};
constexpr GuideChoice triage_configured{GuideTopic::triage, GuideChosen::configured};

TEST(GuideChoice, FromPyprojectText) {
  struct Case {
    std::string_view name;
    std::string_view toml;
    GuideChoice expected;
  };
  const Case cases[] = {
      {"empty file", "", setup_not_configured},
      {"the hook step of the setup guide", R"([tool.tolvane]
extend_check = [
  { name = "pindrel", cmd = "pindrel run -- -q", pass_files = false, timeout_s = 120 },
]
)",
       triage_configured},
      {"only a key names the program", "[tool.tolvane]\npindrel = true\n", setup_not_configured},
      {"capitals do not match", "[tool.tolvane]\ncmd = \"PINDREL run\"\n", setup_not_configured},
      {"inside a longer word", "[tool.tolvane]\ncmd = \"xpindrely\"\n", triage_configured},
      {"inside a path", "[tool.tolvane]\ncmd = \".venv/bin/pindrel-hook --fast\"\n", triage_configured},
      {"tolvane is a plain string", "[tool]\ntolvane = \"pindrel run\"\n", triage_configured},
      {"tolvane is a string without the name", "[tool]\ntolvane = \"pytest\"\n", setup_not_configured},
      {"inline tables", "tool = { tolvane = { cmd = \"pindrel\" } }\n", triage_configured},
      {"dotted keys", "tool.tolvane.steps = [\"pindrel run\"]\n", triage_configured},
      {"nested arrays", "[tool.tolvane]\nsteps = [[[\"ruff\"], [\"pindrel\"]]]\n", triage_configured},
      {"nested tables", "[tool.tolvane.hooks.pre]\ncmd = \"pindrel run\"\n", triage_configured},
      {"escapes are decoded first", "[tool.tolvane]\ncmd = \"pin\\u0064rel\"\n", triage_configured},
      {"multi-line literal string", "[tool.tolvane]\ncmd = '''\nuv run pindrel\n'''\n", triage_configured},
      {"values that are not strings", R"([tool.tolvane]
a = 1
b = 1.5
c = true
d = 1979-05-27T07:32:00Z
e = 07:32:00
f = [1, false, {x = 2}]
)",
       setup_not_configured},
      {"empty tolvane table", "[tool.tolvane]\n", setup_not_configured},
      {"another tool names the program", "[tool.pindrel]\nmax-depth = 3\n[tool.other]\ncmd = \"pindrel\"\n",
       setup_not_configured},
      {"tolvane outside tool", "[tolvane]\ncmd = \"pindrel\"\n", setup_not_configured},
      {"key case counts for tool", "[Tool.tolvane]\ncmd = \"pindrel\"\n", setup_not_configured},
      {"key case counts for tolvane", "[tool.Tolvane]\ncmd = \"pindrel\"\n", setup_not_configured},
      {"tool is a string", "tool = \"pindrel\"\n", setup_not_configured},
      {"tool is an array of tables", "[[tool]]\ntolvane = \"pindrel\"\n", setup_not_configured},
      {"syntax error after the step", "[tool.tolvane]\ncmd = \"pindrel\"\n[broken\n", setup_not_configured},
      {"duplicate key", "[tool.tolvane]\ncmd = \"pindrel\"\ncmd = \"pindrel\"\n", setup_not_configured},
      {"not UTF-8", "[tool.tolvane]\ncmd = \"pindrel \xFF\"\n", setup_not_configured},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(choose_guide_topic_from_pyproject(c.toml), c.expected);
  }
}

constexpr std::string_view configured_toml = "[tool.tolvane]\ncmd = \"pindrel run -- -q\"\n";

TEST(GuideDirectory, ReadsPyprojectOfThatDirectory) {
  const test_support::ScratchDir dir;
  test_support::write_file(dir.path() / "pyproject.toml", configured_toml);
  EXPECT_EQ(choose_guide_topic_in(dir.path()), triage_configured);
}

TEST(GuideDirectory, ParentIsNotSearched) {
  const test_support::ScratchDir dir;
  test_support::write_file(dir.path() / "pyproject.toml", configured_toml);
  std::filesystem::create_directories(dir.path() / "pkg");
  EXPECT_EQ(choose_guide_topic_in(dir.path() / "pkg"), setup_not_configured);
}

TEST(GuideDirectory, MissingOrUnreadableFileMeansSetup) {
  const test_support::ScratchDir dir;
  EXPECT_EQ(choose_guide_topic_in(dir.path()), setup_not_configured);
  EXPECT_EQ(choose_guide_topic_in(dir.path() / "does-not-exist"), setup_not_configured);
  std::filesystem::create_directories(dir.path() / "pyproject.toml");
  EXPECT_EQ(choose_guide_topic_in(dir.path()), setup_not_configured);
}

TEST(GuideChoice, ExplicitTopicIsTakenUnchanged) {
  for (auto topic : {GuideTopic::setup, GuideTopic::triage, GuideTopic::tune}) {
    EXPECT_EQ(choose_guide_topic(topic), (GuideChoice{topic, GuideChosen::explicitly}));
  }
}

TEST(RenderGuide, HeaderEmptyLineThenText) {
  struct Case {
    GuideChoice choice;
    std::string_view header;
  };
  const Case cases[] = {
      {{GuideTopic::setup, GuideChosen::explicitly}, "# pindrel guide: setup"},
      {{GuideTopic::triage, GuideChosen::explicitly}, "# pindrel guide: triage"},
      {{GuideTopic::tune, GuideChosen::explicitly}, "# pindrel guide: tune"},
      {triage_configured, "# pindrel guide: configured via pyproject.toml [tool.tolvane] -> triage"},
      {setup_not_configured, "# pindrel guide: not configured here -> setup"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.header);
    const std::string out = render_guide(c.choice);
    EXPECT_EQ(out, std::string(c.header) + "\n\n" + std::string(guide_topic_text(c.choice.topic)));
    EXPECT_TRUE(out.ends_with("`\n")) << "one final newline after the next line";
  }
}

std::vector<std::string> lines_of(std::string_view text) {
  std::vector<std::string> lines;
  std::istringstream in{std::string(text)};
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The texts are hand-wrapped Markdown; these are the properties a reader and the
// header framing rely on.
TEST(GuideTopicText, ShapeOfEachTopic) {
  struct Case {
    GuideTopic topic;
    std::string_view title;
    std::string_view next;
  };
  const Case cases[] = {
      {GuideTopic::setup, "# Setup pindrel in this repository", "next: run `pindrel impacted-tests`"},
      {GuideTopic::triage, "# Triage a pindrel report", "next: run `pindrel run -- -q`"},
      {GuideTopic::tune, "# Tune pindrel", "next: run `pindrel run --dry-run`"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    const std::string_view text = guide_topic_text(c.topic);
    ASSERT_TRUE(text.ends_with("\n"));
    EXPECT_FALSE(text.ends_with("\n\n"));
    const auto lines = lines_of(text);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines.front(), c.title);
    EXPECT_EQ(lines[1], "");
    EXPECT_EQ(lines.back(), c.next);
    bool in_fence = false;
    for (std::size_t i = 1; i < lines.size(); ++i) {
      const std::string& line = lines[i];
      SCOPED_TRACE(line);
      if (line.starts_with("```")) {
        if (!in_fence) {
          EXPECT_TRUE(line == "```bash" || line == "```toml");
        }
        in_fence = !in_fence;
        continue;
      }
      if (in_fence || line.starts_with("|")) continue;
      EXPECT_FALSE(line.starts_with("#")) << "the title is the only heading";
      EXPECT_LE(scalar_count(line), 78u);
      EXPECT_FALSE(line.ends_with(" "));
    }
    EXPECT_FALSE(in_fence) << "unclosed code block";
  }
}

}  // namespace
}  // namespace pindrel
