#pragma once

#include "pysource/outline.hpp"

#include <tree_sitter/api.h>

#include <string_view>

namespace pindrel::pysource {

// `outline` with its `name_uses` filled from the syntax tree it was read from when `detail` asks
// for them; an outline with a syntax error is returned as it is. Function bodies, which do not
// run at import, are not read.
Outline with_import_time_detail(Outline outline, TSNode root, std::string_view source, ImportTimeDetail detail);

// outline_python_source, handing the tree over in `*kept` when given; its nodes point into `source`.
Result<Outline> outline_python_tree(std::string_view source, ImportTimeDetail detail, TSTree** kept);

}  // namespace pindrel::pysource
