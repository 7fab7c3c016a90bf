// The outline is read off tree-sitter's concrete syntax tree of the whole source in one walk.
// Definitions, imports and module-level bindings stand only in statement positions, so the walk
// enters only statement containers (the module, blocks, compound statements and their clauses,
// definitions) and, because error recovery can put any of them anywhere, every subtree that
// holds a syntax error. Node kinds are compared as the grammar's symbol ids, looked up once.
// The walk keeps its own stack (a tree cursor) instead of recursing, so a deeply nested source
// cannot exhaust the call stack. Node texts are slices of the caller's source: the parser reads
// it in place and nothing copies it.

#include "pysource/outline.hpp"

#include <tree_sitter/api.h>

#include <algorithm>
#include <cstddef>
#include <deque>
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

// The node kinds and field names the outline reads, as the grammar's ids.
struct Grammar {
  explicit Grammar(const TSLanguage* python) : language(python) {}

  const TSLanguage* language;
  TSSymbol module = symbol("module"), block = symbol("block"), if_statement = symbol("if_statement"),
           elif_clause = symbol("elif_clause"), else_clause = symbol("else_clause"),
           for_statement = symbol("for_statement"), while_statement = symbol("while_statement"),
           try_statement = symbol("try_statement"), except_clause = symbol("except_clause"),
           finally_clause = symbol("finally_clause"), with_statement = symbol("with_statement"),
           match_statement = symbol("match_statement"), case_clause = symbol("case_clause"),
           function_definition = symbol("function_definition"), class_definition = symbol("class_definition"),
           decorated_definition = symbol("decorated_definition"), decorator = symbol("decorator"),
           call = symbol("call"), attribute = symbol("attribute"), identifier = symbol("identifier"),
           subscript = symbol("subscript"), keyword_argument = symbol("keyword_argument"),
           typed_parameter = symbol("typed_parameter"), default_parameter = symbol("default_parameter"),
           typed_default_parameter = symbol("typed_default_parameter"), true_ = symbol("true"),
           false_ = symbol("false"), string = symbol("string"), string_content = symbol("string_content"),
           interpolation = symbol("interpolation"), import_statement = symbol("import_statement"),
           import_from_statement = symbol("import_from_statement"),
           future_import_statement = symbol("future_import_statement"), aliased_import = symbol("aliased_import"),
           dotted_name = symbol("dotted_name"), expression_statement = symbol("expression_statement"),
           assignment = symbol("assignment"), augmented_assignment = symbol("augmented_assignment"),
           list = symbol("list"), tuple = symbol("tuple"), comment = symbol("comment"), colon = symbol(":", Named::no);
  TSFieldId name = field("name"), definition = field("definition"), body = field("body"),
            parameters = field("parameters"), superclasses = field("superclasses"), arguments = field("arguments"),
            function = field("function"), object = field("object"), attribute_field = field("attribute"),
            value = field("value"), alias = field("alias"), left = field("left"), right = field("right");

  bool is_definition(TSSymbol kind) const {
    return kind == function_definition || kind == class_definition || kind == decorated_definition;
  }
  bool is_import(TSSymbol kind) const {
    return kind == import_statement || kind == import_from_statement || kind == future_import_statement;
  }
  // The nodes whose named children may be statements, or a definition's parts.
  bool is_container(TSSymbol kind) const {
    return kind == block || kind == if_statement || kind == elif_clause || kind == else_clause ||
           kind == for_statement || kind == while_statement || kind == try_statement || kind == except_clause ||
           kind == finally_clause || kind == with_statement || kind == match_statement || kind == case_clause ||
           kind == module || is_definition(kind);
  }

 private:
  enum class Named { no, yes };
  TSSymbol symbol(std::string_view kind, Named named = Named::yes) const {
    return ts_language_symbol_for_name(language, kind.data(), static_cast<std::uint32_t>(kind.size()),
                                       named == Named::yes);
  }
  TSFieldId field(std::string_view field_name) const {
    return ts_language_field_id_for_name(language, field_name.data(), static_cast<std::uint32_t>(field_name.size()));
  }
};

const Grammar& python_grammar() {
  static const Grammar grammar(tree_sitter_python());
  return grammar;
}

std::uint32_t one_based(std::uint32_t zero_based) {
  return zero_based == std::numeric_limits<std::uint32_t>::max() ? zero_based : zero_based + 1;
}

// Orders definitions or line ranges by start line, then end line.
constexpr auto by_lines = [](const auto& a, const auto& b) {
  return std::pair(a.start_line, a.end_line) < std::pair(b.start_line, b.end_line);
};

// Tree cursors for the walks over a node's children, reused across nodes: a cursor allocates
// its stack, and looking children up by index would rescan the siblings before each one.
class Cursors {
 public:
  Cursors() = default;
  Cursors(const Cursors&) = delete;
  Cursors& operator=(const Cursors&) = delete;
  ~Cursors() {
    for (TSTreeCursor& cursor : pool_) ts_tree_cursor_delete(&cursor);
  }

  // A cursor at `node`, held until the returned lease ends; leases nest.
  class Lease {
   public:
    Lease(Cursors& owner, TSNode node) : owner_(owner) {
      if (owner_.in_use_ == owner_.pool_.size())
        owner_.pool_.push_back(ts_tree_cursor_new(node));
      else
        ts_tree_cursor_reset(&owner_.pool_[owner_.in_use_], node);
      cursor_ = &owner_.pool_[owner_.in_use_++];
    }
    ~Lease() { --owner_.in_use_; }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    TSTreeCursor* get() { return cursor_; }

   private:
    Cursors& owner_;
    TSTreeCursor* cursor_;
  };

 private:
  std::deque<TSTreeCursor> pool_;  // grows at the end without moving the cursors in use
  std::size_t in_use_ = 0;
};

class OutlineBuilder {
 public:
  OutlineBuilder(std::string_view source, const Grammar& grammar) : source_(source), g_(grammar) {}

  Outline build(TSNode root) {
    walk(root);
    std::stable_sort(outline_.definitions.begin(), outline_.definitions.end(), by_lines);
    std::stable_sort(outline_.import_ranges.begin(), outline_.import_ranges.end(), by_lines);
    outline_.has_error = ts_node_has_error(root);
    return std::move(outline_);
  }

 private:
  // What the walk still looks for among the children of one entered node.
  struct Frame {
    // Scope of the definitions found, an index into scopes_; none when -1. Only the child in
    // `scoped_field` gets it when that is set (a class's body, a decorated definition's target).
    std::ptrdiff_t scope = -1;
    TSFieldId scoped_field = 0;
    TSNode decorated{};         // the decorated_definition around the child in `scoped_field`, if any
    bool module_names = false;  // still at module level
    bool imports = false;       // outside any import statement
  };

  // Where a definition stands: the qualname prefix of its enclosing classes and the kind a
  // function gets there.
  struct Scope {
    std::string prefix;
    DefinitionKind function_kind;
  };

  std::string_view text(TSNode node) const {
    std::uint32_t start = ts_node_start_byte(node);
    return source_.substr(start, ts_node_end_byte(node) - start);
  }

  static TSNode field(TSNode node, TSFieldId id) { return ts_node_child_by_field_id(node, id); }
  bool is(TSNode node, TSSymbol kind) const { return ts_node_symbol(node) == kind; }

  // Calls `f` on each named child of `node`, in source order.
  template <class F>
  void for_each_named_child(TSNode node, F&& f) {
    Cursors::Lease lease(cursors_, node);
    TSTreeCursor* cursor = lease.get();
    if (!ts_tree_cursor_goto_first_child(cursor)) return;
    do {
      TSNode child = ts_tree_cursor_current_node(cursor);
      if (ts_node_is_named(child)) f(child);
    } while (ts_tree_cursor_goto_next_sibling(cursor));
  }

  // Calls `f` on the named descendants of `root` in document order; `f` tells whether the walk
  // goes on into the node's named children.
  template <class F>
  void walk_named_descendants(TSNode root, F&& f) {
    Cursors::Lease lease(cursors_, root);
    TSTreeCursor* cursor = lease.get();
    if (!ts_tree_cursor_goto_first_child(cursor)) return;
    for (;;) {
      TSNode node = ts_tree_cursor_current_node(cursor);
      if (ts_node_is_named(node) && f(node) && ts_tree_cursor_goto_first_child(cursor)) continue;
      while (!ts_tree_cursor_goto_next_sibling(cursor)) {
        // A cursor never leaves the node it started at, so this ends the walk at `root`.
        if (!ts_tree_cursor_goto_parent(cursor)) return;
      }
    }
  }

  void walk(TSNode root) {
    scopes_.push_back({"", DefinitionKind::function});
    std::vector<Frame> frames{{.scope = 0, .module_names = true, .imports = true}};
    Cursors::Lease lease(cursors_, root);
    TSTreeCursor* cursor = lease.get();
    if (!ts_tree_cursor_goto_first_child(cursor)) return;
    for (;;) {
      TSNode node = ts_tree_cursor_current_node(cursor);
      if (ts_node_is_named(node)) {
        const Frame& outer = frames.back();
        // Only a class body and a decorated definition's target are told apart by their field.
        const TSFieldId field_id = outer.scoped_field == 0 ? 0 : ts_tree_cursor_current_field_id(cursor);
        Frame inner = visit(node, field_id, outer);
        if (worth_entering(node, inner) && ts_tree_cursor_goto_first_child(cursor)) {
          frames.push_back(inner);
          continue;
        }
      }
      while (!ts_tree_cursor_goto_next_sibling(cursor)) {
        if (!ts_tree_cursor_goto_parent(cursor)) return;
        frames.pop_back();
      }
    }
  }

  // Whether the children of `node` may hold what `inner` still looks for. Where only imports
  // are left to find (inside a function), a subtree whose text never says "import" holds none;
  // a subtree with a syntax error is entered whatever it says, since error recovery can leave an
  // import statement whose keyword is missing.
  bool worth_entering(TSNode node, const Frame& inner) {
    if (inner.scope < 0 && !inner.module_names && !inner.imports) return false;
    const bool has_error = ts_node_has_error(node);
    if (!has_error && !g_.is_container(ts_node_symbol(node))) return false;
    if (has_error || inner.scope >= 0 || inner.module_names) return true;
    return mentions_import(node);
  }

  // Whether the text of `node` holds "import". The walk asks in document order, so the search
  // only moves forward and reads the source once.
  bool mentions_import(TSNode node) {
    constexpr std::string_view keyword = "import";
    const std::size_t start = ts_node_start_byte(node);
    if (next_import_ < start) next_import_ = source_.find(keyword, start);
    return next_import_ != std::string_view::npos && next_import_ + keyword.size() <= ts_node_end_byte(node);
  }

  // Records what `node` holds for the outline and returns what its children are searched for.
  Frame visit(TSNode node, TSFieldId field_id, const Frame& outer) {
    const TSSymbol kind = ts_node_symbol(node);
    const bool in_scope = outer.scoped_field == 0 || field_id == outer.scoped_field;
    Frame inner{.scope = in_scope ? outer.scope : -1, .module_names = outer.module_names, .imports = outer.imports};

    if (in_scope && !ts_node_is_null(outer.decorated)) {
      inner.scope = add_definition(node, outer.decorated, outer.scope);
      inner.scoped_field = g_.body;
    } else if (inner.scope >= 0 && (kind == g_.function_definition || kind == g_.class_definition)) {
      inner.scope = add_definition(node, node, inner.scope);
      inner.scoped_field = g_.body;
    } else if (inner.scope >= 0 && kind == g_.decorated_definition) {
      inner.scoped_field = g_.definition;
      inner.decorated = node;
    }

    // Statements of the module and of class bodies, not of functions, can set pytestmark.
    if (inner.scope >= 0 && kind == g_.expression_statement) read_mark_assignments(node, inner.scope);

    if (outer.imports) {
      if (g_.is_import(kind)) {
        outline_.import_ranges.push_back(
            {one_based(ts_node_start_point(node).row), one_based(ts_node_end_point(node).row)});
        walk_named_descendants(node, [&](TSNode child) {
          if (!is(child, g_.aliased_import)) return true;
          add_alias(child);
          return false;
        });
        inner.imports = false;
      } else if (kind == g_.aliased_import) {
        add_alias(node);
        inner.imports = false;
      }
    }

    if (outer.module_names) {
      if (g_.is_definition(kind))
        inner.module_names = false;
      else if (kind == g_.import_statement || kind == g_.import_from_statement || kind == g_.expression_statement) {
        bind_module_names(node, kind);
        inner.module_names = false;
      }
    }
    return inner;
  }

  // Appends the definition `definition` (whose outer node is its decorated_definition, or
  // itself) in `scope`; returns the scope of its class body, or -1 when nothing in it counts.
  std::ptrdiff_t add_definition(TSNode definition, TSNode outer, std::ptrdiff_t scope) {
    TSNode name = field(definition, g_.name);
    if (ts_node_is_null(name)) return -1;  // the decorators are dropped too
    std::vector<Decorator> decorators;
    if (!ts_node_eq(outer, definition)) {
      for_each_named_child(outer, [&](TSNode child) {
        if (!is(child, g_.decorator)) return;
        if (auto decorator = read_decorator(child)) decorators.push_back(std::move(*decorator));
      });
    }
    const bool is_class = is(definition, g_.class_definition);
    std::string qualname = scopes_[static_cast<std::size_t>(scope)].prefix;
    qualname += text(name);
    TSPoint name_start = ts_node_start_point(name);

    Definition built;
    built.decorators = std::move(decorators);
    built.parameter_names = parameter_names(field(definition, g_.parameters));
    built.superclass_names = superclass_names(field(definition, g_.superclasses));
    built.start_line = one_based(ts_node_start_point(outer).row);
    built.end_line = one_based(ts_node_end_point(definition).row);
    built.header_end_line = header_end_line(definition, built.end_line);
    built.line = one_based(name_start.row);
    built.column = one_based(name_start.column);
    built.kind = is_class ? DefinitionKind::class_ : scopes_[static_cast<std::size_t>(scope)].function_kind;
    // What a function defines stays out of the outline; a class body is a scope of its own.
    std::ptrdiff_t body_scope = -1;
    if (is_class) {
      scopes_.push_back({qualname + ".", DefinitionKind::method});
      body_scope = static_cast<std::ptrdiff_t>(scopes_.size() - 1);
    }
    built.qualname = std::move(qualname);
    outline_.definitions.push_back(std::move(built));
    return body_scope;
  }

  // The line of the definition's own colon, the one before its body; a colon inside the
  // parameters or the bases belongs to a child node. Without one, the whole span counts.
  std::uint32_t header_end_line(TSNode definition, std::uint32_t end_line) {
    Cursors::Lease lease(cursors_, definition);
    TSTreeCursor* cursor = lease.get();
    std::uint32_t line = end_line;
    if (!ts_tree_cursor_goto_first_child(cursor)) return line;
    do {
      TSNode child = ts_tree_cursor_current_node(cursor);
      if (is(child, g_.colon)) line = one_based(ts_node_start_point(child).row);
    } while (ts_tree_cursor_goto_next_sibling(cursor));
    return line;
  }

  std::vector<std::string> parameter_names(TSNode parameters) {
    std::vector<std::string> names;
    if (ts_node_is_null(parameters)) return names;
    for_each_named_child(parameters, [&](TSNode parameter) {
      TSNode name{};
      const TSSymbol kind = ts_node_symbol(parameter);
      if (kind == g_.identifier) {
        name = parameter;
      } else if (kind == g_.typed_parameter) {
        // The first named child keeps the stars of an annotated `*args: int`.
        name = ts_node_named_child(parameter, 0);
      } else if (kind == g_.default_parameter || kind == g_.typed_default_parameter) {
        name = field(parameter, g_.name);
      } else {
        return;
      }
      if (!ts_node_is_null(name)) names.emplace_back(text(name));
    });
    return names;
  }

  std::vector<std::string> superclass_names(TSNode superclasses) {
    std::vector<std::string> names;
    if (ts_node_is_null(superclasses)) return names;
    for_each_named_child(superclasses, [&](TSNode base) {
      if (is(base, g_.keyword_argument)) return;
      std::optional<std::string> name;
      if (is(base, g_.subscript)) {
        TSNode value = field(base, g_.value);
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
      const TSSymbol kind = ts_node_symbol(node);
      if (kind == g_.identifier) break;
      if (kind == g_.attribute) {
        TSNode object = field(node, g_.object);
        TSNode attribute = field(node, g_.attribute_field);
        if (ts_node_is_null(object) || ts_node_is_null(attribute)) return std::nullopt;
        attributes.push_back(text(attribute));
        node = object;
      } else if (kind == g_.call) {
        node = field(node, g_.function);
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

  std::optional<Decorator> read_decorator(TSNode node) {
    TSNode expression = ts_node_named_child(node, 0);
    if (ts_node_is_null(expression)) return std::nullopt;
    return decorator_of(expression);
  }

  // The expression read as a decorator: its dotted name and, for a call, the arguments.
  std::optional<Decorator> decorator_of(TSNode expression) {
    std::optional<std::string> name = dotted_name_of(expression);
    if (!name) return std::nullopt;
    Decorator decorator{std::move(*name), {}, {}};
    if (!is(expression, g_.call)) return decorator;
    TSNode arguments = field(expression, g_.arguments);
    if (ts_node_is_null(arguments)) return decorator;
    for_each_named_child(arguments, [&](TSNode argument) {
      if (!is(argument, g_.keyword_argument)) {
        decorator.args.push_back(literal_value_of(argument));
        return;
      }
      TSNode keyword = field(argument, g_.name);
      TSNode value = field(argument, g_.value);
      if (ts_node_is_null(keyword) || ts_node_is_null(value)) return;
      decorator.kwargs.emplace_back(std::string(text(keyword)), literal_value_of(value));
    });
    return decorator;
  }

  LiteralValue literal_value_of(TSNode node) {
    const TSSymbol kind = ts_node_symbol(node);
    if (kind == g_.true_) return {LiteralValue::Bool{true}};
    if (kind == g_.false_) return {LiteralValue::Bool{false}};
    if (kind != g_.string) return {LiteralValue::NotLiteral{}};
    std::size_t contents = 0;
    bool interpolated = false;
    TSNode content{};
    for_each_named_child(node, [&](TSNode child) {
      const TSSymbol part = ts_node_symbol(child);
      if (part == g_.interpolation) {
        interpolated = true;
      } else if (part == g_.string_content) {
        ++contents;
        content = child;
      }
    });
    if (interpolated || contents > 1) return {LiteralValue::NotLiteral{}};
    if (contents == 0) return {LiteralValue::Text{}};
    return {LiteralValue::Text{std::string(text(content))}};
  }

  void read_mark_assignments(TSNode statement, std::ptrdiff_t scope) {
    for_each_named_child(statement, [&](TSNode child) {
      if (!is(child, g_.assignment) && !is(child, g_.augmented_assignment)) return;
      TSNode left = field(child, g_.left);
      if (ts_node_is_null(left) || !is(left, g_.identifier) || text(left) != "pytestmark") return;
      std::string_view prefix = scopes_[static_cast<std::size_t>(scope)].prefix;
      if (prefix.ends_with('.')) prefix.remove_suffix(1);
      MarkAssignment assignment{std::string(prefix), {}, false};
      TSNode value = field(child, g_.right);
      const auto add_mark = [&](TSNode mark) {
        std::optional<Decorator> read;
        if (is(mark, g_.call) || is(mark, g_.attribute)) read = decorator_of(mark);
        // Only what is spelt as a mark can be read as one; a name may hold anything.
        const bool spelt_as_mark = read && (read->decorator_name.starts_with("mark.") ||
                                            read->decorator_name.find(".mark.") != std::string::npos);
        if (spelt_as_mark)
          assignment.marks.push_back(std::move(*read));
        else
          assignment.unreadable = true;
      };
      if (ts_node_is_null(value)) {
        assignment.unreadable = true;
      } else if (is(value, g_.list) || is(value, g_.tuple)) {
        for_each_named_child(value, [&](TSNode element) {
          if (!is(element, g_.comment)) add_mark(element);
        });
      } else {
        add_mark(value);
      }
      outline_.mark_assignments.push_back(std::move(assignment));
    });
  }

  void add_alias(TSNode node) {
    TSNode name = field(node, g_.name);
    TSNode alias = field(node, g_.alias);
    if (ts_node_is_null(name) || ts_node_is_null(alias)) return;
    std::string_view imported = text(name);
    if (auto dot = imported.rfind('.'); dot != std::string_view::npos) imported.remove_prefix(dot + 1);
    TSPoint start = ts_node_start_point(alias);
    outline_.aliased_imports.push_back(
        {std::string(imported), std::string(text(alias)), one_based(start.row), one_based(start.column)});
  }

  // The names an import statement or a plain assignment binds at module level.
  void bind_module_names(TSNode node, TSSymbol kind) {
    auto bind = [&](TSNode bound) {
      if (ts_node_is_null(bound)) return;
      TSPoint start = ts_node_start_point(bound);
      outline_.module_names.push_back({std::string(text(bound)), one_based(start.row), one_based(start.column)});
    };
    if (kind == g_.expression_statement) {
      for_each_named_child(node, [&](TSNode child) {
        if (!is(child, g_.assignment)) return;
        TSNode left = field(child, g_.left);
        if (!ts_node_is_null(left) && is(left, g_.identifier)) bind(left);
      });
      return;
    }
    // `import a.b` binds a; in `from m import a.b`, the first named child is the module m.
    bool is_module = kind == g_.import_from_statement;
    for_each_named_child(node, [&](TSNode child) {
      if (std::exchange(is_module, false)) return;
      if (is(child, g_.dotted_name))
        bind(kind == g_.import_statement ? ts_node_named_child(child, 0) : child);
      else if (is(child, g_.aliased_import))
        bind(field(child, g_.alias));
    });
  }

  std::string_view source_;
  const Grammar& g_;
  Outline outline_;
  std::vector<Scope> scopes_;
  Cursors cursors_;
  std::size_t next_import_ = 0;  // the first "import" at or after the last node asked about
};

Error grammar_error(std::string cause) {
  return Error(std::move(cause)).context("could not load the tree-sitter Python grammar");
}

// The thread's parser, made on first use and kept: making one for each of many texts is a
// measurable share of outlining them. Every parse starts from a reset parser and no old tree,
// so nothing of one text reaches the next, and each tree is its caller's alone. It is freed
// when the thread ends.
Result<TSParser*> python_parser(const Grammar& grammar) {
  thread_local ParserPtr kept;
  if (kept) {
    ts_parser_reset(kept.get());
    return kept.get();
  }
  if (auto usable = check_grammar_abi_version(ts_language_abi_version(grammar.language)); !usable) {
    return std::unexpected(std::move(usable.error()));
  }
  ParserPtr parser(ts_parser_new());
  if (!ts_parser_set_language(parser.get(), grammar.language)) {
    return std::unexpected(grammar_error("Language cannot be used for parsing."));
  }
  kept = std::move(parser);
  return kept.get();
}

}  // namespace

Result<void> check_grammar_abi_version(std::uint32_t version) {
  if (version >= min_grammar_abi && version <= max_grammar_abi) return {};
  return std::unexpected(grammar_error("Incompatible language version " + std::to_string(version) +
                                       ". Expected minimum " + std::to_string(min_grammar_abi) + ", maximum " +
                                       std::to_string(max_grammar_abi)));
}

Result<Outline> outline_python_source(std::string_view source) {
  const Grammar& grammar = python_grammar();
  auto parser = python_parser(grammar);
  if (!parser) return std::unexpected(std::move(parser.error()));
  // Byte offsets in the tree are 32-bit: a longer text cannot be parsed as one whole.
  if (source.size() > std::numeric_limits<std::uint32_t>::max()) {
    return std::unexpected(Error("tree-sitter failed to parse the source"));
  }
  TreePtr tree(ts_parser_parse_string_encoding(*parser, nullptr, source.data(),
                                               static_cast<std::uint32_t>(source.size()), TSInputEncodingUTF8));
  if (!tree) return std::unexpected(Error("tree-sitter failed to parse the source"));
  return OutlineBuilder(source, grammar).build(ts_tree_root_node(tree.get()));
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
