// quorvex: the command-line host of the Quorvex library.
#include <exception>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "call.h"
#include "cli_os.h"
#include "demo.h"
#include "journal_command.h"
#include "load.h"
#include "proxy_option.h"
#include "steps.h"

namespace {

constexpr std::string_view kUsage = R"(usage:
  quorvex [OPTIONS] call STEP [-- STEP]...   call exports, one step after another
  quorvex [OPTIONS] run FILE                 call the steps of a script (FILE "-": stdin)
  quorvex [OPTIONS] demo                     tour the library against an embedded simulator
  quorvex [OPTIONS] load [--sessions N] [--seconds S] [--job] [--async] [--delay MS]
                         [--drop-after N]    load an embedded simulator from N sessions
  quorvex journal FILE add|send|recover|list|resolve ...
                                             a send-job journal (see below)
  quorvex --help                                 this text
  quorvex --version                              the version of the host and the library

OPTIONS:
--proxy socks4://host:port | socks5://[user:pass@]host:port | http://host:port
  connects every TcpConnect and fxTcpConnect step that gives no ProxyKind
  (and every connect of the demo) through that proxy.
--trace FILE, --trace-hex FILE
  writes the library's protocol trace to FILE ("-": standard error), with a
  hex dump of every byte for --trace-hex; passwords are shown as "***".

A step is an export's name followed by its inputs, e.g.
  quorvex call dllInitialize -- TcpConnect 127.0.0.1 9000 5000 "" "" 0 "" "" \
      -- Login_Request app extra demo demo123 1.0 -- Login_Feedback -- MsgStates
Inputs are given in argument order; missing trailing inputs are empty texts
or 0.  Texts are UTF-8 here and GBK for the library; outputs are shown as
UTF-8 literals with invalid GBK bytes as \xNN.  The CLI supplies every
output buffer (2049 bytes for a message, 21 for a Param).

A script has one step per line, words separated by blanks; "..." allows
the escapes \" \\ \n \r \t, '...' is literal, and # starts a comment.

load runs N sessions (default 1) on N threads for S seconds (default 5),
each logged in with an account of its own, doing heartbeats, or whole send
jobs with --job, against an embedded simulator that answers after MS
milliseconds (default 0) and, with --drop-after, closes each connection
after N answers.  With --async one thread drives them all through one
queue of operations, one in flight per session.  It prints a line per
second and a summary: the rate, the median and 99th-percentile latency,
and the failures by outcome.

A _Resp step of the XML protocol given no ReplyCode and ReplyLength takes
those that the last matching _Req step printed.

The send step hands a whole send job to the library (QvSendJob), which
makes the calls and follows the recovery rules:
  send --product ID --to N,N,... [--to-file PATH] --content TEXT [--check]
       [--url URL] [--begin-date YYYY-MM-DD] [--end-date YYYY-MM-DD]
       [--begin-time HH:MM[:SS]] [--end-time HH:MM[:SS]] [--attach PATH]
       [--orders ID[,ID[,ID]]] [--period "YYYY-MM-DD~YYYY-MM-DD HH:MM-HH:MM"]
       [--attempts N] [--evidence] [--sim-resolver]
--orders or --period make it a scheduled job.  --evidence takes the
evidence around the submit; --sim-resolver also lets the simulator's
resolver settle a "maybe submitted" (for the simulator only).

The journal command keeps send jobs in a journal file, which survives a
crash or a loss of power: add stores a job (the same --ref twice: once),
send sends the queued ones in the order added, recover looks up the jobs a
crash left unknown (never sending them again), list shows them, and
resolve settles a job by hand:
)"
                                    "%JOURNAL%"
                                    R"(
Exit status: 0 when every call returned non-zero and every send job was
accepted, 1 otherwise, 2 when a step cannot run (unknown export, bad
number, text not in GBK, bad send option).

Exports and their inputs:
)";

void print_usage(std::ostream &out) {
  // The journal's usage lines have their home beside its command.
  const size_t at = kUsage.find("%JOURNAL%");
  out << kUsage.substr(0, at) << qv::cli::kJournalUsage << kUsage.substr(at + 9);
  for (const qv::cli::ExportRow &row : qv::cli::export_table()) {
    out << "  " << row.name;
    for (const qv::cli::Input &input : row.inputs)
      out << ' ' << input.name << (input.kind == qv::cli::InputKind::Number ? "#" : "");
    out << '\n';
  }
  out << "  send --product ... (see above)\n";
  out << "(# marks an int32 input)\n";
}

// What is wrong with a command line that matches no usage, in one line.
std::string usage_mistake(const std::vector<std::string> &args) {
  constexpr std::string_view kHint = " (see quorvex --help)";
  if (args.empty()) return "no command: give call, run, demo or load" + std::string(kHint);
  const std::string &command = args[0];
  if (command == "call")
    return "call needs at least one step, e.g. quorvex call dllInitialize" + std::string(kHint);
  if (command == "run") return "run takes one FILE (\"-\" for stdin)" + std::string(kHint);
  if (command == "demo" || command == "--version")
    return command + " takes nothing after it" + std::string(kHint);
  if (command == "--proxy") return "--proxy needs a URL and then a command" + std::string(kHint);
  if (command == "--trace" || command == "--trace-hex")
    return command + " needs a FILE and then a command" + std::string(kHint);
  if (!command.empty() && command[0] == '-')
    return "unknown option " + command + std::string(kHint);
  if (qv::cli::find_export(command))
    return "\"" + command + "\" is an export: call it as a step, quorvex call " + command + " ..." +
           std::string(kHint);
  return "unknown command \"" + command + "\": give call, run, demo or load" + std::string(kHint);
}

int run_script(const std::string &path) {
  if (path == "-")
    return qv::cli::run_steps(qv::cli::steps_from_script(std::cin, "stdin"), std::cout);
  std::ifstream file(path);
  if (!file) throw qv::cli::StepError("cannot open " + path);
  return qv::cli::run_steps(qv::cli::steps_from_script(file, path), std::cout);
}

int dispatch(std::vector<std::string> args) {
  // The options before the command, in any order.
  while (args.size() >= 2 &&
         (args[0] == "--proxy" || args[0] == "--trace" || args[0] == "--trace-hex")) {
    if (args[0] == "--proxy") {
      qv::cli::set_run_proxy(qv::cli::parse_proxy(args[1]));
    } else if (!TraceStart(args[1].c_str(), args[0] == "--trace-hex" ? QV_TRACE_HEX : 0)) {
      throw qv::cli::StepError("cannot write the trace to " + args[1]);
    }
    args.erase(args.begin(), args.begin() + 2);
  }
  const std::string_view command = args.empty() ? std::string_view() : std::string_view(args[0]);
  if (command == "--help" || command == "-h" || command == "help") {
    print_usage(std::cout);
    return 0;
  }
  if (command == "--version" && args.size() == 1) {
    std::cout << "quorvex " << QUORVEX_VERSION << "\n";
    return 0;
  }
  if (command == "demo" && args.size() == 1) return qv::cli::run_demo(std::cout);
  if (command == "load")
    return qv::cli::run_load(qv::cli::parse_load_options({args.begin() + 1, args.end()}),
                             std::cout);
  if (command == "journal") return qv::cli::run_journal({args.begin() + 1, args.end()}, std::cout);
  if (command == "run" && args.size() == 2) return run_script(args[1]);
  if (command == "call" && args.size() > 1)
    return qv::cli::run_steps(qv::cli::steps_from_words({args.begin() + 1, args.end()}), std::cout);
  throw qv::cli::StepError(usage_mistake(args));
}

}  // namespace

int main(int argc, char **argv) {
  qv::cli::show_utf8_on_console();
  try {
    return dispatch(qv::cli::utf8_arguments(argc, argv));
  } catch (const qv::cli::StepError &e) {
    std::cout.flush();
    std::cerr << "quorvex: " << e.what() << '\n';
    return 2;
  } catch (const std::exception &e) {
    std::cout.flush();
    std::cerr << "quorvex: " << e.what() << '\n';
    return 2;
  }
}
