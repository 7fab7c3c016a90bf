#include "util/process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

extern char** environ;

namespace pindrel {
namespace {

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  ~Fd() { reset(); }
  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

struct Pipe {
  Fd read;
  Fd write;
};

Result<Pipe> make_pipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return std::unexpected(Error::from_errno(errno));
  Pipe p;
  p.read = Fd(fds[0]);
  p.write = Fd(fds[1]);
  return p;
}

class SpawnActions {
 public:
  SpawnActions() { posix_spawn_file_actions_init(&actions_); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

class SpawnAttributes {
 public:
  SpawnAttributes() { posix_spawnattr_init(&attr_); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  ~SpawnAttributes() { posix_spawnattr_destroy(&attr_); }
  posix_spawnattr_t* get() { return &attr_; }

 private:
  posix_spawnattr_t attr_;
};

// Drains both pipes together so that a child filling one of them never blocks.
Result<void> read_both(int out_fd, int err_fd, std::string& out, std::string& err) {
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* sinks[2] = {&out, &err};
  int open = 2;
  char buffer[65536];
  while (open > 0) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(Error::from_errno(errno));
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n < 0) {
        if (errno == EINTR || errno == EAGAIN) continue;
        return std::unexpected(Error::from_errno(errno));
      }
      if (n == 0) {
        fds[i].fd = -1;
        --open;
      } else {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      }
    }
  }
  return {};
}

// A failed wait is an error, never an exit status that could read as success.
Result<ExitStatus> wait_for(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return std::unexpected(Error::from_errno(errno));
  }
  return ExitStatus::from_wait_status(status);
}

}  // namespace

ExitStatus ExitStatus::from_wait_status(int status) {
  if (WIFSIGNALED(status)) return killed_by(WTERMSIG(status), WCOREDUMP(status) ? CoreDump::yes : CoreDump::no);
  return exited(WEXITSTATUS(status));
}

std::string to_text(const ExitStatus& status) {
  if (auto code = status.code()) return "exit status: " + std::to_string(*code);
  std::string text = "signal: " + std::to_string(status.signal());
  if (const char* abbrev = sigabbrev_np(status.signal())) text += std::string(" (SIG") + abbrev + ")";
  if (status.core_dumped() == CoreDump::yes) text += " (core dumped)";
  return text;
}

Result<Finished> run_captured(const Command& command) {
  if (command.argv.empty()) return std::unexpected(Error::from_errno(EINVAL));
  auto out_pipe = make_pipe();
  if (!out_pipe) return std::unexpected(std::move(out_pipe.error()));
  auto err_pipe = make_pipe();
  if (!err_pipe) return std::unexpected(std::move(err_pipe.error()));

  SpawnActions actions;
  posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(actions.get(), out_pipe->write.get(), 1);
  posix_spawn_file_actions_adddup2(actions.get(), err_pipe->write.get(), 2);
  if (!command.cwd.empty()) posix_spawn_file_actions_addchdir_np(actions.get(), command.cwd.c_str());

  // The parent ignores SIGPIPE; the child starts with the default disposition.
  SpawnAttributes attributes;
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(attributes.get(), &defaults);
  posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> argv;
  for (const auto& arg : command.argv) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  pid_t pid = 0;
  const int rc = ::posix_spawnp(&pid, argv[0], actions.get(), attributes.get(), argv.data(), environ);
  if (rc != 0) return std::unexpected(Error::from_errno(rc));
  out_pipe->write.reset();
  err_pipe->write.reset();

  Finished finished{ExitStatus::exited(0), {}, {}};
  auto drained = read_both(out_pipe->read.get(), err_pipe->read.get(), finished.out, finished.err);
  out_pipe->read.reset();
  err_pipe->read.reset();
  auto status = wait_for(pid);
  if (!drained) return std::unexpected(std::move(drained.error()));
  if (!status) return std::unexpected(std::move(status.error()));
  finished.status = *status;
  return finished;
}

}  // namespace pindrel
