#include "pysource/imports.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

// A tokenizer reduced to what finds import statements. Strings, comments, brackets, line ends
// and continuations are followed through the whole text, but tokens are read only where a
// statement may start: at a line's start outside brackets, after ";" and after a ":" outside
// brackets (a compound statement's suite on its own line; no other ":" can be followed by
// import or from). Every other byte is classified 64 at a time, and brackets are counted
// rather than visited, since every file of a repository passes through here.

namespace pindrel::pysource {
namespace {

// The bytes the scan stops at, in classes of bytes whose high and low halves form a product of
// two sets, so that a byte's class is the AND of one table entry for each half.
enum Class : std::uint8_t {
  quote_hash = 0x01,   // " # '
  backslash = 0x02,    // \ (0x5C)
  line_end = 0x04,     // \n \r
  open_paren = 0x08,   // (
  open_other = 0x10,   // [ {
  close_paren = 0x20,  // )
  close_other = 0x40,  // ] }
  separator = 0x80,    // : ;
};
constexpr std::uint8_t special = quote_hash | backslash;
constexpr std::uint8_t opening = open_paren | open_other;
constexpr std::uint8_t closing = close_paren | close_other;

constexpr std::array<std::uint8_t, 16> high_half = {line_end,
                                                    0,
                                                    quote_hash | open_paren | close_paren,
                                                    separator,
                                                    0,
                                                    backslash | open_other | close_other,
                                                    0,
                                                    open_other | close_other};
constexpr std::array<std::uint8_t, 16> low_half = {0,
                                                   0,
                                                   quote_hash,
                                                   quote_hash,
                                                   0,
                                                   0,
                                                   0,
                                                   quote_hash,
                                                   open_paren,
                                                   close_paren,
                                                   line_end | separator,
                                                   open_other | separator,
                                                   backslash,
                                                   line_end | close_other,
                                                   0,
                                                   0};

std::uint8_t class_of(unsigned char c) { return high_half[c >> 4] & low_half[c & 15]; }

// Among up to 64 bytes, bit k for byte k: where the scan must look (a string, a comment, a
// backslash, a line end, ":" or ";"), and the brackets it counts.
struct Stops {
  std::uint64_t events = 0;
  std::uint64_t opening = 0;
  std::uint64_t closing = 0;
};

// A ":" or ";" just before a line end starts nothing that the line end does not start.
std::uint64_t events_of(std::uint64_t specials, std::uint64_t line_ends, std::uint64_t separators) {
  return specials | line_ends | (separators & ~(line_ends >> 1));
}

Stops classify_bytes(const char* p, std::size_t n) {
  Stops stops;
  std::uint64_t specials = 0;
  std::uint64_t line_ends = 0;
  std::uint64_t separators = 0;
  for (std::size_t k = 0; k < n; ++k) {
    const std::uint8_t c = class_of(static_cast<unsigned char>(p[k]));
    if (c == 0) continue;
    const std::uint64_t bit = std::uint64_t{1} << k;
    if ((c & special) != 0) specials |= bit;
    if ((c & Class::line_end) != 0) line_ends |= bit;
    if ((c & Class::separator) != 0) separators |= bit;
    if ((c & opening) != 0) stops.opening |= bit;
    if ((c & closing) != 0) stops.closing |= bit;
  }
  stops.events = events_of(specials, line_ends, separators);
  return stops;
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) std::uint64_t having(__m256i classes, std::uint8_t wanted) {
  const __m256i masked = _mm256_and_si256(classes, _mm256_set1_epi8(static_cast<char>(wanted)));
  const __m256i none = _mm256_cmpeq_epi8(masked, _mm256_setzero_si256());
  return static_cast<std::uint32_t>(~_mm256_movemask_epi8(none));
}

__attribute__((target("avx2"))) __m256i both_lanes(const std::array<std::uint8_t, 16>& table) {
  __m128i lane;
  std::memcpy(&lane, table.data(), sizeof lane);
  return _mm256_broadcastsi128_si256(lane);
}

__attribute__((target("avx2"))) Stops classify_64_avx2(const char* p) {
  const __m256i highs = both_lanes(high_half);
  const __m256i lows = both_lanes(low_half);
  const __m256i nibble = _mm256_set1_epi8(0x0F);
  Stops stops;
  std::uint64_t specials = 0;
  std::uint64_t line_ends = 0;
  std::uint64_t separators = 0;
  for (int part = 0; part < 2; ++part) {
    const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * part));
    const __m256i low = _mm256_shuffle_epi8(lows, _mm256_and_si256(bytes, nibble));
    const __m256i high = _mm256_shuffle_epi8(highs, _mm256_and_si256(_mm256_srli_epi16(bytes, 4), nibble));
    const __m256i classes = _mm256_and_si256(low, high);
    const int shift = 32 * part;
    specials |= having(classes, special) << shift;
    line_ends |= having(classes, Class::line_end) << shift;
    separators |= having(classes, Class::separator) << shift;
    stops.opening |= having(classes, opening) << shift;
    stops.closing |= having(classes, closing) << shift;
  }
  stops.events = events_of(specials, line_ends, separators);
  return stops;
}

const bool has_avx2 = [] {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0 && __builtin_cpu_supports("popcnt") != 0 &&
         __builtin_cpu_supports("bmi") != 0;
}();

__attribute__((target("avx2"))) Stops classify_wide(const char* p, std::size_t n) {
  return n == 64 ? classify_64_avx2(p) : classify_bytes(p, n);
}
#endif

bool is_name_byte(char c) {
  const auto u = static_cast<unsigned char>(c);
  // A byte of a UTF-8 sequence stands only in a name.
  return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_' || u >= 0x80;
}
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\f'; }

enum class Token { name, dot, comma, star, open, other };

struct Tok {
  Token kind;
  std::string_view text;
};

class Scanner {
 public:
  Scanner(std::string_view text, const std::function<void(const ImportStatement&)>& each)
      : begin_(text.data()), end_(text.data() + text.size()), each_(each) {}

  void run() {
#if defined(__x86_64__)
    if (has_avx2) return run_wide();
#endif
    run_blocks<classify_bytes>();
  }

 private:
#if defined(__x86_64__)
  __attribute__((target("avx2,popcnt,bmi"))) void run_wide() { run_blocks<classify_wide>(); }
#endif

  // The stops of each block of up to 64 bytes come from `classify`.
  template <Stops (*classify)(const char*, std::size_t)>
  [[gnu::always_inline]] inline void run_blocks() {
    const char* p = begin_;
    if (end_ - p >= 3 && std::string_view(p, 3) == "\xEF\xBB\xBF") p += 3;
    if (may_start_import(p)) p = imports_at(p);
    std::int64_t depth = 0;
    while (p < end_) {
      const std::size_t n = std::min<std::size_t>(64, static_cast<std::size_t>(end_ - p));
      const Stops stops = classify(p, n);
      std::uint64_t events = stops.events;
      std::uint64_t opens = stops.opening;
      std::uint64_t closes = stops.closing;
      const char* resume = nullptr;
      while (events != 0) {
        const int k = std::countr_zero(events);
        const std::uint64_t bit = std::uint64_t{1} << k;
        const std::uint64_t before = bit - 1;
        depth += std::popcount(opens & before) - std::popcount(closes & before);
        opens &= ~before;
        closes &= ~before;
        if (depth < 0) depth = 0;  // an unmatched closing bracket
        const char* at = p + k;
        const char c = *at;
        if (c == '"' || c == '\'' || c == '#' || c == '\\') {
          resume = past_special(at);
          break;
        }
        // A line end, ";", or ":" that is not the walrus's.
        const bool starts = depth == 0 && (c != ':' || at + 1 == end_ || at[1] != '=');
        if (starts && may_start_import(at + 1)) {
          const char* after = imports_at(at + 1);
          if (after != at + 1) {
            resume = after;
            break;
          }
        }
        events &= events - 1;
      }
      if (resume != nullptr) {
        p = resume;
        continue;
      }
      depth += std::popcount(opens) - std::popcount(closes);
      if (depth < 0) depth = 0;
      p += n;
    }
  }

  // Whether the statement starting at `at` may begin with import or from: most are told by
  // their first byte.
  bool may_start_import(const char* at) const {
    constexpr std::uint64_t eight_blanks = 0x2020202020202020;
    for (std::uint64_t word = 0; end_ - at >= 8; at += 8) {
      std::memcpy(&word, at, 8);
      if (word != eight_blanks) break;
    }
    while (at < end_ && (*at == ' ' || *at == '\t')) ++at;
    return at < end_ && (*at == 'i' || *at == 'f' || *at == '\f');
  }

  // Past a string, a comment (up to its line end) or a backslash (with the line end it joins).
  const char* past_special(const char* at) const {
    if (*at == '#') {
      while (at < end_ && *at != '\n' && *at != '\r') ++at;
      return at;
    }
    if (*at == '\\') {
      ++at;
      if (at < end_ && *at == '\r') ++at;
      if (at < end_ && *at == '\n') ++at;
      return at;
    }
    return past_string(at);
  }

  // From its opening quote; an unterminated one-line string ends before the line end.
  const char* past_string(const char* at) const {
    const char quote = *at;
    if (end_ - at >= 3 && at[1] == quote && at[2] == quote) {
      at += 3;
      while (at < end_) {
        const char c = *at;
        if (c == '\\') {
          at += end_ - at >= 2 ? 2 : 1;
        } else if (c == quote && end_ - at >= 3 && at[1] == quote && at[2] == quote) {
          return at + 3;
        } else {
          ++at;
        }
      }
      return at;
    }
    ++at;
    while (at < end_) {
      const char c = *at;
      if (c == '\\') {
        ++at;
        if (at < end_ && *at == '\r' && at + 1 < end_ && at[1] == '\n') ++at;
        if (at < end_) ++at;
      } else if (c == quote) {
        return at + 1;
      } else if (c == '\n' || c == '\r') {
        return at;
      } else {
        ++at;
      }
    }
    return at;
  }

  bool keyword_at(const char* at, std::string_view keyword) const {
    if (static_cast<std::size_t>(end_ - at) < keyword.size()) return false;
    if (std::string_view(at, keyword.size()) != keyword) return false;
    return at + keyword.size() == end_ || !is_name_byte(at[keyword.size()]);
  }

  // Where a statement may start: reads every import statement from there on, one after
  // another; returns `at` itself when none starts there, else where the last one ended.
  const char* imports_at(const char* at) {
    while (true) {
      const char* start = at;
      while (start < end_ && is_blank(*start)) ++start;
      if (!keyword_at(start, "import") && !keyword_at(start, "from")) return at;
      at = read_import(start);
    }
  }

  // Reads the import statement at `at` up to its end at a line end outside brackets, a ";" or
  // the text's end, reports it, and returns where the next statement may start.
  const char* read_import(const char* at) {
    tokens_.clear();
    std::size_t depth = 0;
    while (at < end_) {
      const char* const start = at;
      const char c = *at;
      if (is_blank(c)) {
        ++at;
      } else if (c == '\n' || c == '\r') {
        at += c == '\r' && at + 1 < end_ && at[1] == '\n' ? 2 : 1;
        if (depth == 0) break;
      } else if (c == ';' && depth == 0) {
        ++at;
        break;
      } else if (c == '#' || c == '\\') {
        at = past_special(at);
      } else if (c == '"' || c == '\'') {
        at = past_string(at);
        tokens_.push_back({Token::other, {}});
      } else if (is_digit(c) || (c == '.' && at + 1 < end_ && is_digit(at[1]))) {
        while (at < end_ && (is_name_byte(*at) || *at == '.')) ++at;
        tokens_.push_back({Token::other, {}});
      } else if (is_name_byte(c)) {
        while (at < end_ && is_name_byte(*at)) ++at;
        if (at < end_ && (*at == '"' || *at == '\'')) {
          at = past_string(at);  // a prefixed string
          tokens_.push_back({Token::other, {}});
        } else {
          tokens_.push_back({Token::name, std::string_view(start, static_cast<std::size_t>(at - start))});
        }
      } else {
        ++at;
        Token kind = Token::other;
        if (c == '.') kind = Token::dot;
        if (c == ',') kind = Token::comma;
        if (c == '*') kind = Token::star;
        if (c == '(' || c == '[' || c == '{') {
          ++depth;
          if (c == '(') kind = Token::open;
        }
        if ((c == ')' || c == ']' || c == '}') && depth > 0) --depth;
        tokens_.push_back({kind, {}});
      }
    }
    emit();
    return at;
  }

  bool is_name(std::size_t k, std::string_view text = {}) const {
    return k < tokens_.size() && tokens_[k].kind == Token::name && (text.empty() || tokens_[k].text == text);
  }
  bool is(std::size_t k, Token kind) const { return k < tokens_.size() && tokens_[k].kind == kind; }

  // NAME ("." NAME)* from token k, its parts joined by single dots.
  bool read_dotted(std::size_t& k, std::string& into) const {
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

  const char* const begin_;
  const char* const end_;
  const std::function<void(const ImportStatement&)>& each_;
  std::vector<Tok> tokens_;  // of the import statement being read
  ImportStatement statement_;
};

}  // namespace

void for_each_import(std::string_view text, const std::function<void(const ImportStatement&)>& each) {
  Scanner(text, each).run();
}

}  // namespace pindrel::pysource
