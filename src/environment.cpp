#include "environment.hpp"

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
  env.path_search = PathSearch::from_process();
  return env;
}

}  // namespace pindrel
