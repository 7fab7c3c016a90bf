#pragma once

#include "cli/args.hpp"
#include "command_context.hpp"
#include "exit_outcome.hpp"
#include "util/error.hpp"

namespace pindrel::impact {

// `pindrel impacted-tests`: opens the project at the workspace root, computes the impact of
// the working tree's changes (or of a replayed changed-symbols report) and writes the report,
// as text or JSON, in one write. A `run_all` verdict is a success.
Result<ExitOutcome> impacted_tests_command(const CommandContext& context, const ImpactedTestsArgs& args);

}  // namespace pindrel::impact
