#include "pysource/syntax_tree.hpp"

extern "C" const TSLanguage* tree_sitter_python();

namespace pindrel::pysource {

const Grammar& python_grammar() {
  static const Grammar grammar(tree_sitter_python());
  return grammar;
}

Cursors::~Cursors() {
  for (TSTreeCursor& cursor : pool_) ts_tree_cursor_delete(&cursor);
}

Cursors::Lease::Lease(Cursors& owner, TSNode node) : owner_(owner) {
  if (owner_.in_use_ == owner_.pool_.size())
    owner_.pool_.push_back(ts_tree_cursor_new(node));
  else
    ts_tree_cursor_reset(&owner_.pool_[owner_.in_use_], node);
  cursor_ = &owner_.pool_[owner_.in_use_++];
}

}  // namespace pindrel::pysource
