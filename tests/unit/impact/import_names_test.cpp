#include "impact/import_names.hpp"
#include "walk_fixture.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pindrel::impact {
namespace {

using Lines = std::vector<std::string>;

TEST(ImportNames, BelowEachPythonpathEntryThatHoldsTheFile) {
  struct Case {
    std::string file;
    Lines pythonpath;
    Lines names;
  };
  const Case cases[] = {
      {"lib/textkit/slug.py", {"lib"}, {"textkit.slug"}},
      {"lib/textkit/slug.py", {"./lib/", "."}, {"textkit.slug", "lib.textkit.slug"}},
      {"packages/core/src/core/__init__.py", {"packages/web/src", "packages/core/src"}, {"core"}},
      {"lib/__init__.py", {"lib"}, {}},  // the entry itself is no module
      {"lib/textkit/slug.py", {"../lib", "/abs/lib", "li"}, {}},
      {"src/pkg/mod.py", {"src", "src/pkg"}, {"pkg.mod", "mod"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(names_below_import_paths(c.file, c.pythonpath), c.names);
  }
}

TEST(ImportNames, ChangesToSysPath) {
  struct Case {
    std::string_view text;
    bool changes;
  };
  const Case cases[] = {
      {"sys.path.insert(0, 'scripts')", true},
      {"sys.path .append (here)", true},
      {"sys.path.extend(dirs)", true},
      {"sys.path[:0] = [here]", true},
      {"sys.path = [here] + sys.path", true},
      {"sys.path += [here]", true},
      {"print(sys.path)", false},
      {"if sys.path == old:", false},
      {"sys.path.index(here)", false},
      {"sys.path_hooks.append(hook)", false},
      {"os.sys.path.insert(0, x)", true},
      {"mysys.path.insert(0, x)", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(changes_sys_path(c.text), c.changes);
  }
}

class ModuleImportNames : public test_support::WalkFixture {};

TEST_F(ModuleImportNames, TrailingComponentsOnlyOnceSomeFileChangesSysPath) {
  write("ns/pkg/__init__.py", "");
  write("ns/pkg/mod.py", "X = 1\n");
  write("tests/test_mod.py", "import sys\n\nprint(sys.path)\n");
  state().pytest.pythonpath = {"ns"};
  EXPECT_EQ(module_import_names(state(), "pkg.mod", "ns/pkg/mod.py").value(), (Lines{"pkg.mod", "ns.pkg.mod"}));

  write("tests/conftest.py", "import sys\nsys.path.insert(0, 'ns/pkg')\n");
  SourceCache cache = new_source_cache(root(), listed_);
  WalkState fresh(references_, cache, config_, limits_, clock_);
  EXPECT_EQ(module_import_names(fresh, "pkg.mod", "ns/pkg/mod.py").value(), (Lines{"pkg.mod", "ns.pkg.mod", "mod"}));
}

}  // namespace
}  // namespace pindrel::impact
