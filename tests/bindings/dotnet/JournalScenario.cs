// The journal through the assembly, against the simulator:
//   mono journal.exe PORT SLOW_PORT FOLDER
// Jobs added once per reference, sent by Journal.Send and Session.JournalSendAsync until each is Submitted with
// its job number, an awaited send cancelled before its submit (the job queued again), the file kept across a
// Dispose; what is not a journal, a journal open already and bad arguments refused.  SLOW_PORT waits 200 ms
// before every answer; FOLDER is the journals' scratch folder.
using System;
using System.IO;
using System.Linq;
using System.Threading;
using System.Threading.Tasks;
using Quorvex;

static class JournalScenario
{
    static int failures;

    static void Check(bool ok, string what, object got = null)
    {
        Console.WriteLine((ok ? "ok   " : "FAIL ") + what + (ok || got == null ? "" : " (" + got + ")"));
        if (!ok) failures++;
    }

    static bool Throws<T>(Action call) where T : Exception
    {
        try { call(); }
        catch (T) { return true; }
        catch (Exception e) { Console.WriteLine("     threw " + e.GetType().Name + ": " + e.Message); }
        return false;
    }

    static Job NewJob(string content = "会议改到三点，请准时参加") =>
        new Job { Product = "1001", Content = content, Numbers = { "13800000000", "13900000004" } };

    static Session LoggedIn(int port)
    {
        var s = new Session();
        s.Connect("127.0.0.1", port);
        Check(s.Login("demo", "demo123").Accepted, "login on " + port);
        return s;
    }

    static int Main(string[] args)
    {
        int port = int.Parse(args[0]), slowPort = int.Parse(args[1]);
        string path = Path.Combine(args[2], "jobs.journal");
        long[] ids;
        long late;
        using (var journal = new Journal(path))
        {
            ids = Enumerable.Range(0, 3).Select(i => journal.Add(NewJob(), "order-" + i)).ToArray();
            Check(ids.Distinct().Count() == 3 && ids.All(i => i > 0), "three jobs, three ids");
            Check(journal.Add(NewJob("另一个"), "order-1") == ids[1], "a reference added again gives its id");
            Check(journal.List(JournalState.Queued).SequenceEqual(ids), "the queued jobs, oldest first");
            var first = journal.Job(ids[0]);
            Check(first.State == JournalState.Queued && first.Reference == "order-0" && first.Attempts == 0
                && first.Code == -1 && first.JobNumber == "", "a queued job read back", first);
            Check(first.Added.Kind == DateTimeKind.Utc && Math.Abs((DateTime.UtcNow - first.Added).TotalSeconds) < 60,
                "its times in UTC", first.Added);

            var refusals = new (string, Func<bool>)[] {
                ("a second open of the file", () => Throws<QuorvexException>(() => new Journal(path))),
                ("a job without numbers", () => Throws<ArgumentException>(() =>
                    journal.Add(new Job { Product = "1001" }, "order-x"))),
                ("an empty reference", () => Throws<ArgumentException>(() => journal.Add(NewJob(), ""))),
                ("a reference over its limit", () => Throws<ArgumentException>(() =>
                    journal.Add(NewJob(), new string('r', 256)))),
                ("a queued job resolved Submitted", () => Throws<ArgumentException>(() =>
                    journal.Resolve(ids[0], JournalState.Submitted, "1"))),
                ("an id that is no job", () => journal.Job(1000000000000) == null),
            };
            foreach (var refusal in refusals) Check(refusal.Item2(), "refused: " + refusal.Item1);

            using (var s = LoggedIn(port))
            {
                var r = journal.Send(s, 2);
                Check(r.Ok && r.Number("Settled") == 2, "Send stops after maxJobs", r);
                Check(journal.List(JournalState.Queued).SequenceEqual(ids.Skip(2)), "one job left queued");
                r = s.JournalSendAsync(journal).Result;
                Check(r.Ok && r.Number("Settled") == 1, "JournalSendAsync sends the one job left", r);
            }
            late = journal.Add(NewJob("取消"), "order-cancelled");
            using (var slow = LoggedIn(slowPort))
            using (var cancel = new CancellationTokenSource(300))
            {
                var task = slow.JournalSendAsync(journal, 0, cancel.Token);
                Check(Throws<AggregateException>(() => task.Wait()) && task.IsCanceled, "a slow send is cancelled");
            }
            var cancelled = journal.Job(late);
            Check(cancelled.State == JournalState.Queued, "a job cancelled before its submit is Queued again",
                cancelled);
            foreach (var id in ids)
            {
                var j = journal.Job(id);
                Check(j.State == JournalState.Submitted && j.JobNumber.All(char.IsDigit) && j.JobNumber != ""
                    && j.Attempts == 1, j.Reference + " Submitted with its job number", j);
            }
            Check(journal.Evidence(ids[0], JobEvidenceKind.PackagesBefore) == null,
                "no evidence kept for a job sent without it");
            Check(journal.Recover() == 0, "Recover with nothing unsettled settles nothing");
            journal.Resolver = evidence => JobResolution.Submitted;
            Check(journal.Resolver != null, "a resolver is kept while set");
        }
        using (var again = new Journal(path))
            Check(again.List(JournalState.Submitted).SequenceEqual(ids) && again.List(JournalState.Queued)
                .SequenceEqual(new[] { late }), "the jobs outlive the Dispose");
        string garbage = Path.Combine(args[2], "garbage.journal");
        var noise = new byte[4096];
        new Random(33).NextBytes(noise);
        File.WriteAllBytes(garbage, noise);
        try
        {
            new Journal(garbage).Dispose();
            Check(false, "a garbage file is refused");
        }
        catch (QuorvexException e) { Check(e.Outcome?.Detail?.Length > 0, "a garbage file is refused, saying why"); }
        Console.WriteLine(failures == 0 ? "dotnet journal scenario: ok" : failures + " failed");
        return failures == 0 ? 0 : 1;
    }
}
