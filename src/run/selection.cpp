#include "run/selection.hpp"

#include "modpath.hpp"
#include "run/doctest_modules.hpp"
#include "run/fixture_consumers.hpp"
#include "util/utf8.hpp"

#include <algorithm>
#include <memory>
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

// A saved report may name any path: one that leaves the repository or names a device is never read,
// and counts as gone.
Result<std::shared_ptr<impact::CachedSource>> read_report_path(SelectionBuilder& builder,
                                                               const std::filesystem::path& path) {
  const std::string_view text = path.native();
  const bool climbs =
      text == ".." || text.starts_with("../") || text.ends_with("/..") || text.find("/../") != std::string_view::npos;
  if (path.is_absolute() || climbs) return nullptr;
  // Opened without blocking and refused unless regular, so a FIFO or a device is not read.
  return impact::read_source_cached(builder.cache, path, FileKinds::regular_only);
}

const ReportFile& report_file(SelectionBuilder& builder, const std::string& path) {
  std::optional<ReportFile>& last = builder.last_report_file;
  if (last && last->path == path) return *last;
  const auto source = read_report_path(builder, path);
  last = ReportFile{path, source && *source != nullptr, builder.known.find(path),
                    is_collectible_test_file(path, builder.pytest), lossy_utf8(path)};
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
  if (const FixtureDefinition* fixture = fixture_defined_as(index, qualname)) {
    return expand_changed_fixture(builder, FixtureDefinition(*fixture), symbol, *chain);
  }
  if (!file.collectible) return select_test_file(builder, test.file, chain);

  const QualnameMatch match = resolve_test_qualname(index.tests, qualname);
  switch (match.kind) {
    case QualnameMatch::Kind::whole: return insert_node_id(builder, qualname_to_node_id(file.display, qualname), chain);
    case QualnameMatch::Kind::prefix:
      return insert_node_id(builder, qualname_to_node_id(file.display, match.prefix), chain);
    case QualnameMatch::Kind::none: return select_test_file(builder, test.file, chain);
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

  SelectionBuilder builder{cache, known_test_files(cache), {}, {}, {}, settings.pytest, settings.list_expansions};
  for (const impact::ImpactedTest& test : report.impacted_tests) select_impacted_test(builder, test);
  const SharedChain no_chain;
  for (const std::string& path : report.test_files_changed) select_test_file(builder, path, no_chain);
  if (settings.doctest_modules) {
    for (DoctestFile& doctests : doctest_files(report, settings.changed_definitions, cache, settings.pytest)) {
      insert_node_id(builder, doctests.file, share_chain(std::move(doctests.chain)));
    }
  }

  // pytest collects a node again under every selected ancestor (its file, a class around it), so
  // the ancestor alone runs it once. All are judged before any node id is moved out.
  auto has_selected_ancestor = [&](std::string_view node_id) {
    for (auto at = node_id.find("::"); at != std::string_view::npos; at = node_id.find("::", at + 2)) {
      if (builder.node_ids.contains(node_id.substr(0, at))) return true;
    }
    return false;
  };
  struct Sorted {
    decltype(builder.node_ids)::iterator at;
    bool superseded = false;
  };
  std::vector<Sorted> sorted;
  sorted.reserve(builder.node_ids.size());
  std::size_t superseded = 0;
  for (auto at = builder.node_ids.begin(); at != builder.node_ids.end(); ++at) {
    sorted.push_back({at, has_selected_ancestor(at->first)});
    superseded += sorted.back().superseded;
  }
  std::ranges::sort(sorted, {}, [](const Sorted& id) -> std::string_view { return id.at->first; });
  selection.node_ids.reserve(sorted.size() - superseded);
  builder.dropped.reserve(builder.dropped.size() + superseded);
  // Taking one node out leaves the others where they are.
  for (const Sorted& id : sorted) {
    auto node = builder.node_ids.extract(id.at);
    if (id.superseded) {
      builder.dropped.push_back({std::move(node.key()), DropReason::superseded});
    } else {
      selection.node_ids.emplace_back(std::move(node.key()), std::move(node.mapped()));
    }
  }

  selection.expanded = std::move(builder.expanded);
  selection.dropped = std::move(builder.dropped);
  selection.decision = selection.node_ids.empty() ? Decision::nothing : Decision::selected;
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
    const auto files = test_entries_under_dir(builder.known, path.parent_path().native(), builder.pytest);
    if (files.empty()) {
      builder.dropped.push_back({from, DropReason::not_collectible});
      return;
    }
    const SharedChain extended = share_chain(extend_via_chain(chain ? *chain : ReferenceChain{}, from));
    Expansion expansion{from, {}, ExpansionKind::conftest_subtree, files.size()};
    if (builder.list_expansions) expansion.into.reserve(files.size());
    for (const auto& file : files) {
      const std::string id = lossy_utf8(file->first);
      insert_node_id(builder, id, extended);
      if (builder.list_expansions) expansion.into.push_back(id);
    }
    builder.expanded.push_back(std::move(expansion));
    return;
  }
  if (is_collectible_test_file(path.native(), builder.pytest)) {
    insert_node_id(builder, display_path(path), chain);
  } else {
    builder.dropped.push_back({display_path(path), DropReason::not_collectible});
  }
}

void insert_node_id(SelectionBuilder& builder, std::string_view node_id, const SharedChain& chain) {
  if (!builder.node_ids.contains(node_id)) builder.node_ids.emplace(node_id, chain);
}

void ensure_indexed(SelectionBuilder& builder, KnownTestFiles::value_type& entry) {
  if (entry.second.indexed) return;
  const std::filesystem::path file = entry.first;
  pysource::SharedOutline outline;
  if (const auto source = impact::read_source_cached(builder.cache, file); source && *source != nullptr) {
    outline = impact::cached_outline(**source);
  }
  index_test_file(entry, std::move(outline), builder.pytest);
}

SharedChain share_chain(ReferenceChain chain) { return std::make_shared<const ReferenceChain>(std::move(chain)); }

const std::vector<std::string>& SelectedNodeId::via() const {
  static const ReferenceChain none;
  return chain ? chain->via : none.via;
}

const std::optional<std::string>& SelectedNodeId::origin() const {
  static const ReferenceChain none;
  return chain ? chain->origin : none.origin;
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
  out.clear();
  out.reserve(file.size() + 2 + qualname.size() + std::ranges::count(qualname, '.'));
  out += file;
  for (std::size_t start = 0;;) {
    out += "::";
    const std::size_t dot = qualname.find('.', start);
    out += qualname.substr(start, dot - start);
    if (dot == std::string_view::npos) return;
    start = dot + 1;
  }
}

}  // namespace pindrel::run
