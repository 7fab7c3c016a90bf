#include "util/process.hpp"

#include "util/utf8.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
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

// A spawn record, destroyed when its initialisation succeeded; `status` is the error number
// of a failed initialisation, or 0.
template <class Record, int (*init)(Record*), int (*destroy)(Record*)>
class SpawnRecord {
 public:
  SpawnRecord() : status_(init(&record_)) {}
  SpawnRecord(const SpawnRecord&) = delete;
  SpawnRecord& operator=(const SpawnRecord&) = delete;
  ~SpawnRecord() {
    if (status_ == 0) destroy(&record_);
  }
  int status() const { return status_; }
  Record* get() { return &record_; }

 private:
  Record record_;
  int status_;
};

using SpawnActions =
    SpawnRecord<posix_spawn_file_actions_t, posix_spawn_file_actions_init, posix_spawn_file_actions_destroy>;
using SpawnAttributes = SpawnRecord<posix_spawnattr_t, posix_spawnattr_init, posix_spawnattr_destroy>;

using Instant = std::chrono::steady_clock::time_point;

// The milliseconds left until `deadline`, rounded up so that a wait never ends before it; -1,
// waiting without end, when there is none.
int poll_timeout(const std::optional<Instant>& deadline) {
  if (!deadline) return -1;
  const auto left = *deadline - std::chrono::steady_clock::now();
  if (left <= left.zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return static_cast<int>(std::min<decltype(ms)>(ms, std::numeric_limits<int>::max()));
}

bool reached(const std::optional<Instant>& deadline) {
  return deadline && std::chrono::steady_clock::now() >= *deadline;
}

enum class Drained { to_the_end, at_deadline };

// Drains both pipes together so that a child filling one of them never blocks.
Result<Drained> read_both(int out_fd, int err_fd, std::string& out, std::string& err,
                          const std::optional<Instant>& deadline) {
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* sinks[2] = {&out, &err};
  int open = 2;
  char buffer[65536];
  while (open > 0) {
    const int ready = ::poll(fds, 2, poll_timeout(deadline));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(Error::from_errno(errno));
    }
    if (ready == 0) {
      if (reached(deadline)) return Drained::at_deadline;
      continue;
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
  return Drained::to_the_end;
}

// Whether the child ends before `deadline`; it stays unreaped, so its process group stays
// its own until it is waited for.
bool ends_before(pid_t pid, Instant deadline) {
  Fd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
  if (pidfd.get() >= 0) {
    pollfd fd{pidfd.get(), POLLIN, 0};
    while (true) {
      const int ready = ::poll(&fd, 1, poll_timeout(deadline));
      if (ready > 0) return true;
      if (ready == 0 && reached(deadline)) return false;
      if (ready < 0 && errno != EINTR) break;
    }
  }
  // A kernel without pidfds: the child is looked at every few milliseconds.
  while (true) {
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
      if (errno == EINTR) continue;
      return true;  // nothing left to wait for; the wait itself reports why
    }
    if (info.si_pid == pid) return true;
    if (reached(deadline)) return false;
    const timespec pause{0, 2'000'000};
    ::nanosleep(&pause, nullptr);
  }
}

// A failed wait is an error, never an exit status that could read as success.
Result<ExitStatus> wait_for(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return std::unexpected(Error::from_errno(errno));
  }
  return ExitStatus::from_wait_status(status);
}

// An unnamed file in `dir`, open for reading at offset 0 and holding `bytes`; nothing of it
// stays on disk. A file system without unnamed files gets a fresh name, removed at once.
Result<Fd> unnamed_file_holding(std::string_view bytes, const std::filesystem::path& dir) {
  const std::string directory = dir.empty() ? std::string(".") : dir.native();
  int fd = ::open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR)) {
    std::string name = directory + "/.pindrel-stdin-XXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) ::unlink(name.c_str());
  }
  if (fd < 0) return std::unexpected(Error::from_errno(errno).context("could not create a file for stdin"));
  Fd file(fd);
  if (auto written = write_all(file.get(), bytes); !written) {
    return std::unexpected(std::move(written.error()).context("could not write the payload for stdin"));
  }
  if (::lseek(file.get(), 0, SEEK_SET) < 0) {
    return std::unexpected(Error::from_errno(errno).context("could not rewind the payload for stdin"));
  }
  return file;
}

// Our environment as the new program gets it, as `NAME=VALUE` entries.
std::vector<std::string> changed_environment(const std::vector<std::string>& removals,
                                             const std::vector<std::pair<std::string, std::string>>& settings) {
  auto name_of = [](std::string_view entry) { return entry.substr(0, entry.find('=')); };
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::find(removals.begin(), removals.end(), name_of(*entry)) == removals.end()) entries.emplace_back(*entry);
  }
  for (const auto& [name, value] : settings) {
    std::erase_if(entries, [&](const std::string& entry) { return name_of(entry) == name; });
    entries.push_back(name + "=" + value);
  }
  return entries;
}

// At most this much of an argv goes into a message, whole words only, the first always.
constexpr std::size_t shown_argv_bytes = 256;

// The argv as a message shows it: its words joined by spaces, cut after a short head.
std::string argv_head_text(const std::vector<std::string>& argv) {
  const std::vector<std::string> words = argv_display_strings(argv);
  std::string shown;
  std::size_t count = 0;
  for (; count < words.size(); ++count) {
    if (count > 0 && shown.size() + 1 + words[count].size() > shown_argv_bytes) break;
    shown += (count == 0 ? "" : " ") + words[count];
  }
  if (count < words.size()) shown += " … (+" + std::to_string(words.size() - count) + " more)";
  return shown;
}

// What an exec changes in this process, put back when the exec fails.
class Restore {
 public:
  Restore() : cwd_(::open(".", O_PATH | O_DIRECTORY | O_CLOEXEC)), input_(::fcntl(0, F_DUPFD_CLOEXEC, 3)) {
    ::sigaction(SIGPIPE, nullptr, &sigpipe_);
  }
  Restore(const Restore&) = delete;
  Restore& operator=(const Restore&) = delete;
  ~Restore() {
    environ = environment_;
    ::sigaction(SIGPIPE, &sigpipe_, nullptr);
    if (input_.get() >= 0) ::dup2(input_.get(), 0);
    if (cwd_.get() >= 0) (void)::fchdir(cwd_.get());
  }

 private:
  Fd cwd_;
  Fd input_;
  struct sigaction sigpipe_ {};
  char** environment_ = environ;
};

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

Result<Finished> run_captured(const Command& command, const CaptureOptions& options) {
  if (command.argv.empty()) return std::unexpected(Error::from_errno(EINVAL));
  auto out_pipe = make_pipe();
  if (!out_pipe) return std::unexpected(std::move(out_pipe.error()));
  auto err_pipe = make_pipe();
  if (!err_pipe) return std::unexpected(std::move(err_pipe.error()));

  // A step that fails would start the child with other descriptors or signals than asked for.
  SpawnActions actions;
  int rc = actions.status();
  if (rc == 0) rc = posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
  if (rc == 0) rc = posix_spawn_file_actions_adddup2(actions.get(), out_pipe->write.get(), 1);
  if (rc == 0) rc = posix_spawn_file_actions_adddup2(actions.get(), err_pipe->write.get(), 2);
  if (rc == 0 && !command.cwd.empty()) rc = posix_spawn_file_actions_addchdir_np(actions.get(), command.cwd.c_str());

  // The parent ignores SIGPIPE; the child starts with the default disposition.
  SpawnAttributes attributes;
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  if (rc == 0) rc = attributes.status();
  if (rc == 0) rc = posix_spawnattr_setsigdefault(attributes.get(), &defaults);
  short flags = POSIX_SPAWN_SETSIGDEF;
  // A group of its own, so that at the deadline whatever the child started goes with it.
  if (options.deadline) flags |= POSIX_SPAWN_SETPGROUP;
  if (rc == 0 && options.deadline) rc = posix_spawnattr_setpgroup(attributes.get(), 0);
  if (rc == 0) rc = posix_spawnattr_setflags(attributes.get(), flags);
  if (rc != 0) return std::unexpected(Error::from_errno(rc));

  std::vector<char*> argv;
  for (const auto& arg : command.argv) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> environment;
  std::vector<char*> envp;
  if (!options.env_settings.empty()) {
    environment = changed_environment({}, options.env_settings);
    for (auto& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
  }

  pid_t pid = 0;
  rc =
      ::posix_spawnp(&pid, argv[0], actions.get(), attributes.get(), argv.data(), envp.empty() ? environ : envp.data());
  if (rc != 0) return std::unexpected(Error::from_errno(rc));
  out_pipe->write.reset();
  err_pipe->write.reset();

  Finished finished(ExitStatus::exited(0), {}, {});
  auto drained = read_both(out_pipe->read.get(), err_pipe->read.get(), finished.out, finished.err, options.deadline);
  out_pipe->read.reset();
  err_pipe->read.reset();
  if (options.deadline) {
    // A run that does not end on its own in time, or whose reading failed, takes its whole group
    // with it, so the wait below is short.
    const bool on_time = drained && *drained == Drained::to_the_end && ends_before(pid, *options.deadline);
    if (!on_time) {
      ::kill(-pid, SIGKILL);
      finished.out_of_time = drained.has_value();
    }
  }
  auto status = wait_for(pid);
  if (!drained) return std::unexpected(std::move(drained.error()));
  if (!status) return std::unexpected(std::move(status.error()));
  finished.status = *status;
  return finished;
}

std::size_t exec_size_limit() {
  const long configured = ::sysconf(_SC_ARG_MAX);
  // Linux never allows more than three quarters of its 8 MiB default stack, whatever the stack limit.
  constexpr std::size_t kernel_cap = 6u << 20;
  return configured > 0 ? std::min(static_cast<std::size_t>(configured), kernel_cap) : std::size_t{128u << 10};
}

std::size_t exec_string_size(std::string_view text) { return text.size() + 1 + sizeof(char*); }

std::size_t exec_size(const std::vector<std::string>& argv, const ProcessChanges& changes) {
  // The margin covers what the kernel adds itself, such as the program's path and a script's
  // interpreter line.
  constexpr std::size_t margin = 16u << 10;
  std::size_t size = margin;
  for (const auto& word : argv) size += exec_string_size(word);
  for (const auto& entry : changed_environment(changes.env_removals, changes.env_settings))
    size += exec_string_size(entry);
  return size;
}

std::vector<std::string> argv_display_strings(const std::vector<std::string>& argv) {
  std::vector<std::string> shown;
  shown.reserve(argv.size());
  for (const auto& word : argv) shown.push_back(lossy_utf8(word));
  return shown;
}

Result<Flushed> flush_before_exec(Output& out, std::string failure) {
  if (auto flushed = out.flush(); !flushed)
    return std::unexpected(std::move(flushed.error()).context(std::move(failure)));
  return Flushed();
}

Error exec_replacing(const Flushed&, const Command& command, const ProcessChanges& changes) {
  if (command.argv.empty()) return Error("the command resolved to an empty argv");

  std::optional<Fd> input;
  if (changes.stdin_bytes) {
    auto file = unnamed_file_holding(*changes.stdin_bytes, changes.stdin_dir);
    if (!file) return std::move(file.error());
    input = std::move(*file);
  }

  const std::string shown = argv_head_text(command.argv);
  auto failed = [&](Error cause) { return std::move(cause).context("failed to exec `" + shown + "`"); };

  std::vector<std::string> environment = changed_environment(changes.env_removals, changes.env_settings);
  auto holds_nul = [](std::string_view text) { return text.find('\0') != std::string_view::npos; };
  if (std::any_of(command.argv.begin(), command.argv.end(), holds_nul) ||
      std::any_of(environment.begin(), environment.end(), holds_nul) || holds_nul(command.cwd.native())) {
    return failed(Error("nul byte found in provided data"));
  }
  std::vector<char*> argv;
  for (const auto& word : command.argv) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (auto& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  Restore restore;
  if (!command.cwd.empty() && ::chdir(command.cwd.c_str()) != 0) return failed(Error::from_errno(errno));
  if (input && ::dup2(input->get(), 0) < 0) return failed(Error::from_errno(errno));
  // This process ignores SIGPIPE, and an ignored signal stays ignored across an exec.
  ::signal(SIGPIPE, SIG_DFL);
  // execvp searches the PATH of `environ`, which is the new environment from here on.
  environ = envp.data();
  ::execvp(argv[0], argv.data());
  return failed(Error::from_errno(errno));
}

}  // namespace pindrel
