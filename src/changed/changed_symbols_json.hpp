#pragma once

// The JSON form of the changed-symbols report: the writer that `changed-symbols --format json` and the
// fallback payload use, the value-tree form of the dry-run plan, and the strict reader of `--changed`.

#include "changed/changed_symbols.hpp"
#include "json/reader.hpp"
#include "util/error.hpp"

#include <nlohmann/json_fwd.hpp>

#include <string_view>
#include <vector>

namespace pindrel::json {
class PrettyWriter;
}

namespace pindrel::changed {

// Writes `report` as one object at the writer's current nesting depth, its members in declared order.
void write_changed_symbols_json(const ChangedSymbols& report, json::PrettyWriter& writer);

// Writes `list` under `key`; an entry's "ignored_by" appears only when it is set.
void write_symbol_changes_json(json::PrettyWriter& writer, std::string_view key, const std::vector<SymbolChange>& list);

// Stores `list` under `key` in `object`, a value-tree object (json::Value), with the same members as the writer.
void symbol_changes_to_json_value(nlohmann::json& object, std::string_view key, const std::vector<SymbolChange>& list);

// Reads a whole text as one report, strictly: unknown or repeated members are refused, and every
// message ends with " at line {} column {}".
Result<ChangedSymbols> parse_changed_symbols(std::string_view text);

// The parts of the reader, each taking one value at the reader's position.
Result<std::vector<SymbolChange>> deserialize_symbol_changes(json::Reader& reader);
Result<std::vector<ModuleChange>> deserialize_module_changes(json::Reader& reader);
Result<pysource::DefinitionKind> deserialize_definition_kind(json::Reader& reader);
Result<ChangeKind> deserialize_change_kind(json::Reader& reader);

}  // namespace pindrel::changed
