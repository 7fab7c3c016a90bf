#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace pindrel {

// Whether git's repository-local variables are removed from pytest's environment.
enum class GitEnvPolicy { isolate, inherit };

// The names the command line and the configuration both take, in the order of the enumeration.
inline constexpr std::array<std::string_view, 2> git_env_policy_names = {"isolate", "inherit"};
static_assert(git_env_policy_names.size() == static_cast<std::size_t>(GitEnvPolicy::inherit) + 1);

constexpr std::string_view git_env_policy_name(GitEnvPolicy policy) {
  return git_env_policy_names[static_cast<std::size_t>(policy)];
}

// The policy spelt `name` exactly; none for any other text.
std::optional<GitEnvPolicy> git_env_policy_named(std::string_view name);

// The variables that point git at one repository. A hook exports them so that every git it starts
// works on the repository being committed; a test that makes a repository of its own must not
// inherit them. `isolate` removes them in this order, which is also the order they are shown in.
inline constexpr std::array<std::string_view, 15> repository_local_git_vars = {
    "GIT_ALTERNATE_OBJECT_DIRECTORIES",
    "GIT_CONFIG",
    "GIT_CONFIG_PARAMETERS",
    "GIT_CONFIG_COUNT",
    "GIT_OBJECT_DIRECTORY",
    "GIT_DIR",
    "GIT_WORK_TREE",
    "GIT_IMPLICIT_WORK_TREE",
    "GIT_GRAFT_FILE",
    "GIT_INDEX_FILE",
    "GIT_NO_REPLACE_OBJECTS",
    "GIT_REPLACE_REF_BASE",
    "GIT_PREFIX",
    "GIT_SHALLOW_FILE",
    "GIT_COMMON_DIR",
};

}  // namespace pindrel
