// Code that runs at import is read top down, each node told what Python does with the value
// it yields: a call's callee is instantiated when the call's result is only bound, the value
// of an assignment whose targets are plain names is only bound, a wrapper that keeps what it
// is given hands its position on to its arguments, and an annotation is only looked up unless
// it calls something. Whatever is not one of those runs; a set's members, for one, are hashed. The walk keeps its own
// stack, so a deeply nested expression cannot exhaust the call stack; a function's body is never entered.

#include "pysource/name_uses_reader.hpp"

#include "pysource/syntax_tree.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <limits>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace pindrel::pysource {
namespace {

// The wrappers that keep what they are handed without calling it.
constexpr std::array<std::string_view, 5> storing_wrappers = {"staticmethod", "classmethod", "property", "partial",
                                                              "TypeVar"};

enum class Mode : std::uint8_t {
  runs,         // evaluated
  annotation,   // an annotation's expression
  target,       // an assignment's target
  not_run,      // under the `__main__` guard
  lambda_body,  // the body of a lambda, run only when the lambda is called
};

// What the value a node yields is used for, in `runs` mode.
enum class Pos : std::uint8_t {
  none,           // anything that can run it
  stored,         // bound to the statement's plain names
  default_value,  // a parameter's default
  alone,          // dropped, or only read for an attribute
  base,           // a base class
  class_keyword,  // a class keyword's value
  callee,         // called, and the call's result is used as `outer` says
};

bool stores(Pos pos) { return pos == Pos::stored || pos == Pos::default_value || pos == Pos::alone; }

struct Context {
  Mode mode = Mode::runs;
  Pos pos = Pos::none;
  Pos outer = Pos::none;  // callee and lambda_body: the position of the call or the lambda
  bool keeps = false;     // the node is the bound value itself
  bool subscript_value = false;
  std::int32_t bound = -1;  // the group of names the value goes to, an index into bound_groups_
  std::int32_t klass = -1;  // the class being defined, for bases, an index into classes_
  std::int32_t scope = 0;   // the qualname prefix of bound names, an index into prefixes_
};

struct RawUse {
  std::string_view name;
  std::uint32_t line;
  std::uint32_t column;
  NameUseKind kind;
  bool keeps;
  std::int32_t bound;
  std::int32_t klass;
};

class NameUseReader {
 public:
  NameUseReader(TSNode root, std::string_view source, const Grammar& grammar)
      : source_(source), g_(grammar), cursor_(ts_tree_cursor_new(root)) {
    prefixes_.emplace_back();
  }
  NameUseReader(const NameUseReader&) = delete;
  NameUseReader& operator=(const NameUseReader&) = delete;
  ~NameUseReader() { ts_tree_cursor_delete(&cursor_); }

  void read(TSNode root, Outline& outline) {
    // A future statement stands before any other statement, so it is known before anything is read.
    for_each_child(root, [&](TSNode statement, TSFieldId) {
      if (!is(statement, g_.future_import_statement)) return;
      for_each_child<Fields::read>(statement, [&](TSNode name, TSFieldId id) {
        if (id == g_.name && text(name) == "annotations") postponed_ = true;
      });
    });
    push_children(root, Context{});
    while (!stack_.empty()) {
      auto [node, context] = stack_.back();
      stack_.pop_back();
      visit(node, context);
    }
    finish(outline);
  }

 private:
  std::string_view text(TSNode node) const {
    const std::uint32_t start = ts_node_start_byte(node);
    return source_.substr(start, ts_node_end_byte(node) - start);
  }
  bool is(TSNode node, TSSymbol kind) const { return !ts_node_is_null(node) && ts_node_symbol(node) == kind; }
  static TSNode field(TSNode node, TSFieldId id) { return ts_node_child_by_field_id(node, id); }

  void push(TSNode node, const Context& context) {
    if (!ts_node_is_null(node)) stack_.push_back({node, context});
  }

  // What a child of an ordinary node is given: the mode, without the parent's position.
  static Context plain(const Context& context) {
    Context child = context;
    child.pos = Pos::none;
    child.keeps = false;
    child.subscript_value = false;
    child.klass = -1;
    if (child.mode == Mode::target) child.mode = Mode::runs;
    if (child.mode == Mode::runs) {
      child.outer = Pos::none;
      child.bound = -1;
    }
    return child;
  }

  static Context with_mode(const Context& context, Mode mode) {
    Context child = plain(context);
    if (context.mode == Mode::runs) child.mode = mode;
    return child;
  }

  enum class Fields { skip, read };

  // Calls `f(child, field)` for each named child of `node`, comments left out; the field is 0
  // unless asked for, since finding it costs a search of the grammar's tables. The children are
  // listed before `f` runs, at the end of one shared list, so `f` may list children of its own.
  template <Fields fields = Fields::skip, class F>
  void for_each_child(TSNode node, F&& f) {
    const std::size_t first = children_.size();
    ts_tree_cursor_reset(&cursor_, node);
    if (ts_tree_cursor_goto_first_child(&cursor_)) {
      do {
        TSNode child = ts_tree_cursor_current_node(&cursor_);
        if (!ts_node_is_named(child) || is(child, g_.comment)) continue;
        children_.push_back({child, fields == Fields::read ? ts_tree_cursor_current_field_id(&cursor_) : 0});
      } while (ts_tree_cursor_goto_next_sibling(&cursor_));
    }
    const std::size_t last = children_.size();
    for (std::size_t i = first; i < last; ++i) {
      const auto [child, id] = children_[i];
      f(child, id);
    }
    children_.resize(first);
  }

  void push_children(TSNode node, const Context& context) {
    for_each_child(node, [&](TSNode child, TSFieldId) { push(child, context); });
  }

  void record(TSNode identifier, const Context& context, NameUseKind kind) {
    const TSPoint start = ts_node_start_point(identifier);
    const bool binds = kind == NameUseKind::stored || kind == NameUseKind::instantiated;
    raw_.push_back({text(identifier), one_based(start.row), one_based(start.column), kind,
                    binds && context.keeps && context.pos == Pos::stored, binds ? context.bound : -1, context.klass});
  }

  NameUseKind kind_at(const Context& context) const {
    switch (context.mode) {
      case Mode::target:
      case Mode::not_run: return NameUseKind::not_run;
      case Mode::annotation:
        return context.subscript_value && !postponed_ ? NameUseKind::annotation_subscript : NameUseKind::annotation;
      case Mode::lambda_body: return stores(context.outer) ? NameUseKind::stored : NameUseKind::runs;
      case Mode::runs: break;
    }
    switch (context.pos) {
      case Pos::none: return NameUseKind::runs;
      case Pos::stored:
      case Pos::default_value: return NameUseKind::stored;
      case Pos::alone: return NameUseKind::not_run;
      case Pos::base: return context.subscript_value ? NameUseKind::base_subscript : NameUseKind::base;
      case Pos::class_keyword: return NameUseKind::class_keyword;
      case Pos::callee: return stores(context.outer) ? NameUseKind::instantiated : NameUseKind::runs;
    }
    return NameUseKind::runs;
  }

  void visit(TSNode node, const Context& context) {
    const TSSymbol kind = ts_node_symbol(node);
    if (kind == g_.identifier) {
      record(node, context, kind_at(context));
    } else if (kind == g_.expression_statement) {
      for_each_child(node, [&](TSNode child, TSFieldId) {
        Context statement = plain(context);
        if (statement.mode == Mode::runs && !is(child, g_.assignment)) statement.pos = Pos::alone;
        push(child, statement);
      });
    } else if (kind == g_.assignment) {
      visit_assignment(node, context);
    } else if (kind == g_.type) {
      push_children(node, with_mode(context, Mode::annotation));
    } else if (kind == g_.call) {
      visit_call(node, context);
    } else if (kind == g_.lambda) {
      push(field(node, g_.parameters), plain(context));
      Context body = plain(context);
      if (context.mode == Mode::runs) {
        body.mode = Mode::lambda_body;
        body.outer = context.pos;
        body.bound = context.bound;
      }
      push(field(node, g_.body), body);
    } else if (kind == g_.attribute) {
      visit_attribute(node, context);
    } else if (kind == g_.subscript) {
      visit_subscript(node, context);
    } else if (kind == g_.generic_type) {
      // `Base[T]` where the grammar reads a type.
      for_each_child(node, [&](TSNode child, TSFieldId) {
        Context part = plain(context);
        part.subscript_value = is(child, g_.identifier);
        push(child, part);
      });
    } else if (kind == g_.list || kind == g_.tuple || kind == g_.expression_list ||
               kind == g_.parenthesized_expression || kind == g_.dictionary || kind == g_.pattern_list ||
               kind == g_.tuple_pattern || kind == g_.list_pattern || kind == g_.list_splat_pattern) {
      visit_container(node, kind, context);
    } else if (kind == g_.pair) {
      if (context.mode == Mode::runs && stores(context.pos)) {
        push(field(node, g_.key), plain(context));
        Context value = context;
        value.keeps = false;
        push(field(node, g_.value), value);
      } else {
        push_children(node, plain(context));
      }
    } else if (kind == g_.keyword_argument) {
      push(field(node, g_.value), plain(context));
    } else if (kind == g_.decorated_definition) {
      TSNode definition{};
      for_each_child<Fields::read>(node, [&](TSNode child, TSFieldId id) {
        if (id == g_.definition)
          definition = child;
        else if (is(child, g_.decorator))
          push_children(child, plain(context));
      });
      if (!ts_node_is_null(definition)) visit_definition(definition, context);
    } else if (kind == g_.function_definition || kind == g_.class_definition) {
      visit_definition(node, context);
    } else if (kind == g_.if_statement) {
      visit_if(node, context);
    } else if (kind == g_.import_statement || kind == g_.import_from_statement || kind == g_.future_import_statement) {
      // Import lines are the walk's own case.
    } else {
      push_children(node, plain(context));
    }
  }

  void visit_assignment(TSNode node, const Context& context) {
    const auto group = static_cast<std::int32_t>(bound_groups_.size());
    bound_groups_.push_back({static_cast<std::uint32_t>(bound_names_.size()), 0});
    bool plain_names = true;
    TSNode current = node;
    for (;;) {
      TSNode left = field(current, g_.left);
      if (is(left, g_.identifier)) {
        bound_names_.push_back({left, context.scope});
        ++bound_groups_[static_cast<std::size_t>(group)].second;
      } else {
        plain_names = false;
      }
      push(left, with_mode(context, Mode::target));
      push(field(current, g_.type_field), with_mode(context, Mode::annotation));
      TSNode right = field(current, g_.right);
      if (!is(right, g_.assignment)) {
        Context value = plain(context);
        if (value.mode == Mode::runs && plain_names) {
          value.pos = Pos::stored;
          value.keeps = true;
          value.bound = group;
        }
        push(right, value);
        return;
      }
      current = right;
    }
  }

  std::string_view last_name(TSNode callee) const {
    if (is(callee, g_.identifier)) return text(callee);
    if (is(callee, g_.attribute)) {
      TSNode attribute = field(callee, g_.attribute_field);
      if (!ts_node_is_null(attribute)) return text(attribute);
    }
    return {};
  }

  void visit_call(TSNode node, const Context& context) {
    TSNode callee = field(node, g_.function);
    TSNode arguments = field(node, g_.arguments);
    if (context.mode == Mode::annotation && !postponed_) {
      // An evaluated annotation that calls something runs it.
      Context runs = plain(context);
      runs.mode = Mode::runs;
      push(callee, runs);
      push(arguments, runs);
      return;
    }
    if (context.mode != Mode::runs || !stores(context.pos)) {
      push(callee, plain(context));
      push(arguments, plain(context));
      return;
    }
    const std::string_view wrapper = last_name(callee);
    if (std::ranges::find(storing_wrappers, wrapper) != storing_wrappers.end() && is(arguments, g_.argument_list)) {
      push(callee, plain(context));
      Context kept = context;
      kept.keeps = false;
      for_each_child(arguments, [&](TSNode argument, TSFieldId) {
        if (is(argument, g_.keyword_argument)) {
          push(field(argument, g_.value), kept);
        } else if (is(argument, g_.list_splat) || is(argument, g_.dictionary_splat)) {
          push(argument, plain(context));
        } else {
          push(argument, kept);
        }
      });
      return;
    }
    Context called = plain(context);
    called.pos = Pos::callee;
    called.outer = context.pos;
    called.bound = context.bound;
    push(callee, called);
    push(arguments, plain(context));
  }

  void visit_attribute(TSNode node, const Context& context) {
    TSNode attribute = field(node, g_.attribute_field);
    if (!ts_node_is_null(attribute)) record(attribute, context, kind_at(context));
    Context object = plain(context);
    if (context.mode == Mode::target) object.mode = Mode::target;
    // What is read off the object goes where the attribute goes, though it is not the object.
    if (context.mode == Mode::runs && stores(context.pos)) {
      object.pos = context.pos;
      object.bound = context.bound;
    }
    push(field(node, g_.object), object);
  }

  void visit_subscript(TSNode node, const Context& context) {
    Context value = plain(context);
    Context index = plain(context);
    if (context.mode == Mode::annotation) {
      value.subscript_value = true;
    } else if (context.mode == Mode::runs && context.pos == Pos::base) {
      value.pos = Pos::base;
      value.subscript_value = true;
      value.klass = context.klass;
    }
    for_each_child<Fields::read>(node,
                                 [&](TSNode child, TSFieldId id) { push(child, id == g_.value ? value : index); });
  }

  void visit_container(TSNode node, TSSymbol kind, const Context& context) {
    Context element = plain(context);
    if (context.mode == Mode::target) {
      element.mode = Mode::target;
    } else if (context.mode == Mode::runs && stores(context.pos)) {
      element.pos = context.pos;
      element.bound = context.bound;
      element.keeps = kind == g_.parenthesized_expression && context.keeps;
    }
    push_children(node, element);
  }

  // The header of a function or class, and a class's body.
  void visit_definition(TSNode node, const Context& context) {
    TSNode name = field(node, g_.name);
    if (ts_node_is_null(name)) return;
    record(name, context, context.mode == Mode::runs ? NameUseKind::own_name : kind_at(context));
    if (is(node, g_.class_definition)) {
      visit_class(node, name, context);
    } else {
      visit_function(node, context);
    }
  }

  void visit_function(TSNode node, const Context& context) {
    const Context annotation = with_mode(context, Mode::annotation);
    Context default_value = plain(context);
    if (default_value.mode == Mode::runs) default_value.pos = Pos::default_value;
    const auto annotate = [&](TSNode type) {
      if (ts_node_is_null(type)) return;
      push(type, annotation);
    };
    TSNode parameters = field(node, g_.parameters);
    if (!ts_node_is_null(parameters)) {
      for_each_child(parameters, [&](TSNode parameter, TSFieldId) {
        if (is(parameter, g_.typed_parameter) || is(parameter, g_.typed_default_parameter))
          annotate(field(parameter, g_.type_field));
        if (is(parameter, g_.default_parameter) || is(parameter, g_.typed_default_parameter)) {
          TSNode value = field(parameter, g_.value);
          if (ts_node_is_null(value)) return;
          push(value, default_value);
        }
      });
    }
    TSNode returns = field(node, g_.return_type);
    if (ts_node_is_null(returns)) return;
    push(returns, annotation);
  }

  void visit_class(TSNode node, TSNode name, const Context& context) {
    const auto klass = static_cast<std::int32_t>(classes_.size());
    const TSPoint start = ts_node_start_point(name);
    classes_.emplace_back(one_based(start.row), one_based(start.column));
    TSNode superclasses = field(node, g_.superclasses);
    if (!ts_node_is_null(superclasses)) {
      Context base = plain(context);
      if (base.mode == Mode::runs) {
        base.pos = Pos::base;
        base.klass = klass;
      }
      for_each_child(superclasses, [&](TSNode entry, TSFieldId) {
        if (is(entry, g_.keyword_argument)) {
          Context keyword = base;
          if (keyword.mode == Mode::runs) keyword.pos = Pos::class_keyword;
          push(field(entry, g_.value), keyword);
        } else if (is(entry, g_.identifier) || is(entry, g_.attribute) || is(entry, g_.subscript)) {
          push(entry, base);
        } else {
          push(entry, plain(context));
        }
      });
    }
    push(field(node, g_.type_parameters), plain(context));
    Context body = plain(context);
    body.scope = static_cast<std::int32_t>(prefixes_.size());
    prefixes_.push_back(prefixes_[static_cast<std::size_t>(context.scope)] + std::string(text(name)) + ".");
    push(field(node, g_.body), body);
  }

  // The block of `if __name__ == "__main__":` runs only when the module is run as a script.
  void visit_if(TSNode node, const Context& context) {
    TSNode condition = field(node, g_.condition);
    bool main_guard = false;
    if (context.scope == 0 && context.mode == Mode::runs && !ts_node_is_null(condition)) {
      std::string spelt;
      for (const char c : text(condition)) {
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r' && c != '\\') spelt += c == '\'' ? '"' : c;
      }
      main_guard = spelt == "__name__==\"__main__\"" || spelt == "\"__main__\"==__name__";
    }
    for_each_child<Fields::read>(node, [&](TSNode child, TSFieldId id) {
      Context clause = plain(context);
      if (main_guard && id == g_.consequence) clause.mode = Mode::not_run;
      push(child, clause);
    });
  }

  void finish(Outline& outline) {
    std::ranges::sort(raw_, [](const RawUse& a, const RawUse& b) {
      return std::tie(a.line, a.name, a.column) < std::tie(b.line, b.name, b.column);
    });
    // Only a line whose name some use leaves unrun is worth keeping: everywhere else the name
    // runs, as the walk takes any line it knows nothing of.
    for (std::size_t first = 0; first < raw_.size();) {
      std::size_t last = first;
      bool unrun = false;
      while (last < raw_.size() && raw_[last].line == raw_[first].line && raw_[last].name == raw_[first].name) {
        unrun = unrun || raw_[last].kind != NameUseKind::runs;
        ++last;
      }
      for (std::size_t i = first; unrun && i < last; ++i) outline.name_uses.push_back(built(raw_[i]));
      first = last;
    }
  }

  NameUse built(const RawUse& raw) const {
    NameUse use{std::string(raw.name), raw.line, raw.column, raw.kind, {}, raw.keeps, 0, 0};
    if (raw.bound >= 0) {
      const auto [first, count] = bound_groups_[static_cast<std::size_t>(raw.bound)];
      for (std::uint32_t i = first; i < first + count; ++i) {
        const auto [name, scope] = bound_names_[i];
        const TSPoint start = ts_node_start_point(name);
        use.bound.push_back({prefixes_[static_cast<std::size_t>(scope)] + std::string(text(name)), one_based(start.row),
                             one_based(start.column)});
      }
    }
    const bool base = raw.kind == NameUseKind::base || raw.kind == NameUseKind::base_subscript ||
                      raw.kind == NameUseKind::class_keyword;
    if (base && raw.klass >= 0)
      std::tie(use.class_line, use.class_column) = classes_[static_cast<std::size_t>(raw.klass)];
    return use;
  }

  std::string_view source_;
  const Grammar& g_;
  TSTreeCursor cursor_;
  std::vector<std::pair<TSNode, TSFieldId>> children_;
  std::vector<std::pair<TSNode, Context>> stack_;
  std::vector<RawUse> raw_;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> bound_groups_;  // first and count in bound_names_
  std::vector<std::pair<TSNode, std::int32_t>> bound_names_;           // a bound identifier and its scope
  std::vector<std::pair<std::uint32_t, std::uint32_t>> classes_;       // name positions
  std::vector<std::string> prefixes_;
  bool postponed_ = false;  // `from __future__ import annotations`
};

}  // namespace

Outline with_import_time_detail(Outline outline, TSNode root, std::string_view source, ImportTimeDetail detail) {
  if (detail == ImportTimeDetail::none || outline.has_error) return outline;
  NameUseReader(root, source, python_grammar()).read(root, outline);
  return outline;
}

}  // namespace pindrel::pysource
