#pragma once

#include "cli/args.hpp"
#include "cli/style.hpp"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace pindrel {

// What the parser answers itself: help, version or a usage error, with the texts to
// write and the status to exit with.
struct CliExit {
  int status = 0;
  std::string out;  // written to standard output
  std::string err;  // written to standard error
};

// The enumeration value of a command-line name (names are case-sensitive), or none.
std::optional<OutputFormat> parse_output_format(std::string_view name);
std::optional<GuideTopic> parse_guide_topic(std::string_view name);

// Parses the process arguments (argv[0] first, as operating-system strings). `colors`
// says which of the two streams may carry styled help and usage errors.
std::variant<Cli, CliExit> parse_command_line(std::span<const std::string> args, CliColors colors = {});

}  // namespace pindrel
