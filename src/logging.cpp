#include "logging.hpp"

#include "util/utf8.hpp"

#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>

namespace pindrel {
namespace {

std::optional<LogLevel> parse_level(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  struct Name {
    std::string_view name;
    LogLevel level;
  };
  static constexpr Name names[] = {
      {"off", LogLevel::off},     {"error", LogLevel::error}, {"warn", LogLevel::warn}, {"info", LogLevel::info},
      {"debug", LogLevel::debug}, {"trace", LogLevel::trace}, {"0", LogLevel::off},     {"1", LogLevel::error},
      {"2", LogLevel::warn},      {"3", LogLevel::info},      {"4", LogLevel::debug},   {"5", LogLevel::trace},
  };
  for (const auto& n : names) {
    if (n.name == lower) return n.level;
  }
  return std::nullopt;
}

bool valid_target(std::string_view target) {
  return !target.empty() &&
         std::none_of(target.begin(), target.end(), [](unsigned char c) { return std::isspace(c) || c == '='; });
}

std::optional<LogDirective> parse_directive(std::string_view piece) {
  const auto eq = piece.find('=');
  if (eq == std::string_view::npos) {
    if (auto level = parse_level(piece)) return LogDirective{std::nullopt, *level};
    if (!valid_target(piece)) return std::nullopt;
    return LogDirective{std::string(piece), LogLevel::trace};
  }
  const auto target = piece.substr(0, eq);
  auto level = parse_level(piece.substr(eq + 1));
  if (!level || !valid_target(target)) return std::nullopt;
  return LogDirective{std::string(target), *level};
}

// A target matches a directive's target when equal or nested below it ("a::b" under "a").
bool target_matches(std::string_view directive, std::string_view target) {
  if (target.size() < directive.size() || target.substr(0, directive.size()) != directive) return false;
  return target.size() == directive.size() || target.substr(directive.size()).starts_with("::");
}

spdlog::level::level_enum to_spdlog(LogLevel level) {
  switch (level) {
    case LogLevel::off: return spdlog::level::off;
    case LogLevel::error: return spdlog::level::err;
    case LogLevel::warn: return spdlog::level::warn;
    case LogLevel::info: return spdlog::level::info;
    case LogLevel::debug: return spdlog::level::debug;
    case LogLevel::trace: return spdlog::level::trace;
  }
  return spdlog::level::off;
}

// The level right-aligned in five columns, optionally in colour.
class LevelFlag final : public spdlog::custom_flag_formatter {
 public:
  explicit LevelFlag(LogStyling styling) : styling_(styling) {}

  void format(const spdlog::details::log_msg& msg, const std::tm&, spdlog::memory_buf_t& dest) override {
    std::string_view text = "ERROR", colour = "\x1b[31m";
    switch (msg.level) {
      case spdlog::level::trace: text = "TRACE", colour = "\x1b[35m"; break;
      case spdlog::level::debug: text = "DEBUG", colour = "\x1b[34m"; break;
      case spdlog::level::info: text = " INFO", colour = "\x1b[32m"; break;
      case spdlog::level::warn: text = " WARN", colour = "\x1b[33m"; break;
      default: break;
    }
    if (styling_ == LogStyling::ansi) dest.append(colour.data(), colour.data() + colour.size());
    dest.append(text.data(), text.data() + text.size());
    if (styling_ == LogStyling::ansi) dest.append(std::string_view("\x1b[0m"));
  }

  std::unique_ptr<custom_flag_formatter> clone() const override { return std::make_unique<LevelFlag>(styling_); }

 private:
  LogStyling styling_;
};

}  // namespace

std::optional<std::vector<LogDirective>> parse_log_directives(std::string_view text) {
  std::vector<LogDirective> directives;
  while (true) {
    const auto comma = text.find(',');
    const auto piece = text.substr(0, comma);
    if (!piece.empty()) {
      auto directive = parse_directive(piece);
      if (!directive) return std::nullopt;
      directives.push_back(std::move(*directive));
    }
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return directives;
}

std::vector<LogDirective> choose_log_filter(const char* rust_log, Verbose verbose) {
  if (rust_log && is_valid_utf8(rust_log)) {
    if (auto directives = parse_log_directives(rust_log)) return std::move(*directives);
  }
  return {LogDirective{std::nullopt, verbose == Verbose::yes ? LogLevel::debug : LogLevel::warn}};
}

bool log_enabled(const std::vector<LogDirective>& filter, std::string_view target, LogLevel level) {
  // A directive without a target is the least specific; among equals the later one wins.
  const auto specificity = [](const LogDirective& d) { return d.target ? d.target->size() + 1 : 0; };
  const LogDirective* best = nullptr;
  for (const auto& d : filter) {
    if (d.target && !target_matches(*d.target, target)) continue;
    if (!best || specificity(d) >= specificity(*best)) best = &d;
  }
  return best && level != LogLevel::off && level <= best->level;
}

LogStyling choose_log_styling(const char* no_color) {
  const bool disabled = no_color && *no_color != '\0' && is_valid_utf8(no_color);
  return disabled ? LogStyling::plain : LogStyling::ansi;
}

void init_logging(Verbose verbose, const Environment& env) {
  const auto filter = choose_log_filter(env.rust_log ? env.rust_log->c_str() : nullptr, verbose);
  const auto styling = choose_log_styling(env.no_color ? env.no_color->c_str() : nullptr);

  auto logger = std::make_shared<spdlog::logger>("pindrel", std::make_shared<spdlog::sinks::stderr_sink_st>());
  auto formatter = std::make_unique<spdlog::pattern_formatter>(spdlog::pattern_time_type::utc);
  formatter->add_flag<LevelFlag>('*', styling).set_pattern("%Y-%m-%dT%H:%M:%S.%fZ %* %n: %v");
  logger->set_formatter(std::move(formatter));

  // spdlog filters by level only: the most verbose level any directive grants is the
  // logger's threshold, and records are named after their target.
  LogLevel most = LogLevel::off;
  for (auto level : {LogLevel::error, LogLevel::warn, LogLevel::info, LogLevel::debug, LogLevel::trace}) {
    if (log_enabled(filter, logger->name(), level)) most = level;
  }
  logger->set_level(to_spdlog(most));
  spdlog::set_default_logger(std::move(logger));
}

}  // namespace pindrel
