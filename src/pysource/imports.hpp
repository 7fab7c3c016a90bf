#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace pindrel::pysource {

enum class ImportForm {
  plain,  // import a.b, c as d
  from,   // from ..a.b import x, y as z
};

struct ImportStatement {
  ImportForm form = ImportForm::plain;
  std::size_t level = 0;           // the leading dots of a `from` source
  std::string source;              // the dotted `from` source after its dots, blanks left out
  std::vector<std::string> names;  // plain: the dotted modules; from: the names imported, or "*"
};

// Calls `each` with every import statement of a Python source, read as Python's tokenizer
// reads it: after a byte-order mark, with any of "\n", "\r\n" and "\r" ending a line, across
// backslash continuations and brackets, after ";" and after a compound statement's ":" on
// the same line, and never inside strings or comments.
void for_each_import(std::string_view text, const std::function<void(const ImportStatement&)>& each);

}  // namespace pindrel::pysource
