#pragma once

namespace pindrel {

// Whether git's repository-local variables are removed from pytest's environment.
enum class GitEnvPolicy { isolate, inherit };

}  // namespace pindrel
