#pragma once

// The fallback command: what `run` starts instead of the whole suite for a `run_all` decision. It
// may come from the option, the environment or the configuration; every source given is read and
// checked before the first one wins, so a broken setting fails every run, not only the run that
// would have used it.

#include "changed/changed_symbols.hpp"
#include "project/environment.hpp"
#include "run/pytest_command.hpp"
#include "util/error.hpp"
#include "util/process.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pindrel::run {

enum class FallbackSource { flag, env, config };

// How messages and the text form name a source, and the word of the JSON form, in the order of the values.
inline constexpr std::array<std::string_view, 3> fallback_source_texts = {"--fallback-command", "PINDREL_FALLBACK",
                                                                          "fallback-command in pyproject.toml"};
inline constexpr std::array<std::string_view, 3> fallback_source_words = {"flag", "env", "config"};
static_assert(fallback_source_texts.size() == static_cast<std::size_t>(FallbackSource::config) + 1);

inline std::string_view fallback_source_text(FallbackSource source) {
  return fallback_source_texts[static_cast<std::size_t>(source)];
}
inline std::string_view fallback_source_word(FallbackSource source) {
  return fallback_source_words[static_cast<std::size_t>(source)];
}

struct FallbackCommand {
  std::vector<std::string> argv;  // at least one word; the first is the resolved program
  FallbackSource source = FallbackSource::flag;
};

// What the fallback command reads on its standard input.
struct FallbackPayload {
  std::uint32_t pindrel_fallback_payload_version = 1;
  std::string reason;                               // a run-all reason name, or "unspecified"
  const changed::ChangedSymbols* report = nullptr;  // borrowed; none for a replayed impact report
};

// Reads and checks every source (`flag`, PINDREL_FALLBACK, `configured`) in that order, then takes the
// first one given, with its program word resolved against `root`. None given: no fallback command.
Result<std::optional<FallbackCommand>> settle_fallback_command(
    const std::optional<std::string>& flag, const std::optional<std::vector<std::string>>& configured,
    const std::string& root, const Environment& env);

// The words of a JSON array of strings given through `source` (the option or the variable).
Result<std::vector<std::string>> parse_fallback_command_json(std::string_view text, FallbackSource source);

// "{argv as a JSON array} (from {source})".
std::string describe_fallback_command(const FallbackCommand& command);

// The `CommandSpec` that hands the payload to the command: on its standard input, pretty-printed with a final
// newline, and its reason in PINDREL_FALLBACK_REASON.
CommandSpec fallback_payload_json(const FallbackPayload& payload);

// Replaces this process with the fallback command, started in `root`. Returns only with an error.
Error start_fallback_command(const Flushed& flushed, const FallbackCommand& command, const CommandSpec& spec,
                             const std::string& root, const std::optional<std::string>& tmpdir);

}  // namespace pindrel::run
