#pragma once

#include "util/path_search.hpp"

#include <optional>
#include <string>
#include <vector>

namespace pindrel {

// Every environment variable the program reads, taken once at start-up and handed down as
// plain values; unset differs from empty.
struct Environment {
  std::optional<std::string> pindrel_git;       // PINDREL_GIT, used unchanged when set
  std::optional<std::string> pindrel_qlo;       // PINDREL_QLO
  std::optional<std::string> pindrel_pytest;    // PINDREL_PYTEST
  std::optional<std::string> pindrel_fallback;  // PINDREL_FALLBACK, a JSON array
  std::optional<std::string> tmpdir;            // TMPDIR, for the fallback payload
  std::optional<std::string> rust_log;
  std::optional<std::string> no_color;
  // Those of `repository_local_git_vars` that are set, whatever their value, in that table's order.
  std::vector<std::string> git_vars_set;
  std::optional<std::string> git_config_count;  // GIT_CONFIG_COUNT, which the settings pindrel gives git extend
  std::optional<std::string> clicolor_force;  // CLICOLOR_FORCE, CLICOLOR, TERM and CI: colour of help and usage errors
  std::optional<std::string> clicolor;
  std::optional<std::string> term;
  std::optional<std::string> ci;
  PathSearch path_search;  // PATH, HOME and the current directory

  static Environment from_process();
};

}  // namespace pindrel
