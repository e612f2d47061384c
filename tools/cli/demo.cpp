#include "demo.h"

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include "call.h"
#include "cli_os.h"
#include "proxy_option.h"
#include "simulator.h"
#include "steps.h"
#include "text_codec.h"

namespace qv::cli {

// A date `days` from today, "YYYY-MM-DD".
std::string date_in(int days) {
  using namespace std::chrono;
  const year_month_day ymd{floor<std::chrono::days>(system_clock::now()) + std::chrono::days(days)};
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(ymd.year()),
                static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()));
  return text;
}

namespace {

constexpr int32_t kOk = qv::sim::kAccepted;

// Runs steps, compares each outcome with what the tour expects and keeps
// count of the surprises.
class Tour {
 public:
  explicit Tour(std::ostream &out) : out_(out) {}

  void section(std::string_view title) { out_ << "\n== " << title << '\n'; }
  void note(std::string_view text) { out_ << "   (" << text << ")\n"; }

  StepResult expect(const Step &step, int32_t result, std::optional<int32_t> code = {}) {
    try {
      StepResult r = run_step(step, out_);
      // A send step's result and code are the whole job's, not its last call's.
      const std::string what = step.front() == "send" ? "send (the whole job)" : step.front();
      check(what + " returned " + std::to_string(result) +
                (code ? ", code " + std::to_string(*code) : ""),
            r.result == result && (!code || r.code == code));
      return r;
    } catch (const StepError &e) {
      check(std::string("step runs: ") + e.what(), false);
      return {};
    }
  }

  // Checks an output of a step; `wanted` is UTF-8, compared in GBK.
  void output_is(const StepResult &r, const std::string &name, std::string_view wanted) {
    check(name + " = \"" + std::string(wanted) + "\"", output(r, name) == gbk(wanted));
  }
  void output_has(const StepResult &r, const std::string &name, std::string_view part) {
    const std::optional<std::string> value = output(r, name);
    check(name + " contains \"" + std::string(part) + "\"",
          value && value->find(gbk(part)) != std::string::npos);
  }
  void output_lacks(const StepResult &r, const std::string &name, std::string_view part) {
    const std::optional<std::string> value = output(r, name);
    check(name + " lacks \"" + std::string(part) + "\"",
          value && value->find(gbk(part)) == std::string::npos);
  }

  void check(std::string_view what, bool ok) {
    ++checks_;
    if (!ok) ++failures_;
    out_ << (ok ? "    ok: " : "    UNEXPECTED, wanted: ") << what << '\n';
  }

  int finish() {
    out_ << '\n'
         << (failures_ == 0 ? "demo passed: " : "demo FAILED: ") << checks_ - failures_ << " of "
         << checks_ << " checks as expected\n";
    return failures_ == 0 ? 0 : 1;
  }

  static std::string gbk(std::string_view utf8) {
    return utf8_to_gbk(utf8).value_or("\x01(not GBK)");
  }

 private:
  static std::optional<std::string> output(const StepResult &r, const std::string &name) {
    const auto it = r.outputs.find(name);
    if (it == r.outputs.end()) return std::nullopt;
    return it->second;
  }

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
  const StepResult r = tour.expect({"Login_Feedback"}, 1, kOk);
  tour.output_is(r, "Param1", "10001");

  tour.section("Keep the connection alive");
  tour.expect({"Heartbeat"}, 1);
}

void tour_reference_queries(Tour &tour) {
  tour.section("The reference queries");
  tour.expect({"MsgStates"}, 1, kOk);
  tour.expect({"InfoType"}, 1, kOk);
  tour.expect({"MobileNum"}, 1, kOk);
  tour.output_is(tour.expect({"MMSMaxSize", "彩信", "KB"}, 1, kOk), "ParamOut", "KB");
  tour.output_is(tour.expect({"MMSMaxSize", "彩信", "B"}, 1, kOk), "Message", "102400");
  tour.expect({"NumRule"}, 1, kOk);
  tour.expect({"GetUdInfo"}, 1, kOk);
}

void tour_account_queries(Tour &tour) {
  tour.section("The client, its products, notices and scheduled orders");
  tour.output_has(tour.expect({"ClientInfo"}, 1, kOk), "Message", "企业:演示企业");
  tour.output_is(tour.expect({"AllProductId"}, 1, kOk), "Message", "1001;1002;2001;3001;1009");
  tour.output_is(tour.expect({"CltProductId"}, 1, kOk), "Message", "1001;1002;2001;3001");
  tour.expect({"CltAllPrdIdName"}, 1, kOk);
  tour.output_has(tour.expect({"CltAllMmsInfo"}, 1, kOk), "Message", "2001,");
  tour.expect({"CltAllIdNameType"}, 1, kOk);
  tour.output_has(tour.expect({"ProductInfo", "1002"}, 1, kOk), "Message", "字数上限:350");
  tour.expect({"ProductInfo", "9999"}, 1, qv::sim::kNotFound);
  tour.output_is(tour.expect({"GetProductLen"}, 1, kOk), "Message", "70");
  tour.expect({"GetMessage"}, 1, kOk);
  const StepResult valid = tour.expect({"PQOrderList", "", "1"}, 1, kOk);
  tour.output_has(valid, "Message", "PQ001");
  tour.output_lacks(valid, "Message", "PQ002");
  tour.expect({"PQOrderInfoByID", "PQ003"}, 1, kOk);
  tour.expect({"PQGetAbilityURL"}, 1, kOk);

  tour.section("Content checks and the account's parameters");
  tour.output_is(tour.expect({"GetSJKHDParams"}, 1, kOk), "Param1", "SJ10001");
  tour.output_is(tour.expect({"GetSJKHDBid"}, 1, kOk), "Message", "BID10001");
  tour.expect({"ClientGuiControl"}, 1, kOk);
  // "会议改到三点" (6 characters) with the signature "【演示企业】" (6 more).
  tour.output_is(tour.expect({"ContentPreview", "1001", "会议改到三点"}, 1, kOk), "Number", "12");
  tour.output_is(tour.expect({"CheckSMSContent", "会议改到三点", "1001", "0", "0"}, 1, kOk),
                 "Message", "通过,6");
  tour.output_has(
      tour.expect({"CheckSMSContent", "代开发票", "1001", "0", "1"}, 1, qv::sim::kContentRefused),
      "Message", "关键字:发票");
}

// Returns the job number of the accepted job.
std::string tour_send_job(Tour &tour) {
  tour.section("An overall submit without SubmitAllClear: no job is open (412)");
  const StepResult early = tour.expect({"SubmitAllOver_2"}, 1, qv::sim::kJobIncomplete);
  tour.output_is(early, "Number1", "0");

  tour.section(
      "A full send job by the library's sender: every field, the evidence, the overall submit");
  const StepResult job = tour.expect(
      {"send", "--product", "1001", "--to", "13800000000,13900000001,13600000004", "--content",
       "明天上午九点开会", "--check", "--begin-date", date_in(1), "--end-date", date_in(7),
       "--begin-time", "08:00", "--end-time", "20:00", "--sim-resolver"},
      1, kOk);
  tour.output_is(job, "Status", "submitted");
  tour.output_is(job, "PackagesBefore", "");  // the evidence: no job sent before
  tour.output_is(job, "Attempts", "1");
  tour.output_is(job, "Recipients", "3");
  tour.output_is(job, "Charged", "3");
  tour.output_is(job, "Left", "9997");
  const std::string number = job.outputs.count("JobNumber") ? job.outputs.at("JobNumber") : "";

  tour.section("A job with a malformed number: the list is refused (400), nothing submitted");
  const StepResult bad =
      tour.expect({"send", "--product", "1001", "--to", "13800000000,1380000", "--content", "测试"},
                  0, qv::sim::kBadRequest);
  tour.output_is(bad, "Status", "refused");
  tour.output_is(bad, "Step", "202");
  tour.output_has(bad, "Message", "手机号码格式错误");

  tour.section("A job whose content holds a forbidden keyword: its submit is refused (406)");
  tour.output_is(
      tour.expect({"send", "--product", "1001", "--to", "13800000000", "--content", "低价代开发票"},
                  0, qv::sim::kContentRefused),
      "Status", "refused");

  tour.section("The information packages: the send report of the job");
  tour.output_has(tour.expect({"AllInfoPackId"}, 1, kOk), "Message", number);
  tour.output_has(tour.expect({"InfoPackStatus", number}, 1, kOk), "Message", "成功:2;失败:1");
  tour.output_has(tour.expect({"InfoPackStatusEx", number}, 1, kOk), "Message", "13600000004,3,");
  tour.expect({"InfoPackStatus", "1"}, 1, qv::sim::kNotFound);
  tour.output_has(tour.expect({"LastDetails", "139", "5"}, 1, kOk), "Message", "13900000001,2");
  tour.expect({"LastDetails", "", "50"}, 1, qv::sim::kBadRequest);
  const StepResult part = tour.expect({"Transfer"}, 1, kOk);
  tour.output_is(part, "Number1", "1");
  tour.output_is(part, "Number2", "1");
  return number;
}

void tour_scheduled_job(Tour &tour) {
  const std::string period = date_in(1) + "~" + date_in(7) + " 09:00-11:00,14:00-16:00";
  tour.section("A scheduled job on order PQ001: drawn from the order's quantity");
  const StepResult job =
      tour.expect({"send", "--product", "1001", "--to", "13800000000,13100000000", "--content",
                   "周五下午三点部门例会", "--orders", "PQ001", "--period", period},
                  1, kOk);
  tour.output_is(job, "Left", "1998");
  const std::string number = job.outputs.count("JobNumber") ? job.outputs.at("JobNumber") : "?";
  tour.output_has(tour.expect({"PQOrderInfoByID", "PQ001"}, 1, kOk), "Message",
                  "任务列表:" + number);
  tour.output_has(tour.expect({"InfoPackStatus", number}, 1, kOk), "Message", "等待:2");

  tour.section("A scheduled job on the expired order PQ002: the selection is refused (400)");
  tour.output_is(tour.expect({"send", "--product", "1002", "--to", "13800000000", "--content",
                              "通知", "--orders", "PQ002", "--period", period},
                             0, qv::sim::kBadRequest),
                 "Step", "2200");
}

void tour_sub_accounts(Tour &tour) {
  tour.section("Sub-accounts: create, list, disable and enable");
  tour.expect({"AddSubUser", "zhangsan", "pass1234", "张三", "13900001111"}, 1, kOk);
  tour.expect({"AddSubUser", "zhangsan", "pass1234", "张三", ""}, 1, qv::sim::kAlreadyExists);
  tour.output_is(tour.expect({"AddSubUserEx", "lisi", "pass5678", "李四", ""}, 1, kOk), "Message",
                 "10001-02");
  tour.expect({"AddSubAccount", "wangwu", "pass9012", "王五", ""}, 1, kOk);
  tour.expect({"AddSubUser", "x", "pass1234", "", ""}, 1, qv::sim::kBadRequest);
  tour.output_has(tour.expect({"FindAllSubs"}, 1, kOk), "Message", "lisi,10001-02,user,1,");
  tour.expect({"DisableSubUser", "lisi", "0"}, 1, kOk);
  const StepResult counted = tour.expect({"FindAllSubsEx"}, 1, kOk);
  tour.output_is(counted, "Number1", "3");
  tour.output_is(counted, "Number2", "2");
  tour.output_is(counted, "Number3", "1");
  tour.output_has(tour.expect({"FindSubInfo", "lisi"}, 1, kOk), "Message", "状态:禁用");
  tour.expect({"DisableSubUser", "lisi", "1"}, 1, kOk);
  tour.expect({"FindSubInfo", "nobody"}, 1, qv::sim::kNotFound);

  tour.section("Sub-accounts: purchased quantities, password, access numbers");
  tour.output_has(tour.expect({"IncreaseSubBuy", "zhangsan", "DD001", "100"}, 1, kOk), "Message",
                  "父帐号剩余:4900;子帐号数量:100");
  tour.expect({"IncreaseSubBuy", "zhangsan", "DD001", "999999"}, 1, qv::sim::kShortOfQuantity);
  tour.output_is(tour.expect({"FindSubAllOrders", "zhangsan"}, 1, kOk), "Message",
                 "DD001,1001,100");
  tour.output_has(tour.expect({"FindSubOrderInfo", "zhangsan", "DD001"}, 1, kOk), "Message",
                  "数量:100");
  tour.output_has(tour.expect({"ReduceSubBuy", "zhangsan", "DD001", "40"}, 1, kOk), "Message",
                  "子帐号数量:60");
  tour.expect({"EditSubPWD", "zhangsan", "wrong", "newpass99", "newpass99"}, 1,
              qv::sim::kWrongPassword);
  tour.expect({"EditSubPWD", "zhangsan", "pass1234", "newpass99", "newpass99"}, 1, kOk);
  const StepResult added = tour.expect({"AddSubGwNumEx", "zhangsan,01"}, 1, kOk);
  tour.output_is(added, "Param1Out", "106571234501");
  tour.output_is(added, "Param2Out", "1");
  tour.expect({"AddSubGwNumEx", "lisi,01"}, 1, qv::sim::kAlreadyExists);
  tour.output_has(tour.expect({"FindSubInfoEx", "zhangsan"}, 1, kOk), "Message",
                  "接入号码:106571234501");
  tour.output_is(tour.expect({"DelSubGwNum", "zhangsan,01"}, 1, kOk), "Param1Out", "0");
  const StepResult managers = tour.expect({"FindAllEmplyee"}, 1, kOk);
  tour.output_is(managers, "Number1", "3");
  tour.output_is(managers, "Number2", "3");
}

void tour_password_change(Tour &tour, qv::sim::Simulator &sim) {
  tour.section("A password change: checked locally first, then the next login must use it");
  tour.expect({"EditPassword", "demo456", "demo457"}, 0, -1);
  tour.expect({"EditPassword", "demo456", "demo456"}, 1, kOk);
  const std::size_t logins = sim.logins_accepted();
  tour.expect({"ReLogin"}, 1);
  tour.check("the relogin used the new password (server logins " + std::to_string(logins) + " -> " +
                 std::to_string(sim.logins_accepted()) + ")",
             sim.logins_accepted() == logins + 1);
  tour.expect({"Login_Request", "QuorvexDemo", "cli", "demo", "demo123", "1.0"}, 1);
  tour.expect({"Login_Feedback"}, 1, qv::sim::kWrongPassword);
  tour.expect({"Login_Request", "QuorvexDemo", "cli", "demo", "demo456", "1.0"}, 1);
  tour.expect({"Login_Feedback"}, 1, kOk);
  tour.section("And back to the demo password");
  tour.expect({"EditPassword", "demo123", "demo123"}, 1, kOk);
  tour.output_has(tour.expect({"GetMessage"}, 1, kOk), "Message", "帐号密码已修改");
}

void tour_check_tels(Tour &tour) {
  tour.section("CheckTels: numbers classified locally against a carrier list");
  const std::string carriers = "134,移动;139,移动;130,联通;;186,联通;";
  const auto classify = [&](const std::string &number, int32_t wanted) {
    tour.expect({"CheckTels", number, carriers}, wanted);
  };
  classify("13912345678", 1);
  classify("13012345678", 2);
  classify("01088886666", 3);
  classify("13312345678", 0);
  classify("1391234567x", 0);
}

void tour_relogin(Tour &tour, qv::sim::Simulator &sim) {
  tour.section(
      "The server drops the connection: the next call fails and the library logs in again");
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
  tour.expect({"GetUdInfo"}, 1, kOk);
}

// The first value of a key in section DllSet of the settings file beside
// this binary, read here independently of the library; nullopt when there
// is no such file.
std::optional<std::string> settings_file_value(const std::filesystem::path &file,
                                               std::string_view key) {
  std::ifstream in(file);
  if (!in) return std::nullopt;
  std::string line;
  bool in_section = false;
  const auto trim = [](std::string t) {
    const std::size_t b = t.find_first_not_of(" \t\r"), e = t.find_last_not_of(" \t\r");
    return b == std::string::npos ? std::string() : t.substr(b, e - b + 1);
  };
  while (std::getline(in, line)) {
    line = trim(line);
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      in_section = line == "[DllSet]";
      continue;
    }
    const std::size_t eq = line.find('=');
    if (!in_section || eq == std::string::npos || trim(line.substr(0, eq)) != key) continue;
    std::string value = trim(line.substr(eq + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    return value;
  }
  return std::string();
}

void tour_settings_and_web_request(Tour &tour, const std::string &port) {
  tour.section(
      "The settings file beside this binary, and a timed request to the simulator's status page");
  std::error_code error;
  const std::filesystem::path bin = program_folder();
  const std::filesystem::path file = bin / "Quorvex.ini";
  const std::optional<std::string> dx = settings_file_value(file, "dx");
  const std::optional<std::string> wt = settings_file_value(file, "wt");
  if (dx) {
    tour.note("reading " + file.string());
  } else {
    tour.note("no " + file.string() + ": every value reads as the empty text");
    // An installed tree keeps the example under share/, not beside the binary.
    const std::filesystem::path example = bin.parent_path() / "share" / "quorvex" / "Quorvex.ini";
    if (std::filesystem::exists(example, error))
      tour.note("an example to copy beside a host: " + example.string());
  }
  tour.output_is(tour.expect({"ReadIniFile", "电信"}, 1), "Value", dx.value_or(""));
  tour.output_is(tour.expect({"fxReadIniFile", "WT"}, 1), "Value", wt.value_or(""));
  tour.output_is(tour.expect({"ReadIniFile", "no-such-key"}, 1), "Value", "");

  const StepResult web = tour.expect({"WebRequest", "http://127.0.0.1:" + port + "/status"}, 1);
  tour.output_has(web, "Response", "quorvex-sim on 127.0.0.1:" + port);
  tour.expect({"fxWebRequest", "https://127.0.0.1:" + port + "/status"}, 0);
  tour.note("https fails: the library carries no TLS");
}

void expect_fx_query(Tour &tour, std::string_view pair, std::string_view wanted) {
  const StepResult req = tour.expect({std::string(pair) + "_Req"}, 1);
  tour.output_is(req, "ReplyCode", "20900");
  tour.output_has(tour.expect({std::string(pair) + "_Resp"}, 1), "Message", wanted);
}

void tour_xml(Tour &tour, qv::sim::Simulator &sim, const std::string &port) {
  tour.section("The XML protocol on a new connection: login and the four queries");
  tour.expect({"TcpDisconnect"}, 1);
  tour.expect({"fxTcpConnect", "127.0.0.1", port, "5000"}, 1);
  tour.output_is(tour.expect({"fxLogin_Req", "QuorvexDemo", "", "demo", "wrong", "1.0"}, 1),
                 "ReplyCode", "20401");
  tour.output_is(tour.expect({"fxLogin_Resp"}, 1), "Message", "密码错误,登录失败!");
  tour.output_is(tour.expect({"fxLogin_Req", "QuorvexDemo", "", "demo", "demo123", "1.0"}, 1),
                 "ReplyCode", "20900");
  const StepResult login = tour.expect({"fxLogin_Resp"}, 1);
  tour.output_is(login, "Agent", "10001");
  tour.output_is(login, "Agreement", "2");
  tour.output_is(login, "Pud", "1065712345");
  expect_fx_query(tour, "fxMsgStates", "2:发送成功");
  expect_fx_query(tour, "fxInfoType", "5:企业通知");
  expect_fx_query(tour, "fxNumRule", "联通:^1");
  expect_fx_query(tour, "fxNotify", "帐号密码已修改");

  tour.section("The server drops the XML connection: the query fails and fxReLogin logs in again");
  const std::size_t logins = sim.logins_accepted();
  sim.drop_all_connections();
  tour.expect({"fxMsgStates_Req"}, 0);
  tour.check("the library logged in again over XML (server logins " + std::to_string(logins) +
                 " -> " + std::to_string(sim.logins_accepted()) + ")",
             sim.logins_accepted() == logins + 1);
  expect_fx_query(tour, "fxMsgStates", "0:");
}

}  // namespace

int run_demo(std::ostream &out) {
  qv::sim::Simulator sim;
  const std::string port = std::to_string(sim.start(0));
  Tour tour(out);
  out << "Quorvex demo: the library against the simulator on 127.0.0.1:" << port << '\n';
  if (const ProxyOption *proxy = run_proxy())
    out << "every connect goes through the " << describe(*proxy) << '\n';

  tour.section("Start the library and connect (connect time-out 5 s, read time-out 5 s)");
  tour.expect({"dllInitialize"}, 1);
  tour.expect({"TcpConnect", "127.0.0.1", port, "5000"}, 1);
  tour.expect({"SetReadTimeout", "5000"}, 1);

  tour_login(tour);
  tour_reference_queries(tour);
  tour_account_queries(tour);
  tour_send_job(tour);
  tour_scheduled_job(tour);
  tour_sub_accounts(tour);
  tour_password_change(tour, sim);
  tour_check_tels(tour);
  tour_settings_and_web_request(tour, port);
  tour_relogin(tour, sim);
  tour_xml(tour, sim, port);

  tour.section("Disconnect and release");
  tour.expect({"fxTcpDisconnect"}, 1);
  tour.expect({"dllUnInitialize"}, 1);
  return tour.finish();
}

}  // namespace qv::cli
