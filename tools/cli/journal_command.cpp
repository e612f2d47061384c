#include "journal_command.h"

#include <quorvex.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <iomanip>
#include <memory>
#include <optional>
#include <sstream>
#include <string_view>

#include "call.h"
#include "cli_os.h"
#include "send_step.h"
#include "sim_resolver.h"
#include "steps.h"
#include "text_codec.h"

namespace qv::cli {

const char *const kJournalUsage = R"(  quorvex journal FILE add --ref REF <send's job options>
  quorvex journal FILE send --server HOST:PORT [--user U --password P] [--max N] [--sim-resolver]
  quorvex journal FILE recover [--server HOST:PORT [--user U --password P]] [--sim-resolver]
  quorvex journal FILE list [--state queued|sending|submitted|refused|failed|unknown]
  quorvex journal FILE resolve ID submitted [JOB-NUMBER] | failed | queued
)";

namespace {

constexpr std::array<std::string_view, 7> kStates = {"",        "queued", "sending", "submitted",
                                                     "refused", "failed", "unknown"};

std::string detail() {
  char text[QV_DETAIL_BUFFER_SIZE] = "";
  GetLastOutcome(nullptr, nullptr, nullptr, nullptr, text, sizeof text);
  return text;
}

int32_t state_named(const std::string &name) {
  for (size_t i = 1; i < kStates.size(); ++i)
    if (kStates[i] == name) return static_cast<int32_t>(i);
  throw StepError("journal: no state \"" + name + "\"");
}

std::string_view state_name(int32_t state) {
  return state > 0 && state < static_cast<int32_t>(kStates.size()) ? kStates[state] : "?";
}

struct JournalCloser {
  void operator()(QvJournal *j) const { QvJournalClose(j); }
};
struct SessionCloser {
  void operator()(QvSession *s) const { QvSessionDestroy(s); }
};
using Journal = std::unique_ptr<QvJournal, JournalCloser>;
using Session = std::unique_ptr<QvSession, SessionCloser>;

// The options after the subcommand, each "--name value" or a flag.
struct Options {
  std::vector<std::string> words;  // what is not an option
  std::optional<std::string> server, user, password, max, state, ref;
  bool sim_resolver = false;
};

Options parse(const std::vector<std::string> &args, size_t from) {
  Options o;
  for (size_t i = from; i < args.size(); ++i) {
    const std::string &a = args[i];
    std::optional<std::string> *slot = a == "--server"     ? &o.server
                                       : a == "--user"     ? &o.user
                                       : a == "--password" ? &o.password
                                       : a == "--max"      ? &o.max
                                       : a == "--state"    ? &o.state
                                                           : nullptr;
    if (a == "--sim-resolver") {
      o.sim_resolver = true;
    } else if (slot) {
      if (i + 1 >= args.size()) throw StepError("journal: " + a + " needs a value");
      *slot = args[++i];
    } else if (!a.empty() && a[0] == '-') {
      throw StepError("journal: unknown option " + a);
    } else {
      o.words.push_back(a);
    }
  }
  return o;
}

// A session logged in to the server the options name; null (and why on
// out) when it could not be.
Session log_in(const Options &o, std::ostream &out) {
  const std::string server = *o.server;
  const size_t colon = server.rfind(':');
  if (colon == std::string::npos) throw StepError("journal: --server is HOST:PORT");
  const std::string host = server.substr(0, colon);
  const std::string digits = server.substr(colon + 1);
  if (digits.empty() || digits.size() > 5 ||
      digits.find_first_not_of("0123456789") != std::string::npos)
    throw StepError("journal: --server is HOST:PORT");
  const int32_t port = std::stoi(digits);
  Session s(QvSessionCreate());
  char msg[QV_BODY_BUFFER_SIZE] = {}, p[3][QV_PARAM_BUFFER_SIZE] = {};
  int32_t code = -1;
  if (!s || !QvTcpConnect(s.get(), msg, host.c_str(), port, 5000, "", "", 0, "", "") ||
      !QvLogin_Request(s.get(), "quorvex", "", o.user.value_or("demo").c_str(),
                       o.password.value_or("demo123").c_str(), "1.0") ||
      !QvLogin_Feedback(s.get(), &code, msg, p[0], p[1], p[2]) || code != QV_CODE_ACCEPTED) {
    out << "not logged in: " << (code > 0 ? quoted_from_gbk(msg) : detail()) << '\n';
    return nullptr;
  }
  return s;
}

int32_t number_of(const std::string &text, const std::string &what) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
    throw StepError("journal: " + what + " is a number, not \"" + text + "\"");
  return std::stoi(text);
}

int32_t count_in(QvJournal *j, int32_t state) { return QvJournalList(j, state, nullptr, 0); }

std::string time_text(int64_t ms) {
  const std::tm utc = utc_time(static_cast<std::time_t>(ms / 1000));
  std::ostringstream text;
  text << std::put_time(&utc, "%Y-%m-%d %H:%M:%S");
  return text.str();
}

// One job's line: its id, state, reference, and what its end brought.
std::string job_line(QvJournal *j, int64_t id) {
  int32_t state = 0, attempts = 0, code = -1;
  char reference[QV_JOURNAL_REFERENCE_BUFFER_SIZE] = "", message[QV_BODY_BUFFER_SIZE] = "",
       number[QV_PARAM_BUFFER_SIZE] = "";
  int64_t changed = 0;
  if (!QvJournalJob(j, id, &state, reference, &attempts, &code, message, number, nullptr, &changed))
    return std::to_string(id) + " (" + detail() + ")";
  std::ostringstream line;
  line << std::setw(6) << id << "  " << std::left << std::setw(10) << state_name(state)
       << std::setw(20) << reference << std::right << std::setw(3) << attempts << std::setw(5)
       << code << "  " << std::left << std::setw(20) << number << time_text(changed);
  if (state == QV_JOURNAL_REFUSED) line << "  " << quoted_from_gbk(message);
  return line.str();
}

int add(QvJournal *j, const std::vector<std::string> &args, std::ostream &out) {
  std::optional<std::string> ref;
  Step step{"send"};
  for (size_t i = 2; i < args.size(); ++i) {
    if (args[i] == "--ref" && i + 1 < args.size())
      ref = args[++i];
    else
      step.push_back(args[i]);
  }
  if (!ref) throw StepError("journal: add needs --ref REF");
  const SendStep job = SendStep::from_step(step);
  const int64_t id = QvJournalAdd(j, job.job(), ref->c_str());
  if (id == 0) {
    out << "not added: " << detail() << '\n';
    return 1;
  }
  out << "added " << *ref << ' ' << id << std::endl;
  return 0;
}

// Sends job after job, a bar on a terminal and a line per job elsewhere.
int send(QvJournal *j, const Options &o, std::ostream &out, bool terminal) {
  if (!o.server) throw StepError("journal: send needs --server HOST:PORT");
  const Session s = log_in(o, out);
  if (!s) return 1;
  if (o.sim_resolver) QvJournalSetResolver(j, simulator_resolver, nullptr);
  const int32_t max = o.max ? number_of(*o.max, "--max") : 0;
  const int32_t queued = count_in(j, QV_JOURNAL_QUEUED);
  const int32_t total = max > 0 && max < queued ? max : queued;
  for (int32_t done = 0; done < total;) {
    std::array<int64_t, 1> next{};
    if (QvJournalList(j, QV_JOURNAL_QUEUED, next.data(), 1) <= 0) break;
    int32_t settled = 0;
    const bool ok = QvJournalSend(s.get(), j, 1, &settled) != 0;
    done += settled;
    if (terminal) {
      constexpr int kWidth = 30;
      const int filled = total ? kWidth * done / total : kWidth;
      out << "\r[" << std::string(filled, '#') << std::string(kWidth - filled, ' ') << "] " << done
          << '/' << total << std::flush;
    } else {
      out << "sent " << job_line(j, next[0]) << std::endl;
    }
    if (!ok) {
      out << (terminal ? "\n" : "") << "stopped: " << detail() << '\n';
      return 1;
    }
  }
  if (terminal) out << '\n';
  out << "queued jobs left: " << count_in(j, QV_JOURNAL_QUEUED) << '\n';
  return 0;
}

int recover(QvJournal *j, const Options &o, std::ostream &out) {
  Session s;
  if (o.server) {
    s = log_in(o, out);
    if (!s) return 1;
  }
  if (o.sim_resolver) QvJournalSetResolver(j, simulator_resolver, nullptr);
  int32_t resolved = 0;
  const bool ok = QvJournalRecover(j, s.get(), &resolved) != 0;
  out << "resolved " << resolved << ", unknown " << count_in(j, QV_JOURNAL_UNKNOWN) << '\n';
  if (!ok) out << "stopped: " << detail() << '\n';
  return ok ? 0 : 1;
}

int list(QvJournal *j, const Options &o, std::ostream &out) {
  const int32_t state = o.state ? state_named(*o.state) : 0;
  std::vector<int64_t> ids(static_cast<size_t>(std::max(count_in(j, state), 0)));
  const int32_t n = QvJournalList(j, state, ids.data(), static_cast<int32_t>(ids.size()));
  if (n < 0) {
    out << "not listed: " << detail() << '\n';
    return 1;
  }
  out << "    id  state     reference           att code  job number          changed (UTC)\n";
  for (size_t i = 0; i < ids.size() && i < static_cast<size_t>(n); ++i)
    out << job_line(j, ids[i]) << '\n';
  return 0;
}

int resolve(QvJournal *j, const Options &o, std::ostream &out) {
  if (o.words.size() < 2 || o.words.size() > 3)
    throw StepError("journal: resolve takes ID STATE [JOB-NUMBER]");
  const int64_t id = number_of(o.words[0], "ID");
  const int32_t state = state_named(o.words[1]);
  const char *number = o.words.size() == 3 ? o.words[2].c_str() : nullptr;
  if (!QvJournalResolve(j, id, state, number)) {
    out << "not resolved: " << detail() << '\n';
    return 1;
  }
  out << job_line(j, id) << '\n';
  return 0;
}

}  // namespace

int run_journal(const std::vector<std::string> &args, std::ostream &out) {
  if (args.size() < 2) throw StepError("journal needs FILE and a subcommand (see quorvex --help)");
  const std::string &what = args[1];
  if (what != "add" && what != "send" && what != "recover" && what != "list" && what != "resolve")
    throw StepError("journal: no subcommand \"" + what + "\"");
  const Options o = what == "add" ? Options{} : parse(args, 2);
  const Journal j(QvJournalOpen(args[0].c_str()));
  if (!j) {
    out << "journal not opened: " << detail() << '\n';
    return 1;
  }
  if (what == "add") return add(j.get(), args, out);
  if (what == "send") return send(j.get(), o, out, stdout_is_terminal());
  if (what == "recover") return recover(j.get(), o, out);
  if (what == "list") return list(j.get(), o, out);
  return resolve(j.get(), o, out);
}

}  // namespace qv::cli
