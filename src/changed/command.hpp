#pragma once

#include "cli/args.hpp"
#include "command_context.hpp"
#include "exit_outcome.hpp"
#include "util/error.hpp"

namespace pindrel::changed {

// `pindrel changed-symbols`: opens the project at the workspace root, diffs the working
// tree against the merge base and writes the report, as text or JSON, in one write.
Result<ExitOutcome> changed_symbols_command(const CommandContext& context, const ChangedSymbolsArgs& args);

}  // namespace pindrel::changed
