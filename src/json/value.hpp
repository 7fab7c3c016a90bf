#pragma once

// The JSON value tree: objects keep their keys in ascending byte order whatever order they were put in.

#include <nlohmann/json.hpp>

#include <string>

namespace pindrel::json {

using Value = nlohmann::json;

// `value` in the pretty layout of the program's reports, written by their writer (writer.hpp), with its
// keys sorted. Invalid UTF-8 in a string becomes U+FFFD.
std::string render_value(const Value& value);

}  // namespace pindrel::json
