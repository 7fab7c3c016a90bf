#pragma once

#include "project/git_env_policy.hpp"
#include "util/error.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

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

// What `run` and the walk read of the project's pytest configuration; list values hold one word each.
struct PytestSettings {
  std::optional<std::vector<std::string>> python_files;      // globs; none keeps pytest's own rule
  std::optional<std::vector<std::string>> python_classes;    // prefixes or globs; none keeps "Test"
  std::optional<std::vector<std::string>> python_functions;  // prefixes or globs; none keeps "test"
  std::vector<std::string> usefixtures;
  std::vector<std::string> addopts;
  std::vector<std::string> testpaths;                     // paths or globs, relative to the root
  std::optional<std::vector<std::string>> norecursedirs;  // fnmatch patterns; none keeps pytest's own
  std::vector<std::string> pythonpath;                    // directories put on sys.path, relative to the root
  friend bool operator==(const PytestSettings&, const PytestSettings&) = default;
};

// Reads the settings from the file pytest would take at `root`, the first of: pytest.ini,
// .pytest.ini with [pytest], pyproject.toml with [tool.pytest.ini_options], tox.ini with
// [pytest], setup.cfg with [tool:pytest]. No such file gives the defaults.
Result<PytestSettings> load_pytest_settings(const std::filesystem::path& root);

// Reads and checks `[tool.pindrel]` of `root`/pyproject.toml; no file gives the defaults.
Result<Config> load_config(const std::filesystem::path& root);

}  // namespace pindrel
