#include "cli/definition.hpp"

#include "cli/plain_words.hpp"
#include "cli/value_checks.hpp"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <limits>
#include <string_view>
#include <utility>
#include <vector>

namespace pindrel::cli {
namespace {

constexpr std::string_view program_version = PINDREL_VERSION;

// A CLI11 check from a failure text for a value; the value reaches it unmarked, and a
// refused one is kept for the usage error. The empty description keeps the value name in
// help pages as it is.
CLI::Validator value_check(Definition& def, std::function<std::string(const std::string&)> check) {
  return CLI::Validator(
      [&def, check = std::move(check)](std::string& raw) {
        std::string value = unmark(raw);
        std::string failure = check(value);
        if (!failure.empty()) def.refused_value = std::move(value);
        return failure;
      },
      "");
}

CLI::Validator one_of(Definition& def, std::vector<std::string_view> names) {
  return value_check(def, [names = std::move(names)](const std::string& value) { return check_one_of(value, names); });
}

template <std::size_t N>
CLI::Validator one_of(Definition& def, const std::array<ValueDoc, N>& values) {
  std::vector<std::string_view> names;
  for (const auto& v : values) names.push_back(v.name);
  return one_of(def, std::move(names));
}

CLI::Validator decimal_up_to(Definition& def, std::uint64_t max) {
  return value_check(def, [max](const std::string& value) { return check_decimal_up_to(value, max); });
}

CLI::Validator utf8_text(Definition& def) { return value_check(def, check_utf8); }

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

GlobalOptions augment_global_options(CLI::App& app, Definition& def) {
  GlobalOptions globals;
  globals.workspace = add_value_option(app, "--workspace", "PATH",
                                       "Project root (default: auto-detect upward from the current directory)");
  globals.format = add_value_option(app, "--format", "FORMAT", "Output shape")
                       ->check(one_of(def, output_format_values))
                       ->default_str("human");
  def.extras.values[globals.format] = output_format_values;
  globals.verbose = add_once_flag(app, "-v,--verbose", "Log at debug level to stderr");
  return globals;
}

CLI::Option* add_base(CLI::App& app, Definition& def) {
  return add_value_option(app, "--base", "REF",
                          "Base ref to diff against. Default: origin/main, then main, then master")
      ->check(utf8_text(def));
}

BudgetOptions augment_budget_flags(CLI::App& app, Definition& def) {
  BudgetOptions budgets;
  budgets.max_depth =
      add_value_option(app, "--max-depth", "N", "BFS levels to walk before giving up and saying `run_all`")
          ->check(decimal_up_to(def, std::numeric_limits<std::uint32_t>::max()));
  budgets.max_symbols =
      add_value_option(app, "--max-symbols", "N", "Symbols to visit before giving up and saying `run_all`")
          ->check(decimal_up_to(def, std::numeric_limits<std::uint64_t>::max()));
  budgets.budget_ms = add_value_option(app, "--budget-ms", "MS", "Wall-clock budget for the walk. `0` disables it")
                          ->check(decimal_up_to(def, std::numeric_limits<std::uint64_t>::max()));
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
  def.root_globals = augment_global_options(root, def);
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
    c.base = add_base(*c.app, def);
    c.globals = augment_global_options(*c.app, def);
  }
  {
    auto& c = def.impacted_tests;
    c.app = add_command(def, "impacted-tests", "Report the tests the working tree's changed symbols can reach",
                        paragraphs({"Report the tests the working tree's changed symbols can reach.",
                                    "Walks the reverse reference graph from `changed-symbols` outwards until it "
                                    "reaches test code. Needs `git` and `qlo`."}));
    c.base = add_base(*c.app, def);
    c.changed = add_value_option(*c.app, "--changed", "FILE",
                                 "Replay a saved `changed-symbols --format json` report instead of diffing the "
                                 "working tree");
    c.changed->excludes(c.base);
    c.budgets = augment_budget_flags(*c.app, def);
    c.globals = augment_global_options(*c.app, def);
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
    c.base = add_base(*c.app, def);
    c.impact = add_value_option(*c.app, "--impact", "FILE",
                                "Replay a saved `impacted-tests --format json` report instead of walking the working "
                                "tree");
    c.budgets = augment_budget_flags(*c.app, def);
    for (CLI::Option* other : {c.base, c.budgets.max_depth, c.budgets.max_symbols, c.budgets.budget_ms}) {
      c.impact->excludes(other);
    }
    c.dry_run = add_once_flag(*c.app, "--dry-run", "Print the decision and the exact argv; spawn nothing");
    c.fallback_command =
        add_value_option(*c.app, "--fallback-command", "JSON_ARRAY",
                         "What to exec instead of the full suite when the outcome is `run_all`, as a JSON array: "
                         "`[\"scripts/pick.sh\", \"--from-pindrel\"]`. Beats `PINDREL_FALLBACK`, which beats "
                         "`fallback-command` in pyproject.toml")
            ->check(utf8_text(def));
    c.git_env = add_value_option(
                    *c.app, "--git-env", "POLICY",
                    "Whether pytest inherits git's repository-local environment (`GIT_DIR`, `GIT_INDEX_FILE`, …), "
                    "which a hook exports so every git it spawns targets the repository being committed. `isolate` "
                    "removes them, so a test that creates a repository of its own does not operate on that one; "
                    "`inherit` hands them on. Beats `git-env` in pyproject.toml. The fallback command always "
                    "inherits")
                    ->check(one_of(def, git_env_values));
    def.extras.values[c.git_env] = git_env_values;
    c.pytest_args =
        add_positional_list(*c.app, "PYTEST_ARGS", "Everything after `--`, appended to the pytest argv verbatim");
    def.extras.after_dashes = c.pytest_args;
    c.globals = augment_global_options(*c.app, def);
  }
  {
    auto& c = def.audit;
    c.app =
        add_command(def, "audit", "Report symbols that nothing references, and symbols only tests reach", std::nullopt);
    c.files = add_positional_list(*c.app, "FILE",
                                  "Python files to audit. Defaults to nothing — pass the files you care about")
                  ->required();
    c.globals = augment_global_options(*c.app, def);
  }
  {
    auto& c = def.doctor;
    c.app = add_command(def, "doctor", "Check that `qlo` and the workspace resolve, without running an analysis",
                        std::nullopt);
    c.globals = augment_global_options(*c.app, def);
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
                  ->check(one_of(def, guide_topic_values));
    def.extras.values[c.topic] = guide_topic_values;
    c.globals = augment_global_options(*c.app, def);
  }
  {
    auto& c = def.help;
    c.app = add_command(def, "help", "Print this message or the help of the given command(s)", std::nullopt);
    std::vector<std::string_view> names;
    for (const CLI::App* command : def.root.get_subcommands([](CLI::App*) { return true; })) {
      names.push_back(command->get_name());
    }
    c.commands = add_positional_list(*c.app, "COMMAND", "Print the help of the command(s)")
                     ->check(one_of(def, std::move(names)));
  }
}

}  // namespace

std::unique_ptr<Definition> build_cli_command() {
  auto def = std::make_unique<Definition>();
  augment_cli_args(*def);
  augment_subcommands(*def);
  return def;
}

}  // namespace pindrel::cli
