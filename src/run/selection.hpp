#pragma once

// The pytest node ids that `run` hands to pytest, built from an impact report: whole test
// files, test nodes, the tests that consume a changed fixture and the test files under a
// changed conftest.py, each with the chain that explains it, plus the entries left out.

#include "impact/impact_report.hpp"
#include "impact/source_cache.hpp"
#include "run/collection_rules.hpp"
#include "run/test_index.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace pindrel::run {

enum class Decision {
  selected,  // run the selected node ids
  run_all,   // run the whole suite, or the fallback command
  nothing,   // run nothing
};

enum class ExpansionKind {
  fixture,               // a fixture resolved by name
  unresolvable_fixture,  // a fixture whose name cannot be read
  conftest_subtree,      // a conftest.py standing for the test files under its directory
};

enum class DropReason {
  deleted,          // the file is not in the working tree, or cannot be read
  superseded,       // a node id inside a selected file or class
  not_collectible,  // pytest collects no tests from the file
  no_consumers,     // no test in the fixture's scope consumes it
};

// How the selection was made to fit the kernel's limit on pytest's argv.
enum class ArgvFit {
  as_selected,  // the node ids as selected
  whole_files,  // folded into their whole files
  whole_suite,  // too long even as whole files: the whole suite runs
};

// Why a node id was chosen.
struct ReferenceChain {
  std::vector<std::string> via;       // nearest step first
  std::optional<std::string> origin;  // the changed symbol; none for a changed test file
  friend bool operator==(const ReferenceChain&, const ReferenceChain&) = default;
};

// Shared by the node ids one expansion makes, which are many.
using SharedChain = std::shared_ptr<const ReferenceChain>;

SharedChain share_chain(ReferenceChain chain);

struct SelectedNodeId {
  SelectedNodeId() = default;
  SelectedNodeId(std::string id, SharedChain shared) : node_id(std::move(id)), chain(std::move(shared)) {}
  SelectedNodeId(std::string id, std::vector<std::string> via, std::optional<std::string> origin)
      : node_id(std::move(id)), chain(share_chain({std::move(via), std::move(origin)})) {}

  const std::vector<std::string>& via() const { return reasons().via; }
  const std::optional<std::string>& origin() const { return reasons().origin; }
  const ReferenceChain& reasons() const;  // the chain, an empty one for none

  std::string node_id;
  SharedChain chain;  // none stands for the empty chain
  friend bool operator==(const SelectedNodeId& a, const SelectedNodeId& b) {
    return a.node_id == b.node_id && a.via() == b.via() && a.origin() == b.origin();
  }
};

// A fixture or conftest.py turned into the node ids it stands for.
struct Expansion {
  std::string from;               // the fixture's symbol, or the conftest.py's module name or path
  std::vector<std::string> into;  // node ids in the order they were produced, when listed
  ExpansionKind kind = ExpansionKind::fixture;
  std::size_t count = 0;  // how many it produced
  friend bool operator==(const Expansion&, const Expansion&) = default;
};

struct DroppedEntry {
  std::string entry;  // a path, a symbol or a node id
  DropReason why = DropReason::deleted;
  friend bool operator==(const DroppedEntry&, const DroppedEntry&) = default;
};

struct Selection {
  std::vector<SelectedNodeId> node_ids;  // byte order of node_id
  std::vector<Expansion> expanded;       // in the order made
  std::vector<DroppedEntry> dropped;     // in the order made
  impact::Verdict verdict = impact::Verdict::selected;
  Decision decision = Decision::nothing;
  std::optional<impact::RunAllReason> reason;  // the report's, unchanged
  ArgvFit fit = ArgvFit::as_selected;
  friend bool operator==(const Selection&, const Selection&) = default;
};

// The names the JSON dry run writes and the words of its text form, one row per value in
// value order.
template <class Enum>
struct EnumNames {
  Enum value;
  std::string_view name;
  std::string_view word;
};

inline constexpr std::array<EnumNames<Decision>, 3> decision_names = {{
    {Decision::selected, "selected", "selected"},
    {Decision::run_all, "run_all", "run_all"},
    {Decision::nothing, "nothing", "nothing"},
}};
inline constexpr std::array<EnumNames<ExpansionKind>, 3> expansion_kind_names = {{
    {ExpansionKind::fixture, "fixture", "fixture"},
    {ExpansionKind::unresolvable_fixture, "unresolvable_fixture", "fixture with an unreadable name"},
    {ExpansionKind::conftest_subtree, "conftest_subtree", "conftest subtree"},
}};
inline constexpr std::array<EnumNames<DropReason>, 4> drop_reason_names = {{
    {DropReason::deleted, "deleted", "no longer in the working tree"},
    {DropReason::superseded, "superseded", "covered by the whole file"},
    {DropReason::not_collectible, "not_collectible", "pytest collects no tests from it"},
    {DropReason::no_consumers, "no_consumers", "no test in scope consumes it"},
}};

// Every value has its row, at its own index.
template <class Enum, std::size_t N>
constexpr bool rows_cover(const std::array<EnumNames<Enum>, N>& rows, Enum last) {
  if (N != static_cast<std::size_t>(last) + 1) return false;
  for (std::size_t i = 0; i < N; ++i) {
    if (static_cast<std::size_t>(rows[i].value) != i) return false;
  }
  return true;
}
static_assert(rows_cover(decision_names, Decision::nothing));
static_assert(rows_cover(expansion_kind_names, ExpansionKind::conftest_subtree));
static_assert(rows_cover(drop_reason_names, DropReason::no_consumers));

inline std::string_view decision_name(Decision d) { return decision_names[static_cast<std::size_t>(d)].name; }
inline std::string_view expansion_kind_name(ExpansionKind k) {
  return expansion_kind_names[static_cast<std::size_t>(k)].name;
}
inline std::string_view expansion_kind_word(ExpansionKind k) {
  return expansion_kind_names[static_cast<std::size_t>(k)].word;
}
inline std::string_view drop_reason_name(DropReason r) { return drop_reason_names[static_cast<std::size_t>(r)].name; }
inline std::string_view drop_reason_word(DropReason r) { return drop_reason_names[static_cast<std::size_t>(r)].word; }

// The node ids chosen so far, each once with its first chain, in the order chosen. A table of
// their positions finds one by its text; the ids themselves are the selection's to keep.
class NodeIdSet {
 public:
  // Adds `id` with `chain`; false when it is there already.
  bool insert(std::string_view id, const SharedChain& chain);
  bool contains(std::string_view id) const;
  const std::vector<SelectedNodeId>& ids() const { return ids_; }
  // The ids in the order chosen; the set is empty afterwards.
  std::vector<SelectedNodeId> take();

 private:
  // The slot that holds `id`, or the empty one where it would go.
  std::size_t slot_of(std::string_view id, std::size_t hash) const;
  void grow();

  std::vector<SelectedNodeId> ids_;
  // A position in `ids_` plus one in the low half, the upper half of the id's hash in the high
  // half, which places it and tells most ids apart without reading them; 0 when empty. A power
  // of two long.
  std::vector<std::uint64_t> slots_;
};

// What the selection needs of a report entry's file.
struct ReportFile {
  std::string path;  // as the report names it
  bool readable = false;
  KnownTestFiles::iterator known;  // the known entry, if any
  bool collectible = false;
  std::string display;  // its text in node ids
};

// The working state of one build_selection call.
struct SelectionBuilder {
  impact::SourceCache& cache;
  KnownTestFiles known;
  NodeIdSet node_ids;  // put in byte order once all are known
  std::vector<Expansion> expanded;
  std::vector<DroppedEntry> dropped;
  const PytestSettings& pytest;
  const SuiteCollection& suite;
  bool list_expansions = false;
  // Consecutive report entries often share their chain, and those of one file come in a row.
  SharedChain last_report_chain = {};
  std::optional<ReportFile> last_report_file = {};
  // The collected test files whose text names a word, by word: the files that may import a
  // fixture from a module of that name, looked for once however many of its fixtures changed.
  std::unordered_map<std::string, std::vector<KnownTestFiles::iterator>> files_naming = {};
  // The collected test files that can be read, with their sources, for those searches; listed once.
  std::optional<std::vector<std::pair<KnownTestFiles::iterator, std::shared_ptr<impact::CachedSource>>>>
      collected_sources = {};
  std::set<std::string> undecodable_paths = {};  // listed files to select, not UTF-8
  // Each known file under the module names test files import it by; made on first need.
  std::optional<std::unordered_map<std::string, KnownTestFiles::iterator>> known_modules = {};
  std::unordered_set<std::string> indexing = {};  // the files whose index is being built
};

// The node ids `run` hands to pytest for `report`, reading test files through `cache`.
// Never fails: a file that cannot be read or collected becomes a dropped entry.
Selection build_selection(const impact::ImpactReport& report, impact::SourceCache& cache,
                          const SelectionSettings& settings = {});

// `selection` with every node id folded into its whole file, which keeps the first chain in node-id
// order; the folded node ids become `superseded` entries.
Selection folded_into_whole_files(Selection selection);

// Selects `path` wholesale: a test file as itself, a conftest.py as the test files under it. A path
// that leaves the repository or names anything but a regular file is never read: it counts as gone.
// `chain` is never null.
void select_test_file(SelectionBuilder& builder, const std::filesystem::path& path, const SharedChain& chain);

// Adds `node_id` with `chain`, unless it is already there.
void insert_node_id(SelectionBuilder& builder, std::string_view node_id, const SharedChain& chain);

// The node id text of a listed file. A name that is not UTF-8 has none that pytest could be
// given: it is noted, and the whole suite runs.
std::string listed_file_id(SelectionBuilder& builder, std::string_view file);

// Whether the whole suite collects tests from `path`: by its name and by its directories.
bool suite_collects(const SelectionBuilder& builder, std::string_view path);

// Builds the index of a known test file from the cache, unless it is built already.
void ensure_indexed(SelectionBuilder& builder, KnownTestFiles::value_type& entry);

// `chain` with `name` as its nearest step.
ReferenceChain extend_via_chain(const ReferenceChain& chain, const std::string& name);

// A test node's id from its file's path text and its qualified name: tests/test_a.py and
// TestA.test_b give tests/test_a.py::TestA::test_b.
std::string qualname_to_node_id(std::string_view file, std::string_view qualname);

// The same id written into `out`, in place of its text.
void write_node_id(std::string& out, std::string_view file, std::string_view qualname);

}  // namespace pindrel::run
