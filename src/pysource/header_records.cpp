#include "pysource/header_records.hpp"

namespace pindrel::pysource {

std::uint32_t HeaderReader::header_end_line(TSNode definition, std::uint32_t end_line) {
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

std::vector<std::string> HeaderReader::parameter_names(TSNode parameters) {
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

std::vector<std::string> HeaderReader::superclass_names(TSNode superclasses) {
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

bool HeaderReader::has_metaclass_keyword(TSNode superclasses) {
  bool found = false;
  if (ts_node_is_null(superclasses)) return found;
  for_each_named_child(superclasses, [&](TSNode base) {
    if (!is(base, g_.keyword_argument)) return;
    TSNode keyword = field(base, g_.name);
    found = found || (!ts_node_is_null(keyword) && text(keyword) == "metaclass");
  });
  return found;
}

std::optional<std::string> HeaderReader::dotted_name_of(TSNode node) const {
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

std::optional<Decorator> HeaderReader::read_decorator(TSNode node) {
  TSNode expression = ts_node_named_child(node, 0);
  if (ts_node_is_null(expression)) return std::nullopt;
  return decorator_of(expression);
}

std::optional<Decorator> HeaderReader::decorator_of(TSNode expression) {
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

LiteralValue HeaderReader::literal_value_of(TSNode node) {
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

void HeaderReader::read_mark_assignments(TSNode statement, std::string_view scope, std::vector<MarkAssignment>& out) {
  for_each_named_child(statement, [&](TSNode child) {
    if (!is(child, g_.assignment) && !is(child, g_.augmented_assignment)) return;
    TSNode left = field(child, g_.left);
    if (ts_node_is_null(left) || !is(left, g_.identifier) || text(left) != "pytestmark") return;
    MarkAssignment assignment{std::string(scope), {}, false};
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
    out.push_back(std::move(assignment));
  });
}

}  // namespace pindrel::pysource
