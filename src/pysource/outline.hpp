#pragma once

#include "pysource/definition_kind.hpp"
#include "pysource/name_uses.hpp"
#include "util/error.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace pindrel::pysource {

// Every line and column below is 1-based; a column counts bytes from the start of its line.

// A decorator argument read as a literal.
struct LiteralValue {
  // A plain string literal's content, escape sequences as written, without prefix or quotes.
  struct Text {
    std::string content;
    friend bool operator==(const Text&, const Text&) = default;
  };
  // The literal True or False.
  struct Bool {
    bool value = false;
    friend bool operator==(const Bool&, const Bool&) = default;
  };
  // Any other expression.
  struct NotLiteral {
    friend bool operator==(const NotLiteral&, const NotLiteral&) = default;
  };

  std::variant<Text, Bool, NotLiteral> value;
  friend bool operator==(const LiteralValue&, const LiteralValue&) = default;
};

// One decorator line of a definition.
struct Decorator {
  std::string decorator_name;                                // the dotted name of the expression: app.route
  std::vector<LiteralValue> args;                            // a call decorator's positional arguments, in order
  std::vector<std::pair<std::string, LiteralValue>> kwargs;  // its keyword arguments, in order
  friend bool operator==(const Decorator&, const Decorator&) = default;
};

// One function, method or class.
struct Definition {
  std::string qualname;               // enclosing class names and the own name, joined by "."
  std::vector<Decorator> decorators;  // top to bottom
  std::vector<std::string> parameter_names;
  std::vector<std::string> superclass_names;
  bool has_metaclass = false;    // a class whose bases include `metaclass=`
  std::uint32_t start_line = 0;  // the first decorator's line when decorated
  std::uint32_t end_line = 0;    // the line where the last token ends
  // The line of the colon that opens the body: from `start_line` to here runs at definition time.
  std::uint32_t header_end_line = 0;
  std::uint32_t line = 0;  // position of the name
  std::uint32_t column = 0;
  DefinitionKind kind = DefinitionKind::function;
  friend bool operator==(const Definition&, const Definition&) = default;
};

struct LineRange {
  std::uint32_t start_line = 0;
  std::uint32_t end_line = 0;
  friend bool operator==(const LineRange&, const LineRange&) = default;
};

// `import a.b.c as d` or `from x import c as d`.
struct ImportAlias {
  std::string imported_name;  // the imported name after its last ".": c
  std::string alias_name;     // d
  std::uint32_t line = 0;     // position of the alias
  std::uint32_t column = 0;
  friend bool operator==(const ImportAlias&, const ImportAlias&) = default;
};

// A name bound at module level by an import or a plain assignment.
struct ModuleLevelName {
  std::string bound_name;
  std::uint32_t line = 0;
  std::uint32_t column = 0;
  friend bool operator==(const ModuleLevelName&, const ModuleLevelName&) = default;
};

// A module-level `from M import ...` and the names it binds.
struct FromImport {
  std::string source;                                      // M without blanks, its leading dots kept: ..pkg.mod
  std::vector<std::pair<std::string, std::string>> names;  // (imported name, bound name), in order
  bool star = false;                                       // `from M import *`
  friend bool operator==(const FromImport&, const FromImport&) = default;
};

// A `pytestmark = ...` (or `+=`) at module level or in a class body.
struct MarkAssignment {
  std::string scope;             // the enclosing class's qualified name; empty at module level
  std::vector<Decorator> marks;  // each mark of the value, read as a decorator is
  bool unreadable = false;       // the value is not a mark, nor a list or tuple of marks
  friend bool operator==(const MarkAssignment&, const MarkAssignment&) = default;
};

// The outline of one Python source.
struct Outline {
  std::vector<Definition> definitions;           // by start_line, then end_line; a class before its methods
  std::vector<LineRange> import_ranges;          // every import statement, function bodies included
  std::vector<ImportAlias> aliased_imports;      // document order, function bodies included
  std::vector<ModuleLevelName> module_names;     // document order; a name bound twice is listed twice
  std::vector<FromImport> from_imports;          // module level, document order
  std::vector<MarkAssignment> mark_assignments;  // document order
  // The uses of names in code run at import, by line, name and column: for each line and name,
  // every use of the name there when at least one of them runs nothing, and none otherwise;
  // read only when asked for.
  std::vector<NameUse> name_uses;
  bool has_error = false;  // the syntax tree holds an error or a missing node
  friend bool operator==(const Outline&, const Outline&) = default;
};

// Whether an outline also reads its `name_uses`, for the callers that need them: reading them
// costs a walk over the code that runs at import.
enum class ImportTimeDetail {
  none,
  name_uses,
};

// The outline of a source, or an error when the grammar cannot be loaded or nothing was parsed.
// Syntax errors are no failure: they set `has_error` on what the partial tree yields.
Result<Outline> outline_python_source(std::string_view source, ImportTimeDetail detail = ImportTimeDetail::none);

// Whether the parser runtime takes a grammar of this ABI version; the error is the one
// outline_python_source fails with.
Result<void> check_grammar_abi_version(std::uint32_t version);

// An outline shared read-only by every user of one cached source; null when there is none.
using SharedOutline = std::shared_ptr<const Outline>;
// A source-cache entry's outline: empty until first asked for, then filled for good.
using OutlineSlot = std::optional<SharedOutline>;

// Fills an empty slot from `source` and returns its value: null when the outline failed or
// has an error. A filled slot is returned as it is, so a source is outlined at most once.
SharedOutline outline_shared(OutlineSlot& slot, std::string_view source,
                             ImportTimeDetail detail = ImportTimeDetail::none);

}  // namespace pindrel::pysource
