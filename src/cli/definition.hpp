#pragma once

// The CLI11 definition of the command line, with every text the help pages show. Every
// command carries its own copy of the global options, so that they are accepted on either
// side of the command name while the root's -V stays the root's.
#include "cli/help_formatter.hpp"
#include "project/git_env_policy.hpp"

#include <CLI/CLI.hpp>

#include <array>
#include <memory>
#include <optional>
#include <string>

namespace pindrel::cli {

// In the order of the enumerations: a value's position is its enumerator.
inline constexpr std::array<ValueDoc, 2> output_format_values{{
    {"human", "Aligned, human-readable lines"},
    {"json", "A single JSON object, for piping into other tools"},
}};
inline constexpr std::array<ValueDoc, 2> git_env_values{{
    {git_env_policy_name(GitEnvPolicy::isolate),
     "Remove git's repository-local variables (`GIT_DIR`, `GIT_INDEX_FILE`, ...) from pytest's environment"},
    {git_env_policy_name(GitEnvPolicy::inherit), "Hand pytest pindrel's environment as it is"},
}};
inline constexpr std::array<ValueDoc, 3> guide_topic_values{{
    {"setup", "pindrel is not wired into this repository yet"},
    {"triage", "A run said `run_all`, or a selection surprised you"},
    {"tune", "The base, the budgets, the config keys and the binaries"},
}};

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
  // The last value that a check refused, unmarked: the word a usage error is about.
  std::optional<std::string> refused_value;
};

// The whole definition, built once per run; its checks keep a pointer to it.
std::unique_ptr<Definition> build_cli_command();

}  // namespace pindrel::cli
