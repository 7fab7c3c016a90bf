#pragma once

namespace pindrel::pysource {

// What a Python definition is. `class_` stands for the keyword; reports write it "class".
enum class DefinitionKind {
  function,  // a function not defined in a class body
  method,    // a function defined in a class body, also under an `if` or `try` there
  class_,    // any class, nested ones included
};

}  // namespace pindrel::pysource
