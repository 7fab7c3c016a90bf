#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace pindrel::pysource {

// What a Python definition is. `class_` stands for the keyword; reports write it "class".
enum class DefinitionKind {
  function,  // a function not defined in a class body
  method,    // a function defined in a class body, also under an `if` or `try` there
  class_,    // any class, nested ones included
  count_,    // the number of kinds, for the table below
};

// The words reports write for the kinds, in the order of their values.
inline constexpr std::array<std::string_view, 3> definition_kind_words = {"function", "method", "class"};
static_assert(definition_kind_words.size() == std::size_t(DefinitionKind::count_));

inline std::string_view definition_kind_word(DefinitionKind kind) {
  return definition_kind_words[static_cast<std::size_t>(kind)];
}

}  // namespace pindrel::pysource
