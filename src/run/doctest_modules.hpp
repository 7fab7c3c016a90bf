#pragma once

// The source modules whose doctests a change can break, for a pytest that collects doctests
// from source modules: the file of every changed definition and of every definition a
// reference chain passes through, when it is no test file.

#include "impact/impact_report.hpp"
#include "impact/source_cache.hpp"
#include "run/collection_rules.hpp"
#include "run/selection.hpp"

#include <span>
#include <string>
#include <vector>

namespace pindrel::run {

struct DoctestFile {
  std::string file;  // path text, as a whole-file node id
  ReferenceChain chain;
};

// Each file once, with the first chain that names it: the changed definitions first, then the
// impacted tests' origins and chains in report order. Files that are gone are left out.
std::vector<DoctestFile> doctest_files(const impact::ImpactReport& report, std::span<const ChangedDefinition> changed,
                                       impact::SourceCache& cache, const PytestSettings& settings);

}  // namespace pindrel::run
