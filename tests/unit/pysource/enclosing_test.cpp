#include "pysource/enclosing.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace pindrel::pysource {
namespace {

Definition spanning(std::string qualname, std::uint32_t start, std::uint32_t end) {
  Definition definition;
  definition.qualname = std::move(qualname);
  definition.start_line = start;
  definition.end_line = end;
  return definition;
}

// class A (1-10) holds f (2-4) and class B (6-8), which holds m (7-8); then h on line 12,
// and two definitions with the same span, where the later one wins.
Outline sample_outline() {
  Outline outline;
  outline.definitions = {spanning("A", 1, 10),  spanning("A.f", 2, 4),  spanning("A.B", 6, 8), spanning("A.B.m", 7, 8),
                         spanning("h", 12, 12), spanning("T1", 14, 16), spanning("T2", 14, 16)};
  return outline;
}

std::optional<std::string> name_of(const Definition* definition) {
  if (definition == nullptr) return std::nullopt;
  return definition->qualname;
}

struct Case {
  std::uint32_t line;
  std::optional<std::string> want;
};

const Case cases[] = {
    {0, std::nullopt},  {1, "A"},   {2, "A.f"},         {4, "A.f"},
    {5, "A"},           {6, "A.B"}, {7, "A.B.m"},       {8, "A.B.m"},
    {9, "A"},           {10, "A"},  {11, std::nullopt}, {12, "h"},
    {13, std::nullopt}, {15, "T2"}, {17, std::nullopt}, {4294967295u, std::nullopt},
};

TEST(Enclosing, InnermostHoldsTheLine) {
  const Outline outline = sample_outline();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(name_of(enclosing_definition(outline, c.line)), c.want);
  }
  EXPECT_EQ(enclosing_definition(Outline{}, 1), nullptr);
}

TEST(Enclosing, AscendingLinesGiveTheSameAnswers) {
  const Outline outline = sample_outline();
  EnclosingDefinitions every(outline);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(name_of(every.at(c.line)), c.want);
  }
  // Skipping lines: f has ended under B's method by the time line 9 is asked.
  EnclosingDefinitions skipping(outline);
  EXPECT_EQ(name_of(skipping.at(2)), "A.f");
  EXPECT_EQ(name_of(skipping.at(7)), "A.B.m");
  EXPECT_EQ(name_of(skipping.at(7)), "A.B.m");
  EXPECT_EQ(name_of(skipping.at(9)), "A");
  EXPECT_EQ(name_of(skipping.at(13)), std::nullopt);
}

}  // namespace
}  // namespace pindrel::pysource
