#pragma once

#include "util/error.hpp"
#include "util/output.hpp"

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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
  Finished(ExitStatus exit_status, std::string out_bytes, std::string err_bytes, bool stopped_at_deadline = false)
      : status(exit_status), out(std::move(out_bytes)), err(std::move(err_bytes)), out_of_time(stopped_at_deadline) {}

  ExitStatus status;
  std::string out;
  std::string err;
  bool out_of_time = false;  // the deadline came first: `out` and `err` hold what arrived before it
};

// What a captured run changes beyond its argv and directory.
struct CaptureOptions {
  std::vector<std::pair<std::string, std::string>> env_settings;  // set in the child's environment, in order
  // None: the run takes as long as the child does. Else the child starts in a process group of its
  // own, and a run still going at the deadline (the child running, or anything holding its pipes)
  // ends there: the whole group is killed and reading stops.
  std::optional<std::chrono::steady_clock::time_point> deadline;
};

// Starts the command with an empty standard input, captures both outputs whole and
// waits for it, also after the deadline. Fails only when the process cannot be started
// (the system's reason).
Result<Finished> run_captured(const Command& command, const CaptureOptions& options = {});

// How the program that replaces this process differs from it, beyond its argv and directory.
struct ProcessChanges {
  std::vector<std::string> env_removals;                          // names taken out of our environment
  std::vector<std::pair<std::string, std::string>> env_settings;  // then set in order; a setting beats a removal
  std::optional<std::string> stdin_bytes;                         // the whole of its standard input; none keeps ours
  std::filesystem::path stdin_dir;  // where the unnamed file holding them is made; empty: the current directory
};

// Proof that the buffered output went out: the exec ends the process image and every buffer in it.
class Flushed {
 private:
  Flushed() = default;
  friend Result<Flushed> flush_before_exec(Output& out, std::string failure);
};

// Writes out what `out` holds; a failure is `failure` over the write error.
Result<Flushed> flush_before_exec(Output& out, std::string failure);

// Replaces this process with `command`: in `command.cwd`, with the changes applied, SIGPIPE back at
// its default, a bare program name searched on the PATH of the new environment. Returns only with an
// error, and then leaves this process as it found it. The errors: "the command resolved to an empty
// argv"; "could not create a file for stdin", "could not write the payload for stdin" or "could not
// rewind the payload for stdin" over their cause; "failed to exec `{}`" (the argv shown) over the
// system's reason, or over "nul byte found in provided data"; a long argv is shown by its head.
Error exec_replacing(const Flushed& flushed, const Command& command, const ProcessChanges& changes);

// The kernel's limit on the bytes of an exec's argv and environment: sysconf(_SC_ARG_MAX), capped
// where Linux caps it.
std::size_t exec_size_limit();

// What one string of an argv or environment takes, counted as the kernel counts it: its bytes, its
// NUL and a pointer to it.
std::size_t exec_string_size(std::string_view text);

// What `argv` and our environment with `changes` applied take, with a safety margin.
std::size_t exec_size(const std::vector<std::string>& argv, const ProcessChanges& changes);

// Each word as text, invalid UTF-8 replaced by U+FFFD: how an argv is shown.
std::vector<std::string> argv_display_strings(const std::vector<std::string>& argv);

}  // namespace pindrel
