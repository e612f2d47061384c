// Session's Task-returning methods against the simulator: each equals its sync twin, a token cancels what has
// not reached the server, and sessions run side by side.  A console program has no SynchronizationContext, so
// the continuations here run on the thread pool; the WinForms host checks the window's thread.
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.Linq;
using System.Threading;
using System.Threading.Tasks;
using Quorvex;
using static Quorvex.Native;

static class AsyncScenario
{
    static void Check(bool ok, string what) => Scenario.Check(ok, what);

    static string Shape(Reply r) => r == null ? "null" : $"{r.Ok} {r.Code} [{r.Message}] [{string.Join("|", r.Params)}] "
        + $"[{string.Join(",", r.Numbers)}] {r.Outcome?.OutcomeKind}";

    static Session LoggedIn(int port, string name = "demo")
    {
        var s = new Session();
        s.ConnectAsync(port).Wait();
        Check(s.LoginAsync(name, "demo123", app: "dotnet").Result.Accepted, "LoginAsync as " + name);
        return s;
    }

    static Task<Reply> ConnectAsync(this Session s, int port) =>
        s.TcpConnectAsync("127.0.0.1", port, 5000, "", "", 0, "", "");

    // Each row a sync call and its async twin; run in a seeded order on one session, each pair must agree.
    static void SameAsSync(int port)
    {
        using (var s = LoggedIn(port))
        {
            var rows = new (string, Func<Reply>, Func<Task<Reply>>)[] {
                ("GetUdInfo", s.GetUdInfo, () => s.GetUdInfoAsync()),
                ("Heartbeat", s.Heartbeat, () => s.HeartbeatAsync()),
                ("NumRule", s.NumRule, () => s.NumRuleAsync()),
                ("CheckPrdId", () => s.CheckPrdId("0000"), () => s.CheckPrdIdAsync("0000")),
                ("SubmitPrdId too long", () => s.SubmitPrdId(new string('1', QV_BODY_MAX_TEXT + 1)),
                    () => s.SubmitPrdIdAsync(new string('1', QV_BODY_MAX_TEXT + 1))),
                ("SubmitAllOver_2 unprepared", s.SubmitAllOver_2, () => s.SubmitAllOver_2Async()),
                ("ProductInfo", () => s.ProductInfo("1001"), () => s.ProductInfoAsync("1001")),
            };
            var rng = new Random(32);
            int agreed = 0;
            for (int i = 0; i < 40; i++)
            {
                var (name, sync, async) = rows[rng.Next(rows.Length)];
                string a = Shape(sync()), b = Shape(async().Result);
                if (a == b) { agreed++; continue; }
                Check(false, name + ": async " + b + " differs from sync " + a);
                break;
            }
            Check(agreed == 40, "40 seeded async calls agree with their sync twins");
        }
        // The XML protocol's pairs, as one method and one operation.
        using (var s = new Session())
        {
            s.ConnectAsync(port).Wait();
            Reply sync = s.fxLogin("dotnet", "", "demo", "demo123", "1.0"), async = s.fxLoginAsync("dotnet", "", "demo",
                "demo123", "1.0").Result;
            Check(sync.Code == QV_FX_SUCCESS && sync.Text("Pud") != "" && Shape(sync) == Shape(async),
                "fxLoginAsync as fxLogin: " + Shape(async));
            sync = s.fxNumRule();
            async = s.fxNumRuleAsync().Result;
            Check(sync.Accepted && sync.Number("ReplyLength") > 0 && Shape(sync) == Shape(async),
                "fxNumRuleAsync as fxNumRule: " + Shape(async));
        }
    }

    // On a server that waits before every answer: a call running and two queued behind it, then cancelled.
    static void Cancels(int slowPort)
    {
        using (var s = LoggedIn(slowPort))
        using (var cts = new CancellationTokenSource())
        {
            var running = s.GetUdInfoAsync(cts.Token);
            var queued = new[] { s.HeartbeatAsync(cts.Token), s.NumRuleAsync(cts.Token) };
            var other = s.HeartbeatAsync();  // not cancelled: it still runs, in its turn
            cts.Cancel();
            bool ended = Task.WhenAny(Task.WhenAll(queued.Concat(new[] { running })), Task.Delay(5000)).Result
                != null && queued.All(t => t.IsCompleted) && running.IsCompleted;
            Check(ended && queued.All(t => t.IsCanceled), "queued operations end cancelled by their token");
            // Cancelled before its request was out, or after: then with what it came to, never CANCELLED.
            Check(ended && (running.IsCanceled || running.Status == TaskStatus.RanToCompletion && !running.Result.Ok
                && running.Result.Outcome.OutcomeKind == OutcomeKind.MaybeApplied),
                "the running one ends cancelled or with its real outcome: " + running.Status);
            Check(other.Wait(10000) && other.Status == TaskStatus.RanToCompletion,
                "a later operation without the token completes after the cancels: " + Shape(other.Result));
            using (var pre = new CancellationTokenSource())
            {
                pre.Cancel();
                Check(s.HeartbeatAsync(pre.Token).IsCanceled, "a token cancelled before the start starts nothing");
            }
            // A send cancelled at its first call ends cancelled: its submit never went out.
            using (var job = new Job { Product = "1001", Content = "通知" })
            using (var stop = new CancellationTokenSource())
            {
                job.Numbers.Add("13800000001");
                var steps = new List<int>();
                var send = s.SendJobAsync(job, new Reporter(e => { lock (steps) steps.Add(e.Step); stop.Cancel(); }),
                    stop.Token);
                bool cancelled = false;
                try { send.Wait(10000); } catch (AggregateException e) { cancelled = e.InnerException is TaskCanceledException; }
                Check(cancelled && send.IsCanceled, "SendJobAsync cancelled mid-job by its token");
                Check(s.SendJobAsync(job).Result.IsSubmitted, "the job sent again after its cancel");
            }
        }
    }

    sealed class Reporter : IProgress<JobProgressEventArgs>
    {
        readonly Action<JobProgressEventArgs> report;
        public Reporter(Action<JobProgressEventArgs> report) { this.report = report; }
        public void Report(JobProgressEventArgs e) => report(e);
    }

    // Sessions side by side on the slow server: all together take about as long as one alone.
    static void SideBySide(int slowPort)
    {
        var names = new[] { "demo", "demo2", "demo", "demo2" };
        var sessions = names.Select(n => LoggedIn(slowPort, n)).ToArray();
        try
        {
            var watch = Stopwatch.StartNew();
            sessions[0].GetUdInfoAsync().Wait();
            sessions[0].GetUdInfoAsync().Wait();
            long alone = watch.ElapsedMilliseconds;
            watch.Restart();
            var all = sessions.Select(s => s.GetUdInfoAsync().ContinueWith(t => s.GetUdInfoAsync()).Unwrap()).ToArray();
            var replies = Task.WhenAll(all).Result;
            long together = watch.ElapsedMilliseconds;
            Check(replies.Select((r, i) => r.Accepted && r.Text("Param1") == (names[i] == "demo" ? "10001" : "10002")).All(x => x),
                "each session's answers are its own");
            Check(together < 2 * alone, $"four sessions side by side: {together} ms, one alone {alone} ms");
        }
        finally { foreach (var s in sessions) s.Dispose(); }
    }

    // Each send as the sync one sends it, with the progress of its calls in order.
    static void Jobs(int port)
    {
        using (var s = LoggedIn(port))
        {
            for (int i = 0; i < 4; i++)
                using (var job = new Job { Product = "1001", Content = "第" + i + "次", Check = i % 2 == 1 })
                {
                    job.Numbers.AddRange(Enumerable.Range(0, 3 + i).Select(n => "1391000000" + n));
                    var sync = s.SendJob(job);
                    var steps = new List<int>();
                    // Without a context the reports run on the pool, in order, and may follow the result.
                    using (var last = new ManualResetEventSlim())
                    {
                        var async = s.SendJobAsync(job, new Reporter(e =>
                        {
                            lock (steps) steps.Add(e.Step);
                            if (e.Step == sync.Step) last.Set();
                        })).Result;
                        Check(async.IsSubmitted && async.Recipients == sync.Recipients && async.Step == sync.Step
                            && async.Attempts == sync.Attempts && int.Parse(async.JobNumber) > int.Parse(sync.JobNumber),
                            "SendJobAsync as SendJob: " + async);
                        Check(last.Wait(5000), "progress reached the send's last call");
                    }
                    lock (steps) Check(steps.Distinct().Count() == steps.Count && steps.Last() == sync.Step,
                        "progress told each new call once, in order: " + string.Join(",", steps));
                }
        }
    }

    // SlowPort's simulator waits before every answer.
    public static void Run(int port, int slowPort)
    {
        SameAsSync(port);
        Jobs(port);
        Cancels(slowPort);
        SideBySide(slowPort);
    }
}
