#pragma once

// The records read off a definition's header (its decorators, parameters, bases and the line
// its body opens on) and off `pytestmark` assignments.

#include "pysource/outline.hpp"
#include "pysource/syntax_tree.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pindrel::pysource {

class HeaderReader : public NodeReader {
 public:
  using NodeReader::NodeReader;

 protected:
  // The line of the definition's own colon, the one before its body; a colon inside the
  // parameters or the bases belongs to a child node. Without one, the whole span counts.
  std::uint32_t header_end_line(TSNode definition, std::uint32_t end_line);
  std::vector<std::string> parameter_names(TSNode parameters);
  std::vector<std::string> superclass_names(TSNode superclasses);
  // Whether the bases include a `metaclass=` keyword.
  bool has_metaclass_keyword(TSNode superclasses);
  // The dotted name of an identifier, an attribute chain or a call, looking through calls
  // anywhere along the chain: a().b gives a.b.
  std::optional<std::string> dotted_name_of(TSNode node) const;
  std::optional<Decorator> read_decorator(TSNode node);
  // The expression read as a decorator: its dotted name and, for a call, the arguments.
  std::optional<Decorator> decorator_of(TSNode expression);
  LiteralValue literal_value_of(TSNode node);
  // Appends each `pytestmark` assignment of `statement`, in the class `scope` (empty at module level).
  void read_mark_assignments(TSNode statement, std::string_view scope, std::vector<MarkAssignment>& out);
};

}  // namespace pindrel::pysource
