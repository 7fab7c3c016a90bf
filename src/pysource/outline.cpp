// The outline is read off tree-sitter's concrete syntax tree of the whole source. Every walk
// keeps its own stack (a tree cursor, or an explicit list of pending nodes) instead of
// recursing, so a deeply nested source cannot exhaust the call stack. Node texts are slices
// of the caller's source: the parser reads it in place and nothing copies it.

#include "pysource/outline.hpp"

#include <tree_sitter/api.h>

#include <algorithm>
#include <cstddef>
#include <limits>

extern "C" const TSLanguage* tree_sitter_python();

namespace pindrel::pysource {
namespace {

constexpr std::uint32_t min_grammar_abi = 13;
constexpr std::uint32_t max_grammar_abi = 15;
static_assert(min_grammar_abi == TREE_SITTER_MIN_COMPATIBLE_LANGUAGE_VERSION &&
              max_grammar_abi == TREE_SITTER_LANGUAGE_VERSION);

struct ParserDeleter {
  void operator()(TSParser* parser) const { ts_parser_delete(parser); }
};
struct TreeDeleter {
  void operator()(TSTree* tree) const { ts_tree_delete(tree); }
};
using ParserPtr = std::unique_ptr<TSParser, ParserDeleter>;
using TreePtr = std::unique_ptr<TSTree, TreeDeleter>;

class Cursor {
 public:
  explicit Cursor(TSNode node) : cursor_(ts_tree_cursor_new(node)) {}
  ~Cursor() { ts_tree_cursor_delete(&cursor_); }
  Cursor(const Cursor&) = delete;
  Cursor& operator=(const Cursor&) = delete;
  TSTreeCursor* get() { return &cursor_; }

 private:
  TSTreeCursor cursor_;
};

// Calls `f` on each named child of `node`, in source order. A cursor steps from child to
// child; looking children up by index would rescan the siblings before each one.
template <class F>
void for_each_named_child(TSNode node, F&& f) {
  Cursor cursor(node);
  if (!ts_tree_cursor_goto_first_child(cursor.get())) return;
  do {
    TSNode child = ts_tree_cursor_current_node(cursor.get());
    if (ts_node_is_named(child)) f(child);
  } while (ts_tree_cursor_goto_next_sibling(cursor.get()));
}

enum class Visit { descend, skip };

// Calls `f` on the named descendants of `root` in document order; `f` decides whether the
// walk goes on into the node's named children.
template <class F>
void walk_named_descendants(TSNode root, F&& f) {
  Cursor cursor(root);
  TSTreeCursor* c = cursor.get();
  if (!ts_tree_cursor_goto_first_child(c)) return;
  for (;;) {
    TSNode node = ts_tree_cursor_current_node(c);
    if (ts_node_is_named(node) && f(node) == Visit::descend && ts_tree_cursor_goto_first_child(c)) {
      continue;
    }
    while (!ts_tree_cursor_goto_next_sibling(c)) {
      // A cursor never leaves the node it started at, so this ends the walk at `root`.
      if (!ts_tree_cursor_goto_parent(c)) return;
    }
  }
}

std::uint32_t one_based(std::uint32_t zero_based) {
  return zero_based == std::numeric_limits<std::uint32_t>::max() ? zero_based : zero_based + 1;
}

// Orders definitions or line ranges by start line, then end line.
constexpr auto by_lines = [](const auto& a, const auto& b) {
  return std::pair(a.start_line, a.end_line) < std::pair(b.start_line, b.end_line);
};

// The grammar's field ids, looked up once per parse.
struct Fields {
  explicit Fields(const TSLanguage* language)
      : name(id(language, "name")),
        definition(id(language, "definition")),
        body(id(language, "body")),
        parameters(id(language, "parameters")),
        superclasses(id(language, "superclasses")),
        arguments(id(language, "arguments")),
        function(id(language, "function")),
        object(id(language, "object")),
        attribute(id(language, "attribute")),
        value(id(language, "value")),
        alias(id(language, "alias")),
        left(id(language, "left")) {}

  TSFieldId name, definition, body, parameters, superclasses, arguments, function, object,
      attribute, value, alias, left;

 private:
  static TSFieldId id(const TSLanguage* language, std::string_view field) {
    return ts_language_field_id_for_name(language, field.data(),
                                         static_cast<std::uint32_t>(field.size()));
  }
};

class OutlineBuilder {
 public:
  OutlineBuilder(std::string_view source, const TSLanguage* language)
      : source_(source), fields_(language) {}

  Outline build(TSNode root) {
    Outline outline;
    outline.definitions = collect_definitions(root);
    std::stable_sort(outline.definitions.begin(), outline.definitions.end(), by_lines);
    collect_imports(root, outline.import_ranges, outline.aliased_imports);
    std::stable_sort(outline.import_ranges.begin(), outline.import_ranges.end(), by_lines);
    outline.module_names = collect_module_names(root);
    outline.has_error = ts_node_has_error(root);
    return outline;
  }

 private:
  // Where a definition stands: the qualname prefix of its enclosing classes and the kind a
  // function gets there.
  struct Scope {
    std::string prefix;
    DefinitionKind function_kind;
  };
  struct Pending {
    TSNode node;
    std::size_t scope;
  };

  static bool is(TSNode node, std::string_view kind) { return ts_node_type(node) == kind; }

  std::string_view text(TSNode node) const {
    std::uint32_t start = ts_node_start_byte(node);
    return source_.substr(start, ts_node_end_byte(node) - start);
  }

  TSNode field(TSNode node, TSFieldId id) const { return ts_node_child_by_field_id(node, id); }

  std::vector<Definition> collect_definitions(TSNode root) const {
    std::vector<Definition> definitions;
    std::vector<Scope> scopes{{"", DefinitionKind::function}};
    std::vector<Pending> pending;
    std::vector<TSNode> children;
    // Children go on the stack last first, so nodes come off it in document order.
    auto push_children = [&](TSNode node, std::size_t scope) {
      children.clear();
      for_each_named_child(node, [&](TSNode child) { children.push_back(child); });
      for (auto it = children.rbegin(); it != children.rend(); ++it) pending.push_back({*it, scope});
    };

    push_children(root, 0);
    while (!pending.empty()) {
      Pending next = pending.back();
      pending.pop_back();
      TSNode definition = next.node;
      std::vector<Decorator> decorators;
      if (is(next.node, "decorated_definition")) {
        definition = field(next.node, fields_.definition);
        if (ts_node_is_null(definition)) continue;
        for_each_named_child(next.node, [&](TSNode child) {
          if (!is(child, "decorator")) return;
          if (auto decorator = read_decorator(child)) decorators.push_back(std::move(*decorator));
        });
      } else if (!is(next.node, "function_definition") && !is(next.node, "class_definition")) {
        push_children(next.node, next.scope);
        continue;
      }

      TSNode name = field(definition, fields_.name);
      if (ts_node_is_null(name)) continue;
      bool is_class = is(definition, "class_definition");
      std::string qualname = scopes[next.scope].prefix;
      qualname += text(name);
      TSPoint name_start = ts_node_start_point(name);

      Definition& built = definitions.emplace_back();
      built.qualname = qualname;
      built.decorators = std::move(decorators);
      built.parameter_names = parameter_names(field(definition, fields_.parameters));
      built.superclass_names = superclass_names(field(definition, fields_.superclasses));
      built.start_line = one_based(ts_node_start_point(next.node).row);
      built.end_line = one_based(ts_node_end_point(definition).row);
      built.line = one_based(name_start.row);
      built.column = one_based(name_start.column);
      built.kind = is_class ? DefinitionKind::class_ : scopes[next.scope].function_kind;

      // What a function defines stays out of the outline; a class body is walked as a scope.
      if (!is_class) continue;
      TSNode body = field(definition, fields_.body);
      if (ts_node_is_null(body)) continue;
      scopes.push_back({qualname + ".", DefinitionKind::method});
      push_children(body, scopes.size() - 1);
    }
    return definitions;
  }

  std::vector<std::string> parameter_names(TSNode parameters) const {
    std::vector<std::string> names;
    if (ts_node_is_null(parameters)) return names;
    for_each_named_child(parameters, [&](TSNode parameter) {
      TSNode name{};
      if (is(parameter, "identifier")) {
        name = parameter;
      } else if (is(parameter, "typed_parameter")) {
        // The first named child keeps the stars of an annotated `*args: int`.
        name = ts_node_named_child(parameter, 0);
      } else if (is(parameter, "default_parameter") || is(parameter, "typed_default_parameter")) {
        name = field(parameter, fields_.name);
      } else {
        return;
      }
      if (!ts_node_is_null(name)) names.emplace_back(text(name));
    });
    return names;
  }

  std::vector<std::string> superclass_names(TSNode superclasses) const {
    std::vector<std::string> names;
    if (ts_node_is_null(superclasses)) return names;
    for_each_named_child(superclasses, [&](TSNode base) {
      if (is(base, "keyword_argument")) return;
      std::optional<std::string> name;
      if (is(base, "subscript")) {
        TSNode value = field(base, fields_.value);
        if (!ts_node_is_null(value)) name = dotted_name_of(value);
      } else {
        name = dotted_name_of(base);
      }
      if (name) names.push_back(std::move(*name));
    });
    return names;
  }

  // The dotted name of an identifier, an attribute chain or a call, looking through calls
  // anywhere along the chain: a().b gives a.b.
  std::optional<std::string> dotted_name_of(TSNode node) const {
    std::vector<std::string_view> attributes;  // innermost first
    for (;;) {
      if (is(node, "identifier")) break;
      if (is(node, "attribute")) {
        TSNode object = field(node, fields_.object);
        TSNode attribute = field(node, fields_.attribute);
        if (ts_node_is_null(object) || ts_node_is_null(attribute)) return std::nullopt;
        attributes.push_back(text(attribute));
        node = object;
      } else if (is(node, "call")) {
        node = field(node, fields_.function);
        if (ts_node_is_null(node)) return std::nullopt;
      } else {
        return std::nullopt;
      }
    }
    std::string name(text(node));
    for (auto it = attributes.rbegin(); it != attributes.rend(); ++it) {
      name += '.';
      name += *it;
    }
    return name;
  }

  std::optional<Decorator> read_decorator(TSNode node) const {
    TSNode expression = ts_node_named_child(node, 0);
    if (ts_node_is_null(expression)) return std::nullopt;
    std::optional<std::string> name = dotted_name_of(expression);
    if (!name) return std::nullopt;
    Decorator decorator{std::move(*name), {}, {}};
    if (!is(expression, "call")) return decorator;
    TSNode arguments = field(expression, fields_.arguments);
    if (ts_node_is_null(arguments)) return decorator;
    for_each_named_child(arguments, [&](TSNode argument) {
      if (!is(argument, "keyword_argument")) {
        decorator.args.push_back(literal_value_of(argument));
        return;
      }
      TSNode keyword = field(argument, fields_.name);
      TSNode value = field(argument, fields_.value);
      if (ts_node_is_null(keyword) || ts_node_is_null(value)) return;
      decorator.kwargs.emplace_back(std::string(text(keyword)), literal_value_of(value));
    });
    return decorator;
  }

  LiteralValue literal_value_of(TSNode node) const {
    if (is(node, "true")) return {LiteralValue::Bool{true}};
    if (is(node, "false")) return {LiteralValue::Bool{false}};
    if (!is(node, "string")) return {LiteralValue::NotLiteral{}};
    std::size_t contents = 0;
    bool interpolated = false;
    TSNode content{};
    for_each_named_child(node, [&](TSNode child) {
      if (is(child, "interpolation")) {
        interpolated = true;
      } else if (is(child, "string_content")) {
        ++contents;
        content = child;
      }
    });
    if (interpolated || contents > 1) return {LiteralValue::NotLiteral{}};
    if (contents == 0) return {LiteralValue::Text{}};
    return {LiteralValue::Text{std::string(text(content))}};
  }

  static bool is_import(TSNode node) {
    return is(node, "import_statement") || is(node, "import_from_statement") ||
           is(node, "future_import_statement");
  }

  // Import ranges and aliased imports in one pass over the tree: an import statement gives its
  // range and the aliases inside it; an aliased import elsewhere (error recovery leaves such)
  // still counts.
  void collect_imports(TSNode root, std::vector<LineRange>& ranges,
                       std::vector<ImportAlias>& aliases) const {
    auto alias_visit = [&](TSNode node) {
      if (!is(node, "aliased_import")) return Visit::descend;
      add_alias(node, aliases);
      return Visit::skip;
    };
    walk_named_descendants(root, [&](TSNode node) {
      if (!is_import(node)) return alias_visit(node);
      ranges.push_back({one_based(ts_node_start_point(node).row), one_based(ts_node_end_point(node).row)});
      walk_named_descendants(node, alias_visit);
      return Visit::skip;
    });
  }

  void add_alias(TSNode node, std::vector<ImportAlias>& aliases) const {
    TSNode name = field(node, fields_.name);
    TSNode alias = field(node, fields_.alias);
    if (ts_node_is_null(name) || ts_node_is_null(alias)) return;
    std::string_view imported = text(name);
    if (auto dot = imported.rfind('.'); dot != std::string_view::npos) imported.remove_prefix(dot + 1);
    TSPoint start = ts_node_start_point(alias);
    aliases.push_back({std::string(imported), std::string(text(alias)), one_based(start.row),
                       one_based(start.column)});
  }

  std::vector<ModuleLevelName> collect_module_names(TSNode root) const {
    std::vector<ModuleLevelName> names;
    auto bind = [&](TSNode node) {
      if (ts_node_is_null(node)) return;
      TSPoint start = ts_node_start_point(node);
      names.push_back({std::string(text(node)), one_based(start.row), one_based(start.column)});
    };
    walk_named_descendants(root, [&](TSNode node) {
      if (is(node, "class_definition") || is(node, "function_definition") ||
          is(node, "decorated_definition")) {
        return Visit::skip;
      }
      if (is(node, "import_statement")) {
        // `import a.b` binds a.
        for_each_named_child(node, [&](TSNode child) {
          if (is(child, "dotted_name")) bind(ts_node_named_child(child, 0));
          else if (is(child, "aliased_import")) bind(field(child, fields_.alias));
        });
        return Visit::skip;
      }
      if (is(node, "import_from_statement")) {
        bool is_module = true;  // the first named child is the module imported from
        for_each_named_child(node, [&](TSNode child) {
          if (std::exchange(is_module, false)) return;
          if (is(child, "dotted_name")) bind(child);
          else if (is(child, "aliased_import")) bind(field(child, fields_.alias));
        });
        return Visit::skip;
      }
      if (is(node, "expression_statement")) {
        for_each_named_child(node, [&](TSNode child) {
          if (!is(child, "assignment")) return;
          TSNode left = field(child, fields_.left);
          if (!ts_node_is_null(left) && is(left, "identifier")) bind(left);
        });
        return Visit::skip;
      }
      return Visit::descend;
    });
    return names;
  }

  std::string_view source_;
  Fields fields_;
};

Error grammar_error(std::string cause) {
  return Error(std::move(cause)).context("could not load the tree-sitter Python grammar");
}

}  // namespace

Result<void> check_grammar_abi_version(std::uint32_t version) {
  if (version >= min_grammar_abi && version <= max_grammar_abi) return {};
  return std::unexpected(grammar_error("Incompatible language version " + std::to_string(version) +
                                       ". Expected minimum " + std::to_string(min_grammar_abi) +
                                       ", maximum " + std::to_string(max_grammar_abi)));
}

Result<Outline> outline_python_source(std::string_view source) {
  ParserPtr parser(ts_parser_new());
  const TSLanguage* language = tree_sitter_python();
  if (auto usable = check_grammar_abi_version(ts_language_abi_version(language)); !usable) {
    return std::unexpected(std::move(usable.error()));
  }
  if (!ts_parser_set_language(parser.get(), language)) {
    return std::unexpected(grammar_error("Language cannot be used for parsing."));
  }
  // Byte offsets in the tree are 32-bit: a longer text cannot be parsed as one whole.
  if (source.size() > std::numeric_limits<std::uint32_t>::max()) {
    return std::unexpected(Error("tree-sitter failed to parse the source"));
  }
  TreePtr tree(ts_parser_parse_string_encoding(parser.get(), nullptr, source.data(),
                                               static_cast<std::uint32_t>(source.size()),
                                               TSInputEncodingUTF8));
  if (!tree) return std::unexpected(Error("tree-sitter failed to parse the source"));
  return OutlineBuilder(source, language).build(ts_tree_root_node(tree.get()));
}

SharedOutline outline_shared(OutlineSlot& slot, std::string_view source) {
  if (slot) return *slot;
  auto outline = outline_python_source(source);
  if (outline && !outline->has_error) {
    slot = std::make_shared<const Outline>(std::move(*outline));
  } else {
    slot = SharedOutline{};
  }
  return *slot;
}

}  // namespace pindrel::pysource
