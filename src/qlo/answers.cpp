// The reference tool's JSON answers, read leniently: a record is an object whose unknown keys
// are skipped, or an array of its values in declared order.

#include <array>

#include "json/reader.hpp"
#include "qlo/client.hpp"

namespace pindrel {
namespace {

using json::Field;
using json::Presence;
using json::Reader;
using json::Record;
using json::UnknownFields;

constexpr std::array<Field, 4> reference_fields = {{
    {"file", Presence::required},
    {"line", Presence::required},
    {"column", Presence::required},
    {"context", Presence::defaulted},
}};
constexpr Record reference_record{"Reference", reference_fields, UnknownFields::skip};

constexpr std::array<Field, 5> references_result_fields = {{
    {"symbol", Presence::required},
    {"reference_count", Presence::defaulted},
    {"references", Presence::defaulted},
    {"test_reference_count", Presence::defaulted},
    {"test_references", Presence::defaulted},
}};
constexpr Record references_result_record{"ReferencesResult", references_result_fields, UnknownFields::skip};

constexpr std::array<Field, 2> position_fields = {{{"line", Presence::required}, {"character", Presence::required}}};
constexpr Record position_record{"Position", position_fields, UnknownFields::skip};

constexpr std::array<Field, 2> range_fields = {{{"start", Presence::required}, {"end", Presence::required}}};
constexpr Record range_record{"Range", range_fields, UnknownFields::skip};

constexpr std::array<Field, 5> document_symbol_fields = {{
    {"name", Presence::required},
    {"kind", Presence::required},
    {"range", Presence::required},
    {"selectionRange", Presence::required},
    {"children", Presence::defaulted},
}};
constexpr Record document_symbol_record{"DocumentSymbol", document_symbol_fields, UnknownFields::skip};

Result<Reference> read_reference(Reader& reader) {
  Reference reference;
  auto read = reader.read_record(reference_record, [&](std::size_t field) -> Result<void> {
    switch (field) {
      case 0: return json::store(reference.file, reader.read_string());
      case 1: return json::store(reference.line, reader.read_u32());
      case 2: return json::store(reference.column, reader.read_u32());
      default: return json::store(reference.context, reader.read_string());
    }
  });
  if (!read) return std::unexpected(std::move(read.error()));
  return reference;
}

Result<std::vector<Reference>> read_references(Reader& reader) { return reader.read_list<Reference>(read_reference); }

Result<ReferencesResult> read_references_result(Reader& reader) {
  ReferencesResult result;
  auto read = reader.read_record(references_result_record, [&](std::size_t field) -> Result<void> {
    switch (field) {
      case 0: return json::store(result.symbol, reader.read_string());
      case 1: return json::store(result.reference_count, reader.read_u64());
      case 2: return json::store(result.references, read_references(reader));
      case 3: return json::store(result.test_reference_count, reader.read_u64());
      default: return json::store(result.test_references, read_references(reader));
    }
  });
  if (!read) return std::unexpected(std::move(read.error()));
  return result;
}

Result<Position> read_position(Reader& reader) {
  Position position;
  auto read = reader.read_record(position_record, [&](std::size_t field) -> Result<void> {
    return field == 0 ? json::store(position.line, reader.read_u32())
                      : json::store(position.character, reader.read_u32());
  });
  if (!read) return std::unexpected(std::move(read.error()));
  return position;
}

Result<Range> read_range(Reader& reader) {
  Range range;
  auto read = reader.read_record(range_record, [&](std::size_t field) -> Result<void> {
    return json::store(field == 0 ? range.start : range.end, read_position(reader));
  });
  if (!read) return std::unexpected(std::move(read.error()));
  return range;
}

Result<DocumentSymbol> read_document_symbol(Reader& reader);

Result<std::vector<DocumentSymbol>> read_document_symbols(Reader& reader) {
  return reader.read_list<DocumentSymbol>(read_document_symbol);
}

Result<DocumentSymbol> read_document_symbol(Reader& reader) {
  DocumentSymbol symbol;
  auto read = reader.read_record(document_symbol_record, [&](std::size_t field) -> Result<void> {
    switch (field) {
      case 0: return json::store(symbol.name, reader.read_string());
      case 1: {
        auto number = reader.read_u8();
        if (!number) return std::unexpected(std::move(number.error()));
        symbol.kind = symbol_kind_from_lsp(*number);
        return {};
      }
      case 2: return json::store(symbol.range, read_range(reader));
      case 3: return json::store(symbol.selection_range, read_range(reader));
      default: return json::store(symbol.children, read_document_symbols(reader));
    }
  });
  if (!read) return std::unexpected(std::move(read.error()));
  return symbol;
}

}  // namespace

Result<ReferencesResult> parse_references_result(std::string_view text) {
  auto json_text = find_json_start(text);
  if (!json_text) return std::unexpected(std::move(json_text.error()));
  auto result = Reader::read_document(*json_text, read_references_result);
  if (!result) return std::unexpected(std::move(result.error()).context("could not parse `qlo refs` JSON"));
  return result;
}

Result<std::vector<ReferencesResult>> parse_qlo_refs_output(std::string_view stdout_text, std::size_t targets) {
  auto json_text = find_json_start(stdout_text);
  if (!json_text) return std::unexpected(std::move(json_text.error()));
  std::vector<ReferencesResult> answers;
  if (json_text->starts_with('[')) {
    auto list = Reader::read_document(
        *json_text, [](Reader& reader) { return reader.read_list<ReferencesResult>(read_references_result); });
    if (!list) return std::unexpected(std::move(list.error()).context("could not parse `qlo refs` JSON array"));
    answers = std::move(*list);
  } else {
    auto one = parse_references_result(*json_text);
    if (!one) return std::unexpected(std::move(one.error()));
    answers.push_back(std::move(*one));
  }
  if (answers.size() != targets) {
    return std::unexpected(Error("`qlo refs` answered " + std::to_string(answers.size()) + " of " +
                                 std::to_string(targets) + " queries"));
  }
  return answers;
}

Result<std::vector<DocumentSymbol>> parse_document_symbols(std::string_view text) {
  return Reader::read_document(text, read_document_symbols);
}

}  // namespace pindrel
