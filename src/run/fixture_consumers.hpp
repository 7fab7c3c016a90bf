#pragma once

// The tests that consume a changed fixture. A fixture name resolves as pytest resolves it:
// the test file's own fixtures first, then the conftest.py of each directory above, nearest
// first, then the modules that are neither (plugins, fixture modules imported by tests); a
// fixture that overrides a name and asks for that same name reaches the definition further
// up, so a change there still reaches the tests behind the override.

#include "run/selection.hpp"
#include "run/test_index.hpp"

#include <filesystem>
#include <string>
#include <vector>

namespace pindrel::run {

// The known files whose tests can see a fixture defined in `file`: the collectible files under a
// conftest.py's directory, a collectible file alone, or for any other module (a plugin, or
// one that tests import fixtures from) every collectible file; collectible by the whole suite.
std::vector<KnownTestFiles::iterator> fixture_scope_entries(KnownTestFiles& known, const std::filesystem::path& file,
                                                            const PytestSettings& settings,
                                                            const SuiteCollection& suite);

// Adds the node ids of the tests that consume the changed `fixture` as one expansion, or a
// `no_consumers` entry when there are none.
void expand_changed_fixture(SelectionBuilder& builder, const FixtureDefinition& fixture, const std::string& symbol,
                            const ReferenceChain& chain);

}  // namespace pindrel::run
