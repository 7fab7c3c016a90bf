#pragma once

#include "qlo/client.hpp"
#include "util/error.hpp"

#include <chrono>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

namespace pindrel {

// Where the walk gets references from: one batched question per level. The real one runs
// `qlo refs`; tests answer from a table.
class ReferenceSource {
 public:
  virtual ~ReferenceSource() = default;
  // A `SymbolReferences` per query, in order; no queries ask nothing.
  virtual Result<std::vector<SymbolReferences>> references(std::span<const SymbolQuery> symbols) = 0;
};

// Answers through one `qlo refs` run per call, with answer paths made relative to `root`; a run
// still going at the deadline is ended there and fails.
class QloReferenceSource final : public ReferenceSource {
 public:
  QloReferenceSource(QloClient client, std::filesystem::path root,
                     std::optional<std::chrono::steady_clock::time_point> deadline)
      : client_(std::move(client)), root_(std::move(root)), deadline_(deadline) {}
  Result<std::vector<SymbolReferences>> references(std::span<const SymbolQuery> symbols) override {
    return resolve_references_batch(client_, root_, symbols, deadline_);
  }

 private:
  QloClient client_;
  std::filesystem::path root_;
  std::optional<std::chrono::steady_clock::time_point> deadline_;  // none: each run takes as long as it takes
};

}  // namespace pindrel
