#pragma once

// The ini format of pytest's configuration files (pytest.ini, tox.ini, setup.cfg): "[section]"
// headers, "key = value" or "key: value" lines, indented lines continuing the value above,
// and whole-line comments starting with "#" or ";". List values are split into words the way
// a POSIX shell would, quotes and backslashes included.

#include "util/error.hpp"

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace pindrel {

using IniSection = std::map<std::string, std::string, std::less<>>;
using IniSections = std::map<std::string, IniSection, std::less<>>;

// The sections of `text`; a line the format does not allow is "line {}: {}" with what is wrong.
Result<IniSections> parse_ini(std::string_view text);

// `text` split into words: white space separates, quotes group and backslashes escape.
Result<std::vector<std::string>> split_shell_words(std::string_view text);

}  // namespace pindrel
