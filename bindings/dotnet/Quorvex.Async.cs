// Quorvex.Async.cs - the Task-returning methods' machinery.  Every operation of the process completes on one
// queue (QvQueueCreate); one background thread blocks in QvQueueNext on it and completes each operation's task
// through a TaskCompletionSource made with RunContinuationsAsynchronously, so that no code of the host ever runs
// on that thread: an await resumes on the context it captured (a window's thread), or on the thread pool.  A
// token cancels through QvOpCancel.  Session's XxxAsync methods are generated (Quorvex.Session.Async.g.cs);
// LoginAsync and SendJobAsync are here.
using System;
using System.Collections.Concurrent;
using System.Collections.Generic;
using System.Threading;
using System.Threading.Tasks;
using static Quorvex.Native;

namespace Quorvex
{
    // An operation started and not yet completed: what its completion does.
    abstract class Pending
    {
        readonly object gate = new object();
        readonly CancellationToken token;
        CancellationTokenRegistration registration;
        IntPtr op;
        bool done;

        protected Pending(CancellationToken token) { this.token = token; }

        // The token cancelled it; the outputs then tell whether anything of it reached the server.
        protected bool CancelRequested { get; private set; }
        protected CancellationToken Token => token;

        // Its handle, once the start returned it; the token may cancel it from then on.
        internal void Started(IntPtr started)
        {
            lock (gate) op = started;
            if (!token.CanBeCanceled) return;
            var r = token.Register(Cancel);
            bool late;
            lock (gate)
            {
                late = done;
                if (!late) registration = r;
            }
            if (late) r.Dispose();
        }

        void Cancel()
        {
            lock (gate)
            {
                if (done || op == IntPtr.Zero) return;
                CancelRequested = true;
                // Refused harmlessly once the operation has completed: a handle is never handed out twice.
                NativeMethods.QvOpCancel(op);
            }
        }

        // On the dispatcher's thread, before the operation is freed.
        internal void Complete(IntPtr completed)
        {
            CancellationTokenRegistration r;
            lock (gate)
            {
                done = true;
                r = registration;
            }
            r.Dispose();  // outside the lock: it waits for a cancel in progress, which takes the lock
            Finish(completed);
        }

        protected abstract void Finish(IntPtr completed);

        // Whether the operation is done: a progress poll must not read a freed operation.
        internal bool TryRead(Func<IntPtr, bool> read)
        {
            lock (gate) return !done && op != IntPtr.Zero && read(op);
        }
    }

    // A pending operation whose task completes with what Read makes of its outputs; Read throws
    // OperationCanceledException for an operation the token cancelled before it reached the server.
    sealed class Pending<T> : Pending
    {
        readonly TaskCompletionSource<T> source =
            new TaskCompletionSource<T>(TaskCreationOptions.RunContinuationsAsynchronously);
        readonly Func<IntPtr, bool, T> read;

        internal Pending(Func<IntPtr, bool, T> read, CancellationToken token) : base(token) { this.read = read; }

        internal Task<T> Task => source.Task;

        protected override void Finish(IntPtr completed)
        {
            try { source.TrySetResult(read(completed, CancelRequested)); }
            catch (OperationCanceledException) { source.TrySetCanceled(Token); }
            catch (Exception e) { source.TrySetException(e); }
        }
    }

    // The process's queue and the thread that takes its completions.
    static class Dispatcher
    {
        // How often the progress of a running send is read, only while one runs.
        const int ProgressPollMs = 50;

        static readonly object gate = new object();
        static readonly ConcurrentDictionary<IntPtr, Pending> pending = new ConcurrentDictionary<IntPtr, Pending>();
        static readonly List<JobProgress> sends = new List<JobProgress>();
        static IntPtr queue;
        static long lastTag;
        static Timer poll;

        static IntPtr Queue()
        {
            lock (gate)
            {
                if (queue != IntPtr.Zero) return queue;
                Library.Ensure();
                IntPtr q = NativeMethods.QvQueueCreate();
                if (q == IntPtr.Zero)
                    throw new InvalidOperationException("QvQueueCreate: " + Client.GetLastOutcome().Detail);
                new Thread(() => Drain(q)) { IsBackground = true, Name = "Quorvex operations" }.Start();
                // Ends the thread's wait, so that the runtime's shutdown finds no thread blocked in the library.
                AppDomain.CurrentDomain.ProcessExit += (sender, e) => NativeMethods.QvQueueDestroy(q);
                return queue = q;
            }
        }

        // Takes each completion, completes its task and frees it; NULL only once the queue is destroyed.
        static void Drain(IntPtr q)
        {
            for (IntPtr op; (op = NativeMethods.QvQueueNext(q, -1)) != IntPtr.Zero;)
            {
                if (pending.TryRemove(NativeMethods.QvOpTag(op), out Pending p)) p.Complete(op);
                NativeMethods.QvOpFree(op);
            }
        }

        // Starts an operation through Start (given the queue and a tag) and returns its task; null when the
        // library refused it at once (the calling thread's outcome says why).
        internal static Task<T> Start<T>(Func<IntPtr, IntPtr, IntPtr> start, Func<IntPtr, bool, T> read,
            CancellationToken token, JobProgress progress = null)
        {
            var q = Queue();
            var tag = new IntPtr(Interlocked.Increment(ref lastTag));
            var p = new Pending<T>(read, token);
            // Registered before the start: the operation may complete before the start returns.
            pending[tag] = p;
            IntPtr op;
            try { op = start(q, tag); }
            catch
            {
                pending.TryRemove(tag, out _);
                throw;
            }
            if (op == IntPtr.Zero)
            {
                pending.TryRemove(tag, out _);
                return null;
            }
            p.Started(op);
            if (progress != null) Watch(progress.Of(p));
            return p.Task;
        }

        // A send's progress is read every ProgressPollMs while any send runs; the library calls no host code.
        static void Watch(JobProgress progress)
        {
            lock (gate)
            {
                sends.Add(progress);
                if (poll == null) poll = new Timer(_ => Poll(), null, ProgressPollMs, ProgressPollMs);
            }
        }

        internal static void Unwatch(JobProgress progress)
        {
            lock (gate)
            {
                sends.Remove(progress);
                if (sends.Count > 0 || poll == null) return;
                poll.Dispose();
                poll = null;
            }
        }

        static void Poll()
        {
            JobProgress[] now;
            lock (gate) now = sends.ToArray();
            foreach (var s in now) s.Read();
        }
    }

    // A send's progress as QvOpProgress reads it, reported to the host's IProgress each time it changes: through
    // the SynchronizationContext of the thread that started the send when it had one (a Progress<T> posts to its
    // own), else on the thread pool, one after another.
    sealed class JobProgress
    {
        readonly IProgress<JobProgressEventArgs> target;
        readonly SynchronizationContext context = SynchronizationContext.Current;
        Pending pending;
        int step, attempt;
        Task chain = Task.CompletedTask;  // without a context, the reports still arrive in order

        internal JobProgress(IProgress<JobProgressEventArgs> target) { this.target = target; }

        internal JobProgress Of(Pending p)
        {
            pending = p;
            return this;
        }

        internal void Read() => pending?.TryRead(op => Read(op));

        // Reads the operation's progress (also its last, at completion) and reports a change.
        internal bool Read(IntPtr op)
        {
            lock (this)
            {
                if (!NativeMethods.QvOpProgress(op, out int s, out int a) || (s == step && a == attempt)) return true;
                step = s;
                attempt = a;
            }
            var args = new JobProgressEventArgs(step, attempt);
            if (target is Progress<JobProgressEventArgs>) target.Report(args);
            else if (context != null) context.Post(_ => target.Report(args), null);
            else lock (this) chain = chain.ContinueWith(_ => target.Report(args), TaskScheduler.Default);
            return true;
        }
    }

    public sealed partial class Session
    {
        // One generated method's operation: Start on this session's address, the queue and a tag; F reads it back.
        Task<Reply> Begin(Frame f, CancellationToken token, Func<IntPtr, IntPtr, IntPtr, IntPtr> start)
        {
            if (token.IsCancellationRequested) return Task.FromCanceled<Reply>(token);
            var p = Enter();
            try
            {
                return Dispatcher.Start((q, t) => start(p, q, t), (op, cancelled) =>
                    {
                        var reply = f.Completed(op);
                        if (cancelled && reply.Outcome?.Kind == QV_OUTCOME_CANCELLED) throw new OperationCanceledException();
                        return reply;
                    }, token) ?? Task.FromResult(f.Done(false, Client.GetLastOutcome()));
            }
            finally { Leave(); }
        }

        // A pair's one Reply: the code of whichever half has one (the second's first), both halves' outputs.
        static Reply Pair(string name, Reply first, Func<Reply, Reply> then)
        {
            if (!first) return first;
            var second = then(first);
            var outputs = new Dictionary<string, object>();
            foreach (var o in first.Outputs) outputs[o.Key] = o.Value;
            foreach (var o in second.Outputs) outputs[o.Key] = o.Value;
            var numbers = new List<int>(first.Numbers);
            numbers.AddRange(second.Numbers);
            var texts = new List<string>(first.Params);
            texts.AddRange(second.Params);
            return new Reply { Ok = second.Ok, Code = second.HasCode ? second.Code : first.Code,
                HasCode = first.HasCode || second.HasCode, Message = second.Message ?? first.Message,
                Params = texts.ToArray(), Numbers = numbers.ToArray(), Outputs = outputs, Export = name,
                Outcome = second.Outcome };
        }

        /// <summary><see cref="Login"/> as an operation: the same Reply, on the awaiting code's context once it has
        /// completed.  The token cancels it; the task ends cancelled when nothing of it reached the server.</summary>
        public Task<Reply> LoginAsync(string name, string password, string app = "", string extra = "",
            string version = "", CancellationToken cancellationToken = default(CancellationToken)) =>
            StartLogin(app, extra, name, password, version, cancellationToken);

        /// <summary><see cref="SendJob(Job, int)"/> as an operation (QvStartSendJob): the same result, on the
        /// awaiting code's context once the send has ended.  The library calls none of the job's callbacks meanwhile:
        /// Progress is told each new call of the send (read every 50 ms while a send runs, and once at its end), on
        /// the context of the thread that called this method (a Progress&lt;T&gt; on its own).  The token cancels the
        /// send: the task ends cancelled when it stopped before its submit was out, and otherwise with the result
        /// (MaybeSubmitted when the submit was out).</summary>
        /// <exception cref="ArgumentException">The library refused to start the job (no product, no numbers);
        /// nothing was sent.  At once when the start refuses it, else through the task.</exception>
        /// <exception cref="InvalidOperationException">The job is being sent already.</exception>
        public Task<JobResult> SendJobAsync(Job job, IProgress<JobProgressEventArgs> progress = null,
            CancellationToken cancellationToken = default(CancellationToken), int attempts = 2)
        {
            if (job == null) throw new ArgumentNullException(nameof(job));
            if (cancellationToken.IsCancellationRequested) return Task.FromCanceled<JobResult>(cancellationToken);
            var j = job.BeginSend();
            bool started = false;
            try
            {
                IntPtr s;
                try { s = Enter(); }
                catch (ObjectDisposedException) { return Task.FromResult(Job.NotStarted("The session is disposed.")); }
                try
                {
                    var watch = progress == null ? null : new JobProgress(progress);
                    var task = Dispatcher.Start((q, t) => NativeMethods.QvStartSendJob(s, q, t, j, attempts),
                        (op, cancelled) => Sent(job, j, op, cancelled, watch), cancellationToken, watch);
                    if (task == null) throw new ArgumentException("SendJobAsync: " + Client.GetLastOutcome().Detail,
                        nameof(job));
                    started = true;
                    return task;
                }
                finally { Leave(); }
            }
            finally
            {
                if (!started) job.EndSend();
            }
        }

        // A send operation's end, on the dispatcher's thread: its last progress, then the job's result.
        static JobResult Sent(Job job, IntPtr j, IntPtr op, bool cancelled, JobProgress watch)
        {
            try
            {
                if (watch != null)
                {
                    Dispatcher.Unwatch(watch);
                    watch.Read(op);
                }
                job.Disarm();
                bool ok = NativeMethods.QvOpResult(op);
                var result = job.Result(j);
                bool stopped = Frame.OpOutcome(op).Kind == QV_OUTCOME_CANCELLED;
                if (cancelled && (stopped || result.Status == JobStatus.Cancelled)) throw new OperationCanceledException();
                if (stopped && result.Status == JobStatus.None)
                    return Job.NotStarted("The operation was cancelled before the send began.");
                if (!ok && result.Status == JobStatus.None)
                    throw new ArgumentException("SendJobAsync: " + result.Outcome.Detail, nameof(job));
                return result;
            }
            finally { job.EndSend(); }
        }
    }
}
