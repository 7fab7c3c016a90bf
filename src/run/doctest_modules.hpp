#pragma once

// The modules whose doctests a change can break, for a pytest that collects doctests from
// every Python file: the file of every changed definition and of every definition or module
// the walk reached, when it is a source module or a module of the test-file rule that pytest
// collects no tests from; a test module and a conftest.py run their doctests as test files.

#include "impact/impact_report.hpp"
#include "impact/source_cache.hpp"
#include "run/collection_rules.hpp"
#include "run/selection.hpp"

#include <map>
#include <span>
#include <string>
#include <vector>

namespace pindrel::run {

struct DoctestFile {
  std::string file;  // the path as listed
  ReferenceChain chain;
};

// Each file once, with the first chain that names it: the changed definitions first, then the
// impacted tests' origins and chains in report order, then the names the walk entered, in name
// order. Files that are gone are left out.
std::vector<DoctestFile> doctest_files(const impact::ImpactReport& report, std::span<const ChangedDefinition> changed,
                                       const std::map<std::string, impact::VisitedEntry>& reached,
                                       impact::SourceCache& cache, const PytestSettings& settings);

}  // namespace pindrel::run
