#pragma once

// The help pages: `-h` asks for the short page, `--help` for the long one. CLI11 knows
// neither a long help nor value help texts, so those come beside the definition, keyed by
// its objects.
#include "cli/style.hpp"

#include <CLI/CLI.hpp>

#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pindrel::cli {

// A value of an enumeration as the command line names it, with its long-help text.
struct ValueDoc {
  std::string_view name;
  std::string_view help;
};

// What the help pages show that CLI11 has no place for.
struct HelpExtras {
  std::map<const CLI::App*, std::string> long_about;
  std::map<const CLI::App*, std::string> after_long_help;
  std::map<const CLI::Option*, std::span<const ValueDoc>> values;
  const CLI::Option* after_dashes = nullptr;  // taken only from the words after "--"
};

enum class HelpLength { short_page, long_page };

class HelpFormatter {
 public:
  HelpFormatter(const HelpExtras& extras, Style style) : extras_(extras), style_(style) {}

  // The help page of `app`, whose command line begins with `name`.
  std::string make_help(const CLI::App& app, std::string_view name, HelpLength length) const;
  // The usage line of `app`, without its "Usage: " lead.
  std::string usage(const CLI::App& app, std::string_view name) const;

 private:
  struct Row {
    std::string names;
    std::string value;
    std::string help;
    const CLI::Option* option;
  };

  std::string short_notes(const CLI::Option& option) const;
  std::string long_notes(const CLI::Option& option) const;
  void add_section(std::string& page, std::string_view title, const std::vector<Row>& rows, std::size_t width,
                   HelpLength length) const;

  const HelpExtras& extras_;
  Style style_;
};

}  // namespace pindrel::cli
