// A host's session through the assembly, against the simulator:
//   mono scenario.exe PORT DROP_PORT SIMULATOR
// PORT serves normally (accounts demo and demo2); DROP_PORT closes each connection after two answers;
// SIMULATOR is started and stopped by the send-job recovery checks.
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.Linq;
using System.Net;
using System.Net.Sockets;
using System.Threading;
using Quorvex;
using static Quorvex.Native;

static class Scenario
{
    static int failures;

    internal static void Check(bool ok, string what, Reply reply = null)
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

    // One session's calls, chosen by a seeded generator: every answer must name the session's own account.
    // The last call is refused, for the outcome checks of Sessions.
    static List<string> Drive(Session s, int port, string name, string id, int seed)
    {
        var wrong = new List<string>();
        var rng = new Random(seed);
        s.TcpConnect("127.0.0.1", port, 5000, "", "", 0, "", "");
        s.Login_Request("dotnet", "", name, "demo123", "1.0");
        if (!s.Login_Feedback().Accepted) wrong.Add("login");
        for (int i = 0; i < 40; i++)
        {
            Reply r = null;
            bool mine;
            switch (i < 39 ? rng.Next(3) : 3)
            {
                case 0:
                    r = s.GetUdInfo();
                    mine = r.Accepted && r.Params[0] == id && r.Message.Contains("帐号:" + name + ";");
                    break;
                case 1:
                    r = s.PQGetAbilityURL();
                    mine = r.Accepted && r.Message.EndsWith("account=" + name);
                    break;
                case 2:
                    mine = s.Heartbeat() && s.GetLastOutcome().Kind == QV_OUTCOME_OK;
                    break;
                default:
                    r = s.SubmitContent(new string('长', 1024));
                    var outcome = s.GetLastOutcome();
                    mine = !r.Ok && outcome.Kind == QV_OUTCOME_REFUSED && outcome.Argument == 3;
                    break;
            }
            if (!mine) wrong.Add(i + ": " + r);
        }
        return wrong;
    }

    // Two sessions with two accounts on two threads; a thread's last outcome on a session is its own.
    static void Sessions(int port)
    {
        var first = new Session();
        var second = new Session();
        List<string> firstWrong = null, secondWrong = null;
        var threads = new[] {
            new Thread(() => firstWrong = Drive(first, port, "demo", "10001", 1)),
            new Thread(() => secondWrong = Drive(second, port, "demo2", "10002", 2)) };
        foreach (var t in threads) t.Start();
        foreach (var t in threads) t.Join();
        Check(firstWrong.Count == 0, "session demo: every answer its own (" + string.Join("; ", firstWrong) + ")");
        Check(secondWrong.Count == 0, "session demo2: every answer its own (" + string.Join("; ", secondWrong) + ")");
        int before = first.GetLastOutcome().Kind;
        second.SubmitContent(new string('长', 1024));
        Check(before == QV_OUTCOME_OK && first.GetLastOutcome().Kind == QV_OUTCOME_OK
            && second.GetLastOutcome().Kind == QV_OUTCOME_REFUSED, "last outcome per session and per thread");
        first.Dispose();
        second.Dispose();
        first.Dispose();  // a second Dispose does nothing
        bool refused = false;
        try { first.Heartbeat(); } catch (ObjectDisposedException) { refused = true; }
        Check(refused && first.IsDisposed, "a call after Dispose is refused");

        // A Dispose while another thread waits for an answer that never comes ends that call.
        var silent = new TcpListener(IPAddress.Loopback, 0);
        silent.Start();
        var waiting = new Session();
        waiting.SetReadTimeout(60000);
        waiting.TcpConnect("127.0.0.1", ((IPEndPoint)silent.LocalEndpoint).Port, 5000, "", "", 0, "", "");
        var peer = silent.AcceptSocket();
        bool answered = true;
        var waiter = new Thread(() => answered = waiting.Heartbeat());
        waiter.Start();
        var request = new byte[4096];
        for (int got = 0; got < 2116;) got += peer.Receive(request);
        waiting.Dispose();
        Check(waiter.Join(30000) && !answered, "Dispose ends a call waiting in another thread");
        peer.Close();
        silent.Stop();
    }

    static int Main(string[] args)
    {
        if (args.Length != 3) { Console.WriteLine("usage: scenario PORT DROP_PORT SIMULATOR"); return 2; }
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
        Sessions(int.Parse(args[0]));
        JobScenario.Run(int.Parse(args[0]), int.Parse(args[1]), args[2]);
        if (failures > 0) { Console.WriteLine(failures + " checks failed"); return 1; }
        Console.WriteLine("all checks passed");
        return 0;
    }
}

// Session.SendJob: whole jobs of every kind, refusals, and the recovery rules against simulators that drop,
// restart or stop mid-job.
static class JobScenario
{
    static void Check(bool ok, string what) => Scenario.Check(ok, what);

    static Session LoggedIn(int port)
    {
        var s = new Session();
        s.TcpConnect("127.0.0.1", port, 5000, "", "", 0, "", "");
        s.Login_Request("dotnet", "", "demo", "demo123", "1.0");
        Check(s.Login_Feedback().Accepted, "login on " + port);
        return s;
    }

    // A simulator of the scenario's own on a fixed port, so that a new one can take the old one's place.
    sealed class Simulator
    {
        readonly string path;
        readonly int port;
        Process process;

        public Simulator(string path)
        {
            this.path = path;
            var probe = new TcpListener(IPAddress.Loopback, 0);
            probe.Start();
            port = ((IPEndPoint)probe.LocalEndpoint).Port;
            probe.Stop();
        }

        public int Port => port;

        public void Start()
        {
            var info = new ProcessStartInfo(path, "--quiet --port " + port)
                { UseShellExecute = false, RedirectStandardOutput = true };
            process = Process.Start(info);
            string line = process.StandardOutput.ReadLine();
            if (line != "quorvex-sim listening on 127.0.0.1:" + port) throw new Exception("simulator: " + line);
        }

        public void Stop()
        {
            if (process.HasExited) return;
            process.Kill();
            process.WaitForExit();
        }
    }

    static Job SmsJob(params string[] numbers) =>
        new Job { Product = "1001", Numbers = numbers, Content = "会议通知：明天九点" };

    // Seeded jobs of every kind: each is submitted at once with its recipients, and its numbers and file
    // travel in as few parts as fit a record.
    static void Jobs(Session s)
    {
        var rng = new Random(25);
        for (int i = 0; i < 8; i++)
        {
            int kind = i % 4, count = rng.Next(1, kind == 3 ? 100 : 400);
            var numbers = Enumerable.Range(0, count).Select(n => "139" + (10000000 + n * 7919 + i).ToString()).ToList();
            var job = new Job { Product = new[] { "1001", "2001", "3001", "1001" }[kind], Numbers = numbers,
                Content = "第" + i + "次通知", Check = rng.Next(2) == 1 };
            if (rng.Next(2) == 1) { job.BeginDate = DateTime.Now.ToString("yyyy-MM-dd"); job.BeginTime = "00:00"; }
            if (kind == 1)
            {
                job.FileName = "a.jpg";
                job.FileContent = new byte[rng.Next(1, 5000)];
                rng.NextBytes(job.FileContent);
            }
            if (kind == 2) job.Url = "http://example.com/" + i;
            if (kind == 3)
            {
                var day = DateTime.Now.AddDays(1).ToString("yyyy-MM-dd");
                job.Orders = new[] { "PQ001" };
                job.Period = day + "~" + day + " 09:00-10:00";
            }
            var steps = new List<string>();
            var r = s.SendJob(job, progress: (attempt, step) => steps.Add(step));
            int fileParts = job.FileContent == null ? 0 : ((job.FileContent.Length + 2) / 3 * 4 + 2043) / 2044;
            Check(r.IsSubmitted && r.Attempts == 1 && r.Recipients == count && r.Step == steps.Last()
                && r.Step == (kind == 3 ? "SubmitAllOverEx_2" : "SubmitAllOver_2") && steps[0] == "SubmitAllClear"
                && steps.Count(x => x == "SubmitTelList") == (count + 169) / 170
                && steps.Count(x => x == "SubmitTransFile") == fileParts
                && steps.Contains("CheckContent") == job.Check && int.Parse(r.JobNumber) > 100000,
                "job " + i + " of kind " + kind + ": " + r + " steps " + string.Join(",", steps));
        }
    }

    static void Refusals(Session s)
    {
        var forbidden = SmsJob("13800000001");
        forbidden.Content = "代开发票";
        var r = s.SendJob(forbidden);
        Check(r.Status == JobStatus.Refused && r.Step == "SubmitAllOver_2" && r.Code == 406, "refused submit: " + r);
        forbidden.Check = true;
        r = s.SendJob(forbidden);
        Check(r.Status == JobStatus.Refused && r.Step == "CheckContent" && r.Code == 406, "refused check: " + r);

        // What cannot travel is refused before any call.
        var bad = new Job[] {
            new Job { Numbers = new[] { "13800000001" } },
            new Job { Product = "1001", Numbers = new string[0] },
            new Job { Product = "1001", Numbers = new[] { "138,139" } },
            new Job { Product = "1001", Numbers = new[] { "13800000001" }, Content = new string('长', 1024) },
            new Job { Product = "1001", Numbers = new[] { "13800000001" }, Content = "a\0b" },
            new Job { Product = "1001", Numbers = new[] { "13800000001" }, Content = "\U0001F600" },
            new Job { Product = "1001", Numbers = new[] { "13800000001" }, Orders = new[] { "1", "2", "3", "4" } },
            new Job { Product = "1001", Numbers = new[] { "13800000001" }, Orders = new[] { new string('1', 20) } },
        };
        for (int i = 0; i < bad.Length; i++)
        {
            bool called = false, refused = false;
            try { s.SendJob(bad[i], progress: (a, step) => called = true); }
            catch (ArgumentException) { refused = true; }
            Check(refused && !called, "bad job " + i + " refused before any call");
        }
    }

    public static void Run(int port, int dropPort, string simulator)
    {
        using (var s = LoggedIn(port))
        {
            Jobs(s);
            Refusals(s);
        }

        // Each connection is dropped after the login and one answer: every attempt fails at its first field,
        // and each relogin logs in, so the job starts again from the clear until the attempts run out.
        using (var s = LoggedIn(dropPort))
        {
            var steps = new List<string>();
            var r = s.SendJob(SmsJob("13800000001"), 2, (attempt, step) => steps.Add(attempt + ":" + step));
            Check(r.Status == JobStatus.Failed && r.Step == "SubmitPrdId" && r.Attempts == 2
                && string.Join(",", steps) == "1:SubmitAllClear,1:SubmitPrdId,2:SubmitAllClear,2:SubmitPrdId",
                "drop: " + r + " steps " + string.Join(",", steps));
        }

        var sim = new Simulator(simulator);
        sim.Start();
        try
        {
            using (var s = LoggedIn(sim.Port))
            {
                // A new server takes the old one's place before SubmitTelNum: that call fails on the dead
                // connection, the relogin logs in on the new server, and the job starts again.
                var job = SmsJob("13800000001", "13800000002");
                var r = s.SendJob(job, progress: (attempt, step) =>
                {
                    if (attempt == 1 && step == "SubmitTelNum") { sim.Stop(); sim.Start(); }
                });
                Check(r.IsSubmitted && r.Attempts == 2 && r.Recipients == 2, "server restarted mid-job: " + r);

                // The server goes away for good before SubmitContent: no relogin, no second attempt.
                r = s.SendJob(job, progress: (attempt, step) => { if (step == "SubmitContent") sim.Stop(); });
                Check(r.Status == JobStatus.Failed && r.Step == "SubmitContent" && r.Attempts == 1
                    && s.GetLastRelogin().ReloginKind != ReloginKind.LoggedIn, "server gone: " + r);

                // Back again: the whole job once more.
                sim.Start();
                r = s.SendJob(job);
                Check(r.IsSubmitted && r.Recipients == 2, "server back: " + r);
            }
        }
        finally { sim.Stop(); }
    }
}
