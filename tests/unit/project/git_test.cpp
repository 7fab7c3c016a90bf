#include "project/git.hpp"
#include "scratch.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace pindrel {
namespace {

using test_support::ScratchDir;
using test_support::ScratchRepo;
using test_support::write_file;

GitHandle handle_for(const ScratchRepo& repo) { return {"git", repo.path()}; }

// A stand-in for git that runs the shell `script` with git's arguments.
GitHandle fake_git(const ScratchDir& dir, std::string_view script) {
  write_file(dir.path() / "git", "#!/bin/sh\n" + std::string(script) + "\n", test_support::FileMode::executable);
  return {dir.path() / "git", dir.path()};
}

std::string read_all(const std::filesystem::path& path) {
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

TEST(Git, ListingsKeepOddPathsExactlyAndTrackedComeFirst) {
  ScratchRepo repo;
  repo.write(".gitignore", "*.log\n");
  repo.write("plain.py", "");
  repo.write("with space.py", "");
  repo.write("quo\"te.py", "");
  repo.write("new\nline.py", "");
  repo.write("\xC3\xBCn\xC3\xAF/\xE5\x90\x8D.py", "");  // non-ASCII directory and file names
  repo.commit("base");
  repo.write("untracked one.txt", "");
  repo.write("fresh/dir/\xC3\xBC.txt", "");
  repo.write("skipped.log", "");  // ignored: never listed

  const std::vector<std::string> tracked = {".gitignore", "new\nline.py",  "plain.py",
                                            "quo\"te.py", "with space.py", "\xC3\xBCn\xC3\xAF/\xE5\x90\x8D.py"};
  const std::vector<std::string> untracked = {"fresh/dir/\xC3\xBC.txt", "untracked one.txt"};

  auto listed = list_untracked_files(handle_for(repo));
  ASSERT_TRUE(listed) << listed.error().render();
  EXPECT_EQ(*listed, untracked);

  auto all = list_repository_files(handle_for(repo), std::nullopt);
  ASSERT_TRUE(all) << all.error().render();
  std::vector<std::string> expected = tracked;
  expected.insert(expected.end(), untracked.begin(), untracked.end());
  EXPECT_EQ(*all, expected);

  // A given list is used as it is, not checked against git.
  auto given = list_repository_files(handle_for(repo), std::vector<std::string>{"b", "a", "b"});
  ASSERT_TRUE(given) << given.error().render();
  expected = tracked;
  expected.insert(expected.end(), {"b", "a", "b"});
  EXPECT_EQ(*given, expected);
}

TEST(Git, RepositoryListingKeepsAPathGitPrintsMoreThanOnce) {
  ScratchRepo repo;
  repo.write("f.txt", "base\n");
  repo.commit("base");
  repo.git({"checkout", "-q", "-b", "other"});
  repo.write("f.txt", "other\n");
  repo.commit("other");
  repo.git({"checkout", "-q", "main"});
  repo.write("f.txt", "main\n");
  repo.commit("main");
  Command merge{{"git", "merge", "-q", "other"}, repo.path()};
  ASSERT_TRUE(run_captured(merge));  // fails with a conflict, which is the point

  auto all = list_repository_files(handle_for(repo), std::vector<std::string>{});
  ASSERT_TRUE(all) << all.error().render();
  EXPECT_EQ(*all, (std::vector<std::string>{"f.txt", "f.txt", "f.txt"}));  // the three conflict stages
}

// git reads settings from GIT_CONFIG_KEY_<n> for every n below GIT_CONFIG_COUNT; ours go after the caller's.
TEST(Git, EveryProcessTakesNoOptionalLockAndKeepsTheCallersSettings) {
  using Settings = std::vector<std::pair<std::string, std::string>>;
  const Settings none_inherited = {{"GIT_OPTIONAL_LOCKS", "0"},
                                   {"GIT_CONFIG_COUNT", "1"},
                                   {"GIT_CONFIG_KEY_0", "diff.autoRefreshIndex"},
                                   {"GIT_CONFIG_VALUE_0", "false"}};
  struct Case {
    std::optional<std::string> inherited;
    Settings settings;
  };
  const Case cases[] = {
      {std::nullopt, none_inherited},
      {"", none_inherited},
      {"0", none_inherited},
      {"2",
       {{"GIT_OPTIONAL_LOCKS", "0"},
        {"GIT_CONFIG_COUNT", "3"},
        {"GIT_CONFIG_KEY_2", "diff.autoRefreshIndex"},
        {"GIT_CONFIG_VALUE_2", "false"}}},
      // Counts git refuses: git reports them as it would without pindrel.
      {"x", {{"GIT_OPTIONAL_LOCKS", "0"}}},
      {"-1", {{"GIT_OPTIONAL_LOCKS", "0"}}},
      {"18446744073709551615", {{"GIT_OPTIONAL_LOCKS", "0"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.inherited.value_or("unset"));
    EXPECT_EQ(git_environment_settings(c.inherited), c.settings);
  }

  ScratchDir dir;
  const GitHandle git(fake_git(dir, "echo \"$* $GIT_OPTIONAL_LOCKS $GIT_CONFIG_COUNT $GIT_CONFIG_KEY_1\"").executable,
                      dir.path(), "1");
  auto shown = git_stdout(git, {"status"});
  ASSERT_TRUE(shown) << shown.error().render();
  EXPECT_EQ(*shown, "-c core.quotePath=false status 0 2 diff.autoRefreshIndex\n");
}

TEST(Git, EveryCommandStartsWithTheQuotePathOverrideAndAGivenListSavesAProcess) {
  ScratchDir dir;
  const auto log = dir.path() / "log";
  const GitHandle git = fake_git(dir, "echo \"$*\" >> '" + log.native() + "'\nprintf 'a.py\\0'");

  auto with_list = list_repository_files(git, std::vector<std::string>{});
  ASSERT_TRUE(with_list) << with_list.error().render();
  EXPECT_EQ(*with_list, std::vector<std::string>{"a.py"});
  EXPECT_EQ(read_all(log), "-c core.quotePath=false ls-files -z\n");

  std::filesystem::remove(log);
  auto without = list_repository_files(git, std::nullopt);
  ASSERT_TRUE(without) << without.error().render();
  EXPECT_EQ(*without, (std::vector<std::string>{"a.py", "a.py"}));
  EXPECT_EQ(read_all(log),
            "-c core.quotePath=false ls-files -z\n"
            "-c core.quotePath=false ls-files --others --exclude-standard -z\n");
}

TEST(Git, OutputIsDecodedWithReplacementAndFailuresNameTheStatus) {
  ScratchDir dir;
  auto ok = run_git(fake_git(dir, "printf 'a\\377b'; printf 'c\\376' >&2"), {});
  ASSERT_TRUE(ok) << ok.error().render();
  EXPECT_TRUE(ok->success);
  EXPECT_EQ(ok->status, "exit status: 0");
  EXPECT_EQ(ok->out,
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(ok->err, "c\xEF\xBF\xBD");

  struct Case {
    std::string_view script;
    std::string_view status;
    std::string_view message;
  };
  const Case cases[] = {
      {"echo '  fatal: bad  ' >&2; exit 3", "exit status: 3", "`git` exit status: 3 — fatal: bad"},
      {"exit 1", "exit status: 1", "`git` exit status: 1 — "},
      {"echo boom >&2; kill -9 $$", "signal: 9 (SIGKILL)", "`git` signal: 9 (SIGKILL) — boom"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    const GitHandle git = fake_git(dir, c.script);
    auto run = run_git(git, {"status"});
    ASSERT_TRUE(run) << run.error().render();
    EXPECT_FALSE(run->success);
    EXPECT_EQ(run->status, c.status);
    auto out = git_stdout(git, {"status"});
    ASSERT_FALSE(out);
    EXPECT_EQ(out.error().chain(), std::vector<std::string>{std::string(c.message)});
    EXPECT_EQ(list_untracked_files(git).error().render(), "could not list untracked files: " + std::string(c.message));
    EXPECT_EQ(list_repository_files(git, std::vector<std::string>{}).error().render(),
              "could not list tracked files: " + std::string(c.message));
  }
}

TEST(Git, SpawnFailureNamesTheExecutable) {
  ScratchDir dir;
  const GitHandle git{"/nonexistent/git", dir.path()};
  const std::string message = "failed to spawn `/nonexistent/git`: No such file or directory (os error 2)";
  EXPECT_EQ(run_git(git, {"status"}).error().render(), message);
  EXPECT_EQ(list_untracked_files(git).error().render(), "could not list untracked files: " + message);
  // No context: a git that cannot start ends the search for a base at once.
  EXPECT_EQ(resolve_merge_base(git, std::nullopt).error().render(), message);
}

TEST(ResolveMergeBase, DefaultsAreTriedInOrder) {
  ScratchRepo repo;
  const std::string first = repo.commit("first");
  const std::string second = repo.commit("second");
  const GitHandle git = handle_for(repo);

  repo.git({"update-ref", "refs/remotes/origin/main", first});
  EXPECT_EQ(resolve_merge_base(git, std::nullopt), (BaseRefs{"origin/main", first}));

  repo.git({"update-ref", "-d", "refs/remotes/origin/main"});
  EXPECT_EQ(resolve_merge_base(git, std::nullopt), (BaseRefs{"main", second}));

  repo.git({"branch", "-q", "-m", "main", "master"});
  EXPECT_EQ(resolve_merge_base(git, std::nullopt), (BaseRefs{"master", second}));

  repo.git({"branch", "-q", "-m", "master", "trunk"});
  EXPECT_EQ(resolve_merge_base(git, std::nullopt).error().render(),
            "no usable base ref (tried origin/main, main, master). Pass --base with a ref that exists.");
}

TEST(ResolveMergeBase, GivenBaseIsTheOnlyCandidate) {
  ScratchRepo repo;
  const std::string first = repo.commit("first");
  repo.git({"tag", "-a", "-m", "release", "v1"});
  repo.git({"tag", "tree-tag", "HEAD^{tree}"});
  repo.commit("second");
  const GitHandle git = handle_for(repo);

  // An annotated tag names its commit and is reported by its name.
  EXPECT_EQ(resolve_merge_base(git, "v1"), (BaseRefs{"v1", first}));
  EXPECT_EQ(resolve_merge_base(git, "HEAD~1"), (BaseRefs{"HEAD~1", first}));

  struct Case {
    std::string base;
    std::string message;
  };
  const Case cases[] = {
      {"nope", "no usable base ref (tried nope). Pass --base with a ref that exists."},
      {"tree-tag", "no usable base ref (tried tree-tag). Pass --base with a ref that exists."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.base);
    EXPECT_EQ(resolve_merge_base(git, c.base).error().render(), c.message);
  }
}

TEST(ResolveMergeBase, UnrelatedHistoriesHaveNoCommonAncestor) {
  ScratchRepo repo;
  repo.commit("first");
  repo.git({"checkout", "-q", "--orphan", "other"});
  repo.commit("unrelated");

  auto refs = resolve_merge_base(handle_for(repo), "main");
  ASSERT_FALSE(refs);
  EXPECT_EQ(refs.error().chain(),
            (std::vector<std::string>{"no common ancestor between HEAD and `main`", "`git` exit status: 1 — "}));
}

}  // namespace
}  // namespace pindrel
