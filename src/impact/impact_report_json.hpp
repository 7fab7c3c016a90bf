#pragma once

// The JSON form of the impact report: what `impacted-tests --format json` writes and `run --impact`
// reads back strictly.

#include "impact/impact_report.hpp"
#include "json/reader.hpp"
#include "util/error.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pindrel::impact {

// The report as one pretty-printed object with every key written, `reason` and a whole file's `symbol`
// as null when absent; no newline follows the closing brace.
std::string render_impact_report_json(const ImpactReport& report);

// Reads a whole text as one report, strictly: unknown or repeated keys are refused, and every message
// ends with " at line {} column {}". The invariants of a computed report are not checked.
Result<ImpactReport> parse_impact_report(std::string_view text);

// The parts of the reader, each taking one value at the reader's position.
Result<Verdict> deserialize_verdict(json::Reader& reader);
Result<std::optional<RunAllReason>> deserialize_reason(json::Reader& reader);  // null for none
Result<TestKind> deserialize_test_kind(json::Reader& reader);
Result<std::vector<ImpactedTest>> deserialize_impacted_tests(json::Reader& reader);
Result<std::vector<IgnoredSymbol>> deserialize_ignored_symbols(json::Reader& reader);
Result<Stats> deserialize_stats(json::Reader& reader);

}  // namespace pindrel::impact
