#include "changed/changed_symbols_text.hpp"

#include "util/utf8.hpp"

#include <algorithm>

namespace pindrel::changed {
namespace {

// Widths count Unicode scalar values, so a non-ASCII name keeps the next column aligned.
void append_padded(std::string& text, std::string_view value, std::size_t width) {
  text += value;
  const std::size_t length = scalar_count(value);
  if (length < width) text.append(width - length, ' ');
}

void write_path_section(std::string& text, std::string_view title, const std::vector<std::string>& paths) {
  if (paths.empty()) return;
  append_section_header(text, title, paths.size());
  for (const auto& path : paths) {
    text += "  ";
    text += path;
    text += '\n';
  }
}

void write_module_section(std::string& text, const std::vector<ModuleChange>& changes) {
  if (changes.empty()) return;
  std::size_t width = 0;
  for (const auto& change : changes) width = std::max(width, scalar_count(change.module));
  append_section_header(text, "module-level changes", changes.size());
  for (const auto& change : changes) {
    text += "  ";
    append_padded(text, change.module, width);
    text += "  ";
    text += change.file;
    text += '\n';
  }
}

}  // namespace

void append_section_header(std::string& text, std::string_view title, std::size_t count) {
  text += '\n';
  text += title;
  text += " (";
  text += std::to_string(count);
  text += ")\n";
}

void render_changed_symbols_text(std::string& text, const ChangedSymbols& report) {
  // Every file under `errors` also gave module-level changes, so `errors` need not be asked.
  if (report.changed_symbols.empty() && report.ignored_symbols.empty() && report.module_level_changes.empty() &&
      report.test_files_changed.empty() && report.non_python_changes.empty() && report.ignored_paths.empty()) {
    text += "\nNo changes against ";
    text += report.base;
    text += ".\n";
    return;
  }
  std::size_t width = 0;
  for (const auto* list : {&report.changed_symbols, &report.ignored_symbols}) {
    for (const auto& change : *list) width = std::max(width, scalar_count(change.symbol));
  }
  write_symbol_change_section(text, "changed symbols", report.changed_symbols, width);
  write_symbol_change_section(text, "ignored symbols", report.ignored_symbols, width);
  write_module_section(text, report.module_level_changes);
  write_path_section(text, "changed test files", report.test_files_changed);
  write_path_section(text, "non-Python changes", report.non_python_changes);
  write_path_section(text, "ignored paths", report.ignored_paths);
  write_path_section(text, "parse errors", report.errors);
}

void write_symbol_change_section(std::string& text, std::string_view title, const std::vector<SymbolChange>& changes,
                                 std::size_t width) {
  if (changes.empty()) return;
  append_section_header(text, title, changes.size());
  for (const auto& change : changes) {
    text += "  ";
    append_padded(text, change_kind_word(change.change), 8);
    text += "  ";
    append_padded(text, definition_kind_word(change.kind), 8);
    text += "  ";
    append_padded(text, change.symbol, width);
    text += "  ";
    text += change.file;
    if (change.ignored_by) {
      text += "  (@";
      text += *change.ignored_by;
      text += ')';
    }
    text += '\n';
  }
}

}  // namespace pindrel::changed
