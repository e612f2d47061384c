// A host's session through the assembly, against the simulator:
//   mono scenario.exe PORT DROP_PORT SIMULATOR SLOW_PORT
// PORT serves normally (accounts demo and demo2); DROP_PORT closes each connection after two answers; SLOW_PORT
// waits 200 ms before every answer;
// SIMULATOR is started and stopped by the send-job checks, with the options each needs.
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.Linq;
using System.Net;
using System.Net.Sockets;
using System.Text;
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
        Check(over.Number("Number1") == over.Numbers[0] && over.Number("Number3") == over.Numbers[2],
            "SubmitAllOver_2's numbers by name", over);
    }

    // The Reply's named outputs and its exception mode on the default session, one case a row: what the reply
    // holds, and what Check() throws (null: it returns the reply itself).
    static void Shapes()
    {
        var s = Session.Default;
        var cases = new[] {
            new { What = "GetUdInfo: Params by name", Call = (Func<Reply>)(() => s.GetUdInfo()),
                Holds = (Func<Reply, bool>)(r => r.Text("Param1") == "10001" && r.Outputs.Count == 3 && r.HasCode),
                Thrown = (Func<QuorvexException, bool>)null },
            new { What = "Heartbeat: no outputs, no code", Call = (Func<Reply>)(() => s.Heartbeat()),
                Holds = (Func<Reply, bool>)(r => r && r.Outputs.Count == 0 && !r.HasCode && r.Outcome == null),
                Thrown = (Func<QuorvexException, bool>)null },
            new { What = "CheckPrdId of no product: the server's refusal", Call = (Func<Reply>)(() => s.CheckPrdId("0000")),
                Holds = (Func<Reply, bool>)(r => r.Ok && !r.Accepted && r.Outcome == null),
                Thrown = (Func<QuorvexException, bool>)(e => e.Code == 404 && e.Outcome == null
                    && e.Message.StartsWith("CheckPrdId refused with 404")) },
            new { What = "SubmitPrdId too long: the library's refusal",
                Call = (Func<Reply>)(() => s.SubmitPrdId(new string('1', QV_BODY_MAX_TEXT + 1))),
                Holds = (Func<Reply, bool>)(r => !r && r.Outcome.OutcomeKind == OutcomeKind.Refused),
                Thrown = (Func<QuorvexException, bool>)(e => e.Outcome.Argument == 3 && e.Reply.Export == "SubmitPrdId") },
        };
        foreach (var c in cases)
        {
            var reply = c.Call();
            QuorvexException thrown = null;
            try { Check(ReferenceEquals(reply.Check(), reply), c.What + ": Check() returns the reply", reply); }
            catch (QuorvexException e) { thrown = e; }
            Check(c.Holds(reply) && (c.Thrown == null ? thrown == null : thrown != null && c.Thrown(thrown)),
                c.What + (thrown == null ? "" : " (" + thrown.Message + ")"), reply);
        }
        bool missing = false;
        try { s.Heartbeat().Text("Param1"); } catch (KeyNotFoundException) { missing = true; }
        Check(missing, "an output the export lacks is named in a KeyNotFoundException");
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
        if (args.Length != 4) { Console.WriteLine("usage: scenario PORT DROP_PORT SIMULATOR SLOW_PORT"); return 2; }
        Check(Client.dllInitialize(), "dllInitialize");
        ConnectAndLogin(int.Parse(args[0]));
        var info = Client.GetUdInfo();
        Check(info.Accepted && info.Message.Contains("企业:演示企业"), "GetUdInfo in GBK", info);
        SendJob();
        Shapes();
        Check(Client.CheckTels("13912345678", "139,移动;130,联通") == 1, "CheckTels mobile");
        Check(Client.CheckTels("13012345678", "139,移动;130,联通") == 2, "CheckTels unicom");
        Check(Client.CheckTels("01012345678", null) == 3, "CheckTels fixed line");
        Check(Client.TcpDisconnect(), "TcpDisconnect");
        ConnectAndLogin(int.Parse(args[1]));
        Outcomes();
        Client.TcpDisconnect();
        Client.dllUnInitialize();
        // Connect and Login with their defaults: a wrong password is the server's answer, a closed port a failure.
        using (var s = new Session())
        {
            var connect = s.Connect("127.0.0.1", int.Parse(args[0])).Check();
            var wrong = s.Login("demo", "wrong");
            Check(connect.Message == "TCP连接成功" && wrong.Ok && wrong.HasCode && !wrong.Accepted, "Login refused", wrong);
            Check(s.Login("demo", "demo123").Check().Text("Param1") == "10001", "Login accepted");
            var listener = new TcpListener(IPAddress.Loopback, 0);
            listener.Start();
            int closed = ((IPEndPoint)listener.LocalEndpoint).Port;
            listener.Stop();
            var refused = s.Connect("127.0.0.1", closed, 2000);
            Check(!refused && refused.Outcome != null && refused.Outcome.SocketError != 0, "Connect to a closed port",
                refused);
        }
        // Client is a view of Session.Default, which outside initialisation has no session to call on.
        Session.Default.Dispose();  // does nothing: the default session is the library's
        bool heartbeat = Client.Heartbeat();
        var outside = Session.Default.GetLastOutcome();
        Check(!heartbeat && Session.Default.IsDefault && !Session.Default.IsDisposed
            && outside.Kind == QV_OUTCOME_REFUSED && outside.Argument == 1, "the default session outside initialisation");
        Sessions(int.Parse(args[0]));
        JobScenario.Run(int.Parse(args[0]), args[2]);
        AsyncScenario.Run(int.Parse(args[0]), int.Parse(args[3]));
        if (failures > 0) { Console.WriteLine(failures + " checks failed"); return 1; }
        Console.WriteLine("all checks passed");
        return 0;
    }
}

// Session.SendJob over the library's job: whole jobs of every kind, refusals, the text policy, cancels through a
// token and by disposing the session, a "maybe" decided by a resolver, and a server that restarts.
static class JobScenario
{
    const int Clear = 298, Content = 204, Submit = 299, ScheduledSubmit = 2990, CheckContent = 2041;

    static void Check(bool ok, string what) => Scenario.Check(ok, what);

    static Session LoggedIn(int port)
    {
        var s = new Session();
        s.Connect("127.0.0.1", port);
        Check(s.Login("demo", "demo123", app: "dotnet", version: "1.0").Accepted, "login on " + port);
        return s;
    }

    // A simulator of the scenario's own on a fixed port, so that a new one can take the old one's place.
    sealed class Simulator : IDisposable
    {
        readonly string path;
        Process process;

        public Simulator(string path)
        {
            this.path = path;
            var probe = new TcpListener(IPAddress.Loopback, 0);
            probe.Start();
            Port = ((IPEndPoint)probe.LocalEndpoint).Port;
            probe.Stop();
            Start();
        }

        public int Port { get; }

        public void Start()
        {
            var info = new ProcessStartInfo(path, "--quiet --port " + Port)
                { UseShellExecute = false, RedirectStandardOutput = true };
            process = Process.Start(info);
            string line = process.StandardOutput.ReadLine();
            if (line != "quorvex-sim listening on 127.0.0.1:" + Port) throw new Exception("simulator: " + line);
        }

        public void Stop()
        {
            if (process.HasExited) return;
            process.Kill();
            process.WaitForExit();
        }

        public void Dispose() => Stop();
    }

    static Job Sms(params string[] numbers)
    {
        var job = new Job { Product = "1001", Content = "会议通知：明天九点" };
        job.Numbers.AddRange(numbers);
        return job;
    }

    // The calls of a send as "attempt:step".
    static List<string> Watch(Job job)
    {
        var steps = new List<string>();
        job.Progress += (sender, e) => steps.Add(e.Attempt + ":" + e.Step);
        return steps;
    }

    // Seeded jobs of every kind, each submitted at once with its recipients.
    static void Jobs(Session s)
    {
        var rng = new Random(25);
        for (int i = 0; i < 8; i++)
        {
            int kind = i % 4, count = rng.Next(1, kind == 3 ? 100 : 400);
            using (var job = new Job { Product = new[] { "1001", "2001", "3001", "1001" }[kind],
                Content = "第" + i + "次通知", Check = rng.Next(2) == 1 })
            {
                job.Numbers.AddRange(Enumerable.Range(0, count).Select(n => "139" + (10000000 + n * 7919 + i)));
                if (rng.Next(2) == 1) { job.BeginDate = DateTime.Now.ToString("yyyy-MM-dd"); job.BeginTime = "00:00"; }
                if (kind == 1)
                {
                    job.FileName = "a.jpg";
                    var file = new byte[rng.Next(1, 5000)];
                    rng.NextBytes(file);
                    job.FileContent = file;
                }
                if (kind == 2) job.PushUrl = "http://example.com/" + i;
                if (kind == 3)
                {
                    var day = DateTime.Now.AddDays(1).ToString("yyyy-MM-dd");
                    job.Order1 = "PQ001";
                    job.Period = day + "~" + day + " 09:00-10:00";
                }
                var steps = Watch(job);
                var r = s.SendJob(job);
                Check(r.IsSubmitted && r.Attempts == 1 && r.Recipients == count && r.Code == QV_CODE_ACCEPTED
                    && r.Step == (kind == 3 ? ScheduledSubmit : Submit) && steps.First() == "1:" + Clear
                    && steps.Last() == "1:" + r.Step && steps.Contains("1:" + CheckContent) == job.Check
                    && int.Parse(r.JobNumber) > 100000 && r.Outcome.OutcomeKind == OutcomeKind.Ok
                    && r.Evidence.PackagesBefore == null,
                    "job " + i + " of kind " + kind + ": " + r + " steps " + string.Join(",", steps));
            }
        }
    }

    static bool Throws<E>(Action action, string naming = "") where E : Exception
    {
        try { action(); }
        catch (E e) { return e.Message.Contains(naming); }
        return false;
    }

    static void Refusals(Session s)
    {
        using (var forbidden = Sms("13800000001"))
        {
            forbidden.Content = "代开发票";
            var r = s.SendJob(forbidden);
            Check(r.Status == JobStatus.Refused && r.Step == Submit && r.Code == 406, "refused submit: " + r);
            forbidden.Check = true;
            r = s.SendJob(forbidden);
            Check(r.Status == JobStatus.Refused && r.Step == CheckContent && r.Code == 406, "refused check: " + r);
        }

        // What cannot travel is refused as it is set, naming it, and the field keeps its text.
        using (var job = Sms("13800000001"))
        {
            var bad = new Action[] {
                () => job.Content = new string('长', 1024),
                () => job.Content = "a\0b",
                () => job.Content = "€",
                () => job.Content = "\u0080",
                () => job.Content = "\U0001F600",
                () => job.Order1 = new string('1', 20),
                () => job.Numbers.Add("138,139"),
                () => job.Numbers.Add(""),
                () => job.SetText(JobField.Content, new byte[] { 0x61, 0, 0x62 }),
            };
            for (int i = 0; i < bad.Length; i++)
                Check(Throws<ArgumentException>(bad[i]) && job.Content == "会议通知：明天九点" && job.Numbers.Count == 1,
                    "bad text " + i + " refused as it is set");
            Check(Throws<ArgumentException>(() => job.Content = "价€", "U+20AC"), "the refusal names the character");
        }

        // A job without a product or numbers is refused before any call.
        foreach (var job in new[] { new Job { Content = "x" }, new Job { Product = "1001" } })
            using (job)
            {
                job.Numbers.AddRange(job.Product == null ? new[] { "13800000001" } : new string[0]);
                var steps = Watch(job);
                Check(Throws<ArgumentException>(() => s.SendJob(job)) && steps.Count == 0,
                    "a job missing " + (job.Product == null ? "its product" : "its numbers") + " is refused");
            }
    }

    // Between the library and a server: passes records both ways until the request with a chosen code, which
    // it holds without an answer (so that a cancel lands while that call waits) or answers by closing the
    // connection (so that the request is out and its answer never comes).
    sealed class Relay : IDisposable
    {
        const int RecordSize = 2116;
        readonly TcpListener listener = new TcpListener(IPAddress.Loopback, 0);
        readonly int server;
        int code;
        bool cut;

        public Relay(int server)
        {
            this.server = server;
            listener.Start();
            new Thread(Accept) { IsBackground = true }.Start();
        }

        public int Port => ((IPEndPoint)listener.LocalEndpoint).Port;
        public readonly ManualResetEventSlim Reached = new ManualResetEventSlim();

        // The next request with Code is held, or with Cut answered by a close; Reached is set then.
        public void Arm(int code, bool cut = false)
        {
            Reached.Reset();
            this.cut = cut;
            Volatile.Write(ref this.code, code);
        }

        void Accept()
        {
            try
            {
                for (;;)
                {
                    var client = listener.AcceptSocket();
                    var upstream = new Socket(AddressFamily.InterNetwork, SocketType.Stream, ProtocolType.Tcp);
                    upstream.Connect(IPAddress.Loopback, server);
                    new Thread(() => Requests(client, upstream)) { IsBackground = true }.Start();
                    new Thread(() => Pump(upstream, client)) { IsBackground = true }.Start();
                }
            }
            catch (SocketException) { }
            catch (ObjectDisposedException) { }
        }

        void Requests(Socket client, Socket upstream)
        {
            var record = new byte[RecordSize];
            try
            {
                for (bool held = false; ;)
                {
                    for (int got = 0; got < RecordSize;)
                    {
                        int n = client.Receive(record, got, RecordSize - got, SocketFlags.None);
                        if (n == 0) return;
                        got += n;
                    }
                    if (!held && BitConverter.ToInt32(record, 0) == Volatile.Read(ref code))
                    {
                        Volatile.Write(ref code, 0);
                        held = true;
                        Reached.Set();
                        if (cut) return;
                    }
                    if (!held) upstream.Send(record);
                }
            }
            catch (SocketException) { }
            finally
            {
                client.Close();
                upstream.Close();
            }
        }

        static void Pump(Socket from, Socket to)
        {
            var buffer = new byte[8192];
            try
            {
                for (int n; (n = from.Receive(buffer)) > 0;) to.Send(buffer, n, SocketFlags.None);
            }
            catch (SocketException) { }
            catch (ObjectDisposedException) { }
            finally { to.Close(); }
        }

        public void Dispose() => listener.Stop();
    }

    // A send through the relay, held at Step and ended there from another thread.
    static JobResult EndedAt(Relay relay, Session s, Job job, int step, Action end, CancellationToken token)
    {
        relay.Arm(step);
        var ender = new Thread(() => { relay.Reached.Wait(); end(); });
        ender.Start();
        var r = s.SendJob(job, token);
        relay.Reached.Set();
        ender.Join();
        return r;
    }

    static void Cancels(int port)
    {
        using (var relay = new Relay(port))
        using (var s = LoggedIn(relay.Port))
        using (var job = Sms("13800000001"))
        {
            using (var cts = new CancellationTokenSource())
            {
                var r = EndedAt(relay, s, job, Content, cts.Cancel, cts.Token);
                Check(r.Status == JobStatus.Cancelled && r.Step == Content && r.Attempts == 1,
                    "a token cancelled mid-job: " + r);
            }
            using (var cts = new CancellationTokenSource())
            {
                var r = EndedAt(relay, s, job, Submit, cts.Cancel, cts.Token);
                Check(r.Status == JobStatus.MaybeSubmitted && r.Step == Submit && r.Outcome.Sent,
                    "cancelled with the submit out: " + r);
            }
            // Neither cancel stays with the job: its next send is whole.
            var again = s.SendJob(job);
            Check(again.IsSubmitted, "the job sent again after its cancels: " + again);
            using (var cts = new CancellationTokenSource())
            {
                cts.Cancel();
                var steps = Watch(job);
                var r = s.SendJob(job, cts.Token);
                Check(r.Status == JobStatus.Cancelled && steps.Count == 0, "a token cancelled before the send: " + r);
            }
            // A progress handler that throws cancels the send, and the exception carries its result.
            EventHandler<JobProgressEventArgs> fail = (sender, e) => { if (e.Step == Content) throw new TimeoutException(); };
            job.Progress += fail;
            JobCallbackException thrown = null;
            try { s.SendJob(job); } catch (JobCallbackException e) { thrown = e; }
            job.Progress -= fail;
            Check(thrown?.InnerException is TimeoutException && thrown.Result.Status == JobStatus.Cancelled,
                "a progress handler's exception: " + thrown?.Result);

            // Disposing the session from another thread ends the send with a result, never an exception.
            foreach (var step in new[] { Content, Submit })
            {
                var other = LoggedIn(relay.Port);
                JobResult r = null;
                bool threw = false;
                try { r = EndedAt(relay, other, job, step, other.Dispose, CancellationToken.None); }
                catch (ObjectDisposedException) { threw = true; }
                Check(!threw && r.Status == (step == Submit ? JobStatus.MaybeSubmitted : JobStatus.Cancelled),
                    "session disposed at " + step + ": " + r);
                r = other.SendJob(job);
                Check(r.Status == JobStatus.Cancelled && r.Attempts == 0, "a send on a disposed session: " + r);
            }
        }
    }

    // The submit's request goes out and the connection closes before its answer: a "maybe", which the
    // evidence taken before and after and the host's resolver decide.
    static void Resolver(int port)
    {
        using (var relay = new Relay(port))
        using (var s = LoggedIn(relay.Port))
        using (var job = Sms("13800000001"))
        {
            job.CollectEvidence = true;
            string seen = null;
            job.Resolver = j => { seen = j.GetEvidence(JobEvidenceKind.DetailsAfter); return JobResolution.NotSubmitted; };
            relay.Arm(Submit, cut: true);
            var r = s.SendJob(job);
            Check(r.Status == JobStatus.Failed && r.Step == Submit && seen != null && seen == r.Evidence.DetailsAfter
                && r.Evidence.PackagesAfter != null && r.Evidence.DetailsBefore != null,
                "a maybe the resolver decided: " + r);
            job.Resolver = null;
            relay.Arm(Submit, cut: true);
            r = s.SendJob(job);
            Check(r.Status == JobStatus.MaybeSubmitted && r.Outcome.Sent, "a maybe without a resolver: " + r);
            job.CollectEvidence = false;
            r = s.SendJob(job);
            Check(r.IsSubmitted && r.Evidence.PackagesBefore == null, "submitted after the maybes: " + r);
        }
    }

    // The server restarts mid-job and between jobs: the job with the default attempts is submitted.
    static void Restarts(string simulator)
    {
        using (var sim = new Simulator(simulator))
        using (var s = LoggedIn(sim.Port))
        using (var job = Sms("13800000001", "13800000002"))
        {
            EventHandler<JobProgressEventArgs> restart = (sender, e) =>
            {
                if (e.Attempt == 1 && e.Step == Content) { sim.Stop(); sim.Start(); }
            };
            job.Progress += restart;
            var r = s.SendJob(job);
            job.Progress -= restart;
            Check(r.IsSubmitted && r.Recipients == 2, "server restarted mid-job: " + r);

            sim.Stop();
            sim.Start();
            r = s.SendJob(job);
            Check(r.IsSubmitted && r.Recipients == 2 && r.Attempts == 1, "server restarted between jobs: " + r);
        }
    }

    // One policy: strict GBK out, U+FFFD for what is not GBK; the byte[] overloads take GBK as it is.
    static void Text(Session s)
    {
        var table = new Dictionary<string, string> {
            { "D6D0CEC4", "中文" }, { "80", "\uFFFD" }, { "FF", "\uFFFD" }, { "61D6", "a\uFFFD" }, { "A1A4", "·" },
        };
        foreach (var row in table)
        {
            var gbk = Enumerable.Range(0, row.Key.Length / 2).Select(i => Convert.ToByte(row.Key.Substring(2 * i, 2), 16))
                .ToArray();
            Check(Gbk.Decode(gbk, gbk.Length) == row.Value, "reads " + row.Key + " as " + row.Value);
        }
        foreach (var lacking in new[] { "€", "\u0080", "a\U0001F600", "\uD800" })
            Check(Throws<ArgumentException>(() => Gbk.Encode(lacking)), "refuses U+" + ((int)lacking.Last()).ToString("X4"));

        // Seeded texts of what GBK has come back as they went.
        var rng = new Random(30);
        var alphabet = "aZ09 ,.;:中文会议通知价格·éαд々〇（）";
        for (int i = 0; i < 200; i++)
        {
            var text = new string(Enumerable.Range(0, rng.Next(0, 40)).Select(_ => alphabet[rng.Next(alphabet.Length)]).ToArray());
            var gbk = Gbk.Encode(text);
            if (Gbk.Decode(gbk) != text || gbk[gbk.Length - 1] != 0) { Check(false, "round trip of " + text); break; }
        }

        using (var job = Sms("13800000001"))
        {
            job.SetText(JobField.Content, new byte[] { 0xD6, 0xD0, 0xCE, 0xC4 });
            job.Numbers.Add(Encoding.ASCII.GetBytes("13800000002"));
            var r = s.SendJob(job);
            Check(job.Content == "中文" && r.IsSubmitted && r.Recipients == 2, "a job of GBK bytes: " + r);
        }
    }

    public static void Run(int port, string simulator)
    {
        using (var s = LoggedIn(port))
        {
            Jobs(s);
            Refusals(s);
            Text(s);
        }
        Cancels(port);
        Resolver(port);
        Restarts(simulator);
    }
}
