#include "project/git_env_policy.hpp"

namespace pindrel {

std::optional<GitEnvPolicy> git_env_policy_named(std::string_view name) {
  for (std::size_t i = 0; i < git_env_policy_names.size(); ++i) {
    if (git_env_policy_names[i] == name) return static_cast<GitEnvPolicy>(i);
  }
  return std::nullopt;
}

}  // namespace pindrel
