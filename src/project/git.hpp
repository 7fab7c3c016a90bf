#pragma once

#include "util/error.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pindrel {

// What every git command needs: the program and the directory it runs in.
struct GitHandle {
  GitHandle() = default;
  GitHandle(std::filesystem::path program, std::filesystem::path dir, std::optional<std::string> count = std::nullopt)
      : executable(std::move(program)), directory(std::move(dir)), config_count(std::move(count)) {}

  std::filesystem::path executable;  // PINDREL_GIT unchanged, or the PATH lookup's result
  std::filesystem::path directory;
  std::optional<std::string> config_count;  // GIT_CONFIG_COUNT as pindrel found it
};

// One finished git process.
struct GitOutput {
  std::string status;  // "exit status: N", "signal: N (SIGNAME)" or "signal: N (SIGNAME) (core dumped)"
  std::string out;     // standard output, invalid UTF-8 replaced by U+FFFD unless kept as bytes
  std::string err;     // standard error, decoded the same way
  bool success = false;
};

// The resolved base of a comparison.
struct BaseRefs {
  std::string base;        // the candidate ref that resolved, spelt as it was tried
  std::string merge_base;  // the merge-base commit id of HEAD and `base`
  friend bool operator==(const BaseRefs&, const BaseRefs&) = default;
};

// How a git command's standard output is kept: as text, invalid UTF-8 replaced, or as the
// bytes git wrote, for output whose paths must name files that are not UTF-8.
enum class GitStdout { text, bytes };

// What every git process gets in its environment, so that it takes none of the locks a
// read-only run can do without; `config_count` is the GIT_CONFIG_COUNT that is extended.
std::vector<std::pair<std::string, std::string>> git_environment_settings(
    const std::optional<std::string>& config_count);

// Runs `git -c core.quotePath=false ARGS...` in the handle's directory with an empty
// standard input and `git_environment_settings`. Fails only when git cannot be started or its
// output not collected.
Result<GitOutput> run_git(const GitHandle& git, const std::vector<std::string>& args, GitStdout kept = GitStdout::text);

// The untrimmed standard output of a git command whose unsuccessful exit is an error.
Result<std::string> git_stdout(const GitHandle& git, const std::vector<std::string>& args,
                               GitStdout kept = GitStdout::text);

// Untracked files not excluded by git's standard ignore rules, in git's order, as the bytes
// git wrote: a path need not be UTF-8.
Result<std::vector<std::string>> list_untracked_files(const GitHandle& git);

// The tracked files followed by the untracked ones, in git's order, nothing sorted or
// removed, names as bytes (not necessarily UTF-8). A given untracked list is taken over instead
// of listing it again.
Result<std::vector<std::string>> list_repository_files(const GitHandle& git,
                                                       std::optional<std::vector<std::string>> untracked);

// The unified diff of the working tree against `merge_base`: no context lines, renames
// detected, no external diff drivers or text conversion, "a/" and "b/" prefixes. Bytes as
// git wrote them: paths and source lines need not be UTF-8.
Result<std::string> diff_working_tree_text(const GitHandle& git, std::string_view merge_base);

// The text of `path` in `commit`; none when git exits unsuccessfully, as it does for a path
// the commit does not hold. Fails only when git cannot be started.
Result<std::optional<std::string>> show_file_at(const GitHandle& git, std::string_view commit, std::string_view path);

// The first of `base` (alone) or "origin/main", "main", "master" that names a commit,
// with the merge-base of HEAD and it.
Result<BaseRefs> resolve_merge_base(const GitHandle& git, const std::optional<std::string>& base);

}  // namespace pindrel
