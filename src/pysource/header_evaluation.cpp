#include "pysource/header_evaluation.hpp"

#include "pysource/name_uses_reader.hpp"
#include "pysource/syntax_tree.hpp"

#include <string_view>
#include <utility>

namespace pindrel::pysource {

class KeptTree {
 public:
  KeptTree(std::string text) : text_(std::move(text)) {}
  KeptTree(const KeptTree&) = delete;
  KeptTree& operator=(const KeptTree&) = delete;
  ~KeptTree() {
    if (tree_ != nullptr) ts_tree_delete(tree_);
  }

  std::string text_;
  TSTree* tree_ = nullptr;
  bool postponed_ = false;  // `from __future__ import annotations`
};

namespace {

// The parts of a header folded into 64 bits (FNV-1a); 0 until a part is added.
class HeaderHash {
 public:
  // Adds one part, its kind before its text, so that no two lists of parts run together.
  void add(char kind, std::string_view text) {
    mix(static_cast<unsigned char>(kind));
    for (const char c : text) mix(static_cast<unsigned char>(c));
    mix(0);
    value_ = state_ == 0 ? 1 : state_;
  }
  std::uint64_t value() const { return value_; }

 private:
  void mix(unsigned char byte) { state_ = (state_ ^ byte) * 0x100000001b3ULL; }

  std::uint64_t state_ = 0xcbf29ce484222325ULL;
  std::uint64_t value_ = 0;
};

class HeaderHasher : public NodeReader {
 public:
  HeaderHasher(const KeptTree& kept) : NodeReader(kept.text_, python_grammar()), postponed_(kept.postponed_) {}

  bool postponed(TSNode root) {
    bool found = false;
    for_each_named_child(root, [&](TSNode statement) {
      if (!is(statement, g_.future_import_statement)) return;
      for_each_named_child(statement, [&](TSNode name) { found = found || text(name) == "annotations"; });
    });
    return found;
  }

  std::optional<std::uint64_t> evaluated(TSNode root, const Definition& definition) {
    const TSPoint at{definition.line - 1, definition.column - 1};
    TSNode name = ts_node_named_descendant_for_point_range(root, at, at);
    if (ts_node_is_null(name) || !is(name, g_.identifier)) return std::nullopt;
    TSNode node = ts_node_parent(name);
    if (ts_node_is_null(node) || !(is(node, g_.function_definition) || is(node, g_.class_definition)) ||
        !ts_node_eq(field(node, g_.name), name)) {
      return std::nullopt;
    }
    HeaderHash hash;
    TSNode outer = ts_node_parent(node);
    if (!ts_node_is_null(outer) && is(outer, g_.decorated_definition)) {
      for_each_named_child(outer, [&](TSNode child) {
        if (is(child, g_.decorator)) hash.add('@', text(child));
      });
    }
    // Type parameters make objects (and a class's Generic base) as the definition runs.
    TSNode type_parameters = field(node, g_.type_parameters);
    if (!ts_node_is_null(type_parameters)) hash.add('[', text(type_parameters));
    if (is(node, g_.class_definition)) {
      TSNode superclasses = field(node, g_.superclasses);
      if (!ts_node_is_null(superclasses)) hash.add('(', text(superclasses));
      // A body on the header's own line runs with it: `class A(B): x = f()`.
      TSNode body = field(node, g_.body);
      if (!ts_node_is_null(body) && ts_node_start_point(body).row + 1 == definition.header_end_line) {
        hash.add('{', text(body));
      }
      return hash.value();
    }
    const auto annotate = [&](char kind, TSNode type) {
      if (!ts_node_is_null(type) && !postponed_) hash.add(kind, text(type));
    };
    TSNode parameters = field(node, g_.parameters);
    if (!ts_node_is_null(parameters)) {
      for_each_named_child(parameters, [&](TSNode parameter) {
        if (is(parameter, g_.typed_parameter) || is(parameter, g_.typed_default_parameter))
          annotate(':', field(parameter, g_.type_field));
        if (is(parameter, g_.default_parameter) || is(parameter, g_.typed_default_parameter)) {
          TSNode value = field(parameter, g_.value);
          if (!ts_node_is_null(value)) hash.add('=', text(value));
        }
      });
    }
    annotate('>', field(node, g_.return_type));
    return hash.value();
  }

 private:
  const bool postponed_;
};

}  // namespace

Result<OutlineWithTree> outline_keeping_tree(std::string source) {
  auto kept = std::make_shared<KeptTree>(std::move(source));
  auto outline = outline_python_tree(kept->text_, ImportTimeDetail::none, &kept->tree_);
  if (!outline) return std::unexpected(std::move(outline.error()));
  if (kept->tree_ != nullptr) kept->postponed_ = HeaderHasher(*kept).postponed(ts_tree_root_node(kept->tree_));
  return OutlineWithTree{std::move(*outline), std::move(kept)};
}

std::optional<std::uint64_t> evaluated_header(const KeptTree& tree, const Definition& definition) {
  if (tree.tree_ == nullptr || definition.line == 0 || definition.column == 0) return std::nullopt;
  return HeaderHasher(tree).evaluated(ts_tree_root_node(tree.tree_), definition);
}

}  // namespace pindrel::pysource
