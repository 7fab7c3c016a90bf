#pragma once

// Small test trees for the selection: Python files under a scratch root, every one listed,
// and a selection shown as one line per record.

#include "impact/impact_report.hpp"
#include "impact/source_cache.hpp"
#include "run/selection.hpp"
#include "scratch.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pindrel::run::test_support {

enum class Listed { yes, no };

class TestTree {
 public:
  // Writes `text` to `rel` under the root and lists the file unless told not to.
  void write(const std::string& rel, std::string_view text, Listed listed = Listed::yes) {
    pindrel::test_support::write_file(scratch_.path() / rel, text);
    if (listed == Listed::yes) listed_.push_back(rel);
  }
  // Lists a file without writing it, as a listing taken before a deletion would.
  void list_only(const std::string& rel) { listed_.push_back(rel); }

  // A selection over a fresh cache of the listed files, its expansions listed; the cache stays
  // for inspection.
  Selection select(const impact::ImpactReport& report, SelectionSettings settings = {}) {
    settings.list_expansions = true;
    cache = impact::new_source_cache(scratch_.path(), listed_);
    return build_selection(report, cache, settings);
  }

  const std::filesystem::path& root() const { return scratch_.path(); }
  impact::SourceCache cache;

 private:
  pindrel::test_support::ScratchDir scratch_;
  std::vector<std::string> listed_;
};

inline impact::ImpactedTest impacted(std::string file, std::optional<std::string> symbol,
                                     std::string origin = "app.db:connect", std::vector<std::string> via = {}) {
  return {std::move(file), std::move(symbol), std::move(via), std::move(origin), impact::TestKind::test};
}

inline impact::ImpactReport report_of(std::vector<impact::ImpactedTest> tests,
                                      std::vector<std::string> test_files_changed = {}) {
  impact::ImpactReport report;
  report.impacted_tests = std::move(tests);
  report.test_files_changed = std::move(test_files_changed);
  return report;
}

// "id ← via ← origin" per node id, "expanded from (kind): into, ..." per expansion,
// "dropped entry (why)" per dropped entry, in the selection's order.
inline std::vector<std::string> lines_of(const Selection& selection) {
  std::vector<std::string> lines;
  for (const auto& node : selection.node_ids) {
    std::string line = node.node_id;
    for (const auto& step : node.via()) line += " ← " + step;
    if (node.origin()) line += " ← " + *node.origin();
    lines.push_back(line);
  }
  for (const auto& expansion : selection.expanded) {
    std::string line = "expanded " + expansion.from + " (" + std::string(expansion_kind_name(expansion.kind)) + "):";
    for (const auto& id : expansion.into) line += " " + id;
    lines.push_back(line);
  }
  for (const auto& dropped : selection.dropped) {
    lines.push_back("dropped " + dropped.entry + " (" + std::string(drop_reason_name(dropped.why)) + ")");
  }
  return lines;
}

}  // namespace pindrel::run::test_support
