#include "demo.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "call.h"
#include "simulator.h"
#include "steps.h"

namespace qv::cli {

namespace {

// Runs steps, compares each outcome with what the tour expects and keeps
// count of the surprises.
class Tour {
 public:
  explicit Tour(std::ostream &out) : out_(out) {}

  void section(std::string_view title) { out_ << "\n== " << title << '\n'; }
  void note(std::string_view text) { out_ << "   (" << text << ")\n"; }

  void expect(const Step &step, int32_t result, std::optional<int32_t> code = {}) {
    try {
      const StepResult r = run_step(step, out_);
      check("result " + std::to_string(result) + (code ? ", code " + std::to_string(*code) : ""),
            r.result == result && (!code || r.code == code));
    } catch (const StepError &e) {
      check(std::string("step runs: ") + e.what(), false);
    }
  }

  void check(std::string_view what, bool ok) {
    ++checks_;
    if (!ok) ++failures_;
    out_ << (ok ? "    ok: " : "    UNEXPECTED, wanted: ") << what << '\n';
  }

  int finish() {
    out_ << '\n' << (failures_ == 0 ? "demo passed: " : "demo FAILED: ") << checks_ - failures_
         << " of " << checks_ << " checks as expected\n";
    return failures_ == 0 ? 0 : 1;
  }

 private:
  std::ostream &out_;
  int checks_ = 0;
  int failures_ = 0;
};

void tour_login(Tour &tour) {
  tour.section("A wrong password: the request is written, the server refuses it with 401");
  tour.expect({"Login_Request", "QuorvexDemo", "cli", "demo", "wrong", "1.0"}, 1);
  tour.expect({"Login_Feedback"}, 1, qv::sim::kWrongPassword);

  tour.section("Log in with the demo account (demo / demo123)");
  tour.expect({"Login_Request", "QuorvexDemo", "cli", "demo", "demo123", "1.0"}, 1);
  tour.expect({"Login_Feedback"}, 1, qv::sim::kAccepted);

  tour.section("Keep the connection alive");
  tour.expect({"Heartbeat"}, 1);
}

void tour_queries(Tour &tour) {
  tour.section("The reference queries");
  const int32_t ok = qv::sim::kAccepted;
  tour.expect({"MsgStates"}, 1, ok);
  tour.expect({"InfoType"}, 1, ok);
  tour.expect({"MobileNum"}, 1, ok);
  tour.expect({"MMSMaxSize", "彩信", "KB"}, 1, ok);
  tour.expect({"MMSMaxSize", "彩信", "B"}, 1, ok);
  tour.expect({"NumRule"}, 1, ok);
  tour.expect({"GetUdInfo"}, 1, ok);
}

void tour_relogin(Tour &tour, qv::sim::Simulator &sim) {
  tour.section("The server drops the connection: the next call fails and the library logs in again");
  const std::size_t logins = sim.logins_accepted();
  const std::size_t connections = sim.connections_accepted();
  sim.drop_all_connections();
  tour.note("the simulator closed every connection");
  tour.expect({"Heartbeat"}, 0);
  tour.check("the library reconnected (server connections " + std::to_string(connections) + " -> " +
                 std::to_string(sim.connections_accepted()) + ")",
             sim.connections_accepted() == connections + 1);
  tour.check("the library logged in again (server logins " + std::to_string(logins) + " -> " +
                 std::to_string(sim.logins_accepted()) + ")",
             sim.logins_accepted() == logins + 1);
  tour.expect({"GetUdInfo"}, 1, qv::sim::kAccepted);
}

}  // namespace

int run_demo(std::ostream &out) {
  qv::sim::Simulator sim;
  const std::string port = std::to_string(sim.start(0));
  Tour tour(out);
  out << "Quorvex demo: the library against the simulator on 127.0.0.1:" << port << '\n';

  tour.section("Start the library and connect (connect time-out 5 s, read time-out 5 s)");
  tour.expect({"dllInitialize"}, 1);
  tour.expect({"TcpConnect", "127.0.0.1", port, "5000", "", "", "0", "", ""}, 1);
  tour.expect({"SetReadTimeout", "5000"}, 1);

  tour_login(tour);
  tour_queries(tour);
  tour_relogin(tour, sim);

  tour.section("Disconnect and release");
  tour.expect({"TcpDisconnect"}, 1);
  tour.expect({"dllUnInitialize"}, 1);
  return tour.finish();
}

}  // namespace qv::cli
