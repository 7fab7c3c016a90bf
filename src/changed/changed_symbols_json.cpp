#include "changed/changed_symbols_json.hpp"

#include "json/value.hpp"
#include "json/writer.hpp"

#include <array>

namespace pindrel::changed {

namespace {

using json::Field;
using json::Presence;
using pysource::DefinitionKind;

constexpr std::array<Field, 9> report_fields = {{
    {"base"},
    {"merge_base"},
    {"changed_symbols", Presence::defaulted},
    {"ignored_symbols", Presence::defaulted},
    {"module_level_changes", Presence::defaulted},
    {"non_python_changes", Presence::defaulted},
    {"ignored_paths", Presence::defaulted},
    {"test_files_changed", Presence::defaulted},
    {"errors", Presence::defaulted},
}};

constexpr std::array<Field, 7> symbol_change_fields = {{
    {"symbol"},
    {"file"},
    {"kind"},
    {"line"},
    {"column"},
    {"change"},
    {"ignored_by", Presence::defaulted},
}};

constexpr std::array<Field, 2> module_change_fields = {{{"module"}, {"file"}}};

Result<SymbolChange> deserialize_symbol_change(json::Reader& reader) {
  SymbolChange entry;
  auto read = reader.read_record({"SymbolChange", symbol_change_fields}, [&](std::size_t field) -> Result<void> {
    switch (field) {
      case 0: return json::store(entry.symbol, reader.read_string());
      case 1: return json::store(entry.file, reader.read_string());
      case 2: return json::store(entry.kind, deserialize_definition_kind(reader));
      case 3: return json::store(entry.line, reader.read_u32());
      case 4: return json::store(entry.column, reader.read_u32());
      case 5: return json::store(entry.change, deserialize_change_kind(reader));
      default:
        return json::store(entry.ignored_by,
                           reader.read_optional<std::string>([](json::Reader& r) { return r.read_string(); }));
    }
  });
  if (!read) return std::unexpected(std::move(read.error()));
  return entry;
}

Result<ModuleChange> deserialize_module_change(json::Reader& reader) {
  ModuleChange entry;
  auto read = reader.read_record({"ModuleChange", module_change_fields}, [&](std::size_t field) {
    return json::store(field == 0 ? entry.module : entry.file, reader.read_string());
  });
  if (!read) return std::unexpected(std::move(read.error()));
  return entry;
}

Result<ChangedSymbols> deserialize_changed_symbols(json::Reader& reader) {
  ChangedSymbols report;
  auto read = reader.read_record({"ChangedSymbols", report_fields}, [&](std::size_t field) -> Result<void> {
    switch (field) {
      case 0: return json::store(report.base, reader.read_string());
      case 1: return json::store(report.merge_base, reader.read_string());
      case 2: return json::store(report.changed_symbols, deserialize_symbol_changes(reader));
      case 3: return json::store(report.ignored_symbols, deserialize_symbol_changes(reader));
      case 4: return json::store(report.module_level_changes, deserialize_module_changes(reader));
      case 5: return json::store(report.non_python_changes, reader.read_strings());
      case 6: return json::store(report.ignored_paths, reader.read_strings());
      case 7: return json::store(report.test_files_changed, reader.read_strings());
      default: return json::store(report.errors, reader.read_strings());
    }
  });
  if (!read) return std::unexpected(std::move(read.error()));
  return report;
}

}  // namespace

void write_symbol_changes_json(json::PrettyWriter& writer, std::string_view key, const std::vector<SymbolChange>& list) {
  writer.key(key).begin_array();
  for (const SymbolChange& entry : list) {
    writer.begin_object()
        .member("symbol", entry.symbol)
        .member("file", entry.file)
        .member("kind", definition_kind_word(entry.kind))
        .key("line")
        .number(entry.line)
        .key("column")
        .number(entry.column)
        .member("change", change_kind_word(entry.change));
    if (entry.ignored_by) writer.member("ignored_by", *entry.ignored_by);
    writer.end_object();
  }
  writer.end_array();
}

void write_changed_symbols_json(const ChangedSymbols& report, json::PrettyWriter& writer) {
  writer.begin_object().member("base", report.base).member("merge_base", report.merge_base);
  write_symbol_changes_json(writer, "changed_symbols", report.changed_symbols);
  write_symbol_changes_json(writer, "ignored_symbols", report.ignored_symbols);
  writer.key("module_level_changes").begin_array();
  for (const ModuleChange& entry : report.module_level_changes) {
    writer.begin_object().member("module", entry.module).member("file", entry.file).end_object();
  }
  writer.end_array()
      .strings("non_python_changes", report.non_python_changes)
      .strings("ignored_paths", report.ignored_paths)
      .strings("test_files_changed", report.test_files_changed)
      .strings("errors", report.errors)
      .end_object();
}

void symbol_changes_to_json_value(nlohmann::json& object, std::string_view key, const std::vector<SymbolChange>& list) {
  json::Value array = json::Value::array();
  for (const SymbolChange& entry : list) {
    json::Value item = {
        {"symbol", entry.symbol},
        {"file", entry.file},
        {"kind", definition_kind_word(entry.kind)},
        {"line", entry.line},
        {"column", entry.column},
        {"change", change_kind_word(entry.change)},
    };
    if (entry.ignored_by) item["ignored_by"] = *entry.ignored_by;
    array.push_back(std::move(item));
  }
  object[std::string(key)] = std::move(array);
}

Result<ChangedSymbols> parse_changed_symbols(std::string_view text) {
  return json::Reader::read_document(text, deserialize_changed_symbols);
}

Result<std::vector<SymbolChange>> deserialize_symbol_changes(json::Reader& reader) {
  return reader.read_list<SymbolChange>(deserialize_symbol_change);
}

Result<std::vector<ModuleChange>> deserialize_module_changes(json::Reader& reader) {
  return reader.read_list<ModuleChange>(deserialize_module_change);
}

Result<DefinitionKind> deserialize_definition_kind(json::Reader& reader) { return reader.read_enum<DefinitionKind>(definition_kind_words); }

Result<ChangeKind> deserialize_change_kind(json::Reader& reader) { return reader.read_enum<ChangeKind>(change_kind_words); }

}  // namespace pindrel::changed
