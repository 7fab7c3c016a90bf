#include "impact/decorator_rules.hpp"

#include <algorithm>
#include <array>

namespace pindrel::impact {
namespace {

// clang-format off
constexpr std::array<std::string_view, 19> transparent_names = {
    "final",          "wraps",          "cache",           "setter",           "getter",
    "deleter",        "property",       "override",        "overload",         "dataclass",
    "lru_cache",      "classmethod",    "staticmethod",    "abstractmethod",   "cache_readonly",
    "contextmanager", "cached_property", "abstractproperty", "asynccontextmanager",
};
// clang-format on

}  // namespace

std::string_view last_name_part(std::string_view dotted) {
  const auto dot = dotted.rfind('.');
  return dot == std::string_view::npos ? dotted : dotted.substr(dot + 1);
}

std::vector<std::string> decorator_names(const pysource::Definition& definition) {
  std::vector<std::string> names;
  names.reserve(definition.decorators.size());
  for (const pysource::Decorator& decorator : definition.decorators) names.push_back(decorator.decorator_name);
  return names;
}

bool is_transparent_decorator(std::string_view name) {
  return std::ranges::find(transparent_names, last_name_part(name)) != transparent_names.end();
}

std::optional<std::string> decorator_registry_root(std::string_view name) {
  const auto dot = name.find('.');
  if (dot == std::string_view::npos) return std::nullopt;
  return std::string(name.substr(0, dot));
}

}  // namespace pindrel::impact
