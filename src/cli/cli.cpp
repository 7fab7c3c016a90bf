// The parse: one CLI11 definition does the parsing and the usage errors, and the help
// formatter renders both help pages from it. The parser never prints: every answer it
// gives itself comes back as a CliExit.
#include "cli/cli.hpp"

#include "cli/definition.hpp"
#include "cli/help_formatter.hpp"
#include "cli/plain_words.hpp"
#include "cli/value_checks.hpp"
#include "util/utf8.hpp"

#include <CLI/CLI.hpp>

#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

namespace pindrel {
namespace {

using cli::Definition;
using cli::GlobalOptions;
using cli::HelpLength;

// The enumerator named `name`, found by its position among `values`.
template <class Enum, std::size_t N>
std::optional<Enum> enumerator_named(const std::array<cli::ValueDoc, N>& values, std::string_view name) {
  for (std::size_t i = 0; i < N; ++i) {
    if (values[i].name == name) return static_cast<Enum>(i);
  }
  return std::nullopt;
}

// A usage error's message and the byte ranges of the words it is about.
struct UsageMessage {
  std::string text;
  std::vector<std::pair<std::size_t, std::size_t>> words;  // offset and length, in order
};

UsageMessage about_prefix(std::string text, std::string_view separator) {
  const auto end = text.find(separator);
  if (end == std::string::npos || end == 0) return {std::move(text), {}};
  return {std::move(text), {{0, end}}};
}

// CLI11's error for words nobody takes, listing them in command-line order (CLI11 itself
// lists them last first).
UsageMessage extras_message(std::vector<std::string> words) {
  std::vector<std::string> reversed(words.rbegin(), words.rend());
  UsageMessage message{CLI::ExtrasError(std::move(reversed)).what(), {}};
  std::size_t tail = 0;
  for (const auto& word : words) tail += word.size() + 1;
  if (tail == 0 || tail - 1 > message.text.size()) return message;
  std::size_t at = message.text.size() - (tail - 1);
  for (const auto& word : words) {
    message.words.emplace_back(at, word.size());
    at += word.size() + 1;
  }
  return message;
}

// The words of one of CLI11's own messages, as far as its kind tells where they stand.
UsageMessage error_message(const CLI::Error& error, const Definition& def) {
  std::string text = error.what();
  if (dynamic_cast<const CLI::ValidationError*>(&error) != nullptr && def.refused_value) {
    const std::string quoted = "invalid value '" + *def.refused_value + "'";
    if (const auto at = text.find(quoted); at != std::string::npos) {
      return {std::move(text), {{at + quoted.size() - def.refused_value->size() - 1, def.refused_value->size()}}};
    }
  }
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr) return about_prefix(std::move(text), ": ");
  if (dynamic_cast<const CLI::RequiredError*>(&error) != nullptr && text.ends_with(" is required")) {
    return about_prefix(std::move(text), " ");
  }
  if (dynamic_cast<const CLI::ExcludesError*>(&error) != nullptr) {
    constexpr std::string_view excludes = " excludes ";
    if (const auto at = text.find(excludes); at != std::string::npos) {
      const std::size_t second = at + excludes.size();
      const std::size_t second_length = text.size() - second;
      return {std::move(text), {{0, at}, {second, second_length}}};
    }
  }
  return {std::move(text), {}};
}

std::string program_name(std::string_view argv0) {
  while (argv0.size() > 1 && argv0.ends_with('/')) argv0.remove_suffix(1);
  if (const auto slash = argv0.rfind('/'); slash != std::string_view::npos && argv0.size() > 1) {
    argv0.remove_prefix(slash + 1);
  }
  return argv0.empty() ? std::string("pindrel") : std::string(argv0);
}

struct Parser {
  std::unique_ptr<Definition> def = cli::build_cli_command();
  std::string prog;
  CliColors colors;
};

const CLI::App* find_command(const CLI::App& root, std::string_view word) {
  for (const CLI::App* command : root.get_subcommands([](const CLI::App*) { return true; })) {
    if (command->check_name(std::string(word))) return command;
  }
  return nullptr;
}

cli::LineGrammar grammar_of(const CLI::App& root) {
  return {
      .is_command = [&root](std::string_view word) { return find_command(root, word) != nullptr; },
      .takes_value =
          [&root](std::string_view command, std::string_view name) {
            const CLI::App* app = command.empty() ? &root : find_command(root, command);
            const CLI::Option* option = app->get_option_no_throw(std::string(name));
            return option != nullptr && option->get_items_expected_max() > 0;
          },
  };
}

std::vector<std::string> values_of(const CLI::Option* option) {
  std::vector<std::string> values;
  for (const auto& value : option->results()) values.push_back(cli::unmark(value));
  return values;
}

std::optional<std::string> text_of(const CLI::Option* option) {
  if (option->count() == 0) return std::nullopt;
  return cli::unmark(option->results().front());
}

std::optional<std::filesystem::path> path_of(const CLI::Option* option) {
  auto text = text_of(option);
  if (!text) return std::nullopt;
  return std::filesystem::path(std::move(*text));
}

std::optional<std::uint64_t> number_of(const CLI::Option* option, std::uint64_t max) {
  const auto text = text_of(option);
  if (!text) return std::nullopt;
  return cli::parse_decimal(*text, max);
}

BudgetFlags budget_flags_from_matches(const cli::BudgetOptions& budgets) {
  BudgetFlags flags;
  if (const auto depth = number_of(budgets.max_depth, std::numeric_limits<std::uint32_t>::max())) {
    flags.max_depth = static_cast<std::uint32_t>(*depth);
  }
  flags.max_symbols = number_of(budgets.max_symbols, std::numeric_limits<std::uint64_t>::max());
  flags.budget_ms = number_of(budgets.budget_ms, std::numeric_limits<std::uint64_t>::max());
  return flags;
}

// `help [COMMAND]` asks for the long help of a command.
struct ShowHelp {
  const CLI::App* app;
};

using Filled = std::variant<Cli, ShowHelp, UsageMessage>;

// A global option may be given on either side of the command name, but once in all.
Filled fill_cli(const Definition& def, const GlobalOptions& globals, CliCommand command) {
  const std::pair<const CLI::Option*, const CLI::Option*> pairs[] = {
      {def.root_globals.workspace, globals.workspace},
      {def.root_globals.format, globals.format},
      {def.root_globals.verbose, globals.verbose},
  };
  for (const auto& [at_root, at_command] : pairs) {
    const std::size_t count = at_root->count() + at_command->count();
    if (count > 1) return about_prefix(CLI::ArgumentMismatch::AtMost(at_root->get_name(), 1, count).what(), ": ");
  }
  const auto given = [](const CLI::Option* at_root, const CLI::Option* at_command) {
    return at_command->count() > 0 ? at_command : at_root;
  };
  Cli cli;
  cli.workspace = path_of(given(def.root_globals.workspace, globals.workspace));
  if (const auto format = text_of(given(def.root_globals.format, globals.format))) {
    cli.format = *parse_output_format(*format);
  }
  cli.verbose = given(def.root_globals.verbose, globals.verbose)->count() > 0;
  cli.command = std::move(command);
  return cli;
}

// The words after the options' end belong to `run` as they are; CLI11 saw them marked.
Filled fill_records(const Definition& def, const CLI::App& command, std::span<const std::string> after_dashes) {
  if (&command == def.changed_symbols.app) {
    const auto& c = def.changed_symbols;
    return fill_cli(def, c.globals, ChangedSymbolsArgs{.base = text_of(c.base)});
  }
  if (&command == def.impacted_tests.app) {
    const auto& c = def.impacted_tests;
    return fill_cli(
        def, c.globals,
        ImpactedTestsArgs{
            .base = text_of(c.base), .changed = path_of(c.changed), .budgets = budget_flags_from_matches(c.budgets)});
  }
  if (&command == def.run.app) {
    const auto& c = def.run;
    std::vector<std::string> before_dashes;
    for (const auto& word : c.pytest_args->results()) {
      if (!cli::is_marked(word)) before_dashes.push_back(word);
    }
    if (!before_dashes.empty()) return extras_message(std::move(before_dashes));
    RunArgs args;
    args.base = text_of(c.base);
    args.impact = path_of(c.impact);
    args.budgets = budget_flags_from_matches(c.budgets);
    args.dry_run = c.dry_run->count() > 0;
    args.fallback_command = text_of(c.fallback_command);
    if (const auto policy = text_of(c.git_env)) args.git_env = git_env_policy_named(*policy);
    args.pytest_args.assign(after_dashes.begin(), after_dashes.end());
    return fill_cli(def, c.globals, std::move(args));
  }
  if (&command == def.audit.app) {
    const auto& c = def.audit;
    AuditArgs args;
    for (auto& file : values_of(c.files)) args.files.emplace_back(std::move(file));
    return fill_cli(def, c.globals, std::move(args));
  }
  if (&command == def.doctor.app) return fill_cli(def, def.doctor.globals, DoctorArgs{});
  if (&command == def.guide.app) {
    const auto& c = def.guide;
    GuideArgs args;
    if (const auto topic = text_of(c.topic)) args.topic = parse_guide_topic(*topic);
    return fill_cli(def, c.globals, args);
  }
  // `help`, with the command named or none for the root.
  const auto names = values_of(def.help.commands);
  if (names.size() > 1) return extras_message({names.begin() + 1, names.end()});
  const CLI::App* target = names.empty() ? &def.root : find_command(def.root, names.front());
  return ShowHelp{target};
}

std::string command_path(const Parser& parser, const CLI::App& app) {
  if (&app == &parser.def->root) return parser.prog;
  return parser.prog + " " + app.get_name();
}

std::string help_page(const Parser& parser, const CLI::App& app, HelpLength length, Color color) {
  const cli::HelpFormatter formatter(parser.def->extras, cli::Style(color));
  return lossy_utf8(formatter.make_help(app, command_path(parser, app), length));
}

CliExit show_help(const Parser& parser, const CLI::App& app, HelpLength length) {
  return CliExit{.status = 0, .out = help_page(parser, app, length, parser.colors.out), .err = {}};
}

CliExit usage_error(const Parser& parser, const CLI::App& context, const UsageMessage& message) {
  const cli::Style style(parser.colors.err);
  std::string err = style.error("error:") + " ";
  std::size_t at = 0;
  for (const auto& [offset, length] : message.words) {
    err += message.text.substr(at, offset - at) + style.invalid(message.text.substr(offset, length));
    at = offset + length;
  }
  err += message.text.substr(at) + "\n\n";
  const cli::HelpFormatter formatter(parser.def->extras, style);
  err += style.heading("Usage:") + " " + formatter.usage(context, command_path(parser, context)) + "\n\n";
  err += "For more information, try '" + style.literal("--help") + "'.\n";
  return CliExit{.status = 2, .out = {}, .err = lossy_utf8(err)};
}

const CLI::App& selected_command(const Parser& parser) {
  const auto selected = parser.def->root.get_subcommands();
  return selected.empty() ? parser.def->root : *selected.front();
}

// CLI11 answers help, version and every refusal by throwing; each becomes the exit it asks for.
CliExit answer_thrown(const Parser& parser, const CLI::Error& error) {
  const CLI::App& command = selected_command(parser);
  if (dynamic_cast<const CLI::CallForHelp*>(&error) != nullptr) {
    return show_help(parser, command, HelpLength::short_page);
  }
  if (dynamic_cast<const CLI::CallForAllHelp*>(&error) != nullptr) {
    return show_help(parser, command, HelpLength::long_page);
  }
  if (dynamic_cast<const CLI::CallForVersion*>(&error) != nullptr) {
    return CliExit{.status = 0, .out = std::string(error.what()) + "\n", .err = {}};
  }
  if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr) {
    // The root's leftovers are reported before those of the command.
    auto left = parser.def->root.remaining();
    if (left.empty()) left = command.remaining();
    if (left.empty()) return usage_error(parser, command, error_message(error, *parser.def));
    for (auto& word : left) word = cli::unmark(word);
    return usage_error(parser, command, extras_message(std::move(left)));
  }
  return usage_error(parser, command, error_message(error, *parser.def));
}

}  // namespace

std::optional<OutputFormat> parse_output_format(std::string_view name) {
  return enumerator_named<OutputFormat>(cli::output_format_values, name);
}

std::optional<GuideTopic> parse_guide_topic(std::string_view name) {
  return enumerator_named<GuideTopic>(cli::guide_topic_values, name);
}

std::variant<Cli, CliExit> parse_command_line(std::span<const std::string> args, CliColors colors) {
  Parser parser;
  parser.prog = program_name(args.empty() ? std::string_view() : std::string_view(args.front()));
  parser.colors = colors;
  CLI::App& root = parser.def->root;
  if (args.size() <= 1) {
    return CliExit{.status = 2, .out = {}, .err = help_page(parser, root, HelpLength::short_page, colors.err)};
  }

  const auto words = args.subspan(1);
  const cli::LineScan scan = cli::scan_line(grammar_of(root), words);
  if (scan.missing) {
    const CLI::App& context = scan.missing->command.empty() ? root : *find_command(root, scan.missing->command);
    const CLI::Option* option = context.get_option_no_throw(scan.missing->option);
    const std::string named = scan.missing->option + " <" + option->get_type_name() + ">";
    const std::string lead = "a value is required for '";
    return usage_error(parser, context, {lead + named + "' but none was supplied", {{lead.size(), named.size()}}});
  }
  const auto after_dashes = scan.options_end < words.size() ? words.subspan(scan.options_end + 1) : words.last(0);

  try {
    root.parse(cli::words_for_parser(words, scan));
  } catch (const CLI::Error& error) {
    return answer_thrown(parser, error);
  }
  const CLI::App& command = selected_command(parser);
  if (&command == &root) {
    std::string message = "A command is required, one of: ";
    bool first = true;
    for (const CLI::App* c : root.get_subcommands([](CLI::App*) { return true; })) {
      message += (first ? "" : ", ") + c->get_name();
      first = false;
    }
    return usage_error(parser, root, {message, {}});
  }
  auto filled = fill_records(*parser.def, command, after_dashes);
  if (auto* cli = std::get_if<Cli>(&filled)) return std::move(*cli);
  if (auto* show = std::get_if<ShowHelp>(&filled)) return show_help(parser, *show->app, HelpLength::long_page);
  return usage_error(parser, command, std::get<UsageMessage>(filled));
}

}  // namespace pindrel
