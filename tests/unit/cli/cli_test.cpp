#include "cli/cli.hpp"
#include "util/utf8.hpp"

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

namespace pindrel {
namespace {

std::variant<Cli, CliExit> parse(std::vector<std::string> words, std::string argv0 = "/usr/local/bin/pindrel") {
  words.insert(words.begin(), std::move(argv0));
  return parse_command_line(words);
}

CliExit answer(std::vector<std::string> words, std::string argv0 = "/usr/local/bin/pindrel") {
  auto result = parse(std::move(words), std::move(argv0));
  if (!std::holds_alternative<CliExit>(result)) {
    ADD_FAILURE() << "the line was accepted";
    return {};
  }
  return std::get<CliExit>(result);
}

std::string joined(const std::vector<std::string>& words) {
  std::string text;
  for (const auto& word : words) text += "[" + word + "]";
  return text;
}

Cli with(CliCommand command) {
  Cli cli;
  cli.command = std::move(command);
  return cli;
}

TEST(CommandLine, AcceptedLinesGiveTheirRecords) {
  struct Case {
    std::vector<std::string> words;
    Cli cli;
  };
  Cli json_changed = with(ChangedSymbolsArgs{});
  json_changed.format = OutputFormat::json;
  Cli globals = with(ChangedSymbolsArgs{.base = "main"});
  globals.workspace = "w\xff";
  globals.verbose = true;

  ImpactedTestsArgs replayed_changes;
  replayed_changes.changed = "c.json";
  replayed_changes.budgets.max_depth = 7;
  RunArgs replay;
  replay.impact = "i.json";
  replay.dry_run = true;
  replay.fallback_command = R"(["pick", "--all"])";
  replay.git_env = GitEnvPolicy::inherit;
  replay.pytest_args = {"-k", "a\xfe", "--base", "b"};
  RunArgs budgets;
  budgets.budgets = {.max_depth = 4294967295u, .max_symbols = 18446744073709551615u, .budget_ms = 0};
  RunArgs dashes;
  dashes.pytest_args = {"--", "-V"};
  // "--base=" is an empty value; the next word stays a word of its own.
  RunArgs empty_base;
  empty_base.base = "";
  empty_base.dry_run = true;
  Cli empty_workspace = with(DoctorArgs{});
  empty_workspace.workspace = "";

  const Case cases[] = {
      {{"changed-symbols"}, with(ChangedSymbolsArgs{})},
      {{"--format", "json", "changed-symbols"}, json_changed},
      {{"changed-symbols", "--format=json"}, json_changed},
      {{"-v", "--workspace", "w\xff", "changed-symbols", "--base", "main"}, globals},
      {{"changed-symbols", "--base", "main", "--verbose", "--workspace=w\xff"}, globals},
      {{"impacted-tests", "--changed", "c.json", "--max-depth", "7"}, with(replayed_changes)},
      {{"run", "--impact", "i.json", "--dry-run", "--git-env", "inherit", "--fallback-command", R"(["pick", "--all"])",
        "--", "-k", "a\xfe", "--base", "b"},
       with(replay)},
      {{"run", "--max-depth", "+4294967295", "--max-symbols", "18446744073709551615", "--budget-ms", "0"},
       with(budgets)},
      {{"run", "--", "--", "-V"}, with(dashes)},
      {{"run", "--"}, with(RunArgs{})},
      {{"run", "--base=", "--dry-run"}, with(empty_base)},
      {{"--workspace=", "doctor"}, empty_workspace},
      {{"audit", "[x,y]", "--format", "json", "a\xff.py", "--", "-c.py", "[]"},
       [] {
         Cli cli = with(AuditArgs{.files = {"[x,y]", "a\xff.py", "-c.py", "[]"}});
         cli.format = OutputFormat::json;
         return cli;
       }()},
      {{"doctor"}, with(DoctorArgs{})},
      {{"guide"}, with(GuideArgs{})},
      {{"guide", "tune"}, with(GuideArgs{.topic = GuideTopic::tune})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(joined(c.words));
    const auto result = parse(c.words);
    ASSERT_TRUE(std::holds_alternative<Cli>(result)) << std::get<CliExit>(result).err;
    EXPECT_EQ(std::get<Cli>(result), c.cli);
  }
}

TEST(CommandLine, RefusedLinesNameWhatIsWrong) {
  struct Case {
    std::vector<std::string> words;
    std::vector<std::string> named;    // each must appear in the message
    std::string_view absent = "\x01";  // must not
  };
  const Case cases[] = {
      {{"-v"}, {"command is required", "changed-symbols, impacted-tests, run, audit, doctor, guide, help"}},
      {{"bogus"}, {"bogus"}},
      {{"doctor", "--bogus"}, {"--bogus", "Usage: pindrel doctor"}},
      {{"changed-symbols", "--base"}, {"--base"}},
      // An option is never handed a following option as its value.
      {{"run", "--base", "--dry-run"}, {"a value is required for '--base <REF>'", "Usage: pindrel run"}},
      {{"--workspace", "-v", "guide"}, {"a value is required for '--workspace <PATH>'"}},
      {{"run", "--fallback-command", "--", "x"}, {"'--fallback-command <JSON_ARRAY>'"}},
      {{"run", "stray", "--", "zz9"}, {"stray"}, "zz9"},
      {{"--format", "JSON", "doctor"}, {"--format", "'JSON'", "human, json"}, "did you mean"},
      {{"--format", "jsn", "doctor"}, {"'jsn'", "did you mean 'json'?"}},
      {{"run", "--git-env", "inherits"}, {"--git-env", "'inherits'", "isolate, inherit", "did you mean 'inherit'?"}},
      {{"guide", "Setup"}, {"TOPIC", "'Setup'", "setup, triage, tune", "did you mean 'setup'?"}},
      {{"run", "--max-depth", "4294967296"}, {"--max-depth", "'4294967296'"}},
      {{"run", "--max-symbols", "18446744073709551616"}, {"--max-symbols", "'18446744073709551616'"}},
      {{"impacted-tests", "--budget-ms", "-1"}, {"--budget-ms", "'-1'"}},
      {{"impacted-tests", "--budget-ms", "0x10"}, {"--budget-ms", "'0x10'"}},
      {{"-v", "-v", "doctor"}, {"--verbose"}},
      {{"-v", "doctor", "--verbose"}, {"--verbose"}},
      {{"--format", "json", "doctor", "--format", "json"}, {"--format"}},
      {{"changed-symbols", "--base", "a", "--base", "b"}, {"--base"}},
      {{"impacted-tests", "--changed", "c", "--base", "b"}, {"--changed", "--base"}},
      {{"impacted-tests", "--base", "b", "--changed", "c"}, {"--changed", "--base"}},
      {{"run", "--max-symbols", "1", "--impact", "i"}, {"--impact", "--max-symbols"}},
      {{"run", "--impact", "i", "--base", "b", "--dry-run"}, {"--impact", "--base"}},
      {{"audit"}, {"FILE", "Usage: pindrel audit [OPTIONS] <FILE>..."}},
      {{"doctor", "-V"}, {"-V"}},
      {{"changed-symbols", "--base", "ma\xffin"}, {"--base", "'ma\xEF\xBF\xBDin'", "UTF-8"}},
      {{"run", "--fallback-command", "[\"\xff\"]"}, {"--fallback-command", "UTF-8"}},
      {{"help", "nope"}, {"'nope'"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(joined(c.words));
    const CliExit exit = answer(c.words);
    EXPECT_EQ(exit.status, 2);
    EXPECT_EQ(exit.out, "");
    EXPECT_TRUE(exit.err.starts_with("error: ")) << exit.err;
    EXPECT_NE(exit.err.find("\nUsage: pindrel "), std::string::npos) << exit.err;
    EXPECT_TRUE(is_valid_utf8(exit.err));
    for (const auto& part : c.named) EXPECT_NE(exit.err.find(part), std::string::npos) << part << "\n" << exit.err;
    EXPECT_EQ(exit.err.find(c.absent), std::string::npos) << exit.err;
  }
}

TEST(CommandLine, UsageErrorShowsTheCommandsUsageUnderTheProgramsOwnName) {
  const CliExit exit = answer({"run", "stray"}, "./build/pi");
  EXPECT_EQ(exit.err,
            "error: The following argument was not expected: stray\n"
            "\n"
            "Usage: pi run [OPTIONS] [-- <PYTEST_ARGS>...]\n"
            "\n"
            "For more information, try '--help'.\n");
}

TEST(CommandLine, VersionIsNameAndNumber) {
  for (const std::string flag : {"-V", "--version"}) {
    const CliExit exit = answer({flag}, "/tmp/renamed");
    EXPECT_EQ(exit.status, 0);
    EXPECT_EQ(exit.out, "pindrel 0.5.0\n");
    EXPECT_EQ(exit.err, "");
  }
}

constexpr std::string_view root_long_about =
    "pindrel maps the working tree's git diff to the Python symbols it changed, walks `ty`'s reference graph out to "
    "the tests that reach them, and runs exactly those under pytest. Anything it cannot see through becomes \"run the "
    "whole suite\" rather than a confident short list.\n"
    "\n"
    "`audit` reads the same reference graph backwards, for the files you name: symbols nothing references, and "
    "symbols only your tests reach.\n"
    "\n"
    "References are resolved through `qlo --format json` (from quillo), so `qlo` must be on PATH — install it with "
    "`uv add --dev quillo`, or point PINDREL_QLO at the binary.\n"
    "\n"
    "`changed-symbols` needs none of that: it uses `git` alone, taken from PATH unless PINDREL_GIT names a binary.";

constexpr std::string_view after_help =
    "Getting started:\n"
    "\n"
    "  1. `pindrel doctor`             — check that qlo and the workspace resolve.\n"
    "  2. `pindrel changed-symbols`    — which symbols the working tree changed.\n"
    "  3. `pindrel impacted-tests`     — which tests those changed symbols reach.\n"
    "  4. `pindrel run -- -x`          — run exactly those tests under pytest.\n"
    "  5. `pindrel run --dry-run`      — that decision and the exact argv, spawning nothing.\n"
    "  6. `pindrel audit pkg/*.py`     — separately: unreferenced and test-only symbols.\n"
    "\n"
    "`pindrel guide` prints agent-facing instructions for where you are standing: `setup` until a tolvane step names "
    "pindrel in ./pyproject.toml, `triage` after; `tune` is the reference and is only ever asked for by name.\n"
    "\n"
    "Exit codes:\n"
    "\n"
    "  0  no findings\n"
    "  1  findings reported\n"
    "  2  the run could not complete (qlo missing, bad workspace, ...)\n"
    "\n"
    "`run` is the exception: once pytest starts, the exit code is pytest's own, because pindrel's process has become "
    "pytest. The same goes for a configured `fallback-command`, which takes over a `run_all` outcome.\n"
    "\n"
    "`changed-symbols` and `impacted-tests` never return 1: they are inventories rather than verdicts. When "
    "`impacted-tests` cannot trust its own answer it says so in the report (`verdict: run_all`) and still exits 0, "
    "because \"run everything\" is a usable answer for a pre-commit hook.";

bool contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

TEST(CommandLine, LongHelpAddsLongAboutsValueHelpAndAfterHelp) {
  const CliExit long_help = answer({"--help"});
  EXPECT_EQ(long_help.status, 0);
  EXPECT_EQ(long_help.err, "");
  EXPECT_TRUE(long_help.out.starts_with(root_long_about)) << long_help.out;
  EXPECT_TRUE(long_help.out.ends_with("\n\n" + std::string(after_help) + "\n")) << long_help.out;
  EXPECT_TRUE(contains(long_help.out, "- json: A single JSON object, for piping into other tools"));
  EXPECT_EQ(answer({"help"}).out, long_help.out);

  const CliExit short_help = answer({"-h"});
  EXPECT_EQ(short_help.status, 0);
  EXPECT_TRUE(
      short_help.out.starts_with("Impact-based pytest selection for Python, powered by quillo.\n\n"
                                 "Usage: pindrel [OPTIONS] <COMMAND>\n"));
  EXPECT_FALSE(contains(short_help.out, "Getting started:"));
  EXPECT_FALSE(contains(short_help.out, "walks `ty`'s reference graph"));
  EXPECT_FALSE(contains(short_help.out, "Aligned, human-readable lines"));
  EXPECT_TRUE(contains(short_help.out, "[possible values: human, json]"));

  // The commands are listed in their order, each with its short about.
  std::size_t at = 0;
  for (const std::string_view line :
       {"  changed-symbols  Report the Python symbols the working tree changed against a base ref\n",
        "  impacted-tests   Report the tests the working tree's changed symbols can reach\n",
        "  run              Run pytest on exactly the tests the working tree's changes impact\n",
        "  audit            Report symbols that nothing references, and symbols only tests reach\n",
        "  doctor           Check that `qlo` and the workspace resolve, without running an analysis\n",
        "  guide            Print short instructions for using pindrel here\n"}) {
    const auto found = short_help.out.find(line, at);
    ASSERT_NE(found, std::string::npos) << line;
    at = found;
  }
}

TEST(CommandLine, CommandHelpPages) {
  const CliExit guide = answer({"guide", "--help"});
  EXPECT_EQ(guide.status, 0);
  EXPECT_TRUE(guide.out.starts_with(
      "Print short instructions for using pindrel here.\n\n"
      "With no topic, picks `setup` or `triage` by reading one file: `./pyproject.toml`, looking for a "
      "`[tool.tolvane]` step that names pindrel. `tune` is a reference and is never auto-selected. Needs no "
      "repository, no `qlo` and no `git`; exits `0`, or `2` if it could not write its output.\n\n"
      "Usage: pindrel guide [OPTIONS] [TOPIC]\n"))
      << guide.out;
  EXPECT_TRUE(contains(guide.out, "- triage: A run said `run_all`, or a selection surprised you"));
  EXPECT_FALSE(contains(guide.out, "Getting started:"));
  EXPECT_EQ(answer({"help", "guide"}).out, guide.out);

  const CliExit audit = answer({"audit", "-h"});
  EXPECT_EQ(audit.status, 0);
  EXPECT_TRUE(
      audit.out.starts_with("Report symbols that nothing references, and symbols only tests reach\n\n"
                            "Usage: pindrel audit [OPTIONS] <FILE>...\n"))
      << audit.out;
  // The global options are listed on every command.
  EXPECT_TRUE(contains(audit.out, "--workspace <PATH>"));
  EXPECT_FALSE(contains(audit.out, "--version"));

  const CliExit run = answer({"run", "--help"});
  EXPECT_TRUE(contains(run.out,
                       "- isolate: Remove git's repository-local variables (`GIT_DIR`, `GIT_INDEX_FILE`, "
                       "...) from pytest's environment"));
  EXPECT_TRUE(contains(run.out, "The fallback command always inherits\n"));
}

TEST(CommandLine, NoArgumentsAtAllShowTheShortHelpAsAnError) {
  const CliExit exit = answer({});
  EXPECT_EQ(exit.status, 2);
  EXPECT_EQ(exit.out, "");
  EXPECT_EQ(exit.err, answer({"-h"}).out);
}

std::string without_styles(std::string_view text) {
  std::string plain;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\x1b') {
      i = text.find('m', i);
      if (i == std::string_view::npos) break;
      continue;
    }
    plain += text[i];
  }
  return plain;
}

TEST(CommandLine, ColourStylesOnlyItsOwnStreamAndAddsNothingElse) {
  struct Case {
    std::vector<std::string> words;
    std::vector<std::string> styled;  // each must appear in the coloured text
  };
  const Case cases[] = {
      {{"-h"},
       {"\x1b[1;4mUsage:\x1b[0m \x1b[1mpindrel\x1b[0m [OPTIONS]", "\x1b[1;4mCommands:\x1b[0m\n",
        "  \x1b[1mchanged-symbols\x1b[0m  Report", "      \x1b[1m--workspace\x1b[0m <PATH>  ",
        "  \x1b[1m-v, --verbose\x1b[0m  "}},
      {{"run", "--help"},
       {"\x1b[1;4mArguments:\x1b[0m\n", "\x1b[1;4mOptions:\x1b[0m\n", "\x1b[1m--git-env\x1b[0m <POLICY>\n"}},
      {{"--format", "jsn", "doctor"},
       {"\x1b[1;31merror:\x1b[0m --format: invalid value '\x1b[33mjsn\x1b[0m' [possible",
        "\x1b[1;4mUsage:\x1b[0m \x1b[1mpindrel doctor\x1b[0m [OPTIONS]", "try '\x1b[1m--help\x1b[0m'."}},
      {{"run", "a", "b", "--", "c"}, {"not expected: \x1b[33ma\x1b[0m \x1b[33mb\x1b[0m\n"}},
      {{"run", "--base", "--dry-run"}, {"for '\x1b[33m--base <REF>\x1b[0m' but"}},
      {{"-v", "-v", "doctor"}, {"error:\x1b[0m \x1b[33m--verbose\x1b[0m: At Most"}},
      {{"impacted-tests", "--changed", "c", "--base", "b"},
       {"\x1b[33m--base\x1b[0m excludes \x1b[33m--changed\x1b[0m\n"}},
      {{"audit"}, {"\x1b[33mFILE\x1b[0m is required"}},
      {{"guide", "Setup"}, {"'\x1b[33mSetup\x1b[0m'"}},
      {{"changed-symbols", "--base", "ma\xffin"}, {"'\x1b[33mma\xEF\xBF\xBDin\x1b[0m'"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(joined(c.words));
    const CliExit plain = answer(c.words);
    auto words = c.words;
    words.insert(words.begin(), "/usr/local/bin/pindrel");
    const auto both = parse_command_line(words, CliColors{.out = Color::on, .err = Color::on});
    ASSERT_TRUE(std::holds_alternative<CliExit>(both));
    const CliExit& coloured = std::get<CliExit>(both);
    const std::string& text = plain.status == 0 ? coloured.out : coloured.err;
    for (const auto& part : c.styled) EXPECT_TRUE(contains(text, part)) << part << "\n" << text;
    EXPECT_EQ(without_styles(coloured.out), plain.out);
    EXPECT_EQ(without_styles(coloured.err), plain.err);

    // Colour on the other stream only leaves this one plain.
    const auto other = parse_command_line(words, plain.status == 0 ? CliColors{.out = Color::off, .err = Color::on}
                                                                   : CliColors{.out = Color::on, .err = Color::off});
    EXPECT_EQ(std::get<CliExit>(other).out, plain.out);
    EXPECT_EQ(std::get<CliExit>(other).err, plain.err);
  }
  // Help that answers no arguments at all goes to standard error, in its colour.
  const auto bare =
      parse_command_line(std::vector<std::string>{"pindrel"}, CliColors{.out = Color::off, .err = Color::on});
  EXPECT_TRUE(
      std::get<CliExit>(bare).err.starts_with("Impact-based pytest selection for Python, powered by quillo.\n\n"
                                              "\x1b[1;4mUsage:\x1b[0m"));
}

}  // namespace
}  // namespace pindrel
