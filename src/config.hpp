#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "error.hpp"
#include "git.hpp"
#include "git_env_policy.hpp"
#include "path_search.hpp"

namespace pindrel {

// The `[tool.pindrel]` table of the repository's pyproject.toml; absent keys take these defaults.
struct Config {
  std::vector<std::string> ignore_decorators;
  std::optional<std::uint32_t> max_depth;
  std::optional<std::uint64_t> max_symbols;
  std::optional<std::uint64_t> budget_ms;
  std::optional<std::uint64_t> suite_ms;
  std::vector<std::string> pytest_command;
  std::optional<std::vector<std::string>> fallback_command;  // absent differs from empty
  GitEnvPolicy git_env = GitEnvPolicy::isolate;
  std::vector<std::string> ignore_paths;
  friend bool operator==(const Config&, const Config&) = default;
};

// The opened project, for one command.
struct Workspace {
  Config config;
  GitHandle git;     // runs in `root`
  std::string root;  // the repository top level as git prints it
};

// What opening the project reads from the environment, as plain values.
struct ProjectEnvironment {
  std::optional<std::string> pindrel_git;  // PINDREL_GIT, used unchanged when set
  PathSearch path_search;

  static ProjectEnvironment from_process();
};

// Finds git, asks it for the repository top level of `workspace_root` and loads the
// configuration there.
Result<Workspace> open_project(const std::filesystem::path& workspace_root, const ProjectEnvironment& env);
Result<Workspace> open_project(const std::filesystem::path& workspace_root);

// Reads and checks `[tool.pindrel]` of `root`/pyproject.toml; no file gives the defaults.
Result<Config> load_config(const std::filesystem::path& root);

}  // namespace pindrel
