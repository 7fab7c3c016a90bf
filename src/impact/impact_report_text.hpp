#pragma once

// The human form of the impact report: what `impacted-tests` prints at a terminal.

#include "impact/impact_report.hpp"

#include <string>

namespace pindrel::impact {

// The whole text: base line, verdict line, the tests, fixtures and conftests each with its
// reference chain, the non-empty optional sections and the statistics line.
std::string render_impact_report_text(const ImpactReport& report);

// Appends "    ← " and the entry's chain, nearest to the test first, ending with its origin.
void write_reference_chain(std::string& text, const ImpactedTest& entry);

}  // namespace pindrel::impact
