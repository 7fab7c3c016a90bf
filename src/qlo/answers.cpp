// The reference tool's JSON answers, read leniently: a record is an object whose unknown keys
// are skipped, or an array of its values in declared order.

#include "json/reader.hpp"
#include "qlo/client.hpp"

namespace pindrel {
namespace {

using json::field;
using json::Presence;
using json::Reader;
using json::UnknownFields;

constexpr auto reference_record =
    json::record<Reference>("Reference",
                            {
                                field<&Reference::file>("file"),
                                field<&Reference::line>("line"),
                                field<&Reference::column>("column"),
                                field<&Reference::context>("context", Presence::defaulted),
                            },
                            UnknownFields::skip);

Result<std::vector<Reference>> read_references(Reader& reader) {
  return reader.read_list<Reference>([](Reader& r) { return r.read_record(reference_record); });
}

constexpr auto references_result_record = json::record<ReferencesResult>(
    "ReferencesResult",
    {
        field<&ReferencesResult::symbol>("symbol"),
        field<&ReferencesResult::reference_count>("reference_count", Presence::defaulted),
        field<&ReferencesResult::references, read_references>("references", Presence::defaulted),
        field<&ReferencesResult::test_reference_count>("test_reference_count", Presence::defaulted),
        field<&ReferencesResult::test_references, read_references>("test_references", Presence::defaulted),
    },
    UnknownFields::skip);

Result<ReferencesResult> read_references_result(Reader& reader) { return reader.read_record(references_result_record); }

constexpr auto position_record = json::record<Position>(
    "Position", {field<&Position::line>("line"), field<&Position::character>("character")}, UnknownFields::skip);

Result<Position> read_position(Reader& reader) { return reader.read_record(position_record); }

constexpr auto range_record = json::record<Range>(
    "Range", {field<&Range::start, read_position>("start"), field<&Range::end, read_position>("end")},
    UnknownFields::skip);

Result<Range> read_range(Reader& reader) { return reader.read_record(range_record); }

Result<DocumentSymbolKind> read_symbol_kind(Reader& reader) {
  auto number = reader.read_u8();
  if (!number) return std::unexpected(std::move(number.error()));
  return symbol_kind_from_lsp(*number);
}

Result<std::vector<DocumentSymbol>> read_document_symbols(Reader& reader);

constexpr auto document_symbol_record = json::record<DocumentSymbol>(
    "DocumentSymbol",
    {
        field<&DocumentSymbol::name>("name"),
        field<&DocumentSymbol::kind, read_symbol_kind>("kind"),
        field<&DocumentSymbol::range, read_range>("range"),
        field<&DocumentSymbol::selection_range, read_range>("selectionRange"),
        field<&DocumentSymbol::children, read_document_symbols>("children", Presence::defaulted),
    },
    UnknownFields::skip);

Result<std::vector<DocumentSymbol>> read_document_symbols(Reader& reader) {
  return reader.read_list<DocumentSymbol>([](Reader& r) { return r.read_record(document_symbol_record); });
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
    return std::unexpected(
        Error("`qlo refs` answered " + std::to_string(answers.size()) + " of " + std::to_string(targets) + " queries"));
  }
  return answers;
}

Result<std::vector<DocumentSymbol>> parse_document_symbols(std::string_view text) {
  return Reader::read_document(text, read_document_symbols);
}

}  // namespace pindrel
