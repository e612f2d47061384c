// A WinForms window sending many jobs through the library's operations on its own thread:
//   mono winforms.exe SLOW_PORT
// SLOW_PORT is a simulator that waits before every answer and has an account per session (demo, demo2, ...).
// When shown, the form logs in Sessions sessions and awaits Jobs sends on each, the sessions side by side, while
// its 10 ms timer ticks; a button's handler cancels one more send mid-job.  It checks every job's result, that
// every continuation runs on the window's thread, and the timer's lateness once they are logged in.  It
// then closes itself; the exit code is the number of failed checks.
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.Linq;
using System.Threading;
using System.Threading.Tasks;
using System.Windows.Forms;
using Quorvex;

sealed class HostForm : Form
{
    // Lateness is judged on the 99th percentile of the gaps: on a shared machine the scheduler now and then
    // keeps any process's thread off the CPU for longer, with no code of the window's running, which a single
    // worst gap would count as the window's.  A window frozen for FrozenMs fails all the same.
    const int Sessions = 8, Jobs = 20, TickMs = 10, LatenessMs = 50, FrozenMs = 1000;

    readonly int port;
    readonly System.Windows.Forms.Timer timer = new System.Windows.Forms.Timer { Interval = TickMs };
    readonly Button cancel = new Button { Text = "Cancel" };
    readonly Stopwatch clock = Stopwatch.StartNew();
    readonly int uiThread = Thread.CurrentThread.ManagedThreadId;
    CancellationTokenSource sending;
    long lastTick = -1, worstGap;
    readonly List<long> gaps = new List<long>();
    // Where the worst gap fell and whether a collection ran in it, to tell a fault's place from the runtime's.
    string phase = "logging in", worstPhase;
    int lastCollections;
    int ticks, continuations, offThread, reports, reportsOffThread;
    internal int Failures;

    HostForm(int port)
    {
        this.port = port;
        Controls.Add(cancel);
        cancel.Click += (sender, e) => sending?.Cancel();
        timer.Tick += (sender, e) => Tick();
        Shown += async (sender, e) =>
        {
            try { await Run(); }
            catch (Exception x) { Check(false, "unexpected " + x); }
            Close();
        };
    }

    void Tick()
    {
        long now = clock.ElapsedMilliseconds;
        int collections = GC.CollectionCount(0);
        if (lastTick >= 0) gaps.Add(now - lastTick);
        if (lastTick >= 0 && now - lastTick > worstGap)
        {
            worstGap = now - lastTick;
            worstPhase = $"{phase} at {now} ms, {collections - lastCollections} collections in it";
        }
        lastCollections = collections;
        lastTick = now;
        ticks++;
    }

    void Check(bool ok, string what)
    {
        Console.WriteLine((ok ? "ok   " : "FAIL ") + what);
        if (!ok) Failures++;
    }

    bool OnUiThread => !InvokeRequired && Thread.CurrentThread.ManagedThreadId == uiThread;

    // Called after every await: counts the continuations that did not resume on the window's thread.
    void Resumed()
    {
        continuations++;
        if (!OnUiThread) offThread++;
    }

    static Job NewJob(string content)
    {
        var job = new Job { Product = "1001", Content = content };
        job.Numbers.Add("13800000001");
        job.Numbers.Add("13900000004");
        return job;
    }

    async Task<Session> LoggedIn(int n)
    {
        var s = new Session();
        bool ok = (await s.TcpConnectAsync("127.0.0.1", port, 5000, "", "", 0, "", "")).Ok;
        Resumed();
        ok = ok && (await s.LoginAsync(n == 0 ? "demo" : "demo" + (n + 1), "demo123")).Accepted;
        Resumed();
        Check(ok, $"session {n} connected and logged in");
        return s;
    }

    // One session's jobs, one after another (a job holds its account).
    async Task<List<JobResult>> SendAll(Session s, int n)
    {
        var results = new List<JobResult>();
        var progress = new Progress<JobProgressEventArgs>(p =>
        {
            reports++;
            if (!OnUiThread) reportsOffThread++;
        });
        for (int i = 0; i < Jobs; i++)
            using (var job = NewJob($"窗口通知 {n}-{i}"))
            {
                results.Add(await s.SendJobAsync(job, progress));
                Resumed();
            }
        return results;
    }

    // A send that the button's handler cancels at its third call, mid-job: it ends cancelled, or MaybeSubmitted
    // when its submit was out.
    async Task CancelledByButton(Session s)
    {
        sending = new CancellationTokenSource();
        using (var job = NewJob("取消的通知"))
        {
            int calls = 0;
            var click = new Progress<JobProgressEventArgs>(p =>
            {
                if (++calls == 3) cancel.PerformClick();
            });
            var watch = Stopwatch.StartNew();
            string ended;
            try
            {
                var r = await s.SendJobAsync(job, click, sending.Token);
                ended = r.Status == JobStatus.MaybeSubmitted ? "maybe submitted" : "with " + r;
            }
            catch (OperationCanceledException) { ended = "cancelled"; }
            Resumed();
            Check(sending.IsCancellationRequested && (ended == "cancelled" || ended == "maybe submitted"),
                $"the button's cancel at call {calls} ends the send {ended} after {watch.ElapsedMilliseconds} ms");
        }
    }

    async Task Run()
    {
        timer.Start();
        var sessions = await Task.WhenAll(Enumerable.Range(0, Sessions).Select(LoggedIn));
        Resumed();
        try
        {
            // The logins' first calls compile much of the binding on the window's thread: that lateness is
            // the runtime's start-up, printed but not held to the bound, which is about waiting on the server.
            Console.WriteLine($"worst tick lateness while logging in {worstGap - TickMs} ms");
            worstGap = 0;
            gaps.Clear();
            phase = "sending";
            var watch = Stopwatch.StartNew();
            var results = (await Task.WhenAll(sessions.Select(SendAll))).SelectMany(r => r).ToList();
            Resumed();
            long took = watch.ElapsedMilliseconds;
            var failed = results.Where(r => !r.IsSubmitted).ToList();
            Check(failed.Count == 0,
                $"{results.Count - failed.Count} of {Sessions} x {Jobs} jobs submitted in {took} ms"
                + (failed.Count == 0 ? "" : "; first failure " + failed[0]));
            int distinct = results.Where(r => r.IsSubmitted).Select(r => r.JobNumber).Distinct().Count();
            Check(distinct == results.Count - failed.Count,
                $"each submitted job has a job number of its own ({distinct})");

            phase = "cancelling";
            await CancelledByButton(sessions[0]);
            phase = "closing";
        }
        finally
        {
            foreach (var s in sessions) s.Dispose();
        }
        phase = "closed";
        timer.Stop();
        Tick();  // the gap up to now counts too: a timer that stopped ticking is late
        Check(continuations > 0 && offThread == 0,
            $"{continuations - offThread} of {continuations} continuations on the window's thread");
        Check(reports > 0 && reportsOffThread == 0,
            $"{reports - reportsOffThread} of {reports} progress reports on the window's thread");
        long lateness = worstGap - TickMs;
        gaps.Sort();
        long p99 = (gaps.Count > 0 ? gaps[gaps.Count * 99 / 100] : 0) - TickMs;
        Console.WriteLine($"worst tick lateness since the logins {lateness} ms ({worstPhase}), 99th percentile "
            + $"{p99} ms, over {ticks} ticks in {clock.ElapsedMilliseconds} ms");
        Check(p99 < LatenessMs, $"the timer's 99th-percentile lateness {p99} ms is below {LatenessMs} ms");
        Check(lateness < FrozenMs, $"the timer's worst lateness {lateness} ms is below {FrozenMs} ms");
    }

    [STAThread]
    static int Main(string[] args)
    {
        // A host that hangs is a failure, not a stuck test run.
        var watchdog = new System.Threading.Timer(_ =>
        {
            Console.WriteLine("FAIL the window did not close in 50 s");
            Environment.Exit(100);
        }, null, 50000, Timeout.Infinite);
        Application.EnableVisualStyles();
        var form = new HostForm(int.Parse(args[0]));
        Application.Run(form);
        watchdog.Dispose();
        Console.WriteLine(form.Failures == 0 ? "winforms host: ok" : form.Failures + " checks failed");
        return form.Failures;
    }
}
