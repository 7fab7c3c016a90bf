#pragma once

#include "project/config.hpp"
#include "project/environment.hpp"
#include "project/git.hpp"
#include "util/error.hpp"

#include <filesystem>
#include <string>

namespace pindrel {

// The opened project, for one command.
struct Workspace {
  Config config;
  GitHandle git;     // runs in `root`
  std::string root;  // the repository top level as git prints it
};

// Finds git, asks it for the repository top level of `workspace_root` and loads the
// configuration there.
Result<Workspace> open_project(const std::filesystem::path& workspace_root, const Environment& env);

}  // namespace pindrel
