#pragma once

#include "changed/changed_symbols.hpp"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace pindrel::changed {

// Appends the human form of the report that follows its base line: the titled sections in
// their fixed order, or the line saying that nothing changed.
void render_changed_symbols_text(std::string& text, const ChangedSymbols& report);

// Appends the blank line and the "{title} ({count})" header that open every section of a text report.
void append_section_header(std::string& text, std::string_view title, std::size_t count);

// Appends one titled section of symbol changes, the symbol column padded to `width`
// characters; nothing for an empty list.
void write_symbol_change_section(std::string& text, std::string_view title, const std::vector<SymbolChange>& changes,
                                 std::size_t width);

}  // namespace pindrel::changed
