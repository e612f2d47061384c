// quorvex-sim: runs the Simulator until asked to stop (SIGINT or SIGTERM;
// Ctrl+C on a Windows console).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

#include "cli_os.h"
#include "sim_os.h"
#include "simulator.h"
#include "text_codec.h"

namespace {

constexpr const char *kUsage =
    "usage: quorvex-sim [--port N] [--accounts N] [--drop-after N] [--delay MS]\n"
    "                   [--idle-timeout S] [--max-per-peer N] [--ledger FILE]\n"
    "                   [--log | --quiet] | --version\n"
    "  --port N        listen on 127.0.0.1:N (default 9000; 0 picks a free port)\n"
    "  --accounts N    demo (password demo123, id 10001) and N - 1 more: demo2 (id 10002), ...\n"
    "  --drop-after N  close each connection after answering N requests\n"
    "  --delay MS      wait MS milliseconds before every answer\n"
    "  --idle-timeout S  close a connection that sends nothing for S seconds (default 300;\n"
    "                  0: never)\n"
    "  --max-per-peer N  close at once a connection from an address that holds N already\n"
    "                  (default 256; 0: no cap)\n"
    "  --log           log every request and answer with their texts (passwords as \"***\")\n"
    "  --ledger FILE   append \"JOB FIRST-NUMBER\" to FILE for each send job applied\n"
    "  --quiet         do not log the requests answered\n"
    "The first line on stdout is \"quorvex-sim listening on 127.0.0.1:PORT\".\n";

[[noreturn]] void usage_error(const std::string &why) {
  std::cerr << "quorvex-sim: " << why << "\n" << kUsage;
  std::exit(2);
}

long number_argument(int argc, char **argv, int &i, long max) {
  if (i + 1 >= argc) usage_error(std::string(argv[i]) + " needs a value");
  const std::string text = argv[++i];
  char *end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < 0 || value > max)
    usage_error("bad value for " + std::string(argv[i - 1]) + ": " + text);
  return value;
}

}  // namespace

int main(int argc, char **argv) {
  qv::sim::Options options;
  long port = 9000;
  bool quiet = false;
  std::string ledger_path;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--port")
      port = number_argument(argc, argv, i, 65535);
    else if (arg == "--accounts") {
      const long count = number_argument(argc, argv, i, 100000);
      if (count < 1) usage_error("--accounts needs at least 1");
      options.accounts = qv::sim::demo_accounts(static_cast<std::size_t>(count));
    } else if (arg == "--drop-after")
      options.drop_after = number_argument(argc, argv, i, 1L << 30);
    else if (arg == "--delay")
      options.delay = std::chrono::milliseconds(number_argument(argc, argv, i, 1L << 30));
    else if (arg == "--idle-timeout")
      options.idle_timeout = std::chrono::seconds(number_argument(argc, argv, i, 86400));
    else if (arg == "--max-per-peer")
      options.max_per_peer = static_cast<std::size_t>(number_argument(argc, argv, i, 1L << 20));
    else if (arg == "--quiet")
      quiet = true;
    else if (arg == "--log")
      options.log_contents = true;
    else if (arg == "--ledger" && i + 1 < argc)
      ledger_path = argv[++i];
    else if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (arg == "--version") {
      std::cout << "quorvex-sim " << QUORVEX_VERSION << "\n";
      return 0;
    } else
      usage_error("unknown option " + std::string(arg));
  }
  if (quiet && options.log_contents) usage_error("--log and --quiet exclude each other");
  if (!quiet) options.log = [](std::string_view line) { std::cout << line << std::endl; };
  options.show_text = [](std::string_view gbk) { return qv::cli::quoted_from_gbk(gbk); };
  // One line per job applied, flushed at once: the account a test checks a
  // client's own records against.
  std::ofstream ledger;
  if (!ledger_path.empty()) {
    ledger.open(ledger_path, std::ios::app);
    if (!ledger) usage_error("cannot open the ledger " + ledger_path);
    options.applied = [&ledger](std::string_view job, std::string_view first) {
      ledger << job << ' ' << first << std::endl;
    };
  }

  qv::cli::show_utf8_on_console();
  qv::sim::os::stop_on_request();  // before any thread starts

  try {
    qv::sim::Simulator sim(std::move(options));
    const uint16_t bound = sim.start(static_cast<uint16_t>(port));
    std::cout << "quorvex-sim listening on 127.0.0.1:" << bound << std::endl;
    qv::sim::os::wait_for_stop_request();
    sim.stop();
  } catch (const std::exception &e) {
    std::cerr << "quorvex-sim: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
