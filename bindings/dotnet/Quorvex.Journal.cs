// Quorvex.Journal.cs - the send-job journal (QvJournal): jobs kept in a file the host names, so that a host that
// crashes or loses power never sends one twice nor loses one it added.  The library keeps the file and decides
// every state; this file hands it jobs and reads back what it stored.
using System;
using System.Runtime.ExceptionServices;
using System.Runtime.InteropServices;
using System.Threading;
using System.Threading.Tasks;
using static Quorvex.Native;

namespace Quorvex
{
    /// <summary>The state of a journal's job (QV_JOURNAL_*).</summary>
    public enum JournalState
    {
        /// <summary>Added, not sent.</summary>
        Queued = QV_JOURNAL_QUEUED,
        /// <summary>Its send began; found so after a crash it becomes Unknown.</summary>
        Sending = QV_JOURNAL_SENDING,
        /// <summary>The server took it; its job number is kept.</summary>
        Submitted = QV_JOURNAL_SUBMITTED,
        /// <summary>The server refused it; its code and message are kept.</summary>
        Refused = QV_JOURNAL_REFUSED,
        /// <summary>Not submitted; the host may queue it again.</summary>
        Failed = QV_JOURNAL_FAILED,
        /// <summary>May have been submitted: to be looked up, never sent again by the library.</summary>
        Unknown = QV_JOURNAL_UNKNOWN,
    }

    /// <summary>A journal's job as stored (QvJournalJob).</summary>
    public sealed class JournalJob
    {
        /// <summary>Its id in the journal.</summary>
        public long Id { get; internal set; }
        /// <summary>Its state.</summary>
        public JournalState State { get; internal set; }
        /// <summary>The host's own name for it, given to <see cref="Journal.Add"/>.</summary>
        public string Reference { get; internal set; }
        /// <summary>How many sends it took.</summary>
        public int Attempts { get; internal set; }
        /// <summary>The server's code, -1 for none.</summary>
        public int Code { get; internal set; }
        /// <summary>The server's message: why it was refused.</summary>
        public string Message { get; internal set; }
        /// <summary>The server's number for it once submitted, else empty.</summary>
        public string JobNumber { get; internal set; }
        /// <summary>When it was added (UTC).</summary>
        public DateTime Added { get; internal set; }
        /// <summary>When it last changed (UTC).</summary>
        public DateTime Changed { get; internal set; }

        /// <summary>The id, reference and state, e.g. for a log.</summary>
        public override string ToString() => $"{Id} {Reference}: {State} {JobNumber}";
    }

    // A journal handle: closed once, when the journal is disposed (or finalised) and the last call that holds it
    // has returned, so that no call ever passes the library a closed journal.
    sealed class JournalHandle : SafeHandle
    {
        public JournalHandle(byte[] path) : base(IntPtr.Zero, true)
        {
            try { } finally { SetHandle(NativeMethods.QvJournalOpen(path)); }
        }

        public override bool IsInvalid => handle == IntPtr.Zero;

        protected override bool ReleaseHandle() => NativeMethods.QvJournalClose(handle);
    }

    /// <summary>A journal file (QvJournalOpen): <see cref="Add"/> stores a job and returns its id once it is on
    /// stable storage (a reference added again returns the same id and stores nothing); <see cref="Send"/> and
    /// <see cref="Session.JournalSendAsync"/> send the queued jobs in the order added.  A job whose submit may
    /// have been applied ends Unknown and is never sent again by the library: <see cref="Recover"/> looks such
    /// jobs up through the <see cref="Resolver"/>, and <see cref="Resolve"/> lets the host settle one.  Any thread
    /// may call it; Dispose closes the file once the calls in progress have returned.</summary>
    public sealed class Journal : IDisposable
    {
        [UnmanagedFunctionPointer(CallingConvention.Winapi)]
        delegate int ResolverCallback(IntPtr job, IntPtr context);

        readonly JournalHandle handle;
        readonly object gate = new object();
        // The library calls it by address: the journal keeps it alive while the library holds it.
        ResolverCallback resolverCallback;
        Func<JobEvidence, JobResolution> resolver;
        [ThreadStatic] static Exception resolverError;

        /// <summary>Opens the journal in the file at Path, making it when there is none.</summary>
        /// <exception cref="QuorvexException">The file cannot be used as a journal: not one of this library's, of
        /// a newer format, open elsewhere, on a network file system; its <see cref="QuorvexException.Outcome"/>
        /// says why.</exception>
        /// <exception cref="ArgumentException">Path holds a character the system's code page lacks.</exception>
        public Journal(string path)
        {
            if (path == null) throw new ArgumentNullException(nameof(path));
            Library.Ensure();
            handle = new JournalHandle(PathBytes(path));
            if (handle.IsInvalid)
            {
                var outcome = Client.GetLastOutcome();
                handle.Dispose();
                throw new QuorvexException(new Reply { Ok = false, Code = -1, Export = "QvJournalOpen",
                    Outcome = outcome });
            }
        }

        // The path as the library opens it: UTF-8, or the system's code page on Windows, where a character the
        // code page lacks would silently name another file.
        static byte[] PathBytes(string path)
        {
            if (path.IndexOf('\0') >= 0) throw new ArgumentException("a path cannot hold U+0000", nameof(path));
            if (Environment.OSVersion.Platform != PlatformID.Win32NT)
            {
                var utf8 = Gbk.Utf8(path);
                Array.Resize(ref utf8, utf8.Length + 1);
                return utf8;
            }
            IntPtr ansi = Marshal.StringToHGlobalAnsi(path);
            try
            {
                if (Marshal.PtrToStringAnsi(ansi) != path)
                    throw new ArgumentException("the path holds a character the system's code page lacks", nameof(path));
                int n = 0;
                while (Marshal.ReadByte(ansi, n) != 0) n++;
                var bytes = new byte[n + 1];
                Marshal.Copy(ansi, bytes, 0, n);
                return bytes;
            }
            finally { Marshal.FreeHGlobal(ansi); }
        }

        /// <summary>Whether Dispose has run.</summary>
        public bool IsDisposed => handle.IsClosed;

        /// <summary>Closes the file once the calls in progress on it have returned; its jobs stay in it.</summary>
        public void Dispose() => handle.Dispose();

        /// <summary>Stores Job's content under Reference (1 to QV_JOURNAL_REFERENCE_MAX GBK bytes) and returns its
        /// id once it is on stable storage; a reference already stored returns that job's id.</summary>
        /// <exception cref="ArgumentException">A job the sender would refuse, or a bad reference.</exception>
        /// <exception cref="QuorvexException">The journal could not store it (the disk).</exception>
        public long Add(Job job, string reference)
        {
            if (job == null) throw new ArgumentNullException(nameof(job));
            byte[] r = Gbk.Encode(reference);
            var j = Enter();
            try
            {
                var p = job.Lend();
                try
                {
                    long id = NativeMethods.QvJournalAdd(j, p, r);
                    if (id <= 0) throw Failed("QvJournalAdd");
                    return id;
                }
                finally { job.Return(); }
            }
            finally { Leave(); }
        }

        /// <summary>Job Id as stored; null when the journal has no such job.</summary>
        public JournalJob Job(long id)
        {
            var reference = new byte[QV_JOURNAL_REFERENCE_BUFFER_SIZE];
            var message = new byte[QV_BODY_BUFFER_SIZE];
            var number = new byte[QV_PARAM_BUFFER_SIZE];
            int state, attempts, code;
            long added, changed;
            var j = Enter();
            try
            {
                if (!NativeMethods.QvJournalJob(j, id, out state, reference, out attempts, out code, message, number,
                        out added, out changed))
                    return null;
            }
            finally { Leave(); }
            return new JournalJob { Id = id, State = (JournalState)state, Reference = Gbk.Decode(reference),
                Attempts = attempts, Code = code, Message = Gbk.Decode(message), JobNumber = Gbk.Decode(number),
                Added = When(added), Changed = When(changed) };
        }

        static DateTime When(long ms) => new DateTime(1970, 1, 1, 0, 0, 0, DateTimeKind.Utc).AddMilliseconds(ms);

        /// <summary>The ids of the jobs in State (every state when null), oldest first.</summary>
        public long[] List(JournalState? state = null)
        {
            var ids = new long[0];
            var j = Enter();
            try
            {
                for (;;)
                {
                    int n = NativeMethods.QvJournalList(j, (int?)state ?? 0, ids, ids.Length);
                    if (n < 0) throw Failed("QvJournalList");
                    if (n <= ids.Length)
                    {
                        Array.Resize(ref ids, n);
                        return ids;
                    }
                    ids = new long[n];  // more were added meanwhile: ask again with room for them
                }
            }
            finally { Leave(); }
        }

        /// <summary>The evidence Which kept with job Id, as the server wrote it; null where there is none.</summary>
        public string Evidence(long id, JobEvidenceKind which)
        {
            var j = Enter();
            try { return ReadEvidence((b, n) => NativeMethods.QvJournalEvidence(j, id, (int)which, b, n)); }
            finally { Leave(); }
        }

        static string ReadEvidence(Func<byte[], int, int> read)
        {
            for (var buffer = new byte[QV_BODY_BUFFER_SIZE]; ;)
            {
                int n = read(buffer, buffer.Length);
                if (n < 0) return null;
                if (n < buffer.Length) return Gbk.Decode(buffer, n);
                buffer = new byte[n + 1];
            }
        }

        /// <summary>Decides a job that may have been submitted from its evidence, for a host that knows its
        /// server's formats; called on the thread of <see cref="Send"/> or <see cref="Recover"/>.  Null for none:
        /// the job stays Unknown.  One that throws counts as Unknown, and the call that ran it rethrows its
        /// exception once it has returned.</summary>
        public Func<JobEvidence, JobResolution> Resolver
        {
            get => resolver;
            set => SetResolver(value);
        }

        /// <summary>Sets (null: removes) the <see cref="Resolver"/>.</summary>
        public void SetResolver(Func<JobEvidence, JobResolution> value)
        {
            lock (gate)
            {
                var callback = value == null ? null : resolverCallback ?? new ResolverCallback(OnResolve);
                var j = Enter();
                try
                {
                    if (!NativeMethods.QvJournalSetResolver(j, callback == null ? IntPtr.Zero
                            : Marshal.GetFunctionPointerForDelegate(callback), IntPtr.Zero))
                        throw Failed("QvJournalSetResolver");
                }
                finally { Leave(); }
                resolverCallback = callback;
                resolver = value;
            }
        }

        int OnResolve(IntPtr job, IntPtr context)
        {
            try
            {
                var texts = new string[4];
                for (int i = 0; i < texts.Length; i++)
                    texts[i] = ReadEvidence((b, n) => NativeMethods.QvJobEvidence(job, i + 1, b, n));
                return (int)(resolver?.Invoke(new JobEvidence(texts)) ?? JobResolution.Unknown);
            }
            catch (Exception e)
            {
                // A host's exception must not unwind through the library.
                if (resolverError == null) resolverError = e;
                return QV_RESOLVED_UNKNOWN;
            }
        }

        // Runs a call that may run the resolver on this thread, and rethrows what the resolver threw.
        T WithResolver<T>(Func<T> call)
        {
            resolverError = null;
            T value;
            try { value = call(); }
            finally { GC.KeepAlive(this); }
            var error = resolverError;
            resolverError = null;
            if (error != null) ExceptionDispatchInfo.Capture(error).Throw();
            return value;
        }

        /// <summary>Sends the queued jobs on Session, oldest first, at most MaxJobs of them (0 or below: all), each
        /// with two attempts (QvJournalSend).  Ok when no queued job was left or MaxJobs were sent; otherwise it
        /// stopped early (a job failed, the journal could not store a state) and the reply's Outcome says why.
        /// The number output Settled is how many jobs left Queued.</summary>
        /// <exception cref="Exception">What the <see cref="Resolver"/> threw.</exception>
        public Reply Send(Session session, int maxJobs = 0)
        {
            if (session == null) throw new ArgumentNullException(nameof(session));
            return WithResolver(() => session.JournalSend(this, maxJobs));
        }

        /// <summary>Makes every job left Sending Unknown and, given a session, looks each Unknown job up and hands
        /// its evidence to the <see cref="Resolver"/>; returns how many jobs it settled.  No job is sent again.
        /// </summary>
        /// <exception cref="QuorvexException">The journal could not store a state or a look-up failed.</exception>
        /// <exception cref="Exception">What the <see cref="Resolver"/> threw.</exception>
        public int Recover(Session session = null)
        {
            return WithResolver(() =>
            {
                if (session == null) return RecoverOn(IntPtr.Zero);
                return session.WithSession(s => RecoverOn(s));
            });
        }

        int RecoverOn(IntPtr session)
        {
            var j = Enter();
            try
            {
                if (!NativeMethods.QvJournalRecover(j, session, out int resolved)) throw Failed("QvJournalRecover");
                return resolved;
            }
            finally { Leave(); }
        }

        /// <summary>The host settles job Id: an Unknown job to Submitted (with its JobNumber), Failed or Queued;
        /// a Failed or Refused job back to Queued.</summary>
        /// <exception cref="ArgumentException">Any other change, or no such job; the journal is unchanged.
        /// </exception>
        public void Resolve(long id, JournalState state, string jobNumber = null)
        {
            byte[] number = Gbk.Encode(jobNumber);
            var j = Enter();
            try
            {
                if (!NativeMethods.QvJournalResolve(j, id, (int)state, number)) throw Failed("QvJournalResolve");
            }
            finally { Leave(); }
        }

        // The exception of a call that returned its failure: ArgumentException for a refused argument.
        static Exception Failed(string export)
        {
            var outcome = Client.GetLastOutcome();
            if (outcome.Kind == QV_OUTCOME_REFUSED && outcome.Argument != 0)
                return new ArgumentException(export + ": " + outcome.Detail);
            return new QuorvexException(new Reply { Ok = false, Code = -1, Export = export, Outcome = outcome });
        }

        // The journal's address for one call, which the handle outlives; paired with Leave.
        internal IntPtr Enter()
        {
            bool added = false;
            try { handle.DangerousAddRef(ref added); }
            catch (ObjectDisposedException) { throw new ObjectDisposedException(nameof(Journal), "the journal is disposed"); }
            return handle.DangerousGetHandle();
        }

        internal void Leave() => handle.DangerousRelease();
    }

    public sealed partial class Session
    {
        // Function on this session's address, between Enter and Leave.
        internal T WithSession<T>(Func<IntPtr, T> function)
        {
            var s = Enter();
            try { return function(s); }
            finally { Leave(); }
        }

        internal Reply JournalSend(Journal journal, int maxJobs)
        {
            var f = new Frame("QvJournalSend", false, "Settled");
            var s = Enter();
            try
            {
                var j = journal.Enter();
                try { return f.Done(s, NativeMethods.QvJournalSend(s, j, maxJobs, out f.Numbers[0])); }
                finally { journal.Leave(); }
            }
            finally { Leave(); }
        }

        /// <summary><see cref="Journal.Send"/> as an operation (QvStartJournalSend): the same Reply (its number
        /// output Settled), on the awaiting code's context once the run has ended.  No resolver is called: a
        /// "maybe" stays Unknown, for <see cref="Journal.Recover"/> or the host.  The token ends the job being sent
        /// as <see cref="Job.Cancel"/> does, and the run with it: the task ends cancelled, and the journal keeps
        /// whatever state each job reached.  The journal is not closed before the run has ended.</summary>
        public Task<Reply> JournalSendAsync(Journal journal, int maxJobs = 0,
            CancellationToken cancellationToken = default(CancellationToken))
        {
            if (journal == null) throw new ArgumentNullException(nameof(journal));
            if (cancellationToken.IsCancellationRequested) return Task.FromCanceled<Reply>(cancellationToken);
            var f = new Frame("QvJournalSend", false, "Settled");
            var j = journal.Enter();
            bool started = false;
            try
            {
                var s = Enter();
                try
                {
                    var task = Dispatcher.Start((q, t) => NativeMethods.QvStartJournalSend(s, q, t, j, maxJobs),
                        (op, cancelled) =>
                        {
                            journal.Leave();
                            var reply = f.Completed(op);
                            // The call a cancel cut may say "maybe applied": the journal, not the
                            // outcome, holds where each job ended.
                            if (cancelled && !reply.Ok) throw new OperationCanceledException();
                            return reply;
                        }, cancellationToken);
                    if (task == null) return Task.FromResult(f.Done(false, Client.GetLastOutcome()));
                    started = true;
                    return task;
                }
                finally { Leave(); }
            }
            finally
            {
                if (!started) journal.Leave();
            }
        }
    }
}
