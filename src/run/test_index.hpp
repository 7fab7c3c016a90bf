#pragma once

// What the selection learns from a test file's own source: which definitions pytest collects
// as tests, which fixtures the file defines, and which fixture names each test asks for.
// Known test files are ordered by path components, so the files under one directory are
// neighbours and a directory's subtree is one range of the map.

#include "impact/source_cache.hpp"
#include "project/config.hpp"
#include "pysource/outline.hpp"
#include "run/collection_rules.hpp"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pindrel::run {

// One fixture of an indexed file.
struct FixtureDefinition {
  std::string file;  // its path text
  std::string qualname;
  std::string name;                          // the name tests ask for
  std::vector<std::string> parameter_names;  // the fixtures it asks for itself
  bool autouse = false;
  bool unreadable_name = false;  // the name keyword holds something other than a plain string
  bool asks_by_name = false;     // it asks for fixtures by name at run time, so for any it sees
  friend bool operator==(const FixtureDefinition&, const FixtureDefinition&) = default;
};

// One collected test of its index's file and the fixture names it asks for. The names point
// into the outline and the configured names that the index keeps.
struct TestConsumer {
  std::string_view qualname;
  // Its run of the index's fixture names: parameters, and usefixtures marks on it, its enclosing
  // classes and their pytestmark, the module's pytestmark and the configuration's usefixtures;
  // sorted, each once.
  std::uint32_t names_begin = 0;
  std::uint32_t names_count = 0;
  // One of those marks cannot be read, or the test asks for fixtures by name at run time: it
  // may consume any fixture it sees.
  bool unreadable_marks = false;
  friend bool operator==(const TestConsumer&, const TestConsumer&) = default;
};

// Qualified name -> whether pytest collects that definition as a test; sorted by name, each
// once, the name's last definition deciding.
using TestFlags = std::vector<std::pair<std::string_view, bool>>;

// Pairs of a class of the file and a class of the file that names it as a base.
using Subclasses = std::vector<std::pair<std::string_view, std::string_view>>;

struct TestModuleIndex {
  pysource::SharedOutline outline;                                 // what the views below point into
  std::shared_ptr<const std::vector<std::string>> usefixtures;     // the configured names, when any
  std::vector<TestConsumer> consumers;                             // outline order
  std::vector<std::string_view> fixture_names;                     // the consumers' runs, in their order
  std::map<std::string, FixtureDefinition, std::less<>> fixtures;  // by name; a name's first definition holds it
  TestFlags tests;
  Subclasses subclasses;                           // by base, then in definition order
  std::vector<std::string_view> unittest_classes;  // sorted
  // A class names `__test__`: which of its tests pytest collects is not known.
  bool names_test_attribute = false;
  bool indexed = false;

  std::span<const std::string_view> fixture_names_of(const TestConsumer& consumer) const {
    return std::span(fixture_names).subspan(consumer.names_begin, consumer.names_count);
  }
};

// Compares "/"-separated paths component by component, each component as bytes, a path
// whose components lead another's first (so a/b.py sorts before a-b.py). Repeated
// separators count as one; a leading "/" is a component of its own.
int compare_path_components(std::string_view a, std::string_view b);

struct PathComponentLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const { return compare_path_components(a, b) < 0; }
};

// Every test file of the repository by its listed path, with its index built on first need.
using KnownTestFiles = std::map<std::string, TestModuleIndex, PathComponentLess>;

// The cache's Python files that are test files, every index unbuilt. A file that python_files
// makes collectible outside them stays out: the walk does not see it as a test file either, and
// with testpaths pytest may not collect it at all.
KnownTestFiles known_test_files(const impact::SourceCache& cache);

// The known files under `dir` (everything for an empty `dir`) that the whole suite collects, in
// map order.
std::vector<KnownTestFiles::iterator> test_entries_under_dir(KnownTestFiles& known, std::string_view dir,
                                                             const PytestSettings& settings,
                                                             const SuiteCollection& suite);

// Whether a name that a test file binds by an import is a TestCase of another test file; an
// empty function leaves every such base unknown.
using ImportedTestCase = std::function<bool(std::string_view bound_name)>;

// Builds the index of `path` from its outline (an empty index for none) and its text under
// pytest's collection rules; nothing when `path` is not known.
void index_fixture_consumers(KnownTestFiles& known, const std::filesystem::path& path, pysource::SharedOutline outline,
                             const PytestSettings& settings, std::string_view source = {});

// The same for a known entry at hand; `imported` tells the bases that other test files define.
void index_test_file(KnownTestFiles::value_type& entry, pysource::SharedOutline outline, const PytestSettings& settings,
                     std::string_view source = {}, const ImportedTestCase& imported = {});

struct QualnameMatch {
  enum class Kind {
    none,    // no leading part is a collected test
    whole,   // the qualified name itself is a collected test
    prefix,  // `prefix` is the deepest leading part that is one
  };
  Kind kind = Kind::none;
  std::string prefix;
  friend bool operator==(const QualnameMatch&, const QualnameMatch&) = default;
};

// The deepest leading dotted part of `qualname` whose every step is a collected test.
QualnameMatch resolve_test_qualname(const TestFlags& tests, std::string_view qualname);

// The test nodes that also run the test node `qualname` (a test, or a class), which pytest
// collects again in each class of the file that inherits it, transitively, unless the class
// defines that test itself.
std::vector<std::string> inherited_nodes(const TestModuleIndex& index, std::string_view qualname,
                                         const PytestSettings& settings);

struct UsefixturesNames {
  std::vector<std::string_view> names;  // into the decorators; in order, repeats kept
  bool unreadable = false;              // a mark had a non-string argument or a keyword argument
};

// The fixture names that usefixtures marks among `decorators` give.
UsefixturesNames usefixtures_marks(std::span<const pysource::Decorator> decorators);

// The same names appended to `names`; whether a mark cannot be read.
bool add_usefixtures_names(std::span<const pysource::Decorator> decorators, std::vector<std::string_view>& names);

// The conftest.py of every directory above `file`, nearest first, up to the root's.
std::vector<std::string> conftest_candidates(std::string_view file);

}  // namespace pindrel::run
