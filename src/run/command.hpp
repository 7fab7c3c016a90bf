#pragma once

#include "cli/args.hpp"
#include "command_context.hpp"
#include "exit_outcome.hpp"
#include "util/error.hpp"

namespace pindrel::run {

// `pindrel run`: the impact of the working tree's changes (or of a saved report) as pytest node
// ids, then one of four endings: the dry-run plan, nothing to run, pytest on the selection or the
// whole suite, or the fallback command. Returns only for the first two and for an error; otherwise
// the process becomes pytest or the fallback command.
Result<ExitOutcome> run_command(const CommandContext& context, const RunArgs& args);

}  // namespace pindrel::run
