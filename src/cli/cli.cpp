// The command line: one CLI11 definition does the parsing and the usage errors, and the
// help formatter below renders both help pages from it. CLI11 knows neither a long help
// nor value help texts, so those live beside the definition, keyed by its objects.
// The parser never prints: every answer it gives itself comes back as a CliExit.
#include "cli/cli.hpp"

#include "util/utf8.hpp"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pindrel {
namespace {

constexpr std::string_view program_version = PINDREL_VERSION;

struct ValueDoc {
  std::string_view name;
  std::string_view help;
};

// In the order of the enumerations: a value's position is its enumerator.
constexpr std::array<ValueDoc, 2> output_format_values{{
    {"human", "Aligned, human-readable lines"},
    {"json", "A single JSON object, for piping into other tools"},
}};
constexpr std::array<ValueDoc, 2> git_env_values{{
    {"isolate", "Remove git's repository-local variables (`GIT_DIR`, `GIT_INDEX_FILE`, ...) from pytest's environment"},
    {"inherit", "Hand pytest pindrel's environment as it is"},
}};
constexpr std::array<ValueDoc, 3> guide_topic_values{{
    {"setup", "pindrel is not wired into this repository yet"},
    {"triage", "A run said `run_all`, or a selection surprised you"},
    {"tune", "The base, the budgets, the config keys and the binaries"},
}};

// The enumerator named `name`, found by its position among `values`.
template <class Enum, std::size_t N>
std::optional<Enum> enumerator_named(const std::array<ValueDoc, N>& values, std::string_view name) {
  for (std::size_t i = 0; i < N; ++i) {
    if (values[i].name == name) return static_cast<Enum>(i);
  }
  return std::nullopt;
}

// ---- Words that CLI11 must take as they are -------------------------------------------

// Words that CLI11 must take as plain words reach it behind a NUL, which no process
// argument can contain. Two habits of CLI11 call for it: it splits a list value written
// "[a,b]" into "a" and "b", and a "--" ends a command once its positionals have their
// minimum, leaving the words after it to the root's options. So the words after the
// options' end are handed over marked, without their "--". Every value is unmarked before
// use, and the extras error, the one that quotes words CLI11 was given, is rebuilt from
// unmarked words: an error's text would end at the NUL.
constexpr char plain_mark = '\0';

std::string mark_plain(const std::string& word) { return std::string(1, plain_mark) + word; }

bool is_marked(std::string_view value) { return !value.empty() && value.front() == plain_mark; }

std::string unmark(std::string_view value) {
  if (is_marked(value)) value.remove_prefix(1);
  return std::string(value);
}

// ---- Value checks ----------------------------------------------------------------------

double jaro_similarity(std::string_view left, std::string_view right) {
  const std::u32string a = code_points(left);
  const std::u32string b = code_points(right);
  if (a.empty() && b.empty()) return 1.0;
  if (a.empty() || b.empty()) return 0.0;
  const std::size_t half = std::max(a.size(), b.size()) / 2;
  const std::size_t reach = half > 0 ? half - 1 : 0;
  std::vector<bool> a_matched(a.size()), b_matched(b.size());
  std::size_t matches = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const std::size_t lo = i > reach ? i - reach : 0;
    const std::size_t hi = std::min(i + reach + 1, b.size());
    for (std::size_t j = lo; j < hi; ++j) {
      if (!b_matched[j] && a[i] == b[j]) {
        a_matched[i] = b_matched[j] = true;
        ++matches;
        break;
      }
    }
  }
  if (matches == 0) return 0.0;
  std::size_t transpositions = 0;
  for (std::size_t i = 0, j = 0; i < a.size(); ++i) {
    if (!a_matched[i]) continue;
    while (!b_matched[j]) ++j;
    if (a[i] != b[j]) ++transpositions;
    ++j;
  }
  const double m = static_cast<double>(matches);
  return (m / static_cast<double>(a.size()) + m / static_cast<double>(b.size()) +
          (m - static_cast<double>(transpositions) / 2.0) / m) /
         3.0;
}

// The message for a word that names no value: the accepted names, and the closest one
// when it is close enough to be what was meant.
std::string unknown_value_message(const std::string& value, const std::vector<std::string_view>& names) {
  std::string message = "invalid value '" + value + "' [possible values: ";
  std::string_view best;
  double best_score = 0.7;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) message += ", ";
    message += names[i];
    const double score = jaro_similarity(value, names[i]);
    if (score > best_score) {
      best_score = score;
      best = names[i];
    }
  }
  message += "]";
  if (!best.empty()) message += "; did you mean '" + std::string(best) + "'?";
  return message;
}

// A CLI11 check that answers the failure text for a value, or nothing; the value reaches
// it unmarked. The empty description keeps the value name in help pages as it is.
CLI::Validator value_check(std::function<std::string(const std::string&)> check) {
  return CLI::Validator([check = std::move(check)](std::string& raw) { return check(unmark(raw)); }, "");
}

CLI::Validator one_of(std::vector<std::string_view> names) {
  return value_check([names](const std::string& value) -> std::string {
    if (std::ranges::find(names, value) != names.end()) return {};
    return unknown_value_message(value, names);
  });
}

template <std::size_t N>
CLI::Validator one_of(const std::array<ValueDoc, N>& values) {
  std::vector<std::string_view> names;
  for (const auto& v : values) names.push_back(v.name);
  return one_of(std::move(names));
}

// Decimal digits with an optional leading "+", at most `max`.
std::optional<std::uint64_t> parse_decimal(std::string_view text, std::uint64_t max) {
  if (text.starts_with('+')) text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (max - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

CLI::Validator decimal_up_to(std::uint64_t max) {
  return value_check([max](const std::string& value) -> std::string {
    if (parse_decimal(value, max)) return {};
    return "invalid value '" + value + "': expected a whole number from 0 to " + std::to_string(max);
  });
}

CLI::Validator utf8_text() {
  return value_check([](const std::string& value) -> std::string {
    if (is_valid_utf8(value)) return {};
    return "invalid value '" + value + "': not valid UTF-8";
  });
}

// ---- The definition --------------------------------------------------------------------

// What the help pages show that CLI11 has no place for.
struct HelpExtras {
  std::map<const CLI::App*, std::string> long_about;
  std::map<const CLI::App*, std::string> after_long_help;
  std::map<const CLI::Option*, std::span<const ValueDoc>> values;
  const CLI::Option* after_dashes = nullptr;  // taken only from the words after "--"
};

struct GlobalOptions {
  CLI::Option* workspace = nullptr;
  CLI::Option* format = nullptr;
  CLI::Option* verbose = nullptr;
};

struct BudgetOptions {
  CLI::Option* max_depth = nullptr;
  CLI::Option* max_symbols = nullptr;
  CLI::Option* budget_ms = nullptr;
};

// Every command carries its own copy of the global options, so that they are accepted on
// either side of the command name while the root's -V stays the root's.
struct Definition {
  CLI::App root{"", "pindrel"};
  HelpExtras extras;
  GlobalOptions root_globals;
  struct {
    CLI::App* app;
    GlobalOptions globals;
    CLI::Option* base;
  } changed_symbols{};
  struct {
    CLI::App* app;
    GlobalOptions globals;
    CLI::Option* base;
    CLI::Option* changed;
    BudgetOptions budgets;
  } impacted_tests{};
  struct {
    CLI::App* app;
    GlobalOptions globals;
    CLI::Option* base;
    CLI::Option* impact;
    BudgetOptions budgets;
    CLI::Option* dry_run;
    CLI::Option* fallback_command;
    CLI::Option* git_env;
    CLI::Option* pytest_args;
  } run{};
  struct {
    CLI::App* app;
    GlobalOptions globals;
    CLI::Option* files;
  } audit{};
  struct {
    CLI::App* app;
    GlobalOptions globals;
  } doctor{};
  struct {
    CLI::App* app;
    GlobalOptions globals;
    CLI::Option* topic;
  } guide{};
  struct {
    CLI::App* app;
    CLI::Option* commands;
  } help{};
};

std::string joined(std::initializer_list<std::string_view> parts, std::string_view separator) {
  std::string text;
  bool first = true;
  for (const auto part : parts) {
    if (!first) text += separator;
    text += part;
    first = false;
  }
  return text;
}

std::string paragraphs(std::initializer_list<std::string_view> parts) { return joined(parts, "\n\n"); }

std::string lines(std::initializer_list<std::string_view> parts) { return joined(parts, "\n"); }

CLI::Option* add_value_option(CLI::App& app, const std::string& name, const std::string& value_name,
                              const std::string& help) {
  return app.add_option(name, help)->type_name(value_name);
}

CLI::Option* add_once_flag(CLI::App& app, const std::string& names, const std::string& help) {
  return app.add_flag(names, help)->multi_option_policy(CLI::MultiOptionPolicy::Throw)->disable_flag_override();
}

GlobalOptions augment_global_options(CLI::App& app, HelpExtras& extras) {
  GlobalOptions globals;
  globals.workspace = add_value_option(app, "--workspace", "PATH",
                                       "Project root (default: auto-detect upward from the current directory)");
  globals.format = add_value_option(app, "--format", "FORMAT", "Output shape")
                       ->check(one_of(output_format_values))
                       ->default_str("human");
  extras.values[globals.format] = output_format_values;
  globals.verbose = add_once_flag(app, "-v,--verbose", "Log at debug level to stderr");
  return globals;
}

CLI::Option* add_base(CLI::App& app) {
  return add_value_option(app, "--base", "REF",
                          "Base ref to diff against. Default: origin/main, then main, then master")
      ->check(utf8_text());
}

BudgetOptions augment_budget_flags(CLI::App& app) {
  BudgetOptions budgets;
  budgets.max_depth =
      add_value_option(app, "--max-depth", "N", "BFS levels to walk before giving up and saying `run_all`")
          ->check(decimal_up_to(std::numeric_limits<std::uint32_t>::max()));
  budgets.max_symbols =
      add_value_option(app, "--max-symbols", "N", "Symbols to visit before giving up and saying `run_all`")
          ->check(decimal_up_to(std::numeric_limits<std::uint64_t>::max()));
  budgets.budget_ms = add_value_option(app, "--budget-ms", "MS", "Wall-clock budget for the walk. `0` disables it")
                          ->check(decimal_up_to(std::numeric_limits<std::uint64_t>::max()));
  return budgets;
}

CLI::Option* add_positional_list(CLI::App& app, const std::string& name, const std::string& help) {
  return app.add_option(name, help)->expected(1, -1)->allow_extra_args();
}

void augment_cli_args(Definition& def) {
  CLI::App& root = def.root;
  root.description("Impact-based pytest selection for Python, powered by quillo.");
  def.extras.long_about[&root] = paragraphs({
      "pindrel maps the working tree's git diff to the Python symbols it changed, walks `ty`'s reference graph out "
      "to the tests that reach them, and runs exactly those under pytest. Anything it cannot see through becomes "
      "\"run the whole suite\" rather than a confident short list.",
      "`audit` reads the same reference graph backwards, for the files you name: symbols nothing references, and "
      "symbols only your tests reach.",
      "References are resolved through `qlo --format json` (from quillo), so `qlo` must be on PATH — install it "
      "with `uv add --dev quillo`, or point PINDREL_QLO at the binary.",
      "`changed-symbols` needs none of that: it uses `git` alone, taken from PATH unless PINDREL_GIT names a binary.",
  });
  def.extras.after_long_help[&root] = lines({
      "Getting started:",
      "",
      "  1. `pindrel doctor`             — check that qlo and the workspace resolve.",
      "  2. `pindrel changed-symbols`    — which symbols the working tree changed.",
      "  3. `pindrel impacted-tests`     — which tests those changed symbols reach.",
      "  4. `pindrel run -- -x`          — run exactly those tests under pytest.",
      "  5. `pindrel run --dry-run`      — that decision and the exact argv, spawning nothing.",
      "  6. `pindrel audit pkg/*.py`     — separately: unreferenced and test-only symbols.",
      "",
      "`pindrel guide` prints agent-facing instructions for where you are standing: `setup` until a tolvane step "
      "names pindrel in ./pyproject.toml, `triage` after; `tune` is the reference and is only ever asked for by name.",
      "",
      "Exit codes:",
      "",
      "  0  no findings",
      "  1  findings reported",
      "  2  the run could not complete (qlo missing, bad workspace, ...)",
      "",
      "`run` is the exception: once pytest starts, the exit code is pytest's own, because pindrel's process has "
      "become pytest. The same goes for a configured `fallback-command`, which takes over a `run_all` outcome.",
      "",
      "`changed-symbols` and `impacted-tests` never return 1: they are inventories rather than verdicts. When "
      "`impacted-tests` cannot trust its own answer it says so in the report (`verdict: run_all`) and still exits 0, "
      "because \"run everything\" is a usable answer for a pre-commit hook.",
  });
  // Commands inherit the help flags, so they are set before any command exists.
  root.set_help_flag("-h", "Print help (see more with '--help')");
  root.set_help_all_flag("--help", "Print help (see a summary with '-h')");
  root.set_version_flag("-V,--version", "pindrel " + std::string(program_version), "Print version");
  // The command is required, but its absence is reported after the whole line is read,
  // so that an unknown word is named as such first.
  root.require_subcommand(0, 1);
  def.root_globals = augment_global_options(root, def.extras);
}

CLI::App* add_command(Definition& def, const std::string& name, const std::string& about,
                      std::optional<std::string> long_about) {
  CLI::App* app = def.root.add_subcommand(name, about);
  if (long_about) def.extras.long_about[app] = std::move(*long_about);
  return app;
}

void augment_subcommands(Definition& def) {
  {
    auto& c = def.changed_symbols;
    c.app = add_command(def, "changed-symbols", "Report the Python symbols the working tree changed against a base ref",
                        paragraphs({"Report the Python symbols the working tree changed against a base ref.",
                                    "Needs only `git` — no `qlo`, no `ty`, no Python environment."}));
    c.base = add_base(*c.app);
    c.globals = augment_global_options(*c.app, def.extras);
  }
  {
    auto& c = def.impacted_tests;
    c.app = add_command(def, "impacted-tests", "Report the tests the working tree's changed symbols can reach",
                        paragraphs({"Report the tests the working tree's changed symbols can reach.",
                                    "Walks the reverse reference graph from `changed-symbols` outwards until it "
                                    "reaches test code. Needs `git` and `qlo`."}));
    c.base = add_base(*c.app);
    c.changed = add_value_option(*c.app, "--changed", "FILE",
                                 "Replay a saved `changed-symbols --format json` report instead of diffing the "
                                 "working tree");
    c.changed->excludes(c.base);
    c.budgets = augment_budget_flags(*c.app);
    c.globals = augment_global_options(*c.app, def.extras);
  }
  {
    auto& c = def.run;
    c.app = add_command(
        def, "run", "Run pytest on exactly the tests the working tree's changes impact",
        paragraphs({"Run pytest on exactly the tests the working tree's changes impact.",
                    "Computes the impact report in-process — never as a subprocess of itself — maps it to pytest node "
                    "ids, and then *becomes* pytest. The exit code from there on is pytest's own.",
                    "Three outcomes, only two of which an argument list can express: run these tests, run the whole "
                    "suite, or run nothing at all. The last is why this is a command and not a list of node ids for "
                    "a shell to interpolate."}));
    c.base = add_base(*c.app);
    c.impact = add_value_option(*c.app, "--impact", "FILE",
                                "Replay a saved `impacted-tests --format json` report instead of walking the working "
                                "tree");
    c.budgets = augment_budget_flags(*c.app);
    for (CLI::Option* other : {c.base, c.budgets.max_depth, c.budgets.max_symbols, c.budgets.budget_ms}) {
      c.impact->excludes(other);
    }
    c.dry_run = add_once_flag(*c.app, "--dry-run", "Print the decision and the exact argv; spawn nothing");
    c.fallback_command =
        add_value_option(*c.app, "--fallback-command", "JSON_ARRAY",
                         "What to exec instead of the full suite when the outcome is `run_all`, as a JSON array: "
                         "`[\"scripts/pick.sh\", \"--from-pindrel\"]`. Beats `PINDREL_FALLBACK`, which beats "
                         "`fallback-command` in pyproject.toml")
            ->check(utf8_text());
    c.git_env = add_value_option(
                    *c.app, "--git-env", "POLICY",
                    "Whether pytest inherits git's repository-local environment (`GIT_DIR`, `GIT_INDEX_FILE`, …), "
                    "which a hook exports so every git it spawns targets the repository being committed. `isolate` "
                    "removes them, so a test that creates a repository of its own does not operate on that one; "
                    "`inherit` hands them on. Beats `git-env` in pyproject.toml. The fallback command always "
                    "inherits")
                    ->check(one_of(git_env_values));
    def.extras.values[c.git_env] = git_env_values;
    c.pytest_args =
        add_positional_list(*c.app, "PYTEST_ARGS", "Everything after `--`, appended to the pytest argv verbatim");
    def.extras.after_dashes = c.pytest_args;
    c.globals = augment_global_options(*c.app, def.extras);
  }
  {
    auto& c = def.audit;
    c.app =
        add_command(def, "audit", "Report symbols that nothing references, and symbols only tests reach", std::nullopt);
    c.files = add_positional_list(*c.app, "FILE",
                                  "Python files to audit. Defaults to nothing — pass the files you care about")
                  ->required();
    c.globals = augment_global_options(*c.app, def.extras);
  }
  {
    auto& c = def.doctor;
    c.app = add_command(def, "doctor", "Check that `qlo` and the workspace resolve, without running an analysis",
                        std::nullopt);
    c.globals = augment_global_options(*c.app, def.extras);
  }
  {
    auto& c = def.guide;
    c.app = add_command(
        def, "guide", "Print short instructions for using pindrel here",
        paragraphs({"Print short instructions for using pindrel here.",
                    "With no topic, picks `setup` or `triage` by reading one file: `./pyproject.toml`, looking for a "
                    "`[tool.tolvane]` step that names pindrel. `tune` is a reference and is never auto-selected. "
                    "Needs no repository, no `qlo` and no `git`; exits `0`, or `2` if it could not write its "
                    "output."}));
    c.topic = c.app->add_option("TOPIC", "Which instructions to print. Omit to have pindrel choose")
                  ->check(one_of(guide_topic_values));
    def.extras.values[c.topic] = guide_topic_values;
    c.globals = augment_global_options(*c.app, def.extras);
  }
  {
    auto& c = def.help;
    c.app = add_command(def, "help", "Print this message or the help of the given command(s)", std::nullopt);
    std::vector<std::string_view> names;
    for (const CLI::App* command : def.root.get_subcommands([](CLI::App*) { return true; })) {
      names.push_back(command->get_name());
    }
    c.commands = add_positional_list(*c.app, "COMMAND", "Print the help of the command(s)")->check(one_of(names));
  }
}

// The help formatter: `-h` asks for the short page, `--help` for the long one.
class HelpFormatter final : public CLI::FormatterBase {
 public:
  explicit HelpFormatter(const HelpExtras& extras) : extras_(extras) {}

  std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const override;
  std::string usage(const CLI::App& app, std::string_view name) const;

 private:
  struct Row {
    std::string spec;
    std::string help;
    const CLI::Option* option;
  };

  std::string short_notes(const CLI::Option& option) const;
  std::string long_notes(const CLI::Option& option) const;

  const HelpExtras& extras_;
};

std::string option_spec(const CLI::Option& option) {
  if (option.get_positional()) {
    const std::string name = option.get_name();
    std::string spec = option.get_required() ? "<" + name + ">" : "[" + name + "]";
    if (option.get_items_expected_max() > 1) spec += "...";
    return spec;
  }
  const auto& shorts = option.get_snames();
  std::string spec = shorts.empty() ? "    " : "-" + shorts.front() + ", ";
  spec += "--" + option.get_lnames().front();
  if (option.get_items_expected_max() > 0) spec += " <" + option.get_type_name() + ">";
  return spec;
}

std::string HelpFormatter::usage(const CLI::App& app, std::string_view name) const {
  std::string line(name);
  line += " [OPTIONS]";
  if (!app.get_subcommands([](const CLI::App*) { return true; }).empty()) line += " <COMMAND>";
  for (const CLI::Option* option : app.get_options([](const CLI::Option* o) { return o->get_positional(); })) {
    if (option == extras_.after_dashes) {
      line += " [-- <" + option->get_name() + ">...]";
    } else {
      line += " " + option_spec(*option);
    }
  }
  return line;
}

std::string HelpFormatter::short_notes(const CLI::Option& option) const {
  std::string notes;
  if (!option.get_default_str().empty()) notes += " [default: " + option.get_default_str() + "]";
  if (const auto values = extras_.values.find(&option); values != extras_.values.end()) {
    notes += " [possible values: ";
    for (std::size_t i = 0; i < values->second.size(); ++i) {
      if (i > 0) notes += ", ";
      notes += values->second[i].name;
    }
    notes += "]";
  }
  return notes;
}

constexpr std::string_view long_indent = "          ";

std::string HelpFormatter::long_notes(const CLI::Option& option) const {
  std::string notes;
  if (!option.get_default_str().empty()) {
    notes += "\n\n" + std::string(long_indent) + "[default: " + option.get_default_str() + "]";
  }
  if (const auto values = extras_.values.find(&option); values != extras_.values.end()) {
    notes += "\n\n" + std::string(long_indent) + "Possible values:";
    for (const auto& value : values->second) {
      notes += "\n" + std::string(long_indent) + "- " + std::string(value.name) + ": " + std::string(value.help);
    }
  }
  return notes;
}

std::string HelpFormatter::make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const {
  const bool long_help = mode == CLI::AppFormatMode::All;
  std::string page;
  const auto long_about = extras_.long_about.find(app);
  page += long_help && long_about != extras_.long_about.end() ? long_about->second : app->get_description();
  page += "\n\nUsage: " + usage(*app, name) + "\n";

  const auto commands = app->get_subcommands([](const CLI::App*) { return true; });
  if (!commands.empty()) {
    std::size_t width = 0;
    for (const CLI::App* command : commands) width = std::max(width, command->get_name().size());
    page += "\nCommands:\n";
    for (const CLI::App* command : commands) {
      std::string command_name = command->get_name();
      command_name.resize(width, ' ');
      page += "  " + command_name + "  " + command->get_description() + "\n";
    }
  }

  const CLI::Option* help = app->get_help_ptr();
  const CLI::Option* help_all = app->get_help_all_ptr();
  const CLI::Option* version = app->get_version_ptr();
  std::vector<Row> arguments;
  std::vector<Row> options;
  for (const CLI::Option* option : app->get_options()) {
    if (option == help || option == help_all || option == version) continue;
    auto& rows = option->get_positional() ? arguments : options;
    rows.push_back({option_spec(*option), option->get_description(), option});
  }
  if (help != nullptr && help_all != nullptr) {
    options.push_back({"-h, --help", long_help ? help_all->get_description() : help->get_description(), nullptr});
  }
  if (version != nullptr) options.push_back({"-V, --version", version->get_description(), nullptr});

  std::size_t width = 0;
  for (const auto* rows : {&arguments, &options}) {
    for (const Row& row : *rows) width = std::max(width, row.spec.size());
  }
  const auto section = [&](std::string_view title, const std::vector<Row>& rows) {
    if (rows.empty()) return;
    page += "\n" + std::string(title) + ":\n";
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const Row& row = rows[i];
      if (long_help) {
        if (i > 0) page += "\n";
        page += "  " + row.spec + "\n" + std::string(long_indent) + row.help;
        if (row.option != nullptr) page += long_notes(*row.option);
        page += "\n";
      } else {
        std::string spec = row.spec;
        spec.resize(width, ' ');
        page += "  " + spec + "  " + row.help;
        if (row.option != nullptr) page += short_notes(*row.option);
        page += "\n";
      }
    }
  };
  section("Arguments", arguments);
  section("Options", options);

  if (const auto after = extras_.after_long_help.find(app); long_help && after != extras_.after_long_help.end()) {
    page += "\n" + after->second + "\n";
  }
  return page;
}

struct Parser {
  Definition def;
  std::shared_ptr<HelpFormatter> formatter = std::make_shared<HelpFormatter>(def.extras);
  std::string prog;
};

std::unique_ptr<Parser> build_cli_command(std::string prog) {
  auto parser = std::make_unique<Parser>();
  parser->prog = std::move(prog);
  parser->def.root.formatter(parser->formatter);
  augment_cli_args(parser->def);
  augment_subcommands(parser->def);
  return parser;
}

// ---- Reading the line ------------------------------------------------------------------

std::string program_name(std::string_view argv0) {
  while (argv0.size() > 1 && argv0.ends_with('/')) argv0.remove_suffix(1);
  if (const auto slash = argv0.rfind('/'); slash != std::string_view::npos && argv0.size() > 1) {
    argv0.remove_prefix(slash + 1);
  }
  return argv0.empty() ? std::string("pindrel") : std::string(argv0);
}

CLI::App* find_command(CLI::App& root, const std::string& word) {
  for (CLI::App* command : root.get_subcommands([](CLI::App*) { return true; })) {
    if (command->check_name(word)) return command;
  }
  return nullptr;
}

bool takes_value(CLI::App& app, const std::string& name) {
  const CLI::Option* option = app.get_option_no_throw(name);
  return option != nullptr && option->get_items_expected_max() > 0;
}

// A word that a value option must not take as its value: CLI11 would take it whatever
// it is, so `run --base --dry-run` would silently lose its --dry-run. A negative number
// stays a value, for the conversion error to name it.
bool looks_like_option(std::string_view word) {
  return word.size() > 1 && word.front() == '-' && !(word[1] >= '0' && word[1] <= '9');
}

struct LineScan {
  std::size_t options_end = 0;  // the "--" that ends the options, or the word count
  std::vector<std::size_t> empty_values;  // "--name=" of an option that takes a value
  const CLI::App* missing_context = nullptr;  // where an option was given without its value
  std::string missing_option;
};

// Finds the "--" that ends the options (the first one that is no option's value), the
// options written with an empty value after "=" (CLI11 would take the next word
// instead), and the first value option followed by no value.
LineScan scan_line(CLI::App& root, std::span<const std::string> words) {
  LineScan scan;
  scan.options_end = words.size();
  CLI::App* context = &root;
  const auto takes_next = [&](std::size_t& i, const std::string& name) {
    if (i + 1 < words.size() && looks_like_option(words[i + 1])) {
      if (scan.missing_context == nullptr) {
        scan.missing_context = context;
        scan.missing_option = name;
      }
      return;
    }
    ++i;
  };
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word == "--") {
      scan.options_end = i;
      break;
    }
    if (word.starts_with("--")) {
      const auto equals = word.find('=');
      const std::string name = word.substr(0, equals);
      if (!takes_value(*context, name)) continue;
      if (equals == std::string::npos) {
        takes_next(i, name);
      } else if (equals + 1 == word.size()) {
        scan.empty_values.push_back(i);
      }
    } else if (word.size() > 1 && word.front() == '-') {
      for (std::size_t k = 1; k < word.size(); ++k) {
        const std::string name{'-', word[k]};
        if (takes_value(*context, name)) {
          if (k + 1 == word.size()) takes_next(i, name);
          break;
        }
      }
    } else if (context == &root) {
      if (CLI::App* command = find_command(root, word)) context = command;
    }
  }
  return scan;
}

std::vector<std::string> values_of(const CLI::Option* option) {
  std::vector<std::string> values;
  for (const auto& value : option->results()) values.push_back(unmark(value));
  return values;
}

std::optional<std::string> text_of(const CLI::Option* option) {
  if (option->count() == 0) return std::nullopt;
  return unmark(option->results().front());
}

std::optional<std::filesystem::path> path_of(const CLI::Option* option) {
  auto text = text_of(option);
  if (!text) return std::nullopt;
  return std::filesystem::path(std::move(*text));
}

std::optional<std::uint64_t> number_of(const CLI::Option* option, std::uint64_t max) {
  const auto text = text_of(option);
  if (!text) return std::nullopt;
  return parse_decimal(*text, max);
}

BudgetFlags budget_flags_from_matches(const BudgetOptions& budgets) {
  BudgetFlags flags;
  if (const auto depth = number_of(budgets.max_depth, std::numeric_limits<std::uint32_t>::max())) {
    flags.max_depth = static_cast<std::uint32_t>(*depth);
  }
  flags.max_symbols = number_of(budgets.max_symbols, std::numeric_limits<std::uint64_t>::max());
  flags.budget_ms = number_of(budgets.budget_ms, std::numeric_limits<std::uint64_t>::max());
  return flags;
}

// A global option may be given on either side of the command name, but once in all.
const CLI::Option* given_once(const CLI::Option* at_root, const CLI::Option* at_command) {
  const std::size_t count = at_root->count() + at_command->count();
  if (count > 1) throw CLI::ArgumentMismatch::AtMost(at_root->get_name(), 1, count);
  return at_command->count() > 0 ? at_command : at_root;
}

Cli fill_cli(const Definition& def, const GlobalOptions& globals, CliCommand command) {
  Cli cli;
  cli.workspace = path_of(given_once(def.root_globals.workspace, globals.workspace));
  if (const auto format = text_of(given_once(def.root_globals.format, globals.format))) {
    cli.format = *parse_output_format(*format);
  }
  cli.verbose = given_once(def.root_globals.verbose, globals.verbose)->count() > 0;
  cli.command = std::move(command);
  return cli;
}

// CLI11's error for words nobody takes, listing them in command-line order (CLI11 itself
// lists them last first).
CLI::ExtrasError extras_error(std::vector<std::string> words) {
  std::ranges::reverse(words);
  return CLI::ExtrasError(std::move(words));
}

// `help [COMMAND]` asks for the long help of a command.
struct ShowHelp {
  const CLI::App* app;
};

// The words after the options' end belong to `run` as they are; CLI11 saw them marked.
std::variant<Cli, ShowHelp> fill_records(Definition& def, const CLI::App& command,
                                         std::span<const std::string> after_dashes) {
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
      if (!is_marked(word)) before_dashes.push_back(word);
    }
    if (!before_dashes.empty()) throw extras_error(std::move(before_dashes));
    RunArgs args;
    args.base = text_of(c.base);
    args.impact = path_of(c.impact);
    args.budgets = budget_flags_from_matches(c.budgets);
    args.dry_run = c.dry_run->count() > 0;
    args.fallback_command = text_of(c.fallback_command);
    if (const auto policy = text_of(c.git_env)) args.git_env = parse_git_env(*policy);
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
  if (names.size() > 1) throw extras_error({names.begin() + 1, names.end()});
  const CLI::App* target = names.empty() ? &def.root : find_command(def.root, names.front());
  return ShowHelp{target};
}

std::string command_path(const Parser& parser, const CLI::App& app) {
  if (&app == &parser.def.root) return parser.prog;
  return parser.prog + " " + app.get_name();
}

std::string help_page(const Parser& parser, const CLI::App& app, CLI::AppFormatMode mode) {
  return lossy_utf8(parser.formatter->make_help(&app, command_path(parser, app), mode));
}

CliExit usage_error(const Parser& parser, const CLI::App& context, std::string_view message) {
  std::string err = "error: " + std::string(message) + "\n\n";
  err += "Usage: " + parser.formatter->usage(context, command_path(parser, context)) + "\n\n";
  err += "For more information, try '--help'.\n";
  return CliExit{.status = 2, .out = {}, .err = lossy_utf8(err)};
}

const CLI::App& selected_command(const Parser& parser) {
  const auto selected = parser.def.root.get_subcommands();
  return selected.empty() ? parser.def.root : *selected.front();
}

}  // namespace

std::optional<OutputFormat> parse_output_format(std::string_view name) {
  return enumerator_named<OutputFormat>(output_format_values, name);
}

std::optional<GitEnvPolicy> parse_git_env(std::string_view name) {
  return enumerator_named<GitEnvPolicy>(git_env_values, name);
}

std::optional<GuideTopic> parse_guide_topic(std::string_view name) {
  return enumerator_named<GuideTopic>(guide_topic_values, name);
}

std::variant<Cli, CliExit> parse_command_line(std::span<const std::string> args) {
  auto parser = build_cli_command(program_name(args.empty() ? std::string_view() : std::string_view(args.front())));
  CLI::App& root = parser->def.root;
  if (args.size() <= 1) {
    return CliExit{.status = 2, .out = {}, .err = help_page(*parser, root, CLI::AppFormatMode::Normal)};
  }

  const auto words = args.subspan(1);
  const LineScan scan = scan_line(root, words);
  if (scan.missing_context != nullptr) {
    const CLI::Option* option = scan.missing_context->get_option_no_throw(scan.missing_option);
    return usage_error(*parser, *scan.missing_context,
                       "a value is required for '" + scan.missing_option + " <" + option->get_type_name() +
                           ">' but none was supplied");
  }
  const std::size_t options_end = scan.options_end;
  const auto after_dashes = options_end < words.size() ? words.subspan(options_end + 1) : words.last(0);
  // CLI11 takes its words last first.
  std::vector<std::string> reversed;
  for (auto it = after_dashes.rbegin(); it != after_dashes.rend(); ++it) reversed.push_back(mark_plain(*it));
  for (std::size_t i = options_end; i-- > 0;) {
    const std::string& word = words[i];
    if (std::ranges::find(scan.empty_values, i) != scan.empty_values.end()) {
      reversed.push_back(mark_plain(""));
      reversed.push_back(word.substr(0, word.size() - 1));
      continue;
    }
    const bool bracketed = word.size() >= 2 && word.front() == '[' && word.back() == ']';
    reversed.push_back(bracketed ? mark_plain(word) : word);
  }

  try {
    root.parse(std::move(reversed));
    const CLI::App& command = selected_command(*parser);
    if (&command == &root) {
      std::string message = "A command is required, one of: ";
      bool first = true;
      for (const CLI::App* c : root.get_subcommands([](CLI::App*) { return true; })) {
        message += (first ? "" : ", ") + c->get_name();
        first = false;
      }
      return usage_error(*parser, root, message);
    }
    auto filled = fill_records(parser->def, command, after_dashes);
    if (auto* cli = std::get_if<Cli>(&filled)) return std::move(*cli);
    const auto& show = std::get<ShowHelp>(filled);
    return CliExit{.status = 0, .out = help_page(*parser, *show.app, CLI::AppFormatMode::All), .err = {}};
  } catch (const CLI::CallForHelp&) {
    return CliExit{
        .status = 0, .out = help_page(*parser, selected_command(*parser), CLI::AppFormatMode::Normal), .err = {}};
  } catch (const CLI::CallForAllHelp&) {
    return CliExit{
        .status = 0, .out = help_page(*parser, selected_command(*parser), CLI::AppFormatMode::All), .err = {}};
  } catch (const CLI::CallForVersion& version) {
    return CliExit{.status = 0, .out = std::string(version.what()) + "\n", .err = {}};
  } catch (const CLI::ExtrasError& error) {
    // The root's leftovers are reported before those of the command.
    const CLI::App& command = selected_command(*parser);
    auto left = root.remaining();
    if (left.empty()) left = command.remaining();
    if (left.empty()) return usage_error(*parser, command, error.what());
    for (auto& word : left) word = unmark(word);
    return usage_error(*parser, command, extras_error(std::move(left)).what());
  } catch (const CLI::Error& error) {
    return usage_error(*parser, selected_command(*parser), error.what());
  }
}

}  // namespace pindrel
