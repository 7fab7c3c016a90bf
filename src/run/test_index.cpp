#include "run/test_index.hpp"

#include "project/modpath.hpp"
#include "pysource/word.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <unordered_map>
#include <unordered_set>

namespace pindrel::run {
namespace {

using pysource::Decorator;
using pysource::Definition;
using pysource::DefinitionKind;
using pysource::LiteralValue;

bool is_fixture_decorator(const Decorator& decorator) {
  const std::string_view name = decorator.decorator_name;
  return name == "fixture" || name.ends_with(".fixture");
}

bool is_usefixtures_mark(const Decorator& decorator) {
  const std::string_view name = decorator.decorator_name;
  return name == "mark.usefixtures" || name.ends_with(".mark.usefixtures");
}

std::string_view own_name(std::string_view qualname) {
  const auto dot = qualname.rfind('.');
  return dot == std::string_view::npos ? qualname : qualname.substr(dot + 1);
}

// The lines of `text` that name `word` as a whole word, in order.
std::vector<std::uint32_t> lines_naming(std::string_view text, std::string_view word) {
  std::vector<std::uint32_t> lines;
  std::uint32_t line = 1;
  std::size_t counted = 0;  // the newlines before here are in `line`
  for (auto at = text.find(word); at != std::string_view::npos; at = text.find(word, at + word.size())) {
    const std::size_t end = at + word.size();
    if ((at > 0 && pysource::is_word_byte(text[at - 1])) || (end < text.size() && pysource::is_word_byte(text[end])))
      continue;
    line += static_cast<std::uint32_t>(std::count(text.begin() + static_cast<std::ptrdiff_t>(counted),
                                                  text.begin() + static_cast<std::ptrdiff_t>(at), '\n'));
    counted = at;
    if (lines.empty() || lines.back() != line) lines.push_back(line);
  }
  return lines;
}

// Whether one of `lines` (in order) falls within the definition.
bool spans_any(const Definition& definition, const std::vector<std::uint32_t>& lines) {
  const auto first = std::ranges::lower_bound(lines, definition.start_line);
  return first != lines.end() && *first <= definition.end_line;
}

const LiteralValue* keyword_argument(const Decorator& decorator, std::string_view keyword) {
  for (const auto& [key, value] : decorator.kwargs) {
    if (key == keyword) return &value;
  }
  return nullptr;
}

FixtureDefinition fixture_of(std::string_view path, const Definition& definition, const Decorator& decorator) {
  FixtureDefinition fixture{std::string(path),
                            definition.qualname,
                            std::string(own_name(definition.qualname)),
                            definition.parameter_names,
                            false,
                            false};
  if (const LiteralValue* name = keyword_argument(decorator, "name")) {
    if (const auto* text = std::get_if<LiteralValue::Text>(&name->value)) {
      fixture.name = text->content;
    } else {
      fixture.unreadable_name = true;
    }
  }
  if (const LiteralValue* autouse = keyword_argument(decorator, "autouse")) {
    // Anything but a literal False may well be true at run time.
    const auto* flag = std::get_if<LiteralValue::Bool>(&autouse->value);
    fixture.autouse = flag == nullptr || flag->value;
  }
  return fixture;
}

// What pytest makes of a class of the file: a subclass of unittest's TestCase it collects
// whatever its name, with the test* methods as its tests; one with a constructor of its own or
// inherited it never collects by name.
struct ClassFacts {
  bool unittest = false;
  bool constructed = false;
};
using ClassTable = std::unordered_map<std::string_view, ClassFacts>;

struct FileClasses {
  ClassTable classes;
  Subclasses subclasses;  // in definition order
};

std::string_view enclosing_of(std::string_view qualname) {
  const auto dot = qualname.rfind('.');
  return dot == std::string_view::npos ? std::string_view() : qualname.substr(0, dot);
}

// The facts of every class, by qualified name. A base is looked up as Python evaluates it: in
// the body around the class, then at module level, among the classes defined before it. A base
// from elsewhere is a TestCase when its name says so or `imported` knows it as one, and has no
// constructor as far as is known.
FileClasses class_facts(const std::vector<Definition>& definitions, const ImportedTestCase& imported) {
  std::unordered_set<std::string_view> own_constructor;
  for (const Definition& definition : definitions) {
    const std::string_view name = own_name(definition.qualname);
    if (definition.kind == DefinitionKind::method && (name == "__init__" || name == "__new__")) {
      own_constructor.insert(enclosing_of(definition.qualname));
    }
  }
  FileClasses file;
  ClassTable& classes = file.classes;
  std::string scoped;  // a base's name inside the enclosing body
  for (const Definition& definition : definitions) {
    if (definition.kind != DefinitionKind::class_) continue;
    ClassFacts facts{false, own_constructor.contains(definition.qualname)};
    const std::string_view enclosing = enclosing_of(definition.qualname);
    for (const std::string& base : definition.superclass_names) {
      auto known = classes.end();
      if (!enclosing.empty()) known = classes.find(scoped.assign(enclosing).append(".").append(base));
      if (known == classes.end()) known = classes.find(base);
      if (known != classes.end()) {
        facts.unittest = facts.unittest || known->second.unittest;
        facts.constructed = facts.constructed || known->second.constructed;
        file.subclasses.emplace_back(known->first, definition.qualname);
      } else {
        facts.unittest = facts.unittest || base.ends_with("TestCase") || (imported && imported(base));
      }
    }
    classes.insert_or_assign(definition.qualname, facts);
  }
  return file;
}

// Whether pytest collects the definition as a test. A TestCase is collected whatever its name
// or constructor, and collects its test* methods only: neither the configured function names
// nor its nested classes. A class that names `__test__` may turn collection off, in itself or
// in what it holds; which is not known, so it counts as not collected.
bool collected_as_test(const Definition& definition, const ClassTable& classes, const PytestSettings& settings,
                       const std::vector<std::uint32_t>& naming_test_attribute) {
  if (std::ranges::any_of(definition.decorators, is_fixture_decorator)) return false;
  const std::string_view name = own_name(definition.qualname);
  const auto enclosing = classes.find(enclosing_of(definition.qualname));
  const bool in_unittest = enclosing != classes.end() && enclosing->second.unittest;
  if (definition.kind == DefinitionKind::class_) {
    if (in_unittest || spans_any(definition, naming_test_attribute)) return false;
    const auto own = classes.find(definition.qualname);
    const ClassFacts facts = own != classes.end() ? own->second : ClassFacts{};
    return facts.unittest || (collects_class_name(name, settings) && !facts.constructed);
  }
  // unittest's loader takes the methods named with its prefix.
  if (in_unittest) return name.starts_with("test");
  return collects_function_name(name, settings);
}

// The usefixtures marks of the pytestmark assignments, by the class they stand in ("" for the module).
std::unordered_map<std::string_view, UsefixturesNames> pytestmark_fixtures(const pysource::Outline& outline) {
  std::unordered_map<std::string_view, UsefixturesNames> by_scope;
  for (const pysource::MarkAssignment& assignment : outline.mark_assignments) {
    UsefixturesNames& names = by_scope[assignment.scope];
    UsefixturesNames marks = usefixtures_marks(assignment.marks);
    names.names.insert(names.names.end(), marks.names.begin(), marks.names.end());
    names.unreadable = names.unreadable || marks.unreadable || assignment.unreadable;
  }
  return by_scope;
}

// The next component of `path` after `pos`, empty at the end.
std::string_view next_component(std::string_view path, std::size_t& pos) {
  if (pos == 0 && path.starts_with('/')) {
    pos = 1;
    return path.substr(0, 1);
  }
  while (pos < path.size() && path[pos] == '/') ++pos;
  const std::size_t end = std::min(path.find('/', pos), path.size());
  const std::string_view component = path.substr(pos, end - pos);
  pos = end;
  return component;
}

// Whether the components of `dir` lead those of `path`.
bool is_under(std::string_view dir, std::string_view path) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (true) {
    const std::string_view d = next_component(dir, i);
    if (d.empty()) return true;
    if (d != next_component(path, j)) return false;
  }
}

// The length of the longest common prefix of `a` and `b`, compared a word at a time: keys of
// one repository share long leading directories.
std::size_t common_prefix(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  std::size_t i = 0;
  for (; i + sizeof(std::uint64_t) <= n; i += sizeof(std::uint64_t)) {
    std::uint64_t x = 0;
    std::uint64_t y = 0;
    std::memcpy(&x, a.data() + i, sizeof x);
    std::memcpy(&y, b.data() + i, sizeof y);
    if (x != y) break;
  }
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

// `path` less its last component; a root stays itself.
std::string_view parent_of(std::string_view path) {
  std::size_t end = path.rfind('/');
  if (end == std::string_view::npos) return {};
  while (end > 0 && path[end - 1] == '/') --end;
  return end == 0 ? path.substr(0, 1) : path.substr(0, end);
}

}  // namespace

int compare_path_components(std::string_view a, std::string_view b) {
  // Paths are mostly spelt with single separators: up to the first differing byte both
  // hold the same components, and only a separator there needs the component walk.
  const std::size_t same = common_prefix(a, b);
  const auto x = a.begin() + static_cast<std::ptrdiff_t>(same);
  const auto y = b.begin() + static_cast<std::ptrdiff_t>(same);
  const bool a_ends = x == a.end() || *x == '/';
  const bool b_ends = y == b.end() || *y == '/';
  if (!a_ends && !b_ends) return static_cast<unsigned char>(*x) < static_cast<unsigned char>(*y) ? -1 : 1;
  const bool inside_component = x != a.begin() && x[-1] != '/';
  if (inside_component && a_ends != b_ends) return a_ends ? -1 : 1;
  if (x == a.end() && y == b.end()) return 0;

  std::size_t i = 0;
  std::size_t j = 0;
  while (true) {
    const std::string_view p = next_component(a, i);
    const std::string_view q = next_component(b, j);
    if (p.empty() || q.empty()) return p.empty() == q.empty() ? 0 : (p.empty() ? -1 : 1);
    if (const int order = p.compare(q); order != 0) return order;
  }
}

KnownTestFiles known_test_files(const impact::SourceCache& cache) {
  KnownTestFiles known;
  for (const auto& path : cache.python_files) {
    // Listed in byte order, which is mostly component order: the end is the usual place.
    if (is_test_file(path, cache.root)) known.try_emplace(known.end(), path.native());
  }
  return known;
}

std::vector<KnownTestFiles::iterator> test_entries_under_dir(KnownTestFiles& known, std::string_view dir,
                                                             const PytestSettings& settings,
                                                             const SuiteCollection& suite) {
  std::vector<KnownTestFiles::iterator> files;
  // A directory's subtree follows the directory itself in component order, in one run.
  for (auto it = known.lower_bound(dir); it != known.end() && is_under(dir, it->first); ++it) {
    if (is_collectible_test_file(it->first, settings) && suite.collects(it->first)) files.push_back(it);
  }
  return files;
}

void index_fixture_consumers(KnownTestFiles& known, const std::filesystem::path& path, pysource::SharedOutline outline,
                             const PytestSettings& settings, std::string_view source) {
  if (const auto entry = known.find(path.native()); entry != known.end()) {
    index_test_file(*entry, std::move(outline), settings, source);
  }
}

void index_test_file(KnownTestFiles::value_type& entry, pysource::SharedOutline outline, const PytestSettings& settings,
                     std::string_view source, const ImportedTestCase& imported) {
  if (entry.second.indexed) return;
  TestModuleIndex index;
  index.indexed = true;
  if (outline == nullptr) {
    entry.second = std::move(index);
    return;
  }
  index.outline = std::move(outline);
  if (!settings.usefixtures.empty()) {
    index.usefixtures = std::make_shared<const std::vector<std::string>>(settings.usefixtures);
  }
  const std::vector<Definition>& definitions = index.outline->definitions;

  FileClasses file_classes = class_facts(definitions, imported);
  const std::vector<std::uint32_t> naming_test_attribute = lines_naming(source, "__test__");
  const ClassTable& classes = file_classes.classes;
  // By qualified name, each name's first definition leading its run of equals.
  using Named = std::pair<std::string_view, const Definition*>;
  std::vector<Named> by_qualname;
  by_qualname.reserve(definitions.size());
  for (const Definition& definition : definitions) by_qualname.emplace_back(definition.qualname, &definition);
  std::ranges::stable_sort(by_qualname, {}, &Named::first);
  const auto first_defined_as = [&by_qualname](std::string_view qualname) -> const Definition* {
    const auto found = std::ranges::lower_bound(by_qualname, qualname, {}, &Named::first);
    return found != by_qualname.end() && found->first == qualname ? found->second : nullptr;
  };
  // The run of each name in definition order, so its last definition decides.
  index.tests.reserve(by_qualname.size());
  for (auto run = by_qualname.begin(); run != by_qualname.end();) {
    const auto end =
        std::ranges::find_if(run, by_qualname.end(), [&](const Named& n) { return n.first != run->first; });
    index.tests.emplace_back(run->first,
                             collected_as_test(*std::prev(end)->second, classes, settings, naming_test_attribute));
    run = end;
  }
  const auto marked = pytestmark_fixtures(*index.outline);
  // `request.getfixturevalue(name)` asks for a fixture that only the run knows.
  const std::vector<std::uint32_t> asking_by_name = lines_naming(source, "getfixturevalue");

  const std::string_view file = entry.first;
  // The collected tests, counted first so that their lists are made once, each test asking for
  // its parameters, the configured fixtures and a mark or so.
  std::vector<bool> collected(definitions.size());
  std::size_t tests_found = 0;
  std::size_t names_wanted = 0;
  for (std::size_t i = 0; i < definitions.size(); ++i) {
    const Definition& definition = definitions[i];
    if (definition.kind == DefinitionKind::class_ || std::ranges::any_of(definition.decorators, is_fixture_decorator) ||
        resolve_test_qualname(index.tests, definition.qualname).kind != QualnameMatch::Kind::whole) {
      continue;
    }
    collected[i] = true;
    ++tests_found;
    names_wanted += definition.parameter_names.size() + settings.usefixtures.size() + 1;
  }
  index.consumers.reserve(tests_found);
  index.fixture_names.reserve(names_wanted);
  std::vector<std::string_view> names;  // a test's, gathered here before they join the index's
  for (std::size_t i = 0; i < definitions.size(); ++i) {
    const Definition& definition = definitions[i];
    const auto fixture_decorator = std::ranges::find_if(definition.decorators, is_fixture_decorator);
    if (fixture_decorator != definition.decorators.end()) {
      FixtureDefinition fixture = fixture_of(file, definition, *fixture_decorator);
      fixture.asks_by_name = spans_any(definition, asking_by_name);
      const std::string name = fixture.name;
      index.fixtures.try_emplace(name, std::move(fixture));
      continue;
    }
    if (!collected[i]) continue;

    names.assign(definition.parameter_names.begin(), definition.parameter_names.end());
    bool unreadable = spans_any(definition, asking_by_name);
    const auto add_marks = [&](std::span<const Decorator> decorators) {
      unreadable = add_usefixtures_names(decorators, names) || unreadable;
    };
    const auto add_pytestmark = [&](std::string_view scope) {
      if (const auto found = marked.find(scope); found != marked.end()) {
        names.insert(names.end(), found->second.names.begin(), found->second.names.end());
        unreadable = unreadable || found->second.unreadable;
      }
    };
    if (index.usefixtures) names.insert(names.end(), index.usefixtures->begin(), index.usefixtures->end());
    add_marks(definition.decorators);
    std::string_view enclosing = definition.qualname;
    for (auto dot = enclosing.rfind('.'); dot != std::string_view::npos; dot = enclosing.rfind('.')) {
      enclosing = enclosing.substr(0, dot);
      if (const Definition* found = first_defined_as(enclosing)) add_marks(found->decorators);
      add_pytestmark(enclosing);
    }
    add_pytestmark("");
    std::ranges::sort(names);
    const auto repeats = std::ranges::unique(names);
    names.erase(repeats.begin(), repeats.end());
    index.consumers.push_back({definition.qualname, static_cast<std::uint32_t>(index.fixture_names.size()),
                               static_cast<std::uint32_t>(names.size()), unreadable});
    index.fixture_names.insert(index.fixture_names.end(), names.begin(), names.end());
  }
  index.subclasses = std::move(file_classes.subclasses);
  std::ranges::stable_sort(index.subclasses, {}, &Subclasses::value_type::first);
  for (const auto& [qualname, facts] : classes) {
    if (facts.unittest) index.unittest_classes.push_back(qualname);
  }
  std::ranges::sort(index.unittest_classes);
  index.names_test_attribute = !naming_test_attribute.empty();
  entry.second = std::move(index);
}

QualnameMatch resolve_test_qualname(const TestFlags& tests, std::string_view qualname) {
  const auto collected = [&tests](std::string_view name) {
    const auto found = std::ranges::lower_bound(tests, name, {}, &TestFlags::value_type::first);
    return found != tests.end() && found->first == name && found->second;
  };
  std::size_t best = std::string::npos;
  std::size_t start = 0;
  while (true) {
    const auto dot = qualname.find('.', start);
    const std::size_t end = dot == std::string_view::npos ? qualname.size() : dot;
    if (!collected(qualname.substr(0, end))) break;
    best = end;
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  if (best == std::string::npos) return {};
  if (best == qualname.size()) return {QualnameMatch::Kind::whole, {}};
  return {QualnameMatch::Kind::prefix, std::string(qualname.substr(0, best))};
}

std::vector<std::string> inherited_nodes(const TestModuleIndex& index, std::string_view qualname,
                                         const PytestSettings& settings) {
  std::vector<std::string> nodes;
  if (index.subclasses.empty()) return nodes;
  const auto defined = [&index](std::string_view name) {
    const auto found = std::ranges::lower_bound(index.tests, name, {}, &TestFlags::value_type::first);
    return found != index.tests.end() && found->first == name;
  };
  const auto is_class = [&index](std::string_view name) {
    return std::ranges::binary_search(index.unittest_classes, name) ||
           std::ranges::any_of(index.subclasses,
                               [name](const auto& pair) { return pair.first == name || pair.second == name; });
  };
  // A class node stands for itself in each subclass; a test for the test of its name there.
  std::string_view base = qualname;
  std::string_view test;
  if (!is_class(qualname)) {
    base = enclosing_of(qualname);
    test = own_name(qualname);
    if (base.empty()) return nodes;
  }
  std::vector<std::string_view> classes = {base};
  std::string node;
  for (std::size_t next = 0; next < classes.size(); ++next) {
    const auto [first, last] =
        std::ranges::equal_range(index.subclasses, classes[next], {}, &Subclasses::value_type::first);
    for (auto it = first; it != last; ++it) {
      const std::string_view subclass = it->second;
      if (std::ranges::find(classes, subclass) != classes.end()) continue;
      node.assign(subclass);
      if (!test.empty()) node.append(".").append(test);
      if (!test.empty() && defined(node)) continue;  // its own test, and its subclasses inherit that one
      classes.push_back(subclass);
      const bool unittest = std::ranges::binary_search(index.unittest_classes, subclass);
      const bool collected =
          test.empty() || (unittest ? test.starts_with("test") : collects_function_name(test, settings));
      if (collected && resolve_test_qualname(index.tests, subclass).kind == QualnameMatch::Kind::whole)
        nodes.push_back(node);
    }
  }
  return nodes;
}

bool add_usefixtures_names(std::span<const pysource::Decorator> decorators, std::vector<std::string_view>& names) {
  bool unreadable = false;
  for (const Decorator& decorator : decorators) {
    if (!is_usefixtures_mark(decorator)) continue;
    if (!decorator.kwargs.empty()) unreadable = true;
    for (const LiteralValue& arg : decorator.args) {
      if (const auto* text = std::get_if<LiteralValue::Text>(&arg.value)) {
        names.push_back(text->content);
      } else {
        unreadable = true;
      }
    }
  }
  return unreadable;
}

UsefixturesNames usefixtures_marks(std::span<const pysource::Decorator> decorators) {
  UsefixturesNames marks;
  marks.unreadable = add_usefixtures_names(decorators, marks.names);
  return marks;
}

std::vector<std::string> conftest_candidates(std::string_view file) {
  std::vector<std::string> candidates;
  candidates.reserve(static_cast<std::size_t>(std::ranges::count(file, '/')) + 1);
  for (std::string_view dir = parent_of(file);; dir = parent_of(dir)) {
    std::string& candidate = candidates.emplace_back();
    candidate.reserve(dir.size() + 12);
    candidate += dir;
    if (!dir.empty() && !dir.ends_with('/')) candidate += '/';
    candidate += "conftest.py";
    if (dir.empty() || dir == "/") break;
  }
  return candidates;
}

}  // namespace pindrel::run
