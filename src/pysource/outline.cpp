// The outline is read off tree-sitter's concrete syntax tree of the whole source in one walk.
// Definitions, imports and module-level bindings stand only in statement positions, so the walk
// enters only statement containers (the module, blocks, compound statements and their clauses,
// definitions) and, because error recovery can put any of them anywhere, every subtree that
// holds a syntax error. Node kinds are compared as the grammar's symbol ids, looked up once.
// The walk keeps its own stack (a tree cursor) instead of recursing, so a deeply nested source
// cannot exhaust the call stack. Node texts are slices of the caller's source: the parser reads
// it in place and nothing copies it.

#include "pysource/outline.hpp"

#include "pysource/header_records.hpp"
#include "pysource/name_uses_reader.hpp"
#include "pysource/syntax_tree.hpp"

#include <tree_sitter/api.h>

#include <algorithm>
#include <cstddef>
#include <limits>

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

// Orders definitions or line ranges by start line, then end line.
constexpr auto by_lines = [](const auto& a, const auto& b) {
  return std::pair(a.start_line, a.end_line) < std::pair(b.start_line, b.end_line);
};

class OutlineBuilder : HeaderReader {
 public:
  using HeaderReader::HeaderReader;

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
    if (inner.scope >= 0 && kind == g_.expression_statement) {
      std::string_view prefix = scopes_[static_cast<std::size_t>(inner.scope)].prefix;
      if (prefix.ends_with('.')) prefix.remove_suffix(1);
      read_mark_assignments(node, prefix, outline_.mark_assignments);
    }

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
    built.has_metaclass = has_metaclass_keyword(field(definition, g_.superclasses));
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
    const bool from = kind == g_.import_from_statement;
    FromImport imported;
    if (from) imported.source = without_blanks(text(field(node, g_.module_name)));
    bool is_module = from;
    for_each_named_child(node, [&](TSNode child) {
      if (std::exchange(is_module, false)) return;
      if (is(child, g_.dotted_name)) {
        bind(kind == g_.import_statement ? ts_node_named_child(child, 0) : child);
        if (from) imported.names.emplace_back(text(child), text(child));
      } else if (is(child, g_.aliased_import)) {
        bind(field(child, g_.alias));
        if (from) imported.names.emplace_back(text(field(child, g_.name)), text(field(child, g_.alias)));
      } else if (is(child, g_.wildcard_import)) {
        imported.star = true;
      }
    });
    if (from) outline_.from_imports.push_back(std::move(imported));
  }

  // A dotted name as Python reads it: blanks and line continuations around its dots are no part of it.
  static std::string without_blanks(std::string_view dotted) {
    std::string kept;
    for (const char c : dotted) {
      if (c != ' ' && c != '\t' && c != '\\' && c != '\n' && c != '\r' && c != '\f') kept += c;
    }
    return kept;
  }

  Outline outline_;
  std::vector<Scope> scopes_;
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

Result<Outline> outline_python_source(std::string_view source, ImportTimeDetail detail) {
  return outline_python_tree(source, detail, nullptr);
}

Result<Outline> outline_python_tree(std::string_view source, ImportTimeDetail detail, TSTree** kept) {
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
  const TSNode root = ts_tree_root_node(tree.get());
  Outline outline = with_import_time_detail(OutlineBuilder(source, grammar).build(root), root, source, detail);
  if (kept != nullptr) *kept = tree.release();
  return outline;
}

SharedOutline outline_shared(OutlineSlot& slot, std::string_view source, ImportTimeDetail detail) {
  if (slot) return *slot;
  auto outline = outline_python_source(source, detail);
  if (outline && !outline->has_error) {
    slot = std::make_shared<const Outline>(std::move(*outline));
  } else {
    slot = SharedOutline{};
  }
  return *slot;
}

}  // namespace pindrel::pysource
