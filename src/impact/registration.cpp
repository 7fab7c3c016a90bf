#include "impact/registration.hpp"

#include "impact/class_fallback.hpp"
#include "impact/decorator_rules.hpp"
#include "impact/follow.hpp"
#include "impact/module_seeds.hpp"

#include <algorithm>
#include <functional>

namespace pindrel::impact {
namespace {

using IsResolved = std::function<bool(const std::string& name)>;

// Whether one of `decorators` may register its definition where no reference shows it.
bool registers_unseen(const WalkState& state, std::span<const pysource::Decorator> decorators,
                      const IsResolved& resolved) {
  return std::ranges::any_of(decorators, [&](const pysource::Decorator& decorator) {
    const std::string& name = decorator.decorator_name;
    return !is_transparent_decorator(name) &&
           !ignoring_entry_for(std::span(&name, 1), state.config.ignore_decorators) && !resolved(name);
  });
}

// Whether creating the class runs code of another: a base's __init_subclass__ or a metaclass.
bool runs_at_creation(const pysource::Definition& definition) {
  return std::ranges::any_of(definition.superclass_names, [](const std::string& base) { return base != "object"; }) ||
         definition.has_metaclass;
}

}  // namespace

WalkOutcome seed_unseen_registration(WalkState& state, const FrontierSymbol& symbol,
                                     std::span<const std::string> unresolved) {
  const auto walked = walked_definition(state, symbol);
  if (!walked) return walked.error();
  const pysource::Definition* definition = walked->definition;
  if (definition == nullptr) return WalkOutcome::completed();

  // The dispatch followed the dotted decorators it resolved through their registry.
  const IsResolved dispatched = [&](const std::string& name) {
    return name.find('.') != std::string::npos && std::ranges::find(unresolved, name) == unresolved.end();
  };
  bool registered = registers_unseen(state, definition->decorators, dispatched);
  if (!registered) {
    const pysource::Definition* owner = definition;
    if (definition->kind == pysource::DefinitionKind::method) owner = enclosing_class(*walked->outline, *definition);
    if (owner != nullptr && owner->kind == pysource::DefinitionKind::class_) {
      registered =
          runs_at_creation(*owner) ||
          (owner != definition && registers_unseen(state, owner->decorators, [](const std::string&) { return false; }));
    }
  }
  if (!registered) return WalkOutcome::completed();
  const std::optional<std::string>& module = walk_module_name(state, symbol.file);
  if (!module) return WalkOutcome::completed();
  mark_visited(state, *module, symbol.name);
  return seed_module_change(state, *module, symbol.file);
}

}  // namespace pindrel::impact
