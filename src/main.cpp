// Start-up, dispatch and the exit status. Every failure reaches `main` as one error
// value and is printed here once, as "pindrel: {:#}" with status 2.
#include "audit/commands.hpp"
#include "changed/command.hpp"
#include "cli/cli.hpp"
#include "command_context.hpp"
#include "exit_outcome.hpp"
#include "guide/guide.hpp"
#include "impact/command.hpp"
#include "logging.hpp"
#include "project/environment.hpp"
#include "project/workspace_root.hpp"
#include "run/command.hpp"
#include "util/error.hpp"
#include "util/output.hpp"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <variant>
#include <vector>

namespace pindrel {
namespace {

namespace fs = std::filesystem;

// Later opens must never land on 0, 1 or 2, and a closed pipe must fail a write with
// EPIPE instead of killing the process.
void prepare_process() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      const int opened = ::open("/dev/null", O_RDWR);
      if (opened >= 0 && opened != fd) {
        ::dup2(opened, fd);
        ::close(opened);
      }
    }
  }
  ::signal(SIGPIPE, SIG_IGN);
}

// The one error line; the exit status that goes with it is 2.
int report_failure(const Error& error) {
  (void)write_all(2, "pindrel: " + error.render() + "\n");
  return 2;
}

Terminal is_terminal(int fd) { return ::isatty(fd) == 1 ? Terminal::yes : Terminal::no; }

template <class... Branches>
struct Visitor : Branches... {
  using Branches::operator()...;
};

// One branch per command: a command without one does not compile.
Result<ExitOutcome> dispatch(const Cli& cli, const CommandContext& context) {
  return std::visit(Visitor{
                        [&](const ChangedSymbolsArgs& args) { return changed::changed_symbols_command(context, args); },
                        [&](const ImpactedTestsArgs& args) { return impact::impacted_tests_command(context, args); },
                        [&](const RunArgs& args) { return run::run_command(context, args); },
                        [&](const AuditArgs& args) { return run_audit(context, args.files); },
                        [&](const DoctorArgs&) { return run_doctor(context); },
                        [&](const GuideArgs& args) {
                          return write_report(context.out, render_guide(choose_guide_topic(args.topic)));
                        },
                    },
                    cli.command);
}

Result<ExitOutcome> run_cli(const Cli& cli, const Environment& env, Output& out) {
  fs::path root;
  if (!std::holds_alternative<GuideArgs>(cli.command)) {
    auto found = find_workspace_root(cli.workspace);
    if (!found) return std::unexpected(std::move(found.error()));
    root = std::move(*found);
  }
  auto outcome = dispatch(cli, CommandContext{root, env, cli.format, out});
  if (!outcome) return outcome;
  if (auto flushed = out.flush(); !flushed) return std::unexpected(std::move(flushed.error()));
  return outcome;
}

}  // namespace
}  // namespace pindrel

int main(int argc, char** argv) {
  using namespace pindrel;
  prepare_process();

  const Environment env = Environment::from_process();
  const std::vector<std::string> args(argv, argv + argc);
  auto parsed = parse_command_line(
      args, CliColors{.out = choose_color(env, is_terminal(1)), .err = choose_color(env, is_terminal(2))});
  if (auto* answered = std::get_if<CliExit>(&parsed)) {
    // Help and version text is the whole answer: one that cannot be written is a failure.
    if (auto written = write_all(1, answered->out); !written) return report_failure(written.error());
    (void)write_all(2, answered->err);
    return answered->status;
  }
  const Cli& cli = std::get<Cli>(parsed);
  init_logging(cli.verbose ? Verbose::yes : Verbose::no, env);

  int status;
  {
    // Released at the end of this scope: after an error, what the command had written
    // still goes out, after the error line.
    Output out(1);
    auto outcome = run_cli(cli, env, out);
    status = outcome ? static_cast<int>(*outcome) : report_failure(outcome.error());
  }
  return status;
}
