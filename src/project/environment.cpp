#include "project/environment.hpp"

#include "project/git_env_policy.hpp"

namespace pindrel {

Environment Environment::from_process() {
  Environment env;
  env.pindrel_git = env_value("PINDREL_GIT");
  env.pindrel_qlo = env_value("PINDREL_QLO");
  env.pindrel_pytest = env_value("PINDREL_PYTEST");
  env.pindrel_fallback = env_value("PINDREL_FALLBACK");
  env.tmpdir = env_value("TMPDIR");
  env.rust_log = env_value("RUST_LOG");
  env.no_color = env_value("NO_COLOR");
  for (std::string_view name : repository_local_git_vars) {
    if (env_value(std::string(name).c_str())) env.git_vars_set.emplace_back(name);
  }
  env.git_config_count = env_value("GIT_CONFIG_COUNT");
  env.clicolor_force = env_value("CLICOLOR_FORCE");
  env.clicolor = env_value("CLICOLOR");
  env.term = env_value("TERM");
  env.ci = env_value("CI");
  env.path_search = PathSearch::from_process();
  return env;
}

}  // namespace pindrel
