#include "changed/changed_symbols_json.hpp"

#include "json/value.hpp"
#include "json/writer.hpp"

namespace pindrel::changed {

namespace {

using json::field;
using json::Presence;
using pysource::DefinitionKind;

constexpr auto symbol_change_record =
    json::record<SymbolChange>("SymbolChange", {
                                                   field<&SymbolChange::symbol>("symbol"),
                                                   field<&SymbolChange::file>("file"),
                                                   field<&SymbolChange::kind, deserialize_definition_kind>("kind"),
                                                   field<&SymbolChange::line>("line"),
                                                   field<&SymbolChange::column>("column"),
                                                   field<&SymbolChange::change, deserialize_change_kind>("change"),
                                                   field<&SymbolChange::ignored_by>("ignored_by", Presence::defaulted),
                                               });

constexpr auto module_change_record = json::record<ModuleChange>(
    "ModuleChange", {field<&ModuleChange::module>("module"), field<&ModuleChange::file>("file")});

constexpr auto report_record = json::record<ChangedSymbols>(
    "ChangedSymbols",
    {
        field<&ChangedSymbols::base>("base"),
        field<&ChangedSymbols::merge_base>("merge_base"),
        field<&ChangedSymbols::changed_symbols, deserialize_symbol_changes>("changed_symbols", Presence::defaulted),
        field<&ChangedSymbols::ignored_symbols, deserialize_symbol_changes>("ignored_symbols", Presence::defaulted),
        field<&ChangedSymbols::module_level_changes, deserialize_module_changes>("module_level_changes",
                                                                                 Presence::defaulted),
        field<&ChangedSymbols::non_python_changes>("non_python_changes", Presence::defaulted),
        field<&ChangedSymbols::ignored_paths>("ignored_paths", Presence::defaulted),
        field<&ChangedSymbols::test_files_changed>("test_files_changed", Presence::defaulted),
        field<&ChangedSymbols::errors>("errors", Presence::defaulted),
    });

}  // namespace

void write_symbol_changes_json(json::PrettyWriter& writer, std::string_view key,
                               const std::vector<SymbolChange>& list) {
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
        {"symbol", entry.symbol}, {"file", entry.file},     {"kind", definition_kind_word(entry.kind)},
        {"line", entry.line},     {"column", entry.column}, {"change", change_kind_word(entry.change)},
    };
    if (entry.ignored_by) item["ignored_by"] = *entry.ignored_by;
    array.push_back(std::move(item));
  }
  object[std::string(key)] = std::move(array);
}

Result<ChangedSymbols> parse_changed_symbols(std::string_view text) {
  return json::Reader::read_document(text, [](json::Reader& reader) { return reader.read_record(report_record); });
}

Result<std::vector<SymbolChange>> deserialize_symbol_changes(json::Reader& reader) {
  return reader.read_list<SymbolChange>([](json::Reader& r) { return r.read_record(symbol_change_record); });
}

Result<std::vector<ModuleChange>> deserialize_module_changes(json::Reader& reader) {
  return reader.read_list<ModuleChange>([](json::Reader& r) { return r.read_record(module_change_record); });
}

Result<DefinitionKind> deserialize_definition_kind(json::Reader& reader) {
  return reader.read_enum<DefinitionKind>(definition_kind_words);
}

Result<ChangeKind> deserialize_change_kind(json::Reader& reader) {
  return reader.read_enum<ChangeKind>(change_kind_words);
}

}  // namespace pindrel::changed
