// A WinForms window awaiting the library's operations on its own thread:
//   mono winforms.exe SLOW_PORT
// SLOW_PORT is a simulator that waits before every answer.  When shown, the form logs in, awaits a slow call and
// a whole send, and checks that each continuation and each progress report runs on the window's thread while
// its timer keeps ticking; a button's handler cancels a second send mid-job.  It then closes itself; the exit
// code is the number of failed checks.
using System;
using System.Diagnostics;
using System.Threading;
using System.Threading.Tasks;
using System.Windows.Forms;
using Quorvex;

sealed class HostForm : Form
{
    readonly int port;
    readonly System.Windows.Forms.Timer timer = new System.Windows.Forms.Timer { Interval = 10 };
    readonly Button cancel = new Button { Text = "Cancel" };
    readonly Stopwatch clock = Stopwatch.StartNew();
    readonly int uiThread = Thread.CurrentThread.ManagedThreadId;
    CancellationTokenSource sending;
    long lastTick, worstGap;
    int ticks;
    internal int Failures;

    HostForm(int port)
    {
        this.port = port;
        Controls.Add(cancel);
        cancel.Click += (sender, e) => sending?.Cancel();
        timer.Tick += (sender, e) =>
        {
            long now = clock.ElapsedMilliseconds;
            if (ticks++ > 0) worstGap = Math.Max(worstGap, now - lastTick);
            lastTick = now;
        };
        Shown += async (sender, e) =>
        {
            try { await Run(); }
            catch (Exception x) { Check(false, "unexpected " + x); }
            Close();
        };
    }

    void Check(bool ok, string what)
    {
        Console.WriteLine((ok ? "ok   " : "FAIL ") + what);
        if (!ok) Failures++;
    }

    bool OnUiThread => !InvokeRequired && Thread.CurrentThread.ManagedThreadId == uiThread;

    async Task Run()
    {
        timer.Start();
        using (var s = new Session())
        {
            Check((await s.TcpConnectAsync("127.0.0.1", port, 5000, "", "", 0, "", "")).Ok && OnUiThread,
                "connected, back on the window's thread");
            Check((await s.LoginAsync("demo", "demo123")).Accepted && OnUiThread, "logged in");

            int before = ticks;
            var watch = Stopwatch.StartNew();
            var info = await s.GetUdInfoAsync();
            Check(info.Accepted && OnUiThread, "a slow call's continuation runs on the window's thread");
            Check(ticks - before >= 5, $"the timer ticked {ticks - before} times during the {watch.ElapsedMilliseconds} ms call");

            using (var job = new Job { Product = "1001", Content = "窗口通知" })
            {
                job.Numbers.Add("13800000001");
                int reports = 0, last = 0;
                bool offThread = false;
                var progress = new Progress<JobProgressEventArgs>(p => { reports++; last = p.Step; offThread |= !OnUiThread; });
                var result = await s.SendJobAsync(job, progress);
                Check(result.IsSubmitted && OnUiThread, "SendJobAsync submitted: " + result);
                Check(reports > 0 && !offThread && last == result.Step,
                    $"{reports} progress reports on the window's thread, the last one before the continuation");

                sending = new CancellationTokenSource();
                var cancelled = new Progress<JobProgressEventArgs>(p => cancel.PerformClick());
                try
                {
                    var r = await s.SendJobAsync(job, cancelled, sending.Token);
                    Check(false, "a send cancelled by the button ended " + r);
                }
                catch (OperationCanceledException) { Check(OnUiThread, "the button's cancel ends the send cancelled"); }
            }
        }
        timer.Stop();
        Console.WriteLine($"worst tick gap {worstGap} ms over {ticks} ticks");
    }

    [STAThread]
    static int Main(string[] args)
    {
        // A host that hangs is a failure, not a stuck test run.
        var watchdog = new System.Threading.Timer(_ => { Console.WriteLine("FAIL the window did not close in 40 s"); Environment.Exit(100); },
            null, 40000, Timeout.Infinite);
        Application.EnableVisualStyles();
        var form = new HostForm(int.Parse(args[0]));
        Application.Run(form);
        watchdog.Dispose();
        Console.WriteLine(form.Failures == 0 ? "winforms host: ok" : form.Failures + " checks failed");
        return form.Failures;
    }
}
