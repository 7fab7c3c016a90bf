#pragma once

// The parsed command line: plain records that the commands receive. Nothing here knows
// the parsing library.
#include "project/git_env_policy.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace pindrel {

enum class OutputFormat { human, json };
enum class GuideTopic { setup, triage, tune };

// The walk budgets given on the command line; absent ones fall back to configuration.
struct BudgetFlags {
  std::optional<std::uint32_t> max_depth;
  std::optional<std::uint64_t> max_symbols;
  std::optional<std::uint64_t> budget_ms;
  friend bool operator==(const BudgetFlags&, const BudgetFlags&) = default;
};

struct ChangedSymbolsArgs {
  std::optional<std::string> base;
  friend bool operator==(const ChangedSymbolsArgs&, const ChangedSymbolsArgs&) = default;
};

struct ImpactedTestsArgs {
  std::optional<std::string> base;
  std::optional<std::filesystem::path> changed;
  BudgetFlags budgets;
  friend bool operator==(const ImpactedTestsArgs&, const ImpactedTestsArgs&) = default;
};

struct RunArgs {
  std::optional<std::string> base;
  std::optional<std::filesystem::path> impact;
  BudgetFlags budgets;
  bool dry_run = false;
  std::optional<std::string> fallback_command;  // the JSON array as typed
  std::optional<GitEnvPolicy> git_env;
  std::vector<std::string> pytest_args;  // operating-system bytes, not necessarily UTF-8
  friend bool operator==(const RunArgs&, const RunArgs&) = default;
};

struct AuditArgs {
  std::vector<std::filesystem::path> files;
  friend bool operator==(const AuditArgs&, const AuditArgs&) = default;
};

struct DoctorArgs {
  friend bool operator==(const DoctorArgs&, const DoctorArgs&) = default;
};

struct GuideArgs {
  std::optional<GuideTopic> topic;
  friend bool operator==(const GuideArgs&, const GuideArgs&) = default;
};

using CliCommand = std::variant<ChangedSymbolsArgs, ImpactedTestsArgs, RunArgs, AuditArgs, DoctorArgs, GuideArgs>;

struct Cli {
  std::optional<std::filesystem::path> workspace;
  OutputFormat format = OutputFormat::human;
  bool verbose = false;
  CliCommand command;
  friend bool operator==(const Cli&, const Cli&) = default;
};

}  // namespace pindrel
