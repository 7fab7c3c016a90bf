#include "qlo/strip_root.hpp"

namespace pindrel {

std::optional<std::filesystem::path> strip_root(const std::filesystem::path& path, const std::filesystem::path& root) {
  auto it = path.begin();
  for (const auto& component : root) {
    if (component.empty()) continue;  // the element a trailing separator yields
    if (it == path.end() || *it != component) return std::nullopt;
    ++it;
  }
  std::filesystem::path rest;
  for (; it != path.end(); ++it) rest /= *it;
  return rest;
}

}  // namespace pindrel
