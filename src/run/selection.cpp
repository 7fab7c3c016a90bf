#include "run/selection.hpp"

#include "impact/test_support.hpp"
#include "project/modpath.hpp"
#include "run/doctest_modules.hpp"
#include "run/fixture_consumers.hpp"
#include "util/utf8.hpp"

#include <algorithm>
#include <map>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace pindrel::run {
namespace {

// The first fixture of the index, in name order, defined by the definition `qualname`.
const FixtureDefinition* fixture_defined_as(const TestModuleIndex& index, std::string_view qualname) {
  for (const auto& [name, fixture] : index.fixtures) {
    if (fixture.qualname == qualname) return &fixture;
  }
  return nullptr;
}

std::string_view first_name_part(std::string_view qualname) { return qualname.substr(0, qualname.find('.')); }

// Whether the class `qualname` names any base, from which it may inherit a test the walk found.
bool has_bases(const pysource::Outline& outline, std::string_view qualname) {
  return std::ranges::any_of(outline.definitions, [&](const pysource::Definition& definition) {
    return definition.qualname == qualname && definition.kind == pysource::DefinitionKind::class_ &&
           !definition.superclass_names.empty();
  });
}

// Whether `name` may be imported into the file, by name or by a star import, and is defined by
// none of its definitions: a test class or function of another test module, which pytest
// collects here again.
bool is_imported_name(const pysource::Outline& outline, std::string_view name) {
  const auto defined = [&](const pysource::Definition& definition) { return definition.qualname == name; };
  const auto bound = [&](const pysource::ModuleLevelName& bound_name) { return bound_name.bound_name == name; };
  const auto star = [](const pysource::FromImport& from) { return from.star; };
  return std::ranges::none_of(outline.definitions, defined) &&
         (std::ranges::any_of(outline.module_names, bound) || std::ranges::any_of(outline.from_imports, star));
}

// A saved report may name any path: one that leaves the repository or names a device is never read,
// and counts as gone.
Result<std::shared_ptr<impact::CachedSource>> read_report_path(SelectionBuilder& builder,
                                                               const std::filesystem::path& path) {
  const std::string_view text = path.native();
  const bool climbs =
      text == ".." || text.starts_with("../") || text.ends_with("/..") || text.find("/../") != std::string_view::npos;
  if (path.is_absolute() || climbs) return nullptr;
  return impact::read_source_cached(builder.cache, path);
}

const ReportFile& report_file(SelectionBuilder& builder, const std::string& path) {
  std::optional<ReportFile>& last = builder.last_report_file;
  if (last && last->path == path) return *last;
  const auto source = read_report_path(builder, path);
  last = ReportFile{path, source && *source != nullptr, builder.known.find(path), suite_collects(builder, path),
                    lossy_utf8(path)};
  return *last;
}

void select_impacted_test(SelectionBuilder& builder, const impact::ImpactedTest& test) {
  SharedChain& last = builder.last_report_chain;
  if (!last || last->via != test.via || last->origin != test.origin) last = share_chain({test.via, test.origin});
  const SharedChain chain = last;
  if (!test.symbol) return select_test_file(builder, test.file, chain);
  const std::string& symbol = *test.symbol;

  const ReportFile& file = report_file(builder, test.file);
  if (!file.readable) {
    builder.dropped.push_back({symbol, DropReason::deleted});
    return;
  }
  const auto colon = symbol.find(':');
  if (colon == std::string::npos) return select_test_file(builder, test.file, chain);
  const std::string_view qualname = std::string_view(symbol).substr(colon + 1);

  if (file.known == builder.known.end()) return select_test_file(builder, test.file, chain);
  ensure_indexed(builder, *file.known);
  const TestModuleIndex& index = file.known->second;
  const QualnameMatch match = file.collectible ? resolve_test_qualname(index.tests, qualname) : QualnameMatch{};
  if (const FixtureDefinition* fixture = fixture_defined_as(index, qualname)) {
    // A fixture of a test class serves the tests of that class alone, which the class's node runs.
    if (match.kind == QualnameMatch::Kind::prefix) {
      const std::string inside = match.prefix + ".";
      const bool tested = std::ranges::any_of(
          index.consumers, [&](const TestConsumer& consumer) { return consumer.qualname.starts_with(inside); });
      if (!tested) return builder.dropped.push_back({symbol, DropReason::no_consumers});
      return insert_node_id(builder, qualname_to_node_id(file.display, match.prefix), chain);
    }
    return expand_changed_fixture(builder, FixtureDefinition(*fixture), symbol, *chain);
  }
  if (!file.collectible) return select_test_file(builder, test.file, chain);

  std::string_view node = qualname;
  switch (match.kind) {
    case QualnameMatch::Kind::whole: break;
    case QualnameMatch::Kind::prefix: {
      const std::string_view rest = qualname.substr(match.prefix.size() + 1);
      const bool inherited = test.kind == impact::TestKind::test && rest.find('.') == std::string_view::npos &&
                             collects_function_name(rest, builder.pytest) && has_bases(*index.outline, match.prefix);
      if (!inherited) node = match.prefix;
      break;
    }
    case QualnameMatch::Kind::none: {
      // A copy the walk found of a test class or function that another test module defines.
      if (index.outline != nullptr && is_imported_name(*index.outline, first_name_part(qualname))) {
        if (test.kind == impact::TestKind::test) {
          return insert_node_id(builder, qualname_to_node_id(file.display, qualname), chain);
        }
        if (const auto dot = qualname.rfind('.'); dot != std::string_view::npos) {
          return insert_node_id(builder, qualname_to_node_id(file.display, qualname.substr(0, dot)), chain);
        }
      }
      return select_test_file(builder, test.file, chain);
    }
  }
  insert_node_id(builder, qualname_to_node_id(file.display, node), chain);
  for (const std::string& inherited : inherited_nodes(index, node, builder.pytest)) {
    insert_node_id(builder, qualname_to_node_id(file.display, inherited), chain);
  }
}

// The stem of a file name: tests/test_a.py gives test_a.
std::string_view stem_of(std::string_view path) {
  const std::string_view name = path.substr(path.rfind('/') + 1);
  const auto dot = name.rfind('.');
  return dot == std::string_view::npos || dot == 0 ? name : name.substr(0, dot);
}

// pytest's prepend and append import modes name a test module by its chain of packages, and
// two test files of one name fail the whole suite with "import file mismatch", while either
// alone passes. So a selected test file takes in the others of its name, each explained by it.
void add_files_of_the_same_module(SelectionBuilder& builder, ImportMode mode) {
  if (mode == ImportMode::importlib) return;
  struct SelectedFile {
    std::string path;
    SharedChain chain;
  };
  std::vector<SelectedFile> selected;
  std::unordered_set<std::string_view> stems;
  std::unordered_set<std::string_view> seen;
  for (const SelectedNodeId& id : builder.node_ids.ids()) {
    const std::string_view file = std::string_view(id.node_id).substr(0, id.node_id.find("::"));
    if (!seen.insert(file).second || !suite_collects(builder, file)) continue;
    selected.push_back({std::string(file), id.chain});
    stems.insert(stem_of(file));
  }
  if (selected.empty()) return;

  std::unordered_set<std::string> packages;
  for (const std::filesystem::path& path : builder.cache.python_files) {
    if (path.filename() == "__init__.py") packages.insert(path.parent_path().native());
  }
  const auto is_package = [&packages](std::string_view dir) { return packages.contains(std::string(dir)); };
  // The collected test files whose stem a selected one has, by module name.
  std::unordered_map<std::string, std::vector<std::string>> by_module;
  for (const std::filesystem::path& path : builder.cache.python_files) {
    const std::string& text = path.native();
    if (!stems.contains(stem_of(text)) || !suite_collects(builder, text)) continue;
    std::vector<std::string>& files = by_module[pytest_module_name(text, is_package)];
    if (std::ranges::find(files, text) == files.end()) files.push_back(text);
  }
  for (const SelectedFile& file : selected) {
    const auto same = by_module.find(pytest_module_name(file.path, is_package));
    if (same == by_module.end() || same->second.size() < 2) continue;
    const SharedChain chain = share_chain(extend_via_chain(file.chain ? *file.chain : ReferenceChain{}, file.path));
    for (const std::string& other : same->second) {
      if (other != file.path) insert_node_id(builder, listed_file_id(builder, other), chain);
    }
  }
}

}  // namespace

Selection build_selection(const impact::ImpactReport& report, impact::SourceCache& cache,
                          const SelectionSettings& settings) {
  Selection selection;
  selection.verdict = report.verdict;
  selection.reason = report.reason;
  if (report.verdict == impact::Verdict::run_all) {
    selection.decision = Decision::run_all;
    return selection;
  }

  SelectionBuilder builder{cache,          known_test_files(cache), {}, {}, {}, settings.pytest,
                           settings.suite, settings.list_expansions};
  for (const impact::ImpactedTest& test : report.impacted_tests) select_impacted_test(builder, test);
  const SharedChain no_chain = share_chain({});
  for (const std::string& path : report.test_files_changed) select_test_file(builder, path, no_chain);
  if (settings.doctest_modules) {
    for (DoctestFile& doctests :
         doctest_files(report, settings.changed_definitions, settings.reached, cache, settings.pytest)) {
      if (!settings.suite.collects(doctests.file)) {
        builder.dropped.push_back({lossy_utf8(doctests.file), DropReason::not_collectible});
        continue;
      }
      insert_node_id(builder, listed_file_id(builder, doctests.file), share_chain(std::move(doctests.chain)));
    }
  }

  add_files_of_the_same_module(builder, settings.import_mode);

  // pytest collects a node again under every selected ancestor (its file, a class around it), so
  // the ancestor alone runs it once. All are judged before any node id is moved.
  auto has_selected_ancestor = [&](std::string_view node_id) {
    for (auto at = node_id.find("::"); at != std::string_view::npos; at = node_id.find("::", at + 2)) {
      if (builder.node_ids.contains(node_id.substr(0, at))) return true;
    }
    return false;
  };
  std::vector<bool> superseded;
  superseded.reserve(builder.node_ids.ids().size());
  for (const SelectedNodeId& id : builder.node_ids.ids()) superseded.push_back(has_selected_ancestor(id.node_id));
  std::vector<SelectedNodeId> ids = builder.node_ids.take();
  std::vector<std::string> folded;
  folded.reserve(static_cast<std::size_t>(std::ranges::count(superseded, true)));
  std::size_t kept = 0;
  for (std::size_t i = 0; i < ids.size(); ++i) {
    if (superseded[i]) {
      folded.push_back(std::move(ids[i].node_id));
    } else {
      if (kept != i) ids[kept] = std::move(ids[i]);
      ++kept;
    }
  }
  ids.resize(kept);
  std::ranges::sort(ids, {}, &SelectedNodeId::node_id);
  std::ranges::sort(folded);
  builder.dropped.reserve(builder.dropped.size() + folded.size());
  for (std::string& node_id : folded) builder.dropped.push_back({std::move(node_id), DropReason::superseded});
  selection.node_ids = std::move(ids);

  selection.expanded = std::move(builder.expanded);
  selection.dropped = std::move(builder.dropped);
  selection.decision = selection.node_ids.empty() ? Decision::nothing : Decision::selected;
  if (!builder.undecodable_paths.empty()) {
    Selection whole_suite;
    whole_suite.verdict = impact::Verdict::run_all;
    whole_suite.reason = impact::RunAllReason::index_failed;
    whole_suite.decision = Decision::run_all;
    return whole_suite;
  }
  return selection;
}

Selection folded_into_whole_files(Selection selection) {
  std::map<std::string, SelectedNodeId> files;  // byte order, as node ids are kept
  for (SelectedNodeId& id : selection.node_ids) {
    std::string file = id.node_id.substr(0, id.node_id.find("::"));
    const auto at = files.lower_bound(file);
    const bool first = at == files.end() || at->first != file;
    if (file != id.node_id) selection.dropped.push_back({std::move(id.node_id), DropReason::superseded});
    if (first) files.emplace_hint(at, file, SelectedNodeId{file, std::move(id.chain)});
  }
  selection.node_ids.clear();
  selection.node_ids.reserve(files.size());
  for (auto& [file, id] : files) selection.node_ids.push_back(std::move(id));
  return selection;
}

void select_test_file(SelectionBuilder& builder, const std::filesystem::path& path, const SharedChain& chain) {
  const auto source = read_report_path(builder, path);
  if (!source || *source == nullptr) {
    builder.dropped.push_back({display_path(path), DropReason::deleted});
    return;
  }
  // pytest imports a test package's __init__.py for every test module below it, as it loads a
  // conftest.py for them.
  if (is_conftest(path.native()) || path.filename() == "__init__.py") {
    const std::string from = module_name_for_path(builder.cache.root, path).value_or(display_path(path));
    const auto files =
        test_entries_under_dir(builder.known, path.parent_path().native(), builder.pytest, builder.suite);
    if (files.empty()) {
      builder.dropped.push_back({from, DropReason::not_collectible});
      return;
    }
    const SharedChain extended = share_chain(extend_via_chain(*chain, from));
    Expansion expansion{from, {}, ExpansionKind::conftest_subtree, files.size()};
    if (builder.list_expansions) expansion.into.reserve(files.size());
    for (const auto& file : files) {
      const std::string id = listed_file_id(builder, file->first);
      insert_node_id(builder, id, extended);
      if (builder.list_expansions) expansion.into.push_back(id);
    }
    builder.expanded.push_back(std::move(expansion));
    return;
  }
  if (suite_collects(builder, path.native())) {
    insert_node_id(builder, display_path(path), chain);
  } else {
    builder.dropped.push_back({display_path(path), DropReason::not_collectible});
  }
}

void insert_node_id(SelectionBuilder& builder, std::string_view node_id, const SharedChain& chain) {
  builder.node_ids.insert(node_id, chain);
}

std::string listed_file_id(SelectionBuilder& builder, std::string_view file) {
  if (!is_valid_utf8(file)) builder.undecodable_paths.emplace(file);
  return lossy_utf8(file);
}

namespace {

std::uint64_t high_half(std::size_t hash) { return static_cast<std::uint64_t>(hash) >> 32 << 32; }

}  // namespace

bool NodeIdSet::insert(std::string_view id, const SharedChain& chain) {
  if ((ids_.size() + 1) * 10 > slots_.size() * 7) grow();
  const std::size_t hash = std::hash<std::string_view>{}(id);
  const std::size_t slot = slot_of(id, hash);
  if (slots_[slot] != 0) return false;
  ids_.emplace_back(std::string(id), chain);
  slots_[slot] = high_half(hash) | ids_.size();
  return true;
}

std::vector<SelectedNodeId> NodeIdSet::take() {
  slots_.clear();
  return std::exchange(ids_, {});
}

bool NodeIdSet::contains(std::string_view id) const {
  return !slots_.empty() && slots_[slot_of(id, std::hash<std::string_view>{}(id))] != 0;
}

std::size_t NodeIdSet::slot_of(std::string_view id, std::size_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  const std::uint64_t high = high_half(hash);
  // Kept at most 70% full, so a free slot is near; the hashes spare reading most ids on the way.
  for (std::size_t slot = (high >> 32) & mask;; slot = (slot + 1) & mask) {
    const std::uint64_t held = slots_[slot];
    if (held == 0) return slot;
    if ((held & ~std::uint64_t{0xFFFFFFFF}) == high && ids_[(held & 0xFFFFFFFF) - 1].node_id == id) return slot;
  }
}

void NodeIdSet::grow() {
  // The kept half of each hash places it again, so no id is read or hashed.
  std::vector<std::uint64_t> old =
      std::exchange(slots_, std::vector<std::uint64_t>(std::max<std::size_t>(64, slots_.size() * 2)));
  const std::size_t mask = slots_.size() - 1;
  for (const std::uint64_t held : old) {
    if (held == 0) continue;
    std::size_t slot = (held >> 32) & mask;
    while (slots_[slot] != 0) slot = (slot + 1) & mask;
    slots_[slot] = held;
  }
}

bool suite_collects(const SelectionBuilder& builder, std::string_view path) {
  return is_collectible_test_file(path, builder.pytest) && builder.suite.collects(path);
}

namespace {

// Whether `bound`, a name that `file` imports with `from ... import`, is a TestCase that another
// known test file defines. A file whose index is being built is not asked, so a cycle of imports
// ends as unknown.
bool imported_test_case(SelectionBuilder& builder, const std::filesystem::path& file, const pysource::Outline& outline,
                        std::string_view bound) {
  for (const pysource::FromImport& from : outline.from_imports) {
    for (const auto& [imported, name] : from.names) {
      if (name != bound) continue;
      const std::optional<std::string> module =
          absolute_from_source(from.source, file, module_name_for_path(builder.cache.root, file));
      if (!module) continue;
      if (!builder.known_modules) {
        builder.known_modules.emplace();
        for (auto it = builder.known.begin(); it != builder.known.end(); ++it) {
          for (std::string& known : impact::support_module_names(builder.cache.root, it->first)) {
            builder.known_modules->try_emplace(std::move(known), it);
          }
        }
      }
      const auto target = builder.known_modules->find(*module);
      if (target == builder.known_modules->end() || builder.indexing.contains(target->second->first)) continue;
      ensure_indexed(builder, *target->second);
      if (std::ranges::binary_search(target->second->second.unittest_classes, std::string_view(imported))) return true;
    }
  }
  return false;
}

}  // namespace

void ensure_indexed(SelectionBuilder& builder, KnownTestFiles::value_type& entry) {
  if (entry.second.indexed) return;
  const std::filesystem::path file = entry.first;
  const auto source = impact::read_source_cached(builder.cache, file);
  if (!source || *source == nullptr) return index_test_file(entry, nullptr, builder.pytest);
  const pysource::SharedOutline outline = impact::cached_outline(**source);
  const ImportedTestCase imported = [&](std::string_view name) {
    return outline != nullptr && imported_test_case(builder, file, *outline, name);
  };
  builder.indexing.insert(entry.first);
  index_test_file(entry, outline, builder.pytest, (**source).text, imported);
  builder.indexing.erase(entry.first);
}

SharedChain share_chain(ReferenceChain chain) { return std::make_shared<const ReferenceChain>(std::move(chain)); }

const ReferenceChain& SelectedNodeId::reasons() const {
  static const ReferenceChain none;
  return chain ? *chain : none;
}

ReferenceChain extend_via_chain(const ReferenceChain& chain, const std::string& name) {
  ReferenceChain extended{{name}, chain.origin};
  extended.via.insert(extended.via.end(), chain.via.begin(), chain.via.end());
  return extended;
}

std::string qualname_to_node_id(std::string_view file, std::string_view qualname) {
  std::string node_id;
  write_node_id(node_id, file, qualname);
  return node_id;
}

void write_node_id(std::string& out, std::string_view file, std::string_view qualname) {
  const auto dots = static_cast<std::size_t>(std::ranges::count(qualname, '.'));
  out.resize(file.size() + 2 + qualname.size() + dots);
  char* at = std::ranges::copy(file, out.data()).out;
  *at++ = ':';
  *at++ = ':';
  for (const char c : qualname) {
    if (c == '.') {
      *at++ = ':';
      *at++ = ':';
    } else {
      *at++ = c;
    }
  }
}

}  // namespace pindrel::run
