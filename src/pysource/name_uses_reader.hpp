#pragma once

#include "pysource/outline.hpp"

#include <tree_sitter/api.h>

#include <string_view>

namespace pindrel::pysource {

// `outline` with its `name_uses` and its definitions' `evaluated_header` filled from the syntax
// tree it was read from, each definition matched by the position of its name; an outline with
// a syntax error is returned as it is. Function bodies, which do not run at import, are not read.
Outline with_name_uses(Outline outline, TSNode root, std::string_view source);

}  // namespace pindrel::pysource
