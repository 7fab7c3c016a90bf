#include "project/git.hpp"

#include "util/process.hpp"
#include "util/utf8.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <iterator>
#include <limits>
#include <string_view>
#include <utility>

namespace pindrel {
namespace {

// Splits `-z` output in one pass; the final NUL leaves an empty piece, which is dropped
// like any other empty one.
std::vector<std::string> split_nul(std::string_view text) {
  std::vector<std::string> paths;
  while (!text.empty()) {
    const std::size_t nul = text.find('\0');
    const std::string_view piece = text.substr(0, nul);
    if (!piece.empty()) paths.emplace_back(piece);
    if (nul == std::string_view::npos) break;
    text.remove_prefix(nul + 1);
  }
  return paths;
}

Error exit_error(const GitOutput& output) {
  return Error("`git` " + output.status + " — " + std::string(trim_white_space(output.err)));
}

}  // namespace

std::vector<std::pair<std::string, std::string>> git_environment_settings(
    const std::optional<std::string>& config_count) {
  std::vector<std::pair<std::string, std::string>> settings{{"GIT_OPTIONAL_LOCKS", "0"}};
  // `git diff` refreshes the index's stat data under the index lock whatever GIT_OPTIONAL_LOCKS
  // says, unless diff.autoRefreshIndex is off. The setting goes after those the environment
  // already passes; a count that git would refuse is left for git to report.
  std::uint64_t count = 0;
  if (config_count && !config_count->empty()) {
    const char* first = config_count->data();
    const char* last = first + config_count->size();
    const auto [end, ec] = std::from_chars(first, last, count);
    if (ec != std::errc() || end != last || count == std::numeric_limits<std::uint64_t>::max()) return settings;
  }
  const std::string index = std::to_string(count);
  settings.emplace_back("GIT_CONFIG_COUNT", std::to_string(count + 1));
  settings.emplace_back("GIT_CONFIG_KEY_" + index, "diff.autoRefreshIndex");
  settings.emplace_back("GIT_CONFIG_VALUE_" + index, "false");
  return settings;
}

Result<GitOutput> run_git(const GitHandle& git, const std::vector<std::string>& args, GitStdout kept) {
  Command command;
  command.argv.reserve(args.size() + 3);
  command.argv.push_back(git.executable.native());
  command.argv.push_back("-c");
  command.argv.push_back("core.quotePath=false");
  command.argv.insert(command.argv.end(), args.begin(), args.end());
  command.cwd = git.directory;
  CaptureOptions options;
  options.env_settings = git_environment_settings(git.config_count);
  auto finished = run_captured(command, options);
  if (!finished) {
    return std::unexpected(
        std::move(finished.error()).context("failed to spawn `" + display_path(git.executable) + "`"));
  }
  GitOutput output;
  output.status = to_text(finished->status);
  // Output kept as bytes, or valid already (nearly always), is moved rather than copied.
  const bool as_is = kept == GitStdout::bytes || is_valid_utf8(finished->out);
  output.out = as_is ? std::move(finished->out) : lossy_utf8(finished->out);
  output.err = lossy_utf8(finished->err);
  output.success = finished->status.success();
  return output;
}

Result<std::string> git_stdout(const GitHandle& git, const std::vector<std::string>& args, GitStdout kept) {
  auto output = run_git(git, args, kept);
  if (!output) return std::unexpected(std::move(output.error()));
  if (!output->success) return std::unexpected(exit_error(*output));
  return std::move(output->out);
}

Result<std::vector<std::string>> list_untracked_files(const GitHandle& git) {
  auto out = git_stdout(git, {"ls-files", "--others", "--exclude-standard", "-z"}, GitStdout::bytes);
  if (!out) return std::unexpected(std::move(out.error()).context("could not list untracked files"));
  return split_nul(*out);
}

Result<std::vector<std::string>> list_repository_files(const GitHandle& git,
                                                       std::optional<std::vector<std::string>> untracked) {
  // Names stay as git gives them: one that is not UTF-8 still names its file.
  auto out = git_stdout(git, {"ls-files", "-z"}, GitStdout::bytes);
  if (!out) return std::unexpected(std::move(out.error()).context("could not list tracked files"));
  std::vector<std::string> files = split_nul(*out);
  if (!untracked) {
    auto listed = list_untracked_files(git);
    if (!listed) return std::unexpected(std::move(listed.error()));
    untracked = std::move(*listed);
  }
  files.reserve(files.size() + untracked->size());
  std::ranges::move(*untracked, std::back_inserter(files));
  return files;
}

Result<std::string> diff_working_tree_text(const GitHandle& git, std::string_view merge_base) {
  return git_stdout(git,
                    {"diff", "-U0", "--no-color", "--no-ext-diff", "--no-textconv", "-M", "--src-prefix=a/",
                     "--dst-prefix=b/", std::string(merge_base), "--"},
                    GitStdout::bytes);
}

Result<std::optional<std::string>> show_file_at(const GitHandle& git, std::string_view commit, std::string_view path) {
  auto shown = run_git(git, {"show", std::string(commit) + ":" + std::string(path)});
  if (!shown) return std::unexpected(std::move(shown.error()));
  if (!shown->success) return std::optional<std::string>();
  return std::optional<std::string>(std::move(shown->out));
}

Result<BaseRefs> resolve_merge_base(const GitHandle& git, const std::optional<std::string>& base) {
  static constexpr std::array<std::string_view, 3> defaults = {"origin/main", "main", "master"};
  std::vector<std::string> candidates;
  if (base) {
    candidates.push_back(*base);
  } else {
    candidates.assign(defaults.begin(), defaults.end());
  }

  const std::string* resolved = nullptr;
  for (const auto& candidate : candidates) {
    // "^{commit}" peels a tag to its commit and refuses a ref that names a tree or blob.
    auto output = run_git(git, {"rev-parse", "--verify", "--quiet", candidate + "^{commit}"});
    if (!output) return std::unexpected(std::move(output.error()));
    if (output->success) {
      resolved = &candidate;
      break;
    }
  }
  if (resolved == nullptr) {
    std::string tried;
    for (const auto& candidate : candidates) {
      if (!tried.empty()) tried += ", ";
      tried += candidate;
    }
    return std::unexpected(Error("no usable base ref (tried " + tried + "). Pass --base with a ref that exists."));
  }

  auto out = git_stdout(git, {"merge-base", "HEAD", *resolved});
  if (!out) {
    return std::unexpected(std::move(out.error()).context("no common ancestor between HEAD and `" + *resolved + "`"));
  }
  return BaseRefs{*resolved, std::string(trim_white_space(*out))};
}

}  // namespace pindrel
