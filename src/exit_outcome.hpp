#pragma once

namespace pindrel {

// What a command returns when it succeeds; the value is the process exit status.
enum class ExitOutcome { success = 0, findings = 1 };

}  // namespace pindrel
