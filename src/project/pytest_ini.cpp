#include "project/pytest_ini.hpp"

#include <algorithm>
#include <optional>
#include <utility>

namespace pindrel {
namespace {

constexpr std::string_view blanks = " \t\v\f\r";

std::string_view trim_end(std::string_view text) {
  const auto last = text.find_last_not_of(blanks);
  return last == std::string_view::npos ? std::string_view() : text.substr(0, last + 1);
}

std::string_view trim(std::string_view text) {
  text = trim_end(text);
  const auto first = text.find_first_not_of(blanks);
  return first == std::string_view::npos ? std::string_view() : text.substr(first);
}

// The lines of `text`, each of "\n", "\r\n" and a lone "\r" ending one.
std::vector<std::string_view> lines_of(std::string_view text) {
  std::vector<std::string_view> lines;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find_first_of("\r\n", start), text.size());
    lines.push_back(text.substr(start, end - start));
    start = text.substr(end).starts_with("\r\n") ? end + 2 : end + 1;
  }
  return lines;
}

Error line_error(std::size_t index, std::string_view what) {
  return Error("line " + std::to_string(index + 1) + ": " + std::string(what));
}

std::string quoted_name(std::string_view name) { return "'" + std::string(name) + "'"; }

// What one line holds.
struct IniLine {
  enum class Kind { blank, section, value, continuation } kind = Kind::blank;
  std::string_view name;  // the section or key
  std::string_view data;  // the value, or the continued text
};

Result<IniLine> read_line(std::string_view raw, std::size_t index) {
  const std::string_view content = trim(raw);
  if (content.empty() || content.front() == '#' || content.front() == ';') return IniLine{};
  const std::string_view line = trim_end(raw);
  if (line.front() == '[') {
    // A comment may follow the header; a header that does not close reads as continued text.
    const std::string_view header = trim_end(line.substr(0, line.find_first_of("#;")));
    if (header.ends_with(']')) return IniLine{IniLine::Kind::section, header.substr(1, header.size() - 2), {}};
    return IniLine{IniLine::Kind::continuation, {}, trim(line)};
  }
  if (blanks.find(line.front()) != std::string_view::npos) return IniLine{IniLine::Kind::continuation, {}, trim(line)};
  // "=" separates unless the name before it holds a ":", which then separates instead.
  std::size_t split = line.find('=');
  if (split == std::string_view::npos || line.substr(0, split).find(':') != std::string_view::npos) {
    split = line.find(':');
  }
  if (split == std::string_view::npos)
    return std::unexpected(line_error(index, "unexpected line: " + quoted_name(line)));
  return IniLine{IniLine::Kind::value, trim(line.substr(0, split)), trim(line.substr(split + 1))};
}

}  // namespace

Result<IniSections> parse_ini(std::string_view text) {
  IniSections sections;
  IniSection* section = nullptr;
  std::string* last_value = nullptr;  // the value a continuation line extends; none after a header
  const std::vector<std::string_view> lines = lines_of(text);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    auto line = read_line(lines[i], i);
    if (!line) return std::unexpected(std::move(line.error()));
    switch (line->kind) {
      case IniLine::Kind::blank: break;
      case IniLine::Kind::section: {
        if (line->name.empty()) return std::unexpected(line_error(i, "empty section name"));
        const auto [at, added] = sections.try_emplace(std::string(line->name));
        if (!added) return std::unexpected(line_error(i, "duplicate section " + quoted_name(line->name)));
        section = &at->second;
        last_value = nullptr;
        break;
      }
      case IniLine::Kind::value: {
        if (section == nullptr) return std::unexpected(line_error(i, "no section header defined"));
        const auto [at, added] = section->try_emplace(std::string(line->name), line->data);
        if (!added) return std::unexpected(line_error(i, "duplicate name " + quoted_name(line->name)));
        last_value = &at->second;
        break;
      }
      case IniLine::Kind::continuation:
        if (last_value == nullptr) return std::unexpected(line_error(i, "unexpected value continuation"));
        if (!last_value->empty()) *last_value += '\n';
        *last_value += line->data;
        break;
    }
  }
  return sections;
}

Result<std::vector<std::string>> split_shell_words(std::string_view text) {
  std::vector<std::string> words;
  std::optional<std::string> word;  // none between words; an empty word still counts once quoted
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      if (word) words.push_back(std::move(*std::exchange(word, std::nullopt)));
      continue;
    }
    if (!word) word.emplace();
    if (c == '\\') {
      if (++i == text.size()) return std::unexpected(Error("No escaped character"));
      *word += text[i];
    } else if (c == '\'') {
      const std::size_t close = text.find('\'', i + 1);
      if (close == std::string_view::npos) return std::unexpected(Error("No closing quotation"));
      *word += text.substr(i + 1, close - i - 1);
      i = close;
    } else if (c == '"') {
      // Inside double quotes a backslash escapes only a quote or another backslash.
      for (++i;; ++i) {
        if (i == text.size()) return std::unexpected(Error("No closing quotation"));
        if (text[i] == '"') break;
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == '"' || text[i + 1] == '\\')) ++i;
        *word += text[i];
      }
    } else {
      *word += c;
    }
  }
  if (word) words.push_back(std::move(*word));
  return words;
}

}  // namespace pindrel
