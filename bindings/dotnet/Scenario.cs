// A host's session through the assembly, against the simulator:
//   mono scenario.exe PORT DROP_PORT
// PORT serves normally; DROP_PORT closes each connection after two answers.
using System;
using Quorvex;
using static Quorvex.Native;

static class Scenario
{
    static int failures;

    static void Check(bool ok, string what, Reply reply = null)
    {
        Console.WriteLine((ok ? "ok   " : "FAIL ") + what + (ok || reply == null ? "" : " (" + reply + ")"));
        if (!ok) failures++;
    }

    static void Accepted(Reply reply, string what) => Check(reply.Accepted, what, reply);

    static void ConnectAndLogin(int port)
    {
        var connect = Client.TcpConnect("127.0.0.1", port, 5000, "", "", 0, "", "");
        Check(connect.Ok && connect.Message == "TCP连接成功", "TcpConnect " + port, connect);
        Check(Client.Login_Request("dotnet", "", "demo", "demo123", "1.0"), "Login_Request");
        var login = Client.Login_Feedback();
        Accepted(login, "Login_Feedback");
        Check(login.Params.Length == 3 && login.Params[0] == "10001", "account id in Param1", login);
    }

    static void SendJob()
    {
        Accepted(Client.SubmitAllClear(), "SubmitAllClear");
        Accepted(Client.SubmitPrdId("1001"), "SubmitPrdId");
        Accepted(Client.SubmitTelList("13800000001,13800000002"), "SubmitTelList");
        Accepted(Client.SubmitTelNum("2"), "SubmitTelNum");
        var content = Client.SubmitContent("会议通知：明天九点");
        Check(content.Accepted && content.Message == "字数:9", "SubmitContent counted in GBK characters", content);
        var over = Client.SubmitAllOver_2();
        Check(over.Accepted && over.Numbers[0] == 2 && over.Numbers[1] == 2 && int.Parse(over.Message) > 100000,
            "SubmitAllOver_2: job number, recipients, messages", over);
    }

    static void Outcomes()
    {
        // A text longer than its field is refused by the library, before anything is sent.
        var refused = Client.SubmitPrdId(new string('1', QV_BODY_MAX_TEXT + 1));
        Check(!refused.Ok && refused.Code == -1 && refused.Message == "输入的文本过长!", "too long a text", refused);
        var outcome = Client.GetLastOutcome();
        Check(outcome.Kind == QV_OUTCOME_REFUSED && !outcome.Sent && outcome.Argument == 3, "outcome of the refusal");
        bool unencodable = false;
        try { Client.SubmitContent("\U0001F600"); } catch (ArgumentException) { unencodable = true; }
        Check(unencodable, "a character GBK lacks is refused before the call");

        // The drop server answers the login and one call, then closes: the next call fails and logs in again.
        Check(Client.Heartbeat(), "Heartbeat, the last answer before the drop");
        Check(!Client.MsgStates().Ok, "MsgStates fails on the dropped connection");
        outcome = Client.GetLastOutcome();
        Check(outcome.Kind == QV_OUTCOME_NOT_SENT || outcome.Kind == QV_OUTCOME_MAYBE_APPLIED,
            "outcome after the drop: " + outcome.Kind + " " + outcome.Detail);
        var relogin = Client.GetLastRelogin();
        Check(relogin.Kind == QV_RELOGIN_LOGGED_IN && relogin.ServerCode == QV_CODE_ACCEPTED, "relogged in");
        var state = Client.GetConnectionState();
        Check((state.State & QV_STATE_LOGGED_IN) != 0 && state.Path == QV_PATH_DIRECT, "state after the relogin");
        Accepted(Client.MsgStates(), "MsgStates on the new connection");
    }

    static int Main(string[] args)
    {
        if (args.Length != 2) { Console.WriteLine("usage: scenario PORT DROP_PORT"); return 2; }
        Check(Client.dllInitialize(), "dllInitialize");
        ConnectAndLogin(int.Parse(args[0]));
        var info = Client.GetUdInfo();
        Check(info.Accepted && info.Message.Contains("企业:演示企业"), "GetUdInfo in GBK", info);
        SendJob();
        Check(Client.CheckTels("13912345678", "139,移动;130,联通") == 1, "CheckTels mobile");
        Check(Client.CheckTels("13012345678", "139,移动;130,联通") == 2, "CheckTels unicom");
        Check(Client.CheckTels("01012345678", null) == 3, "CheckTels fixed line");
        Check(Client.TcpDisconnect(), "TcpDisconnect");
        ConnectAndLogin(int.Parse(args[1]));
        Outcomes();
        Client.TcpDisconnect();
        Client.dllUnInitialize();
        if (failures > 0) { Console.WriteLine(failures + " checks failed"); return 1; }
        Console.WriteLine("all checks passed");
        return 0;
    }
}
