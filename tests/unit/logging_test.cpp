#include "logging.hpp"

#include <gtest/gtest.h>

namespace pindrel {
namespace {

TEST(LogDirectives, ParseAcceptsLevelsTargetsAndPairs) {
  auto parsed = parse_log_directives("info,pindrel::walk=TRACE,,hyper");
  ASSERT_TRUE(parsed);
  const std::vector<LogDirective> expected = {
      {std::nullopt, LogLevel::info},
      {"pindrel::walk", LogLevel::trace},
      {"hyper", LogLevel::trace},
  };
  EXPECT_EQ(*parsed, expected);
}

TEST(LogDirectives, FilterFallsBackUnlessEveryPieceIsValid) {
  struct Case {
    const char* rust_log;
    Verbose verbose;
    std::vector<LogDirective> filter;
  };
  const Case cases[] = {
      {nullptr, Verbose::no, {{std::nullopt, LogLevel::warn}}},
      {nullptr, Verbose::yes, {{std::nullopt, LogLevel::debug}}},
      {"info", Verbose::yes, {{std::nullopt, LogLevel::info}}},
      {"info,pindrel=loud", Verbose::no, {{std::nullopt, LogLevel::warn}}},
      {"info,pindrel=loud", Verbose::yes, {{std::nullopt, LogLevel::debug}}},
      {"info,=debug", Verbose::no, {{std::nullopt, LogLevel::warn}}},
      {"", Verbose::yes, {}},
      {",,", Verbose::no, {}},
      {"\xff", Verbose::no, {{std::nullopt, LogLevel::warn}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rust_log ? c.rust_log : "(unset)");
    EXPECT_EQ(choose_log_filter(c.rust_log, c.verbose), c.filter);
  }
}

TEST(LogDirectives, MostSpecificTargetDecides) {
  const std::vector<LogDirective> filter = {
      {std::nullopt, LogLevel::warn}, {"pindrel", LogLevel::debug}, {"pindrel::walk", LogLevel::error}};
  EXPECT_TRUE(log_enabled(filter, "pindrel", LogLevel::debug));
  EXPECT_TRUE(log_enabled(filter, "pindrel::git", LogLevel::debug));
  EXPECT_FALSE(log_enabled(filter, "pindrel::walk", LogLevel::warn));
  EXPECT_FALSE(log_enabled(filter, "pindrelx", LogLevel::info));
  EXPECT_TRUE(log_enabled(filter, "other", LogLevel::warn));
  EXPECT_FALSE(log_enabled({}, "pindrel", LogLevel::error));
}

TEST(LogStyling, NoColorNeedsANonEmptyUtf8Value) {
  EXPECT_EQ(choose_log_styling(nullptr), LogStyling::ansi);
  EXPECT_EQ(choose_log_styling(""), LogStyling::ansi);
  EXPECT_EQ(choose_log_styling("1"), LogStyling::plain);
  EXPECT_EQ(choose_log_styling("\xff"), LogStyling::ansi);
}

}  // namespace
}  // namespace pindrel
