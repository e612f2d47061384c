// Quorvex.Job.cs - a send job as the library holds it (QvJob), and Session.SendJob, which hands it to QvSendJob.
// The job's plan, its recovery rules, its limits and the file's encoding are the library's (the README's
// "Sending a job"); this file carries texts in and the result out, and maps cancelling to the library's.
using System;
using System.Collections;
using System.Collections.Generic;
using System.Runtime.InteropServices;
using System.Threading;
using static Quorvex.Native;

namespace Quorvex
{
    /// <summary>A field of a job (QV_JOB_*).</summary>
    public enum JobField
    {
        /// <summary>SubmitPrdId: the product (required).</summary>
        Product = QV_JOB_PRODUCT,
        /// <summary>SubmitContent: the message's text.</summary>
        Content = QV_JOB_CONTENT,
        /// <summary>SubmitPushURL: a push message's URL.</summary>
        PushUrl = QV_JOB_PUSH_URL,
        /// <summary>SubmitTransFilename: a multimedia message's file name.</summary>
        FileName = QV_JOB_FILE_NAME,
        /// <summary>SubmitBgnDate.</summary>
        BeginDate = QV_JOB_BEGIN_DATE,
        /// <summary>SubmitEndDate.</summary>
        EndDate = QV_JOB_END_DATE,
        /// <summary>SubmitBgnTime.</summary>
        BeginTime = QV_JOB_BEGIN_TIME,
        /// <summary>SubmitEndTime.</summary>
        EndTime = QV_JOB_END_TIME,
        /// <summary>SubmitPQOrderSelect's first scheduled order.</summary>
        Order1 = QV_JOB_ORDER1,
        /// <summary>Its second.</summary>
        Order2 = QV_JOB_ORDER2,
        /// <summary>Its third.</summary>
        Order3 = QV_JOB_ORDER3,
        /// <summary>SubmitBgnDateEx: a scheduled job's period.</summary>
        Period = QV_JOB_PERIOD,
    }

    /// <summary>How a send ended (QV_JOB_*).</summary>
    public enum JobStatus
    {
        /// <summary>No send has ended.</summary>
        None = 0,
        /// <summary>The server took the job.</summary>
        Submitted = QV_JOB_SUBMITTED,
        /// <summary>The server answered a code other than 900: not submitted.</summary>
        Refused = QV_JOB_REFUSED,
        /// <summary>Not submitted; safe to send again.</summary>
        Failed = QV_JOB_FAILED,
        /// <summary>The submit's request went out and its answer is unknown: look it up before sending again
        /// (<see cref="JobResult.Evidence"/>).</summary>
        MaybeSubmitted = QV_JOB_MAYBE_SUBMITTED,
        /// <summary>Stopped before the submit was out: not submitted.</summary>
        Cancelled = QV_JOB_CANCELLED,
    }

    /// <summary>A reply taken as evidence of a "maybe submitted" job (QV_EVIDENCE_*).</summary>
    public enum JobEvidenceKind
    {
        /// <summary>AllInfoPackId, before the submit.</summary>
        PackagesBefore = QV_EVIDENCE_PACKAGES_BEFORE,
        /// <summary>LastDetails of the first number, before the submit.</summary>
        DetailsBefore = QV_EVIDENCE_DETAILS_BEFORE,
        /// <summary>AllInfoPackId, after a "maybe".</summary>
        PackagesAfter = QV_EVIDENCE_PACKAGES_AFTER,
        /// <summary>LastDetails of the first number, after a "maybe".</summary>
        DetailsAfter = QV_EVIDENCE_DETAILS_AFTER,
    }

    /// <summary>A resolver's answer (QV_RESOLVED_*).</summary>
    public enum JobResolution
    {
        /// <summary>The evidence does not tell: the job stays MaybeSubmitted.</summary>
        Unknown = QV_RESOLVED_UNKNOWN,
        /// <summary>The job is the server's: it ends Submitted.</summary>
        Submitted = QV_RESOLVED_SUBMITTED,
        /// <summary>The server does not have it: it ends Failed.</summary>
        NotSubmitted = QV_RESOLVED_NOT_SUBMITTED,
    }

    /// <summary>A call of a send about to be made.</summary>
    public sealed class JobProgressEventArgs : EventArgs
    {
        internal JobProgressEventArgs(int step, int attempt)
        {
            Step = step;
            Attempt = attempt;
        }

        /// <summary>The call's request code (298 for SubmitAllClear ... 299 for SubmitAllOver_2).</summary>
        public int Step { get; }
        /// <summary>The attempt, 1 for the first.</summary>
        public int Attempt { get; }
    }

    /// <summary>The replies taken as evidence by a send (the job's <see cref="Job.CollectEvidence"/>): their texts
    /// as the server wrote them, null for one not taken.</summary>
    public sealed class JobEvidence
    {
        readonly string[] texts;

        internal JobEvidence(string[] texts) { this.texts = texts; }

        /// <summary>One of them.</summary>
        public string this[JobEvidenceKind which] => texts[(int)which - 1];
        /// <summary>AllInfoPackId, before the submit.</summary>
        public string PackagesBefore => this[JobEvidenceKind.PackagesBefore];
        /// <summary>LastDetails of the first number, before the submit.</summary>
        public string DetailsBefore => this[JobEvidenceKind.DetailsBefore];
        /// <summary>AllInfoPackId, after a "maybe".</summary>
        public string PackagesAfter => this[JobEvidenceKind.PackagesAfter];
        /// <summary>LastDetails of the first number, after a "maybe".</summary>
        public string DetailsAfter => this[JobEvidenceKind.DetailsAfter];
    }

    /// <summary>How a send ended (QvJobResult, QvJobOutcome, QvJobEvidence).</summary>
    public sealed class JobResult
    {
        /// <summary>How the job ended.</summary>
        public JobStatus Status { get; internal set; }
        /// <summary>The request code of the call it ended on, 0 when it ended before any.</summary>
        public int Step { get; internal set; }
        /// <summary>How many times the job was started.</summary>
        public int Attempts { get; internal set; }
        /// <summary>That call's code: the server's, or -1 when no answer arrived.</summary>
        public int Code { get; internal set; }
        /// <summary>That call's message.</summary>
        public string Message { get; internal set; }
        /// <summary>Submitted: the job's number, when the server's message is one; else empty.</summary>
        public string JobNumber { get; internal set; }
        /// <summary>Submitted: the recipients.</summary>
        public int Recipients { get; internal set; }
        /// <summary>Submitted: the messages charged.</summary>
        public int Charged { get; internal set; }
        /// <summary>Submitted: what is left to send with.</summary>
        public int Left { get; internal set; }
        /// <summary>That call's outcome.</summary>
        public Outcome Outcome { get; internal set; }
        /// <summary>What the relogin after that call came to.</summary>
        public ReloginKind Relogin { get; internal set; }
        /// <summary>The replies taken as evidence (all null unless the job collects them).</summary>
        public JobEvidence Evidence { get; internal set; }
        /// <summary>The job is the server's.</summary>
        public bool IsSubmitted => Status == JobStatus.Submitted;

        /// <summary>The status, the step, the code and the message, e.g. for a log.</summary>
        public override string ToString() =>
            $"{Status} at {Step} after {Attempts} attempt(s): {Code} {Message} ({Outcome?.OutcomeKind} {Outcome?.Detail})";
    }

    /// <summary>A handler of <see cref="Job.Progress"/> or the job's resolver threw: the send was cancelled
    /// there, and <see cref="Result"/> says how it ended.</summary>
    public sealed class JobCallbackException : Exception
    {
        internal JobCallbackException(JobResult result, Exception inner)
            : base("a callback of the job threw; the send ended " + result.Status, inner)
        {
            Result = result;
        }

        /// <summary>How the send ended.</summary>
        public JobResult Result { get; }
    }

    // A job handle: destroyed once, when the job is disposed (or finalised) and the send that holds it returned.
    sealed class JobHandle : SafeHandle
    {
        public JobHandle() : base(IntPtr.Zero, true)
        {
            Library.Ensure();
            try { } finally { SetHandle(NativeMethods.QvJobCreate()); }
        }

        public override bool IsInvalid => handle == IntPtr.Zero;

        protected override bool ReleaseHandle()
        {
            NativeMethods.QvJobDestroy(handle);
            return true;
        }
    }

    /// <summary>A send job held by the library (QvJobCreate): its fields, numbers, file and options, sent by
    /// <see cref="Session.SendJob(Job, int)"/>.  Strings are converted to GBK strictly: a character GBK lacks,
    /// a zero, or a text longer than its field throws at once, naming the field; the byte[] overloads take GBK
    /// bytes as they are.  A job may be filled and sent again after a send; it refuses changes while it is
    /// being sent.</summary>
    public sealed class Job : IDisposable
    {
        [UnmanagedFunctionPointer(CallingConvention.Winapi)]
        delegate void ProgressCallback(IntPtr job, IntPtr context, int step, int attempt);

        [UnmanagedFunctionPointer(CallingConvention.Winapi)]
        delegate int ResolverCallback(IntPtr job, IntPtr context);

        readonly JobHandle handle = new JobHandle();
        readonly string[] texts = new string[QV_JOB_PERIOD + 1];
        readonly object gate = new object();
        bool busy;   // a send holds the job
        bool armed;  // that send may still be in the library, so a cancel of the send reaches it
        bool check, evidence;
        int wait = QV_JOB_WAIT_DEFAULT_MS;
        byte[] file;
        // The library calls these by address: the job keeps them alive while it holds them.
        ProgressCallback progressCallback;
        ResolverCallback resolverCallback;
        EventHandler<JobProgressEventArgs> progress;
        Func<Job, JobResolution> resolver;
        Exception callbackError;

        /// <summary>An empty job.</summary>
        public Job()
        {
            if (handle.IsInvalid)
            {
                handle.Dispose();
                throw new OutOfMemoryException("QvJobCreate: out of memory or out of handles");
            }
            Numbers = new JobNumbers(this);
        }

        /// <summary>The product (required).</summary>
        public string Product { get => GetText(JobField.Product); set => SetText(JobField.Product, value); }
        /// <summary>The message's text.</summary>
        public string Content { get => GetText(JobField.Content); set => SetText(JobField.Content, value); }
        /// <summary>A push message's URL.</summary>
        public string PushUrl { get => GetText(JobField.PushUrl); set => SetText(JobField.PushUrl, value); }
        /// <summary>A multimedia message's file name.</summary>
        public string FileName { get => GetText(JobField.FileName); set => SetText(JobField.FileName, value); }
        /// <summary>When to send: dates and times in the server's formats.</summary>
        public string BeginDate { get => GetText(JobField.BeginDate); set => SetText(JobField.BeginDate, value); }
        /// <summary>See <see cref="BeginDate"/>.</summary>
        public string EndDate { get => GetText(JobField.EndDate); set => SetText(JobField.EndDate, value); }
        /// <summary>See <see cref="BeginDate"/>.</summary>
        public string BeginTime { get => GetText(JobField.BeginTime); set => SetText(JobField.BeginTime, value); }
        /// <summary>See <see cref="BeginDate"/>.</summary>
        public string EndTime { get => GetText(JobField.EndTime); set => SetText(JobField.EndTime, value); }
        /// <summary>Scheduled orders; any makes the job a scheduled one.</summary>
        public string Order1 { get => GetText(JobField.Order1); set => SetText(JobField.Order1, value); }
        /// <summary>See <see cref="Order1"/>.</summary>
        public string Order2 { get => GetText(JobField.Order2); set => SetText(JobField.Order2, value); }
        /// <summary>See <see cref="Order1"/>.</summary>
        public string Order3 { get => GetText(JobField.Order3); set => SetText(JobField.Order3, value); }
        /// <summary>A scheduled job's period; makes the job a scheduled one.</summary>
        public string Period { get => GetText(JobField.Period); set => SetText(JobField.Period, value); }

        /// <summary>The recipients' numbers, in the order added (a collection initialiser adds them).</summary>
        public JobNumbers Numbers { get; }

        /// <summary>A multimedia message's file, as bytes; the library encodes and splits it.</summary>
        public byte[] FileContent
        {
            get => file;
            set
            {
                var p = Enter();
                try { Refuse(NativeMethods.QvJobSetFile(p, value, value?.Length ?? 0), "FileContent"); }
                finally { Leave(); }
                file = value;
            }
        }

        /// <summary>Also ask the server to vet the product (CheckPrdId) and the text (CheckContent).</summary>
        public bool Check
        {
            get => check;
            set { SetOption(QV_JOB_OPTION_CHECK, value ? 1 : 0, "Check"); check = value; }
        }

        /// <summary>Take AllInfoPackId and LastDetails before the submit and again after a "maybe"
        /// (<see cref="JobResult.Evidence"/>).</summary>
        public bool CollectEvidence
        {
            get => evidence;
            set { SetOption(QV_JOB_OPTION_EVIDENCE, value ? 1 : 0, "CollectEvidence"); evidence = value; }
        }

        /// <summary>How long a send waits for another job of the same account, in milliseconds; 0 ends it at once
        /// (Failed) when another is being sent.</summary>
        public int WaitMilliseconds
        {
            get => wait;
            set { SetOption(QV_JOB_OPTION_WAIT, value, "WaitMilliseconds"); wait = value; }
        }

        /// <summary>Raised before each call of a send, on the sending thread.  A handler that throws cancels the
        /// send, which then throws <see cref="JobCallbackException"/>.</summary>
        public event EventHandler<JobProgressEventArgs> Progress
        {
            add
            {
                lock (gate)
                {
                    if (progressCallback == null)
                    {
                        var callback = new ProgressCallback(OnProgress);
                        SetCallback(p => NativeMethods.QvJobSetProgress(p, Marshal.GetFunctionPointerForDelegate(callback),
                            IntPtr.Zero), "Progress");
                        progressCallback = callback;
                    }
                    progress += value;
                }
            }
            remove { lock (gate) progress -= value; }
        }

        /// <summary>Decides a "maybe submitted" send from its evidence (<see cref="GetEvidence"/>), for a host that
        /// knows its server's formats; called on the sending thread.  Null for none: the job stays
        /// MaybeSubmitted.  One that throws counts as Unknown, and the send throws
        /// <see cref="JobCallbackException"/>.</summary>
        public Func<Job, JobResolution> Resolver
        {
            get => resolver;
            set
            {
                lock (gate)
                {
                    var callback = value == null ? null : resolverCallback ?? new ResolverCallback(OnResolve);
                    SetCallback(p => NativeMethods.QvJobSetResolver(p, callback == null ? IntPtr.Zero
                        : Marshal.GetFunctionPointerForDelegate(callback), IntPtr.Zero), "Resolver");
                    resolverCallback = callback;
                    resolver = value;
                }
            }
        }

        /// <summary>A field's text as last set, null when it is not set.</summary>
        public string GetText(JobField field) => texts[Index(field)];

        /// <summary>Sets a field; a null or empty text clears it.</summary>
        /// <exception cref="ArgumentException">The text holds a character GBK lacks or a zero, or is longer than
        /// its field; the field is unchanged.</exception>
        public void SetText(JobField field, string text)
        {
            SetBytes(field, text == null ? null : Gbk.Utf8(text), QV_TEXT_UTF8);
            texts[Index(field)] = string.IsNullOrEmpty(text) ? null : text;
        }

        /// <summary>Sets a field to GBK bytes as they are (no terminator); null or empty clears it.</summary>
        public void SetText(JobField field, byte[] gbk)
        {
            SetBytes(field, gbk, QV_TEXT_GBK);
            texts[Index(field)] = gbk == null || gbk.Length == 0 ? null : Gbk.Decode(gbk, gbk.Length);
        }

        /// <summary>The evidence of the last send, as the server wrote it; null when it was not taken.</summary>
        public string GetEvidence(JobEvidenceKind which)
        {
            var p = Enter();
            try
            {
                for (var buffer = new byte[QV_BODY_BUFFER_SIZE]; ;)
                {
                    int n = NativeMethods.QvJobEvidence(p, (int)which, buffer, buffer.Length);
                    if (n < 0) return null;
                    if (n < buffer.Length) return Gbk.Decode(buffer, n);
                    buffer = new byte[n + 1];
                }
            }
            finally { Leave(); }
        }

        /// <summary>Ends the job's send in progress on any thread: it ends Cancelled, or MaybeSubmitted when its
        /// submit was out.  Made while the job is not being sent, it ends the next send before its first call.
        /// False when the job is disposed.</summary>
        public bool Cancel()
        {
            bool added = false;
            try
            {
                handle.DangerousAddRef(ref added);
                return NativeMethods.QvJobCancel(handle.DangerousGetHandle());
            }
            catch (ObjectDisposedException) { return false; }
            finally { if (added) handle.DangerousRelease(); }
        }

        /// <summary>Cancels a send in progress; the job is freed once that send has returned.</summary>
        public void Dispose()
        {
            if (handle.IsClosed) return;
            CancelSend();
            handle.Dispose();
        }

        static int Index(JobField field)
        {
            if (field < JobField.Product || field > JobField.Period) throw new ArgumentOutOfRangeException(nameof(field));
            return (int)field;
        }

        void SetBytes(JobField field, byte[] bytes, int encoding)
        {
            Index(field);
            var p = Enter();
            try { Refuse(NativeMethods.QvJobSetText(p, (int)field, bytes, bytes?.Length ?? 0, encoding), field.ToString()); }
            finally { Leave(); }
        }

        internal void AddNumber(byte[] gbk, string what)
        {
            var p = Enter();
            try { Refuse(NativeMethods.QvJobAddNumber(p, gbk), what); }
            finally { Leave(); }
        }

        void SetOption(int option, int value, string what)
        {
            var p = Enter();
            try { Refuse(NativeMethods.QvJobSetOption(p, option, value), what); }
            finally { Leave(); }
        }

        void SetCallback(Func<IntPtr, bool> set, string what)
        {
            var p = Enter();
            try { Refuse(set(p), what); }
            finally { Leave(); }
        }

        // A refused change: the library's reason, as an exception of the kind a .NET host expects.
        void Refuse(bool ok, string what)
        {
            if (ok) return;
            string detail = Client.GetLastOutcome().Detail;
            if (Volatile.Read(ref busy)) throw new InvalidOperationException(what + ": the job is being sent");
            throw new ArgumentException(what + ": " + detail);
        }

        IntPtr Enter()
        {
            bool added = false;
            try { handle.DangerousAddRef(ref added); }
            catch (ObjectDisposedException) { throw new ObjectDisposedException(nameof(Job), "the job is disposed"); }
            return handle.DangerousGetHandle();
        }

        void Leave() => handle.DangerousRelease();

        // The job's address for a call of another object (the journal's add), paired with Return.
        internal IntPtr Lend() => Enter();

        internal void Return() => Leave();

        void OnProgress(IntPtr job, IntPtr context, int step, int attempt)
        {
            try { progress?.Invoke(this, new JobProgressEventArgs(step, attempt)); }
            catch (Exception e) { Fault(e); }
        }

        int OnResolve(IntPtr job, IntPtr context)
        {
            try { return (int)(resolver?.Invoke(this) ?? JobResolution.Unknown); }
            catch (Exception e)
            {
                Fault(e);
                return QV_RESOLVED_UNKNOWN;
            }
        }

        // A host's exception must not unwind through the library: it ends the send, and the send rethrows it.
        void Fault(Exception e)
        {
            if (callbackError == null) callbackError = e;
            NativeMethods.QvJobCancel(handle.DangerousGetHandle());
        }

        // A send's hold on the job; the job's handle outlives it.
        internal IntPtr BeginSend()
        {
            var p = Enter();
            lock (gate)
            {
                if (busy)
                {
                    Leave();
                    throw new InvalidOperationException("the job is being sent");
                }
                busy = armed = true;
                callbackError = null;
            }
            return p;
        }

        // Cancels the send that holds the job while it may still be in the library.  A cancel that arrived
        // later would stay with the job and end its next send.
        internal void CancelSend()
        {
            lock (gate)
                if (armed) NativeMethods.QvJobCancel(handle.DangerousGetHandle());
        }

        internal void Disarm()
        {
            lock (gate) armed = false;
        }

        internal void EndSend()
        {
            lock (gate) busy = armed = false;
            Leave();
        }

        // The last send's result, or the exception of a job the library refused to start.
        internal JobResult Result(IntPtr job)
        {
            var message = new byte[QV_BODY_BUFFER_SIZE];
            var number = new byte[QV_PARAM_BUFFER_SIZE];
            var detail = new byte[QV_DETAIL_BUFFER_SIZE];
            NativeMethods.QvJobResult(job, out int status, out int step, out int attempts, out int code, message, number,
                out int recipients, out int charged, out int left);
            NativeMethods.QvJobOutcome(job, out int kind, out int sent, out int relogin, out int socketError, detail,
                detail.Length);
            var evidence = new string[4];
            for (int i = 0; i < evidence.Length; i++) evidence[i] = GetEvidence((JobEvidenceKind)(i + 1));
            var result = new JobResult {
                Status = (JobStatus)status, Step = step, Attempts = attempts, Code = code,
                Message = Gbk.Decode(message), JobNumber = Gbk.Decode(number), Recipients = recipients,
                Charged = charged, Left = left, Relogin = (ReloginKind)relogin, Evidence = new JobEvidence(evidence),
                Outcome = new Outcome { Kind = kind, Sent = sent != 0, SocketError = socketError,
                    Detail = Gbk.Decode(detail) } };
            if (callbackError != null) throw new JobCallbackException(result, callbackError);
            return result;
        }

        // A send that never reached the library: its session was disposed first.
        internal static JobResult NotStarted(string why) => new JobResult {
            Status = JobStatus.Cancelled, Code = -1, Message = "", JobNumber = "", Relogin = ReloginKind.NotRun,
            Evidence = new JobEvidence(new string[4]),
            Outcome = new Outcome { Kind = QV_OUTCOME_NOT_CONNECTED, Detail = why } };
    }

    /// <summary>A job's recipients: each added to the library's job at once, refused there when it is empty, holds
    /// a comma or a character GBK lacks, or is one too many.</summary>
    public sealed class JobNumbers : IReadOnlyCollection<string>
    {
        readonly Job job;
        readonly List<string> numbers = new List<string>();

        internal JobNumbers(Job job) { this.job = job; }

        /// <summary>Adds a number.</summary>
        public void Add(string number)
        {
            if (number == null) throw new ArgumentNullException(nameof(number));
            job.AddNumber(Gbk.Encode(number), "number \"" + number + "\"");
            numbers.Add(number);
        }

        /// <summary>Adds a number given as GBK bytes (no terminator).</summary>
        public void Add(byte[] gbk)
        {
            if (gbk == null) throw new ArgumentNullException(nameof(gbk));
            if (Array.IndexOf(gbk, (byte)0) >= 0) throw new ArgumentException("a number cannot hold a zero byte");
            var text = new byte[gbk.Length + 1];
            gbk.CopyTo(text, 0);
            string readable = Gbk.Decode(gbk, gbk.Length);
            job.AddNumber(text, "number \"" + readable + "\"");
            numbers.Add(readable);
        }

        /// <summary>Adds numbers in order; on a refusal, those before it stay added.</summary>
        public void AddRange(IEnumerable<string> range)
        {
            foreach (var number in range) Add(number);
        }

        /// <summary>How many were added.</summary>
        public int Count => numbers.Count;

        /// <summary>The numbers in the order added.</summary>
        public IEnumerator<string> GetEnumerator() => numbers.GetEnumerator();

        IEnumerator IEnumerable.GetEnumerator() => GetEnumerator();
    }

    public sealed partial class Session
    {
        readonly object jobsGate = new object();
        readonly List<Job> jobs = new List<Job>();
        bool closing;

        /// <summary>Sends a whole job on this session through the library (QvSendJob): the clear, its fields and
        /// the submit, with the recovery rules of the README's "Sending a job".  A job that ended, however it
        /// ended, is a result, also when the session is disposed from another thread meanwhile (Cancelled, or
        /// MaybeSubmitted when its submit was out).</summary>
        /// <param name="job">The job.</param>
        /// <param name="attempts">How many times the job may be started, the first included (0 or below: 2).</param>
        /// <exception cref="ArgumentException">The library refused to start the job (no product, no numbers);
        /// nothing was sent.</exception>
        /// <exception cref="InvalidOperationException">The job is being sent already.</exception>
        /// <exception cref="JobCallbackException">A handler of the job's Progress or its Resolver threw; the
        /// exception carries the result.</exception>
        public JobResult SendJob(Job job, int attempts = 2) => Send(job, attempts, CancellationToken.None);

        /// <summary>As <see cref="SendJob(Job, int)"/>; cancelling the token ends the send as
        /// <see cref="Job.Cancel"/> does, with a result (Cancelled, or MaybeSubmitted when its submit was out).</summary>
        public JobResult SendJob(Job job, CancellationToken cancellation, int attempts = 2) =>
            Send(job, attempts, cancellation);

        JobResult Send(Job job, int attempts, CancellationToken cancellation)
        {
            if (job == null) throw new ArgumentNullException(nameof(job));
            var j = job.BeginSend();
            try
            {
                IntPtr s;
                try { s = Enter(); }
                catch (ObjectDisposedException) { return Job.NotStarted("The session is disposed."); }
                try
                {
                    // Registered, the send is cancelled by Dispose, and the cancel always meets it in the library.
                    lock (jobsGate)
                    {
                        if (closing) return Job.NotStarted("The session is disposed.");
                        jobs.Add(job);
                    }
                    try
                    {
                        bool submitted;
                        using (cancellation.Register(job.CancelSend))
                        {
                            submitted = NativeMethods.QvSendJob(s, j, attempts);
                            job.Disarm();
                        }
                        var result = job.Result(j);
                        if (!submitted && result.Status == JobStatus.None)
                            throw new ArgumentException("SendJob: " + result.Outcome.Detail, nameof(job));
                        return result;
                    }
                    finally { lock (jobsGate) jobs.Remove(job); }
                }
                finally { Leave(); }
            }
            finally
            {
                job.EndSend();
                GC.KeepAlive(job);
            }
        }

        // Dispose: every send in progress on this session gives way, and none starts after.
        void CancelJobs()
        {
            lock (jobsGate)
            {
                closing = true;
                foreach (var job in jobs) job.CancelSend();
            }
        }
    }
}
