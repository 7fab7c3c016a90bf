#include "project/workspace.hpp"

#include "util/utf8.hpp"

#include <string_view>
#include <utility>

namespace pindrel {

Result<Workspace> open_project(const std::filesystem::path& workspace_root, const Environment& env) {
  std::filesystem::path executable;
  if (env.pindrel_git) {
    executable = *env.pindrel_git;
    // git runs in the workspace root and then in the top level; a relative path that names
    // a file means the one below the directory pindrel was started in, in every one of them.
    // A bare name stays a name, searched on PATH when git starts.
    if (executable.is_relative() && env.pindrel_git->find('/') != std::string::npos &&
        !env.path_search.current_dir.empty()) {
      executable = env.path_search.current_dir / executable;
    }
  } else {
    auto found = find_on_path("git", env.path_search);
    if (!found) return std::unexpected(std::move(found.error()).context("`git` not found on PATH"));
    executable = std::move(*found);
  }

  auto top = git_stdout(GitHandle{executable, workspace_root, env.git_config_count}, {"rev-parse", "--show-toplevel"});
  if (!top) {
    return std::unexpected(
        std::move(top.error()).context(display_path(workspace_root) + " is not inside a git repository"));
  }
  // git ends the path with a line feed; a top level whose own name ends in white space keeps it.
  std::string_view printed = *top;
  if (printed.ends_with('\n')) printed.remove_suffix(1);
  std::string root(printed);

  auto config = load_config(root);
  if (!config) return std::unexpected(std::move(config.error()));
  return Workspace{std::move(*config), GitHandle{std::move(executable), root, env.git_config_count}, root};
}

}  // namespace pindrel
