#include "impact/collected_copies.hpp"

#include "impact/module_seeds.hpp"
#include "impact/test_support.hpp"
#include "project/modpath.hpp"
#include "project/pytest_collection.hpp"
#include "util/utf8.hpp"

#include <algorithm>
#include <deque>
#include <optional>
#include <set>
#include <string_view>

namespace pindrel::impact {
namespace {

using pysource::Definition;
using pysource::DefinitionKind;
using pysource::Outline;

Result<pysource::SharedOutline> outline_of(WalkState& state, const std::filesystem::path& file) {
  auto source = read_source_cached(state.source_cache, file);
  if (!source) return std::unexpected(std::move(source.error()));
  if (*source == nullptr) return nullptr;
  return cached_outline(**source);
}

const Definition* top_level(const Outline& outline, std::string_view name) {
  const Definition* found = nullptr;
  for (const Definition& definition : outline.definitions) {
    if (definition.qualname == name) found = &definition;  // the last definition of a name holds it
  }
  return found;
}

// pytest collects no class that has its own constructor.
bool has_constructor(const Outline& outline, std::string_view class_name) {
  const std::string init = std::string(class_name) + ".__init__";
  const std::string make = std::string(class_name) + ".__new__";
  return std::ranges::any_of(outline.definitions,
                             [&](const Definition& d) { return d.qualname == init || d.qualname == make; });
}

// Whether a base written as `base` in a file that imports the class's module as `module` names
// `name` of it: `module.name`, or `alias.name` where an import binds the module's last part to alias.
bool names_through_module(std::string_view base, std::string_view name, std::string_view module,
                          const Outline& outline) {
  if (base.size() <= name.size() + 1 || !base.ends_with(name) || base[base.size() - name.size() - 1] != '.') {
    return false;
  }
  const std::string_view prefix = base.substr(0, base.size() - name.size() - 1);
  if (prefix == module) return true;
  const auto dot = module.rfind('.');
  const std::string_view last = dot == std::string_view::npos ? module : module.substr(dot + 1);
  return std::ranges::any_of(outline.aliased_imports, [&](const pysource::ImportAlias& alias) {
    return alias.alias_name == prefix && alias.imported_name == last;
  });
}

// Whether the class `name` is a unittest TestCase as far as its file tells: by a base named so, or
// a class of the file that is one. pytest collects such a class under any name, constructor or not.
bool is_unittest_class(const Outline& outline, std::string_view name, std::size_t depth = 0) {
  const Definition* definition = top_level(outline, name);
  if (definition == nullptr || definition->kind != DefinitionKind::class_ || depth > outline.definitions.size()) {
    return false;
  }
  return std::ranges::any_of(definition->superclass_names, [&](const std::string& base) {
    return base.ends_with("TestCase") || (base != name && is_unittest_class(outline, base, depth + 1));
  });
}

enum class Copied {
  function,        // a test function
  test_class,      // a class pytest collects by its name, unless it has a constructor
  unittest_class,  // a TestCase, which pytest collects whatever its name
};

class CopyFinder {
 public:
  CopyFinder(WalkState& state, Copied copied) : state_(state), is_class_(copied != Copied::function), copied_(copied) {}

  // Every place that holds `name` of `file`, or a class that inherits it, transitively.
  Result<std::vector<CopyPlace>> places(const std::filesystem::path& file, const std::string& name) {
    std::vector<CopyPlace> found;
    std::set<std::pair<std::filesystem::path, std::string>> seen = {{file, name}};
    std::deque<std::pair<std::filesystem::path, std::string>> pending = {{file, name}};
    const auto reach = [&](const std::filesystem::path& at, const std::string& bound) {
      if (!seen.emplace(at, bound).second) return;
      found.push_back({at, bound});
      pending.emplace_back(at, bound);
    };
    while (!pending.empty()) {
      const auto [at, bound] = std::move(pending.front());
      pending.pop_front();
      auto outline = outline_of(state_, at);
      if (!outline) return std::unexpected(std::move(outline.error()));
      if (*outline == nullptr) continue;
      if (is_class_) {
        for (const Definition& subclass : (*outline)->definitions) {
          if (subclass.kind == DefinitionKind::class_ && subclass.qualname.find('.') == std::string::npos &&
              std::ranges::find(subclass.superclass_names, bound) != subclass.superclass_names.end() &&
              !uncollected_for_constructor(**outline, subclass.qualname)) {
            reach(at, subclass.qualname);
          }
        }
      }
      auto importers = importing_places(at, bound, **outline);
      if (!importers) return std::unexpected(std::move(importers.error()));
      for (CopyPlace& place : *importers) {
        if (place.whole) {
          found.push_back(std::move(place));
        } else {
          reach(place.file, place.name);
        }
      }
    }
    return found;
  }

 private:
  // The places in the test files that import `name` from the module of `file`, and the classes
  // there that inherit it through the module's own name.
  Result<std::vector<CopyPlace>> importing_places(const std::filesystem::path& file, const std::string& name,
                                                  const Outline& outline) {
    std::vector<CopyPlace> places;
    auto index = walk_import_index(state_);
    if (!index) return std::unexpected(std::move(index.error()));
    const bool has_all = std::ranges::any_of(
        outline.module_names, [](const pysource::ModuleLevelName& n) { return n.bound_name == "__all__"; });
    for (const std::string& module : support_module_names(state_.root(), file)) {
      for (const std::size_t importer : files_importing(**index, module)) {
        const std::filesystem::path& other = state_.source_cache.python_files[importer];
        if (other == file || !is_test_file(other, state_.root()) || is_conftest(other.native())) continue;
        auto other_outline = outline_of(state_, other);
        if (!other_outline) return std::unexpected(std::move(other_outline.error()));
        if (*other_outline == nullptr) continue;
        const std::optional<std::string>& other_module = walk_module_name(state_, other);
        // A star import takes every public name, or those `__all__` lists.
        for (ImportedName& imported : imported_names(**other_outline, other, other_module, module, name)) {
          places.push_back({other, std::move(imported.bound), imported.star && has_all});
        }
        if (!is_class_) continue;
        for (const Definition& subclass : (*other_outline)->definitions) {
          if (subclass.kind != DefinitionKind::class_ || subclass.qualname.find('.') != std::string::npos ||
              uncollected_for_constructor(**other_outline, subclass.qualname)) {
            continue;
          }
          const bool inherits = std::ranges::any_of(subclass.superclass_names, [&](const std::string& base) {
            return names_through_module(base, name, module, **other_outline);
          });
          if (inherits) places.push_back({other, subclass.qualname});
        }
      }
    }
    return places;
  }

  bool uncollected_for_constructor(const Outline& outline, std::string_view name) const {
    return copied_ == Copied::test_class && has_constructor(outline, name);
  }

  WalkState& state_;
  bool is_class_;
  Copied copied_;
};

}  // namespace

std::vector<ImportedName> imported_names(const pysource::Outline& importer, const std::filesystem::path& file,
                                         const std::optional<std::string>& importer_module, std::string_view module,
                                         std::string_view name) {
  std::vector<ImportedName> names;
  for (const pysource::FromImport& from : importer.from_imports) {
    if (absolute_from_source(from.source, file, importer_module) != module) continue;
    for (const auto& [imported, bound] : from.names) {
      if (imported == name) names.push_back({bound, false});
    }
    if (from.star && !name.starts_with('_')) names.push_back({std::string(name), true});
  }
  return names;
}

Result<std::vector<CopyPlace>> function_importers(WalkState& state, const std::filesystem::path& file,
                                                  const std::string& name) {
  return CopyFinder(state, Copied::function).places(file, name);
}

Result<std::vector<ImpactedTest>> collected_copies(WalkState& state, const ImpactedTest& test, CopyPlaces& places) {
  std::vector<ImpactedTest> copies;
  if (!test.symbol) return copies;
  const std::string_view symbol = *test.symbol;
  const auto colon = symbol.find(':');
  if (colon == std::string_view::npos) return copies;
  const std::string_view qualname = symbol.substr(colon + 1);
  const auto dot = qualname.find('.');
  const std::string name(qualname.substr(0, dot));
  const std::string rest = dot == std::string_view::npos ? "" : std::string(qualname.substr(dot));

  const std::filesystem::path file(test.file);
  auto outline = outline_of(state, file);
  if (!outline) return std::unexpected(std::move(outline.error()));
  if (*outline == nullptr) return copies;
  const Definition* definition = top_level(**outline, name);
  if (definition == nullptr) return copies;
  const bool is_class = definition->kind == DefinitionKind::class_;
  const bool unittest = is_class && is_unittest_class(**outline, name);
  if (is_class ? !unittest && has_constructor(**outline, name)
               : !rest.empty() || test.kind != TestKind::test || !collects_function_name(name, state.pytest)) {
    return copies;
  }

  auto known = places.find({file, name});
  if (known == places.end()) {
    auto found = CopyFinder(state, unittest   ? Copied::unittest_class
                                   : is_class ? Copied::test_class
                                              : Copied::function)
                     .places(file, name);
    if (!found) return std::unexpected(std::move(found.error()));
    known = places.emplace(std::make_pair(file, name), std::move(*found)).first;
  }
  for (const CopyPlace& place : known->second) {
    if (place.whole) {
      copies.push_back({reported_path(state, place.file), std::nullopt, test.via, test.origin, TestKind::test});
      continue;
    }
    // A support file collects nothing, but breaks whatever imports it.
    const bool support = is_test_support_file(place.file, state.root(), state.pytest);
    const bool collected = unittest || (is_class ? collects_class_name(place.name, state.pytest)
                                                 : collects_function_name(place.name, state.pytest));
    if (!collected && !support) continue;
    // A subclass that defines the test again runs its own.
    if (!rest.empty()) {
      auto place_outline = outline_of(state, place.file);
      if (!place_outline) return std::unexpected(std::move(place_outline.error()));
      if (*place_outline != nullptr && top_level(**place_outline, place.name + rest) != nullptr) continue;
    }
    const std::optional<std::string>& module = walk_module_name(state, place.file);
    if (!module) {
      copies.push_back({reported_path(state, place.file), std::nullopt, test.via, test.origin, TestKind::test});
      continue;
    }
    copies.push_back({reported_path(state, place.file), *module + ":" + place.name + rest, test.via, test.origin,
                      support ? TestKind::test : test.kind});
  }
  return copies;
}

}  // namespace pindrel::impact
