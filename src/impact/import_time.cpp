#include "impact/import_time.hpp"

#include <algorithm>
#include <array>
#include <string>

namespace pindrel::impact {
namespace {

using pysource::NameUse;
using pysource::NameUseKind;

template <std::size_t N>
bool one_of(std::string_view name, const std::array<std::string_view, N>& names) {
  return std::ranges::find(names, name) != names.end();
}

// What creating a class runs of its bases.
constexpr std::array<std::string_view, 3> class_creation_hooks = {"__init_subclass__", "__set_name__",
                                                                  "__mro_entries__"};
// What a metaclass runs when it makes a class.
constexpr std::array<std::string_view, 3> metaclass_hooks = {"__new__", "__init__", "__prepare__"};
// What making an instance runs, and dropping it.
constexpr std::array<std::string_view, 6> construction_hooks = {"__new__",           "__init__",     "__post_init__",
                                                                "__init_subclass__", "__set_name__", "__del__"};

// Whether this use runs the walked code while the module is imported. Without an inherited
// method, a class used as a base or instantiated may run any of its own code.
bool runs_at_import(const NameUse& use, const WalkedName& walked) {
  if (walked.deleted) return true;
  const std::string_view method = walked.carried;
  switch (use.kind) {
    case NameUseKind::runs: return true;
    case NameUseKind::own_name:
    case NameUseKind::annotation:
    case NameUseKind::stored:
    case NameUseKind::not_run: return false;
    case NameUseKind::annotation_subscript: return method.empty() || method == "__class_getitem__";
    case NameUseKind::base: return method.empty() || one_of(method, class_creation_hooks);
    case NameUseKind::base_subscript:
      return method.empty() || one_of(method, class_creation_hooks) || method == "__class_getitem__";
    case NameUseKind::class_keyword:
      return method.empty() || one_of(method, class_creation_hooks) || one_of(method, metaclass_hooks);
    case NameUseKind::instantiated: return method.empty() || one_of(method, construction_hooks);
  }
  return true;
}

}  // namespace

SiteJudgement judge_import_time_site(const pysource::Outline& outline, std::uint32_t line, const WalkedName& walked) {
  const auto& uses = outline.name_uses;
  const auto first = std::ranges::partition_point(uses, [&](const NameUse& use) {
    return use.line < line || (use.line == line && std::string_view(use.name) < walked.name);
  });
  const auto last =
      std::find_if(first, uses.end(), [&](const NameUse& use) { return use.line != line || use.name != walked.name; });
  SiteJudgement judgement;
  if (first == last) return judgement;
  for (auto use = first; use != last; ++use) {
    if (runs_at_import(*use, walked)) return judgement;
  }
  judgement.at_import = false;
  for (auto use = first; use != last; ++use) judgement.uses.push_back(&*use);
  return judgement;
}

void follow_unrun_uses(WalkState& state, const pysource::Outline& outline, const std::filesystem::path& file,
                       const SiteJudgement& judgement, const WalkedName& walked, std::string_view reached,
                       std::vector<FrontierSymbol>& next) {
  const std::optional<std::string>& module = walk_module_name(state, file);
  if (!module) return;
  for (const NameUse* use : judgement.uses) {
    if (use->kind == NameUseKind::base || use->kind == NameUseKind::base_subscript ||
        use->kind == NameUseKind::class_keyword) {
      // The class being defined inherits the method: its users can reach it.
      const auto subclass = std::ranges::find_if(outline.definitions, [&](const pysource::Definition& definition) {
        return definition.line == use->class_line && definition.column == use->class_column;
      });
      if (subclass == outline.definitions.end()) continue;
      queue_carrier(state, *module + ":" + subclass->qualname, subclass->qualname, file, subclass->line,
                    subclass->column, walked.carried, reached, next);
      continue;
    }
    // What is bound holds the class itself only for a bare binding; anything made from it
    // carries nothing of the class's.
    const std::string_view carried = use->keeps_value ? walked.carried : std::string_view{};
    for (const pysource::BoundName& bound : use->bound) {
      queue_carrier(state, *module + ":" + bound.qualname, bound.qualname, file, bound.line, bound.column, carried,
                    reached, next);
    }
  }
}

// Queues a name as the alias rule does, noting the method it carries; false when it was visited.
bool queue_carrier(WalkState& state, std::string name, std::string qualname, const std::filesystem::path& file,
                   std::uint32_t line, std::uint32_t column, std::string_view carried, std::string_view reached,
                   std::vector<FrontierSymbol>& next) {
  if (!mark_visited(state, name, reached)) return false;
  if (!carried.empty()) state.carried_methods.emplace(name, carried);
  next.push_back({std::move(name), std::move(qualname), file, line, column});
  return true;
}

std::string_view carried_method(const WalkState& state, std::string_view name) {
  const auto found = state.carried_methods.find(std::string(name));
  return found == state.carried_methods.end() ? std::string_view{} : std::string_view(found->second);
}

}  // namespace pindrel::impact
