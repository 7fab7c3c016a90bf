#pragma once

// A reference walk over a small source tree on disk, with references answered from a table
// and a clock that stands still unless a test moves it.

#include "impact/walk.hpp"
#include "impact/walk_state.hpp"
#include "scratch.hpp"
#include "util/utf8.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace pindrel::impact::test_support {

class FixedClock final : public Clock {
 public:
  Instant now() const override { return instant; }
  Instant instant{std::chrono::seconds(1000)};
};

// "file:line" texts as reference sites.
inline std::vector<ReferenceSite> sites(std::initializer_list<std::string_view> texts) {
  std::vector<ReferenceSite> result;
  for (std::string_view text : texts) {
    const auto colon = text.rfind(':');
    result.push_back({std::string(text.substr(0, colon)),
                      static_cast<std::uint32_t>(std::stoul(std::string(text.substr(colon + 1))))});
  }
  return result;
}

// Answers each query by its name from `answers` (no sites when absent), and keeps every
// question it was asked as "name file:line:column" texts.
class ScriptedReferences final : public ReferenceSource {
 public:
  Result<std::vector<SymbolReferences>> references(std::span<const SymbolQuery> queries) override {
    std::vector<std::string>& asked = questions.emplace_back();
    for (const SymbolQuery& query : queries)
      asked.push_back(query.name + " " + qlo_refs_target(query.file, query.line, query.column));
    if (on_question) on_question();
    if (failure) return std::unexpected(*failure);
    std::vector<SymbolReferences> answered;
    for (const SymbolQuery& query : queries) {
      const auto found = answers.find(query.name);
      answered.push_back({query.name, found == answers.end() ? std::vector<ReferenceSite>{} : found->second});
    }
    return answered;
  }

  std::map<std::string, std::vector<ReferenceSite>> answers;
  std::optional<Error> failure;
  std::function<void()> on_question;
  std::vector<std::vector<std::string>> questions;
};

class WalkFixture : public ::testing::Test {
 protected:
  // Writes a file of the tree and lists it among the repository's files.
  void write(const std::string& rel, std::string_view text) {
    pindrel::test_support::write_file(root() / rel, text);
    listed_.push_back(rel);
  }
  const std::filesystem::path& root() const { return scratch_.path(); }

  WalkState& state() {
    if (!state_) {
      cache_ = new_source_cache(root(), listed_);
      state_.emplace(references_, cache_, config_, limits_, clock_);
    }
    return *state_;
  }

  WalkOutcome walk(const std::vector<Seed>& seeds) { return walk_references(state(), seeds); }

  // The recorded tests as "file symbol kind origin via..." lines, in key order.
  std::vector<std::string> tests() {
    std::vector<std::string> lines;
    for (const auto& [key, test] : state().impacted_tests) {
      std::string line = test.file + " " + test.symbol.value_or("-") + " " + std::string(test_kind_name(test.kind)) +
                         " " + test.origin;
      for (const std::string& step : test.via) line += " <" + step;
      lines.push_back(std::move(line));
    }
    return lines;
  }

  pindrel::test_support::ScratchDir scratch_;
  std::vector<std::string> listed_;
  Config config_;
  WalkLimits limits_;
  FixedClock clock_;
  ScriptedReferences references_;
  SourceCache cache_;
  std::optional<WalkState> state_;
};

inline Seed changed_seed(std::string name, std::string file, std::uint32_t line, std::uint32_t column = 5) {
  std::string qualname = name.substr(name.find(':') + 1);
  return {{std::move(name), std::move(qualname), std::move(file), line, column}, SeedKind::changed};
}

}  // namespace pindrel::impact::test_support
