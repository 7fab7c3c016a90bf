#include "impact/impact_report_text.hpp"

#include "changed/changed_symbols_text.hpp"
#include "project/base_line.hpp"
#include "project/modpath.hpp"
#include "util/u128.hpp"

#include <string_view>
#include <vector>

namespace pindrel::impact {
namespace {

constexpr std::string_view arrow = "\xE2\x86\x90";  // U+2190

void append_line(std::string& text, std::string_view value, std::string_view note = {}) {
  text += "  ";
  text += value;
  text += note;
  text += '\n';
}

// The qualified name: what follows the module name's ":".
std::string_view qualified_name(std::string_view symbol) {
  const std::size_t colon = symbol.rfind(':');
  return colon == std::string_view::npos ? symbol : symbol.substr(colon + 1);
}

void write_group(std::string& text, std::string_view title, const std::vector<const ImpactedTest*>& entries,
                 void (*write_entry)(std::string&, const ImpactedTest&)) {
  if (entries.empty()) return;
  changed::append_section_header(text, title, entries.size());
  for (const ImpactedTest* entry : entries) {
    write_entry(text, *entry);
    write_reference_chain(text, *entry);
  }
}

void write_test(std::string& text, const ImpactedTest& entry) {
  if (!entry.symbol) return append_line(text, entry.file, "  (whole file)");
  append_line(text, entry.file + "::" + std::string(qualified_name(*entry.symbol)));
}

void write_fixture(std::string& text, const ImpactedTest& entry) {
  append_line(text, entry.symbol ? *entry.symbol : entry.file, "  (the tests that consume it)");
}

void write_conftest(std::string& text, const ImpactedTest& entry) {
  append_line(text, entry.file, "  (every test file in its subtree)");
}

void write_text_section(std::string& text, std::string_view title, const std::vector<std::string>& lines) {
  if (lines.empty()) return;
  changed::append_section_header(text, title, lines.size());
  for (const auto& line : lines) append_line(text, line);
}

}  // namespace

std::string render_impact_report_text(const ImpactReport& report) {
  std::string text = render_base_line(report.base, report.merge_base);
  // The reason decides the line; a computed report has one exactly when its verdict is run_all.
  if (report.reason) {
    text += "verdict run_all \xE2\x80\x94 ";
    text += run_all_reason_text(report.reason);
    text += '\n';
  } else {
    text += "verdict selected\n";
  }

  if (report.impacted_tests.empty()) {
    text += "\nNo impacted tests.\n";
  } else {
    std::vector<const ImpactedTest*> tests, fixtures, conftests;
    for (const auto& entry : report.impacted_tests) {
      if (entry.kind == TestKind::fixture) {
        fixtures.push_back(&entry);
      } else if (!entry.symbol && is_conftest(entry.file)) {
        conftests.push_back(&entry);
      } else {
        tests.push_back(&entry);
      }
    }
    write_group(text, "impacted tests", tests, write_test);
    write_group(text, "impacted fixtures", fixtures, write_fixture);
    write_group(text, "impacted conftests", conftests, write_conftest);
  }

  write_text_section(text, "changed test files", report.test_files_changed);
  if (!report.ignored_symbols.empty()) {
    changed::append_section_header(text, "ignored symbols", report.ignored_symbols.size());
    for (const auto& ignored : report.ignored_symbols)
      append_line(text, ignored.symbol, "  (@" + ignored.ignored_by + ")");
  }
  write_text_section(text, "ignored paths", report.ignored_paths);
  write_text_section(text, "errors", report.errors);

  text += '\n';
  text += std::to_string(report.stats.visited);
  text += " symbol(s) visited, ";
  text += std::to_string(report.stats.qlo_calls);
  text += " qlo call(s), ";
  text += to_decimal(report.stats.duration_ms);
  text += " ms\n";
  return text;
}

void write_reference_chain(std::string& text, const ImpactedTest& entry) {
  text += "    ";
  text += arrow;
  text += ' ';
  for (const auto& symbol : entry.via) {
    text += symbol;
    text += ' ';
    text += arrow;
    text += ' ';
  }
  text += entry.origin;
  text += '\n';
}

}  // namespace pindrel::impact
