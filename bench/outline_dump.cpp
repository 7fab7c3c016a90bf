// Prints the outline of each Python file named on standard input (one path a line) as plain
// text, for comparing two builds of the outline. It uses nothing but the outline's interface,
// so it builds against any revision of it.

#include "pysource/outline.hpp"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <variant>

namespace {

using namespace pindrel::pysource;

std::string literal(const LiteralValue& value) {
  if (auto* text = std::get_if<LiteralValue::Text>(&value.value)) return "'" + text->content + "'";
  if (auto* flag = std::get_if<LiteralValue::Bool>(&value.value)) return flag->value ? "True" : "False";
  return "?";
}

void dump(std::ostream& out, const Outline& outline) {
  out << "has_error " << outline.has_error << '\n';
  for (const Definition& d : outline.definitions) {
    out << "def " << static_cast<int>(d.kind) << ' ' << d.qualname << ' ' << d.start_line << '-' << d.end_line << " @"
        << d.line << ':' << d.column << " (";
    for (const std::string& name : d.parameter_names) out << name << ',';
    out << ") [";
    for (const std::string& name : d.superclass_names) out << name << ',';
    out << "]\n";
    for (const Decorator& decorator : d.decorators) {
      out << "  @" << decorator.decorator_name << '(';
      for (const LiteralValue& arg : decorator.args) out << literal(arg) << ',';
      for (const auto& [keyword, value] : decorator.kwargs) out << keyword << '=' << literal(value) << ',';
      out << ")\n";
    }
  }
  for (const LineRange& range : outline.import_ranges)
    out << "import " << range.start_line << '-' << range.end_line << '\n';
  for (const ImportAlias& alias : outline.aliased_imports) {
    out << "alias " << alias.imported_name << ' ' << alias.alias_name << " @" << alias.line << ':' << alias.column
        << '\n';
  }
  for (const ModuleLevelName& name : outline.module_names) {
    out << "name " << name.bound_name << " @" << name.line << ':' << name.column << '\n';
  }
}

}  // namespace

int main() {
  std::string path;
  while (std::getline(std::cin, path)) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    std::cout << "== " << path << '\n';
    auto outline = outline_python_source(text.str());
    if (!outline) {
      std::cout << "error " << outline.error().render() << '\n';
      continue;
    }
    dump(std::cout, *outline);
  }
  return 0;
}
