#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "util/error.hpp"

namespace pindrel {

enum class CoreDump { no, yes };

// How a child process ended.
class ExitStatus {
 public:
  static ExitStatus exited(int code) { return ExitStatus(code, 0, CoreDump::no); }
  static ExitStatus killed_by(int signal, CoreDump core = CoreDump::no) { return ExitStatus(-1, signal, core); }
  // From a wait status as waitpid reports it.
  static ExitStatus from_wait_status(int status);

  bool success() const { return signal_ == 0 && code_ == 0; }
  std::optional<int> code() const { return signal_ == 0 ? std::optional<int>(code_) : std::nullopt; }
  int signal() const { return signal_; }
  CoreDump core_dumped() const { return core_; }

 private:
  ExitStatus(int code, int sig, CoreDump core) : code_(code), signal_(sig), core_(core) {}
  int code_;
  int signal_;
  CoreDump core_;
};

// "exit status: N", "signal: N (SIGNAME)" or "signal: N (SIGNAME) (core dumped)".
std::string to_text(const ExitStatus& status);

// A program to start: argv[0] is a path or a name searched on PATH.
struct Command {
  std::vector<std::string> argv;
  std::filesystem::path cwd;  // empty: the current directory
};

struct Finished {
  ExitStatus status;
  std::string out;
  std::string err;
};

// Starts the command with an empty standard input, captures both outputs whole and
// waits for it. Fails only when the process cannot be started (the system's reason).
Result<Finished> run_captured(const Command& command);

}  // namespace pindrel
