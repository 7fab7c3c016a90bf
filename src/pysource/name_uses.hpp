#pragma once

// The names that the code run at import (module-level and class-body statements, and the
// headers of definitions) uses, each with what Python does with it there.

#include <cstdint>
#include <string>
#include <vector>

namespace pindrel::pysource {

enum class NameUseKind : std::uint8_t {
  runs,                  // evaluated where it can run code: called, passed on, operated on
  own_name,              // the name of its own `class` or `def`
  annotation,            // in an annotation: looked up at most, nothing called
  annotation_subscript,  // the `Base` of an evaluated `Base[T]` annotation
  stored,                // only bound: a bare value, a default, or handed to a wrapper that keeps it
  instantiated,          // called, the result only bound or dropped: a class instantiated
  not_run,               // assigned to, read for an attribute and dropped, or under the `__main__` guard
  base,                  // a base class of the class being defined
  base_subscript,        // the `Base` of `Base[T]` among the bases
  class_keyword,         // the value of a class keyword: `metaclass=Meta`
};

// A name that a statement binds: its qualified name (enclosing classes and the name) and position.
struct BoundName {
  std::string qualname;
  std::uint32_t line = 0;
  std::uint32_t column = 0;
  friend bool operator==(const BoundName&, const BoundName&) = default;
};

// One use of a name: an identifier, or the last name of an attribute chain (`keys.hashkey`).
struct NameUse {
  std::string name;
  std::uint32_t line = 0;
  std::uint32_t column = 0;
  NameUseKind kind = NameUseKind::runs;
  // `stored` and `instantiated`: the names the statement binds to the value; `keeps_value` when
  // what they hold is the named object itself (`Alias = Name`), not something made from it.
  std::vector<BoundName> bound;
  bool keeps_value = false;
  // The base kinds: the name position of the class being defined.
  std::uint32_t class_line = 0;
  std::uint32_t class_column = 0;
  friend bool operator==(const NameUse&, const NameUse&) = default;
};

}  // namespace pindrel::pysource
