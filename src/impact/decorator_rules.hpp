#pragma once

#include "pysource/outline.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pindrel::impact {

// The text after the last "." of a dotted name; the whole name when it has none.
std::string_view last_name_part(std::string_view dotted);

// The dotted names of the definition's decorators, top to bottom, without arguments.
std::vector<std::string> decorator_names(const pysource::Definition& definition);

// Whether a decorator leaves its function callable only through the name it decorates
// (functools.wraps, property setters, caching, abstract markers), so it hides no caller.
bool is_transparent_decorator(std::string_view name);

// The object a dotted decorator registers its function with: the text before the first
// "." (app for app.route); none for an undotted name.
std::optional<std::string> decorator_registry_root(std::string_view name);

}  // namespace pindrel::impact
