// Quorvex.Job.cs - Session.SendJob: a whole send job on a session, with the recovery rules of the README's
// "Sending a job" built in.
using System;
using System.Collections.Generic;
using System.Globalization;
using static Quorvex.Native;

namespace Quorvex
{
    /// <summary>A send job.  A null or empty text is a field not sent; texts are converted to GBK.</summary>
    public sealed class Job
    {
        /// <summary>The product id (required).</summary>
        public string Product { get; set; }
        /// <summary>The recipients' mobile numbers (at least one); sent joined by "," in parts that fit a record.</summary>
        public IList<string> Numbers { get; set; }
        /// <summary>The message text.</summary>
        public string Content { get; set; }
        /// <summary>A push message's URL.</summary>
        public string Url { get; set; }
        /// <summary>When to send: dates and times in the server's formats.</summary>
        public string BeginDate { get; set; }
        /// <summary>See <see cref="BeginDate"/>.</summary>
        public string EndDate { get; set; }
        /// <summary>See <see cref="BeginDate"/>.</summary>
        public string BeginTime { get; set; }
        /// <summary>See <see cref="BeginDate"/>.</summary>
        public string EndTime { get; set; }
        /// <summary>A multimedia message's file name.</summary>
        public string FileName { get; set; }
        /// <summary>The file's bytes, sent base64-encoded in parts.</summary>
        public byte[] FileContent { get; set; }
        /// <summary>Up to 3 scheduled-order ids; any makes the job a scheduled one.</summary>
        public IList<string> Orders { get; set; }
        /// <summary>A scheduled job's period; makes the job a scheduled one.</summary>
        public string Period { get; set; }
        /// <summary>Also ask the server to vet the product (CheckPrdId) and the text (CheckContent).</summary>
        public bool Check { get; set; }
    }

    /// <summary>How a send job ended.</summary>
    public enum JobStatus
    {
        /// <summary>The submit answered 900: the job is the server's.</summary>
        Submitted,
        /// <summary>A call answered a code other than 900: not submitted; the server keeps the job open.</summary>
        Refused,
        /// <summary>A call failed before the job could have been submitted: send it again once the connection is back.</summary>
        Failed,
        /// <summary>The submit failed with its request out: the job may have been submitted; look it up before
        /// sending it again (<see cref="JobResult.LookUp"/>).</summary>
        MaybeSubmitted,
    }

    /// <summary>What <see cref="Session.SendJob"/> came to: the status, the step it ended on and that call's
    /// code, message and outcome.</summary>
    public sealed class JobResult
    {
        /// <summary>How the job ended.</summary>
        public JobStatus Status { get; internal set; }
        /// <summary>The export the job ended on, e.g. "SubmitTelList".</summary>
        public string Step { get; internal set; }
        /// <summary>How many times the job was started.</summary>
        public int Attempts { get; internal set; }
        /// <summary>That call's code: the server's, or -1 when no answer arrived.</summary>
        public int Code { get; internal set; }
        /// <summary>That call's message.</summary>
        public string Message { get; internal set; }
        /// <summary>That call's outcome.</summary>
        public Outcome Outcome { get; internal set; }
        /// <summary>Submitted: the job's number (the submit's message).</summary>
        public string JobNumber { get; internal set; }
        /// <summary>Submitted: the recipients.</summary>
        public int Recipients { get; internal set; }
        /// <summary>Submitted: the messages charged.</summary>
        public int Charged { get; internal set; }
        /// <summary>Submitted: what is left to send with.</summary>
        public int Left { get; internal set; }
        /// <summary>MaybeSubmitted: what to look up before the job is sent again.</summary>
        public string LookUp { get; internal set; }
        /// <summary>The job is the server's.</summary>
        public bool IsSubmitted => Status == JobStatus.Submitted;

        /// <summary>The status, the step, the code and the message, e.g. for a log.</summary>
        public override string ToString() =>
            $"{Status} at {Step} after {Attempts} attempt(s): {Code} {Message}";
    }

    public sealed partial class Session
    {
        const int PartMax = QV_BODY_MAX_TEXT;          // bytes of one field's record
        const int Base64PartMax = QV_BODY_MAX_TEXT / 4 * 4;

        struct Step
        {
            public string Name;
            public Func<Session, Reply> Run;
        }

        /// <summary>Sends a whole job on this session: SubmitAllClear, every field the job names, then the submit
        /// (SubmitAllOverEx_2 for a scheduled job, else SubmitAllOver_2).  A call that fails is never sent again
        /// on its own: when the relogin after it logged in and attempts remain, the whole job starts again from
        /// SubmitAllClear.  A submit that failed with its request out is never sent again
        /// (<see cref="JobStatus.MaybeSubmitted"/>).</summary>
        /// <param name="job">The job.</param>
        /// <param name="attempts">How many times the job may be started, the first included.</param>
        /// <param name="progress">Called before each call with the attempt (1, 2, ...) and the export's name.</param>
        /// <exception cref="ArgumentException">The job does not fit (no product or numbers, a text too long for its
        /// field, holding U+0000 or a character GBK lacks, more than 3 orders); nothing was sent.</exception>
        public JobResult SendJob(Job job, int attempts = 2, Action<int, string> progress = null)
        {
            var plan = Plan(job);
            JobResult last = null;
            for (int attempt = 1; ; attempt++)
            {
                bool again = false;
                for (int i = 0; i < plan.Count; i++)
                {
                    progress?.Invoke(attempt, plan[i].Name);
                    var reply = plan[i].Run(this);
                    var outcome = GetLastOutcome();
                    bool submit = i == plan.Count - 1;
                    if (!reply.Ok)
                    {
                        // Sent: the server may have the submit, which must not be sent twice.
                        if (submit && outcome.Sent)
                            return Ended(JobStatus.MaybeSubmitted, plan[i].Name, attempt, reply, outcome,
                                "LastDetails with the first number (" + job.Numbers[0]
                                + "), or AllInfoPackId and InfoPackStatus");
                        again = attempt < attempts && GetLastRelogin().Kind == QV_RELOGIN_LOGGED_IN;
                        last = Ended(JobStatus.Failed, plan[i].Name, attempt, reply, outcome);
                        break;
                    }
                    if (reply.Code != QV_CODE_ACCEPTED)
                        return Ended(JobStatus.Refused, plan[i].Name, attempt, reply, outcome);
                    if (submit)
                    {
                        var r = Ended(JobStatus.Submitted, plan[i].Name, attempt, reply, outcome);
                        r.JobNumber = reply.Message;
                        r.Recipients = reply.Numbers[0];
                        r.Charged = reply.Numbers[1];
                        r.Left = reply.Numbers[2];
                        return r;
                    }
                }
                if (!again) return last;
            }
        }

        static JobResult Ended(JobStatus status, string step, int attempt, Reply reply, Outcome outcome,
            string lookUp = null) =>
            new JobResult { Status = status, Step = step, Attempts = attempt, Code = reply.Code,
                Message = reply.Message, Outcome = outcome, LookUp = lookUp };

        // The GBK bytes of a field's text, refused when it cannot travel in one field of Max bytes.
        static int Fits(string text, int max, string what)
        {
            if (text == null) return 0;
            int n;
            try { n = Gbk.Encode(text).Length - 1; }
            catch (ArgumentException e) { throw new ArgumentException("SendJob: " + what + ": " + e.Message, what, e); }
            if (n > max) throw new ArgumentException($"SendJob: {what} is longer than {max} bytes in GBK", what);
            return n;
        }

        static List<Step> Plan(Job job)
        {
            if (job == null) throw new ArgumentNullException(nameof(job));
            if (string.IsNullOrEmpty(job.Product)) throw new ArgumentException("SendJob: the job names no product");
            if (job.Numbers == null || job.Numbers.Count == 0)
                throw new ArgumentException("SendJob: the job has no numbers");
            var orders = job.Orders ?? new string[0];
            if (orders.Count > 3) throw new ArgumentException("SendJob: more than 3 orders");
            foreach (var order in orders) Fits(order, QV_PARAM_MAX_TEXT, "an order");

            var plan = new List<Step>();
            Action<string, string, Func<Session, string, Reply>> Text = (name, value, method) =>
            {
                Fits(value, PartMax, name);
                if (!string.IsNullOrEmpty(value)) plan.Add(new Step { Name = name, Run = s => method(s, value) });
            };
            Action<string, Func<Session, Reply>> Bare = (name, method) => plan.Add(new Step { Name = name, Run = method });

            Bare("SubmitAllClear", s => s.SubmitAllClear());
            Text("SubmitPrdId", job.Product, (s, v) => s.SubmitPrdId(v));
            if (job.Check) Text("CheckPrdId", job.Product, (s, v) => s.CheckPrdId(v));
            foreach (var part in NumberParts(job.Numbers)) Text("SubmitTelList", part, (s, v) => s.SubmitTelList(v));
            Text("SubmitTelNum", job.Numbers.Count.ToString(CultureInfo.InvariantCulture), (s, v) => s.SubmitTelNum(v));
            Text("SubmitContent", job.Content, (s, v) => s.SubmitContent(v));
            if (job.Check) Bare("CheckContent", s => s.CheckContent());
            Text("SubmitPushURL", job.Url, (s, v) => s.SubmitPushURL(v));
            Text("SubmitBgnDate", job.BeginDate, (s, v) => s.SubmitBgnDate(v));
            Text("SubmitEndDate", job.EndDate, (s, v) => s.SubmitEndDate(v));
            Text("SubmitBgnTime", job.BeginTime, (s, v) => s.SubmitBgnTime(v));
            Text("SubmitEndTime", job.EndTime, (s, v) => s.SubmitEndTime(v));
            Text("SubmitTransFilename", job.FileName, (s, v) => s.SubmitTransFilename(v));
            string encoded = Convert.ToBase64String(job.FileContent ?? new byte[0]);
            for (int at = 0; at < encoded.Length; at += Base64PartMax)
                Text("SubmitTransFile", encoded.Substring(at, Math.Min(Base64PartMax, encoded.Length - at)),
                    (s, v) => s.SubmitTransFile(v));
            if (orders.Count > 0)
            {
                var o = new string[3];
                for (int i = 0; i < orders.Count; i++) o[i] = orders[i] ?? "";
                Bare("SubmitPQOrderSelect", s => s.SubmitPQOrderSelect(o[0] ?? "", o[1] ?? "", o[2] ?? ""));
            }
            Text("SubmitBgnDateEx", job.Period, (s, v) => s.SubmitBgnDateEx(v));
            if (orders.Count > 0 || !string.IsNullOrEmpty(job.Period))
                Bare("SubmitAllOverEx_2", s => s.SubmitAllOverEx_2());
            else
                Bare("SubmitAllOver_2", s => s.SubmitAllOver_2());
            return plan;
        }

        // The numbers joined by "," in parts of at most one field's bytes.
        static List<string> NumberParts(IList<string> numbers)
        {
            var parts = new List<string>();
            var part = new System.Text.StringBuilder();
            int bytes = 0;
            foreach (var number in numbers)
            {
                if (string.IsNullOrEmpty(number) || number.IndexOf(',') >= 0)
                    throw new ArgumentException("SendJob: a number is empty or holds a comma");
                int n = Fits(number, PartMax, "a number");
                if (bytes > 0 && bytes + 1 + n > PartMax)
                {
                    parts.Add(part.ToString());
                    part.Clear();
                    bytes = 0;
                }
                if (bytes > 0) { part.Append(','); bytes++; }
                part.Append(number);
                bytes += n;
            }
            parts.Add(part.ToString());
            return parts;
        }
    }
}
