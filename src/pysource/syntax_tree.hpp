#pragma once

// What the readers of one Python syntax tree share: the grammar's node kinds as ids, reusable
// tree cursors, and reading a node's text and children. Only pysource's own readers include it.

#include <tree_sitter/api.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <string_view>

namespace pindrel::pysource {

// The node kinds and field names the readers use, as the grammar's ids.
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
           wildcard_import = symbol("wildcard_import"), dotted_name = symbol("dotted_name"),
           expression_statement = symbol("expression_statement"), assignment = symbol("assignment"),
           augmented_assignment = symbol("augmented_assignment"), list = symbol("list"), tuple = symbol("tuple"),
           comment = symbol("comment"), colon = symbol(":", Named::no), lambda = symbol("lambda"),
           type = symbol("type"), argument_list = symbol("argument_list"), expression_list = symbol("expression_list"),
           parenthesized_expression = symbol("parenthesized_expression"), dictionary = symbol("dictionary"),
           pair = symbol("pair"), pattern_list = symbol("pattern_list"), tuple_pattern = symbol("tuple_pattern"),
           list_pattern = symbol("list_pattern"), list_splat_pattern = symbol("list_splat_pattern"),
           list_splat = symbol("list_splat"), dictionary_splat = symbol("dictionary_splat"),
           generic_type = symbol("generic_type");
  TSFieldId name = field("name"), definition = field("definition"), body = field("body"),
            parameters = field("parameters"), superclasses = field("superclasses"), arguments = field("arguments"),
            function = field("function"), object = field("object"), attribute_field = field("attribute"),
            value = field("value"), alias = field("alias"), left = field("left"), right = field("right"),
            module_name = field("module_name"), type_field = field("type"), return_type = field("return_type"),
            condition = field("condition"), consequence = field("consequence"), key = field("key"),
            type_parameters = field("type_parameters");

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

const Grammar& python_grammar();

inline std::uint32_t one_based(std::uint32_t zero_based) {
  return zero_based == std::numeric_limits<std::uint32_t>::max() ? zero_based : zero_based + 1;
}

// Tree cursors for the walks over a node's children, reused across nodes: a cursor allocates
// its stack, and looking children up by index would rescan the siblings before each one.
class Cursors {
 public:
  Cursors() = default;
  Cursors(const Cursors&) = delete;
  Cursors& operator=(const Cursors&) = delete;
  ~Cursors();

  // A cursor at `node`, held until the returned lease ends; leases nest.
  class Lease {
   public:
    Lease(Cursors& owner, TSNode node);
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

// Reads the nodes of one tree over its source; node texts are slices of the caller's source.
class NodeReader {
 public:
  NodeReader(std::string_view source, const Grammar& grammar) : source_(source), g_(grammar) {}

 protected:
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

  std::string_view source_;
  const Grammar& g_;
  Cursors cursors_;
};

}  // namespace pindrel::pysource
