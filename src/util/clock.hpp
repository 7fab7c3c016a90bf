#pragma once

#include <chrono>

namespace pindrel {

// The monotonic clock, behind a seam so that a test can hand out any instant.
class Clock {
 public:
  using Instant = std::chrono::steady_clock::time_point;
  virtual ~Clock() = default;
  virtual Instant now() const = 0;
};

class SteadyClock final : public Clock {
 public:
  Instant now() const override { return std::chrono::steady_clock::now(); }
};

}  // namespace pindrel
