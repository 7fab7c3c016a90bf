#include "run/fallback.hpp"

#include "changed/changed_symbols_json.hpp"
#include "json/reader.hpp"
#include "json/writer.hpp"
#include "run/dry_run.hpp"
#include "util/utf8.hpp"

#include <algorithm>

namespace pindrel::run {
namespace {

constexpr std::string_view not_an_array =
    R"( must be a JSON array of strings, e.g. ["scripts/pick.sh", "--from-pindrel"]; got: )";

Error empty_argv(FallbackSource source) {
  return Error(std::string(fallback_source_text(source)) +
               " is an empty argv; name a command to run, or remove it to keep the default (the full suite under "
               "pytest)");
}

// The number of components of a path: empty parts and "." parts do not count, except a leading ".".
std::size_t component_count(std::string_view word) {
  std::size_t count = 0;
  for (std::size_t start = 0; start <= word.size();) {
    const std::size_t slash = std::min(word.find('/', start), word.size());
    const std::string_view part = word.substr(start, slash - start);
    if (!part.empty() && (part != "." || start == 0)) ++count;
    start = slash + 1;
  }
  return count;
}

// A program word with a directory in it names a file below the repository top level, wherever
// pindrel was started; a bare name is left for the PATH search.
std::string resolve_program_word(const std::string& word, const std::string& root) {
  if (word.starts_with('/') || component_count(word) < 2) return word;
  return root + "/" + word;
}

}  // namespace

Result<std::vector<std::string>> parse_fallback_command_json(std::string_view text, FallbackSource source) {
  auto words = json::Reader::read_document(text, [](json::Reader& reader) { return reader.read_strings(); });
  if (!words) {
    return std::unexpected(
        std::move(words.error())
            .context(std::string(fallback_source_text(source)) + std::string(not_an_array) + std::string(text)));
  }
  if (words->empty()) return std::unexpected(empty_argv(source));
  return words;
}

Result<std::optional<FallbackCommand>> settle_fallback_command(
    const std::optional<std::string>& flag, const std::optional<std::vector<std::string>>& configured,
    const std::string& root, const Environment& env) {
  const auto& variable = env.pindrel_fallback;
  if (variable && !is_valid_utf8(*variable)) {
    return std::unexpected(Error("environment variable was not valid unicode: " + debug_quoted(*variable))
                               .context("cannot read PINDREL_FALLBACK"));
  }
  std::optional<FallbackCommand> chosen;
  auto take = [&](std::vector<std::string> argv, FallbackSource source) {
    if (!chosen) chosen = FallbackCommand{std::move(argv), source};
  };
  if (flag) {
    auto words = parse_fallback_command_json(*flag, FallbackSource::flag);
    if (!words) return std::unexpected(std::move(words.error()));
    take(std::move(*words), FallbackSource::flag);
  }
  if (variable) {
    auto words = parse_fallback_command_json(*variable, FallbackSource::env);
    if (!words) return std::unexpected(std::move(words.error()));
    take(std::move(*words), FallbackSource::env);
  }
  if (configured) {
    if (configured->empty()) return std::unexpected(empty_argv(FallbackSource::config));
    take(*configured, FallbackSource::config);
  }
  if (chosen) chosen->argv.front() = resolve_program_word(chosen->argv.front(), root);
  return chosen;
}

std::string describe_fallback_command(const FallbackCommand& command) {
  return argv_to_json_text(argv_display_strings(command.argv)) + " (from " +
         std::string(fallback_source_text(command.source)) + ")";
}

CommandSpec fallback_payload_json(const FallbackPayload& payload) {
  json::PrettyWriter writer;
  writer.begin_object()
      .key("pindrel_fallback_payload_version")
      .number(payload.pindrel_fallback_payload_version)
      .member("reason", payload.reason)
      .key("report");
  if (payload.report) {
    changed::write_changed_symbols_json(*payload.report, writer);
  } else {
    writer.null();
  }
  writer.end_object();
  CommandSpec spec;
  spec.env_settings.emplace_back("PINDREL_FALLBACK_REASON", payload.reason);
  spec.stdin_payload = std::move(writer).take() + "\n";
  return spec;
}

Error start_fallback_command(const Flushed& flushed, const FallbackCommand& command, const CommandSpec& spec,
                             const std::string& root, const std::optional<std::string>& tmpdir) {
  return exec_with_stdin_payload(flushed, root, command.argv, spec, tmpdir)
      .context("the fallback command from " + std::string(fallback_source_text(command.source)) +
               " could not be started");
}

}  // namespace pindrel::run
