#pragma once

#include "project/environment.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pindrel {

enum class LogLevel { off, error, warn, info, debug, trace };

// One filter directive: a level alone, a target alone (every level), or target=level.
struct LogDirective {
  std::optional<std::string> target;
  LogLevel level;
  friend bool operator==(const LogDirective&, const LogDirective&) = default;
};

enum class Verbose { no, yes };
enum class LogStyling { plain, ansi };

// Every piece of RUST_LOG between commas, or nothing when any piece fails to parse.
std::optional<std::vector<LogDirective>> parse_log_directives(std::string_view text);

// The filter in force: valid RUST_LOG directives (none when the variable is empty),
// else "debug" with --verbose and "warn" without. `rust_log` is null when unset.
std::vector<LogDirective> choose_log_filter(const char* rust_log, Verbose verbose);

// Whether a record of `target` at `level` passes; the longest matching target wins.
bool log_enabled(const std::vector<LogDirective>& filter, std::string_view target, LogLevel level);

// Styling is on unless NO_COLOR holds a non-empty UTF-8 value. `no_color` is null when unset.
LogStyling choose_log_styling(const char* no_color);

// Installs the process-wide logger on standard error, configured from RUST_LOG and NO_COLOR.
void init_logging(Verbose verbose, const Environment& env);

}  // namespace pindrel
