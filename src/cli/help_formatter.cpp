#include "cli/help_formatter.hpp"

#include <algorithm>
#include <vector>

namespace pindrel::cli {
namespace {

constexpr std::string_view long_indent = "          ";

// The names of an option ("-v, --verbose", or four spaces and the long name) and what
// follows them (" <PATH>"); a positional is all value ("<FILE>...").
struct Spec {
  std::string names;
  std::string value;
};

Spec option_spec(const CLI::Option& option) {
  if (option.get_positional()) {
    const std::string name = option.get_name();
    std::string value = option.get_required() ? "<" + name + ">" : "[" + name + "]";
    if (option.get_items_expected_max() > 1) value += "...";
    return {{}, value};
  }
  const auto& shorts = option.get_snames();
  Spec spec;
  spec.names = shorts.empty() ? "    " : "-" + shorts.front() + ", ";
  spec.names += "--" + option.get_lnames().front();
  if (option.get_items_expected_max() > 0) spec.value = " <" + option.get_type_name() + ">";
  return spec;
}

std::string styled_spec(const Style& style, std::string_view names, std::string_view value) {
  const auto first = names.find_first_not_of(' ');
  if (first == std::string_view::npos) return std::string(names) + std::string(value);
  return std::string(names.substr(0, first)) + style.literal(names.substr(first)) + std::string(value);
}

std::string padded(std::string text, std::size_t shown, std::size_t width) {
  if (shown < width) text.append(width - shown, ' ');
  return text;
}

}  // namespace

std::string HelpFormatter::usage(const CLI::App& app, std::string_view name) const {
  std::string line = style_.literal(name);
  line += " [OPTIONS]";
  if (!app.get_subcommands([](const CLI::App*) { return true; }).empty()) line += " <COMMAND>";
  for (const CLI::Option* option : app.get_options([](const CLI::Option* o) { return o->get_positional(); })) {
    if (option == extras_.after_dashes) {
      line += " [-- <" + option->get_name() + ">...]";
    } else {
      line += " " + option_spec(*option).value;
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

void HelpFormatter::add_section(std::string& page, std::string_view title, const std::vector<Row>& rows,
                                std::size_t width, HelpLength length) const {
  if (rows.empty()) return;
  page += "\n" + style_.heading(title) + "\n";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    const std::string spec = styled_spec(style_, row.names, row.value);
    if (length == HelpLength::long_page) {
      if (i > 0) page += "\n";
      page += "  " + spec + "\n" + std::string(long_indent) + row.help;
      if (row.option != nullptr) page += long_notes(*row.option);
    } else {
      page += "  " + padded(spec, row.names.size() + row.value.size(), width) + "  " + row.help;
      if (row.option != nullptr) page += short_notes(*row.option);
    }
    page += "\n";
  }
}

std::string HelpFormatter::make_help(const CLI::App& app, std::string_view name, HelpLength length) const {
  const bool long_help = length == HelpLength::long_page;
  std::string page;
  const auto long_about = extras_.long_about.find(&app);
  page += long_help && long_about != extras_.long_about.end() ? long_about->second : app.get_description();
  page += "\n\n" + style_.heading("Usage:") + " " + usage(app, name) + "\n";

  const auto commands = app.get_subcommands([](const CLI::App*) { return true; });
  if (!commands.empty()) {
    std::size_t width = 0;
    for (const CLI::App* command : commands) width = std::max(width, command->get_name().size());
    page += "\n" + style_.heading("Commands:") + "\n";
    for (const CLI::App* command : commands) {
      const std::string& command_name = command->get_name();
      page += "  " + padded(style_.literal(command_name), command_name.size(), width) + "  " +
              command->get_description() + "\n";
    }
  }

  const CLI::Option* help = app.get_help_ptr();
  const CLI::Option* help_all = app.get_help_all_ptr();
  const CLI::Option* version = app.get_version_ptr();
  std::vector<Row> arguments;
  std::vector<Row> options;
  for (const CLI::Option* option : app.get_options()) {
    if (option == help || option == help_all || option == version) continue;
    auto& rows = option->get_positional() ? arguments : options;
    auto [names, value] = option_spec(*option);
    rows.push_back({std::move(names), std::move(value), option->get_description(), option});
  }
  if (help != nullptr && help_all != nullptr) {
    options.push_back({"-h, --help", "", long_help ? help_all->get_description() : help->get_description(), nullptr});
  }
  if (version != nullptr) options.push_back({"-V, --version", "", version->get_description(), nullptr});

  std::size_t width = 0;
  for (const auto* rows : {&arguments, &options}) {
    for (const Row& row : *rows) width = std::max(width, row.names.size() + row.value.size());
  }
  add_section(page, "Arguments:", arguments, width, length);
  add_section(page, "Options:", options, width, length);

  if (const auto after = extras_.after_long_help.find(&app); long_help && after != extras_.after_long_help.end()) {
    page += "\n" + after->second + "\n";
  }
  return page;
}

}  // namespace pindrel::cli
