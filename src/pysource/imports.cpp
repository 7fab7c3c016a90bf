#include "pysource/imports.hpp"

#include <array>
#include <cstdint>

// A tokenizer reduced to what finds import statements: strings, comments, brackets, line
// ends and continuations are followed through the whole text, and tokens are looked at only
// where a statement starts. A statement of no interest is passed over a byte class at a time.

namespace pindrel::pysource {
namespace {

enum class Byte : std::uint8_t { other, space, name, digit, quote, hash, backslash, newline, open, close, semicolon, colon, dot };

constexpr std::array<Byte, 256> byte_classes = [] {
  std::array<Byte, 256> classes{};
  for (int c = 0; c < 256; ++c) {
    Byte& b = classes[static_cast<std::size_t>(c)];
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c >= 0x80) {
      b = Byte::name;  // a byte of a UTF-8 sequence stands only in a name
    } else if (c >= '0' && c <= '9') {
      b = Byte::digit;
    } else if (c == ' ' || c == '\t' || c == '\f') {
      b = Byte::space;
    } else if (c == '\'' || c == '"') {
      b = Byte::quote;
    } else if (c == '#') {
      b = Byte::hash;
    } else if (c == '\\') {
      b = Byte::backslash;
    } else if (c == '\n' || c == '\r') {
      b = Byte::newline;
    } else if (c == '(' || c == '[' || c == '{') {
      b = Byte::open;
    } else if (c == ')' || c == ']' || c == '}') {
      b = Byte::close;
    } else if (c == ';') {
      b = Byte::semicolon;
    } else if (c == ':') {
      b = Byte::colon;
    } else if (c == '.') {
      b = Byte::dot;
    }
  }
  return classes;
}();

// The bytes at which a statement of no interest has to be looked at: where a string, a
// comment, a bracket or the statement's end may start.
constexpr std::array<bool, 256> skip_stops = [] {
  std::array<bool, 256> stops{};
  for (std::size_t c = 0; c < 256; ++c) {
    switch (byte_classes[c]) {
      case Byte::quote:
      case Byte::hash:
      case Byte::backslash:
      case Byte::newline:
      case Byte::open:
      case Byte::close:
      case Byte::semicolon:
        stops[c] = true;
        break;
      default:
        break;
    }
  }
  return stops;
}();

Byte class_of(char c) { return byte_classes[static_cast<unsigned char>(c)]; }

bool is_string_prefix(std::string_view name) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  if (name.size() == 1) {
    const char c = lower(name[0]);
    return c == 'r' || c == 'u' || c == 'f' || c == 'b';
  }
  if (name.size() != 2) return false;
  const char a = lower(name[0]);
  const char b = lower(name[1]);
  return (a == 'r' && (b == 'b' || b == 'f')) || ((a == 'b' || a == 'f') && b == 'r');
}

// Statements that end with ":" and may carry a statement of their own after it.
bool is_compound_keyword(std::string_view name) {
  static constexpr std::array<std::string_view, 13> keywords = {
      "if", "elif", "else", "while", "for", "try", "except", "finally", "with", "def", "class", "async", "case"};
  for (const std::string_view keyword : keywords) {
    if (name == keyword) return true;
  }
  return false;
}

enum class Token { name, dot, comma, star, open, close, colon, other };

struct Tok {
  Token kind;
  std::string_view text;
};

class Scanner {
 public:
  Scanner(std::string_view text, const std::function<void(const ImportStatement&)>& each)
      : p_(text.data()), end_(text.data() + text.size()), each_(each) {}

  void run() {
    if (end_ - p_ >= 3 && std::string_view(p_, 3) == "\xEF\xBB\xBF") p_ += 3;
    while (p_ < end_) {
      if (state_ == State::skip) {
        while (p_ < end_ && !skip_stops[static_cast<unsigned char>(*p_)]) ++p_;
        if (p_ == end_) break;
      }
      step();
    }
    end_statement();
  }

 private:
  enum class State {
    start,   // where a statement may start
    skip,    // in a statement that imports nothing
    header,  // in a compound statement's header, before its ":"
    import,  // in an import statement, its tokens kept
  };

  void step() {
    const char* const start = p_;
    switch (class_of(*p_)) {
      case Byte::space:
        ++p_;
        return;
      case Byte::newline:
        if (*p_ == '\r' && p_ + 1 < end_ && p_[1] == '\n') ++p_;
        ++p_;
        if (depth_ == 0) end_statement();
        return;
      case Byte::hash:
        while (p_ < end_ && *p_ != '\n' && *p_ != '\r') ++p_;
        return;
      case Byte::backslash:
        ++p_;
        if (p_ < end_ && class_of(*p_) == Byte::newline) {
          if (*p_ == '\r' && p_ + 1 < end_ && p_[1] == '\n') ++p_;
          ++p_;  // the line goes on
          return;
        }
        token(Token::other, start);
        return;
      case Byte::quote:
        skip_string();
        token(Token::other, start);
        return;
      case Byte::name:
        while (p_ < end_ && (class_of(*p_) == Byte::name || class_of(*p_) == Byte::digit)) ++p_;
        if (p_ < end_ && class_of(*p_) == Byte::quote && is_string_prefix(std::string_view(start, p_))) {
          skip_string();
          token(Token::other, start);
          return;
        }
        token(Token::name, start);
        return;
      case Byte::dot:
        if (p_ + 1 < end_ && class_of(p_[1]) == Byte::digit) {
          skip_number();
          token(Token::other, start);
          return;
        }
        ++p_;
        token(Token::dot, start);
        return;
      case Byte::digit:
        skip_number();
        token(Token::other, start);
        return;
      case Byte::open:
        ++p_;
        token(Token::open, start);
        ++depth_;
        return;
      case Byte::close:
        ++p_;
        if (depth_ > 0) --depth_;
        token(Token::close, start);
        return;
      case Byte::semicolon:
        ++p_;
        if (depth_ == 0) {
          end_statement();
        } else {
          token(Token::other, start);
        }
        return;
      case Byte::colon:
        ++p_;
        if (p_ < end_ && *p_ == '=') {
          ++p_;
          token(Token::other, start);
          return;
        }
        token(Token::colon, start);
        return;
      case Byte::other:
        ++p_;
        token(*start == ',' ? Token::comma : *start == '*' ? Token::star : Token::other, start);
        return;
    }
  }

  // From its opening quote; an unterminated one-line string ends before the line end.
  void skip_string() {
    const char quote = *p_;
    if (end_ - p_ >= 3 && p_[1] == quote && p_[2] == quote) {
      p_ += 3;
      while (p_ < end_) {
        const char c = *p_;
        if (c == '\\') {
          p_ += end_ - p_ >= 2 ? 2 : 1;
        } else if (c == quote && end_ - p_ >= 3 && p_[1] == quote && p_[2] == quote) {
          p_ += 3;
          return;
        } else {
          ++p_;
        }
      }
      return;
    }
    ++p_;
    while (p_ < end_) {
      const char c = *p_;
      if (c == '\\') {
        ++p_;
        if (p_ < end_ && *p_ == '\r' && p_ + 1 < end_ && p_[1] == '\n') ++p_;
        if (p_ < end_) ++p_;
      } else if (c == quote) {
        ++p_;
        return;
      } else if (c == '\n' || c == '\r') {
        return;
      } else {
        ++p_;
      }
    }
  }

  void skip_number() {
    while (p_ < end_) {
      const Byte b = class_of(*p_);
      if (b != Byte::digit && b != Byte::name && b != Byte::dot) return;
      ++p_;
    }
  }

  void token(Token kind, const char* start) {
    const std::string_view text(start, p_);
    switch (state_) {
      case State::start:
        if (kind == Token::name && (text == "import" || text == "from")) {
          state_ = State::import;
          tokens_.clear();
          tokens_.push_back({kind, text});
        } else if (kind == Token::name && is_compound_keyword(text)) {
          state_ = State::header;
          lambdas_ = 0;
        } else {
          state_ = State::skip;
        }
        return;
      case State::header:
        if (depth_ != 0) return;
        if (kind == Token::name && text == "lambda") {
          ++lambdas_;
        } else if (kind == Token::colon) {
          if (lambdas_ == 0) {
            state_ = State::start;
          } else {
            --lambdas_;
          }
        }
        return;
      case State::import:
        tokens_.push_back({kind, text});
        return;
      case State::skip:
        return;
    }
  }

  void end_statement() {
    if (state_ == State::import) emit();
    state_ = State::start;
  }

  bool is_name(std::size_t k, std::string_view text = {}) const {
    return k < tokens_.size() && tokens_[k].kind == Token::name && (text.empty() || tokens_[k].text == text);
  }
  bool is(std::size_t k, Token kind) const { return k < tokens_.size() && tokens_[k].kind == kind; }

  // NAME ("." NAME)* from token k, its parts joined by single dots.
  bool read_dotted(std::size_t& k, std::string& into) {
    if (!is_name(k)) return false;
    into.assign(tokens_[k].text);
    ++k;
    while (is(k, Token::dot) && is_name(k + 1)) {
      into += '.';
      into += tokens_[k + 1].text;
      k += 2;
    }
    return true;
  }

  void emit() {
    ImportStatement& statement = statement_;
    statement.level = 0;
    statement.source.clear();
    statement.names.clear();
    std::size_t k = 1;
    std::string name;
    if (tokens_[0].text == "import") {
      statement.form = ImportForm::plain;
      while (read_dotted(k, name)) {
        statement.names.push_back(name);
        if (is_name(k, "as")) k += 2;
        if (!is(k, Token::comma)) break;
        ++k;
      }
    } else {
      statement.form = ImportForm::from;
      for (; is(k, Token::dot); ++k) ++statement.level;
      if (!is_name(k, "import")) read_dotted(k, statement.source);
      if (!is_name(k, "import")) return;
      ++k;
      if (statement.level == 0 && statement.source.empty()) return;
      if (is(k, Token::star)) {
        statement.names.emplace_back("*");
      } else {
        if (is(k, Token::open)) ++k;
        while (is_name(k)) {
          statement.names.emplace_back(tokens_[k].text);
          ++k;
          if (is_name(k, "as")) k += 2;
          if (!is(k, Token::comma)) break;
          ++k;
        }
      }
    }
    if (!statement.names.empty()) each_(statement);
  }

  const char* p_;
  const char* const end_;
  const std::function<void(const ImportStatement&)>& each_;
  State state_ = State::start;
  std::size_t depth_ = 0;
  std::size_t lambdas_ = 0;  // of a header, each owed a ":"
  std::vector<Tok> tokens_;
  ImportStatement statement_;
};

}  // namespace

void for_each_import(std::string_view text, const std::function<void(const ImportStatement&)>& each) {
  Scanner(text, each).run();
}

}  // namespace pindrel::pysource
