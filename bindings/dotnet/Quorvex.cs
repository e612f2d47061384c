// Quorvex.cs - the Quorvex client library for .NET (C#, VB.NET and other languages through the assembly).
//
// NativeMethods (internal): every export of quorvex.h as the library exports it, in Quorvex.Native.g.cs (which
// tools/interface/generate.py writes from interface/quorvex.json), and the header's constants in
// Quorvex.Constants.g.cs (generated from quorvex.h).  The
// one-byte result is [return: MarshalAs(UnmanagedType.U1)] bool, every int32 int, every int32 pointer out int,
// every text a byte[] of zero-terminated GBK (code page 936) bytes, in and out: the marshaller never converts
// a string.
// CallingConvention.Winapi is stdcall on 32-bit Windows and the platform's C convention elsewhere, as the
// library is built.  "quorvex" is Quorvex.dll on Windows and libquorvex.so on Linux (found through
// LD_LIBRARY_PATH, the system's library path or a dllmap).  Client and Session load it through Library first,
// which finds the DLL of the process's width on Windows and turns a missing library into an exception that
// says where it was looked for.
//
// Session: a connection, with every export that acts on a session as a method under its classic name (the
// generated Quorvex.Session.g.cs): strings in, a Reply out with its outputs by name, every output buffer
// allocated at its documented size.  Session.Default is the classic exports' session, and Client its static
// view beside the process's own exports.  Strings become GBK and back through the library's own converter
// (Gbk), and the Job of Quorvex.Job.cs is the library's send job.
using System;
using System.Collections.Generic;
using System.Runtime.InteropServices;
using System.Text;
using System.Threading;
using static Quorvex.Native;

namespace Quorvex
{
    /// <summary>The header's constants (QV_BODY_BUFFER_SIZE, QV_CODE_ACCEPTED, QV_OUTCOME_REFUSED, ...), generated
    /// from quorvex.h into Quorvex.Constants.g.cs; <c>using static Quorvex.Native;</c> names them as C does.
    /// </summary>
    public static partial class Native
    {
    }

    // The DllImport declarations of every export (Quorvex.Native.g.cs): internal, since a host calls through
    // Session and Client, which size the buffers and convert the texts.
    static partial class NativeMethods
    {
        internal const string Lib = "quorvex";
        internal const CallingConvention Convention = CallingConvention.Winapi;
    }

    /// <summary>GBK texts: strings to zero-terminated bytes and back, converted by the library (QvGbkFromUtf8,
    /// QvUtf8FromGbk) so that every binding keeps its one policy: a character GBK lacks (the euro sign and U+0080
    /// among them) is refused, never replaced; what is not GBK reads as U+FFFD.  .NET's own code page 936
    /// differs on both sides (it reads 80 as the euro sign and drops a trailing lead byte).</summary>
    public static class Gbk
    {
        // Refuses a lone surrogate instead of sending U+FFFD for it.
        static readonly UTF8Encoding StrictUtf8 = new UTF8Encoding(false, true);

        // The UTF-8 bytes of Text (no terminator).
        internal static byte[] Utf8(string text)
        {
            try { return StrictUtf8.GetBytes(text); }
            catch (EncoderFallbackException e)
            {
                throw new ArgumentException($"the text holds a lone surrogate U+{(int)e.CharUnknown:X4} at character "
                    + e.Index, e);
            }
        }

        /// <summary>The zero-terminated GBK bytes of Text; null stays null, which the library takes as the empty
        /// text.</summary>
        /// <exception cref="ArgumentException">Text holds a character GBK lacks, a lone surrogate, or U+0000 (which
        /// would cut it short).</exception>
        public static byte[] Encode(string text)
        {
            if (text == null) return null;
            if (text.IndexOf('\0') >= 0) throw new ArgumentException("a text for the library cannot hold U+0000");
            byte[] utf8 = Utf8(text);
            Library.Ensure();
            // GBK takes at most as many bytes as UTF-8 for every character it has.
            var gbk = new byte[utf8.Length + 1];
            for (;;)
            {
                int n = NativeMethods.QvGbkFromUtf8(utf8, utf8.Length, gbk, gbk.Length);
                if (n < 0) throw new ArgumentException(Unconvertible(text));
                if (n < gbk.Length)
                {
                    Array.Resize(ref gbk, n + 1);
                    return gbk;
                }
                gbk = new byte[n + 1];
            }
        }

        // Names the first character of Text that GBK lacks, by its place in the string.
        static string Unconvertible(string text)
        {
            for (int i = 0; i < text.Length; i += char.IsSurrogatePair(text, i) ? 2 : 1)
            {
                string c = text.Substring(i, char.IsSurrogatePair(text, i) ? 2 : 1);
                byte[] utf8 = StrictUtf8.GetBytes(c);
                if (NativeMethods.QvGbkFromUtf8(utf8, utf8.Length, null, 0) < 0)
                    return $"the text holds U+{char.ConvertToUtf32(c, 0):X4}" + (char.IsControl(c, 0) ? "" : $" ({c})")
                        + $" at character {i}, which GBK lacks";
            }
            return Client.GetLastOutcome().Detail;
        }

        /// <summary>The text a call left in Buffer: its bytes up to the first zero.</summary>
        public static string Decode(byte[] buffer)
        {
            if (buffer == null) return null;
            int n = Array.IndexOf(buffer, (byte)0);
            return Decode(buffer, n < 0 ? buffer.Length : n);
        }

        /// <summary>The text of Length bytes of GBK.</summary>
        public static string Decode(byte[] gbk, int length)
        {
            if (gbk == null) return null;
            if (length < 0 || length > gbk.Length) throw new ArgumentOutOfRangeException(nameof(length));
            if (length == 0) return "";
            Library.Ensure();
            // A byte that is no GBK character reads as U+FFFD, three bytes of UTF-8.
            var utf8 = new byte[3 * length + 1];
            for (;;)
            {
                int n = NativeMethods.QvUtf8FromGbk(gbk, length, utf8, utf8.Length);
                if (n < 0) return null;
                if (n < utf8.Length) return Encoding.UTF8.GetString(utf8, 0, n);
                utf8 = new byte[n + 1];
            }
        }

        /// <summary>CheckTels' layout: the length as four bytes, then the text's GBK bytes (no terminator).
        /// </summary>
        public static byte[] LengthPrefixed(string text)
        {
            byte[] bytes = Encode(text ?? "");
            int n = bytes.Length - 1;
            var storage = new byte[4 + n];
            BitConverter.GetBytes(n).CopyTo(storage, 0);
            Array.Copy(bytes, 0, storage, 4, n);
            return storage;
        }
    }

    /// <summary>What an export came to: its result, the server's code (-1 when none arrived or the export has
    /// none), its message or text output, and its other outputs by their header names (Param1, JobNumber, ...),
    /// also in the export's order as Params and Numbers.  It converts to its <see cref="Ok"/>, so that a host may
    /// test it as the export's one-byte result.</summary>
    public sealed class Reply
    {
        static readonly IReadOnlyDictionary<string, object> NoOutputs = new Dictionary<string, object>();

        /// <summary>The export's result: the exchange completed.</summary>
        public bool Ok { get; internal set; }
        /// <summary>The server's code, or the XML reply code; -1 when none arrived or the export has none.</summary>
        public int Code { get; internal set; }
        /// <summary>Whether the export has a code output (else <see cref="Code"/> stays -1).</summary>
        public bool HasCode { get; internal set; }
        /// <summary>The message buffer or text output; null when the export has none.</summary>
        public string Message { get; internal set; }
        /// <summary>The Param (text) outputs, in the export's order.</summary>
        public string[] Params { get; internal set; }
        /// <summary>The number outputs, in the export's order.</summary>
        public int[] Numbers { get; internal set; }
        /// <summary>The outputs other than the code and the message by their header names: a string for a text,
        /// an int for a number.</summary>
        public IReadOnlyDictionary<string, object> Outputs { get; internal set; } = NoOutputs;
        /// <summary>The export's name.</summary>
        public string Export { get; internal set; }
        /// <summary>When <see cref="Ok"/> is false, what the call came to (its outcome, taken right after it on its
        /// session); null otherwise.</summary>
        public Outcome Outcome { get; internal set; }
        /// <summary>The exchange completed and the server accepted (900 on the record protocol, 20900 on the XML
        /// one).</summary>
        public bool Accepted => Ok && (Code == QV_CODE_ACCEPTED || Code == QV_FX_SUCCESS);

        /// <summary>The text output of that header name.</summary>
        /// <exception cref="KeyNotFoundException">The export has no text output of that name.</exception>
        public string Text(string name) => Output(name) as string ?? throw Missing(name, "text");

        /// <summary>The number output of that header name.</summary>
        /// <exception cref="KeyNotFoundException">The export has no number output of that name.</exception>
        public int Number(string name) => Output(name) is int n ? n : throw Missing(name, "number");

        object Output(string name) => Outputs.TryGetValue(name, out object value) ? value : null;

        KeyNotFoundException Missing(string name, string kind) => new KeyNotFoundException(
            $"{Export} has no {kind} output {name}; its outputs: {string.Join(", ", Outputs.Keys)}");

        /// <summary>This reply when the call completed and, where the export has a code, the server accepted it.
        /// </summary>
        /// <exception cref="QuorvexException">The call failed, was refused or the server did not accept it; the
        /// exception carries this reply and its outcome.</exception>
        public Reply Check() => Ok && (!HasCode || Accepted) ? this : throw new QuorvexException(this);

        /// <summary>The export's one-byte result.</summary>
        public static implicit operator bool(Reply reply) => reply != null && reply.Ok;

        /// <summary>The result, the code and the message, as a trace shows them.</summary>
        public override string ToString() => $"{(Ok ? 1 : 0)} {Code} {Message}";
    }

    /// <summary>A call that failed (result 0: <see cref="Outcome"/> says why) or whose code the server did not
    /// accept, thrown by <see cref="Reply.Check"/> alone: by default a failure is a Reply.</summary>
    public sealed class QuorvexException : Exception
    {
        /// <summary>The reply of the call.</summary>
        public Reply Reply { get; }
        /// <summary>What the call came to when it failed; null when the server refused it.</summary>
        public Outcome Outcome => Reply.Outcome;
        /// <summary>The server's code (-1 when none arrived).</summary>
        public int Code => Reply.Code;

        /// <summary>The exception of a failed or refused reply.</summary>
        public QuorvexException(Reply reply) : base(Why(reply)) { Reply = reply; }

        static string Why(Reply r) => !r.Ok
            ? $"{r.Export} failed: {r.Message}" + (r.Outcome != null ? $" ({r.Outcome.OutcomeKind}: {r.Outcome.Detail})" : "")
            : $"{r.Export} refused with {r.Code}: {r.Message}";
    }

    /// <summary>What a call came to (GetLastOutcome).</summary>
    public sealed class Outcome
    {
        /// <summary>A QV_OUTCOME_ value.</summary>
        public int Kind { get; internal set; }
        /// <summary>The whole request was out: the server may have acted on it.</summary>
        public bool Sent { get; internal set; }
        /// <summary>The 1-based place of a refused argument; 0 when none.</summary>
        public int Argument { get; internal set; }
        /// <summary>The Windows Sockets number of the error, on every platform; 0 when none.</summary>
        public int SocketError { get; internal set; }
        /// <summary>What happened, in English.</summary>
        public string Detail { get; internal set; }
        /// <summary>Kind as an enum.</summary>
        public OutcomeKind OutcomeKind => (OutcomeKind)Kind;
    }

    /// <summary>What the relogin after a failed call came to (GetLastRelogin).</summary>
    public sealed class ReloginInfo
    {
        /// <summary>A QV_RELOGIN_ value.</summary>
        public int Kind { get; internal set; }
        /// <summary>The login's code from the server; -1 when none arrived.</summary>
        public int ServerCode { get; internal set; }
        /// <summary>The Windows Sockets number of the error; 0 when none.</summary>
        public int SocketError { get; internal set; }
        /// <summary>What happened, in English.</summary>
        public string Detail { get; internal set; }
        /// <summary>Kind as an enum.</summary>
        public ReloginKind ReloginKind => (ReloginKind)Kind;
    }

    /// <summary>A session's connection (GetConnectionState).</summary>
    public sealed class ConnectionState
    {
        /// <summary>QV_STATE_ flags: what the connection has reached.</summary>
        public int State { get; internal set; }
        /// <summary>A QV_PATH_ value: how the connection reaches the server.</summary>
        public int Path { get; internal set; }
        /// <summary>A QV_PROTOCOL_ value: which login the last one was.</summary>
        public int LoginProtocol { get; internal set; }
        /// <summary>The last login's code.</summary>
        public int LoginCode { get; internal set; }
        /// <summary>State as flags.</summary>
        public StateFlags Flags => (StateFlags)State;
        /// <summary>Path as an enum.</summary>
        public PathKind PathKind => (PathKind)Path;
        /// <summary>LoginProtocol as an enum.</summary>
        public ProtocolKind ProtocolKind => (ProtocolKind)LoginProtocol;
    }

    // The buffers of one call, each of its documented size, read back into a Reply.
    sealed class Frame
    {
        public int Code = -1;
        public readonly int[] Numbers = new int[4];
        readonly string export;
        readonly bool coded;
        readonly string[] numbered;
        byte[] text;
        List<string> names;
        List<byte[]> outputs;

        // The buffers of Export, which has a code output when Coded and whose number outputs, in Numbers, have the
        // header names Numbered.
        public Frame(string export, bool coded = false, params string[] numbered)
        {
            Library.Ensure();
            this.export = export;
            this.coded = coded;
            this.numbered = numbered;
        }

        // An XML reply's texts need its length and a zero; fixed messages fit a message buffer.
        internal static int FxSize(int replyLength) =>
            Math.Max(QV_BODY_BUFFER_SIZE, Math.Min(replyLength, QV_FX_REPLY_MAX) + 1);

        public byte[] Text(int size) => text = new byte[size];

        // A Param output under its header name.
        public byte[] Param(string name, int size = QV_PARAM_BUFFER_SIZE)
        {
            var buffer = new byte[size];
            (names ?? (names = new List<string>())).Add(name);
            (outputs ?? (outputs = new List<byte[]>())).Add(buffer);
            return buffer;
        }

        // The Reply of a call on Session (zero: the process's exports, or the default session outside
        // initialisation).  A failed call's outcome is read at once, before another call of the thread replaces
        // it.
        public Reply Done(IntPtr session, bool ok) =>
            Done(ok, ok ? null : session == IntPtr.Zero ? Client.GetLastOutcome() : Session.LastOutcome(session));

        // The Reply of a call that came to Ok, with Outcome when it failed.
        public Reply Done(bool ok, Outcome outcome)
        {
            var reply = new Reply { Ok = ok, Code = Code, HasCode = coded, Message = Gbk.Decode(text), Export = export,
                Params = outputs == null ? new string[0] : outputs.ConvertAll(Gbk.Decode).ToArray(),
                Numbers = new int[numbered.Length] };
            Array.Copy(Numbers, reply.Numbers, numbered.Length);
            if (outputs != null || numbered.Length > 0)
            {
                var named = new Dictionary<string, object>();
                for (int i = 0; i < reply.Params.Length; i++) named[names[i]] = reply.Params[i];
                for (int i = 0; i < numbered.Length; i++) named[numbered[i]] = reply.Numbers[i];
                reply.Outputs = named;
            }
            reply.Outcome = outcome;
            return reply;
        }

        // An operation's text outputs: the message first when Message, then Params by their header names.
        public Frame Texts(bool message, params string[] @params)
        {
            if (message) text = new byte[1];
            foreach (var name in @params) Param(name, 1);
            return this;
        }

        // The Reply of a completed operation, from the outputs it kept, in the order Texts named them.
        public Reply Completed(IntPtr op)
        {
            int index = 0;
            if (text != null) text = OpText(op, index++);
            for (int i = 0; outputs != null && i < outputs.Count; i++) outputs[i] = OpText(op, index++);
            if (coded) Code = NativeMethods.QvOpCode(op);
            for (int i = 0; i < numbered.Length; i++) Numbers[i] = NativeMethods.QvOpNumber(op, i);
            bool ok = NativeMethods.QvOpResult(op);
            return Done(ok, ok ? null : OpOutcome(op));
        }

        static byte[] OpText(IntPtr op, int index)
        {
            int n = NativeMethods.QvOpText(op, index, null, 0);
            if (n < 0) return null;
            var buffer = new byte[n + 1];
            NativeMethods.QvOpText(op, index, buffer, buffer.Length);
            return buffer;
        }

        internal static Outcome OpOutcome(IntPtr op)
        {
            var detail = new byte[QV_DETAIL_BUFFER_SIZE];
            NativeMethods.QvOpOutcome(op, out int kind, out int sent, out int argument, out int socketError, detail,
                detail.Length);
            return new Outcome { Kind = kind, Sent = sent != 0, Argument = argument, SocketError = socketError,
                Detail = Gbk.Decode(detail) };
        }
    }

    /// <summary>The library and the classic exports' session: the process's own exports (lifecycle, settings
    /// file, web request, dialogs, CheckTels, trace) as static methods here, and every export that acts on a
    /// session as the same method on <see cref="Session.Default"/> (Quorvex.Session.g.cs).</summary>
    public static partial class Client
    {
        static byte[] In(string text) => Gbk.Encode(text);

        /// <summary>What the calling thread's last call came to, on any session (GetLastOutcome).  See quorvex.h.</summary>
        public static Outcome GetLastOutcome()
        {
            Library.Ensure();
            var detail = new byte[QV_DETAIL_BUFFER_SIZE];
            NativeMethods.GetLastOutcome(out int kind, out int sent, out int argument, out int socketError, detail,
                detail.Length);
            return new Outcome { Kind = kind, Sent = sent != 0, Argument = argument, SocketError = socketError,
                Detail = Gbk.Decode(detail) };
        }

        /// <summary>The relogin of the calling thread's last call, on any session (GetLastRelogin).  See quorvex.h.</summary>
        public static ReloginInfo GetLastRelogin()
        {
            Library.Ensure();
            var detail = new byte[QV_DETAIL_BUFFER_SIZE];
            NativeMethods.GetLastRelogin(out int kind, out int serverCode, out int socketError, detail, detail.Length);
            return new ReloginInfo { Kind = kind, ServerCode = serverCode, SocketError = socketError,
                Detail = Gbk.Decode(detail) };
        }

        /// <summary>The default session's connection: open, logged in, its path and last login (GetConnectionState).  See quorvex.h.</summary>
        public static ConnectionState GetConnectionState()
        {
            Library.Ensure();
            NativeMethods.GetConnectionState(out int state, out int path, out int protocol, out int code);
            return new ConnectionState { State = state, Path = path, LoginProtocol = protocol, LoginCode = code };
        }

        // Classifies a number by the carrier list (see quorvex.h); both are laid out length-prefixed here.
        /// <summary>The carrier of Number by CarrierList ("139,移动;130,联通": 1, 2, ... by its place; 3 a fixed line), without the server (CheckTels).  See quorvex.h.</summary>
        public static int CheckTels(string number, string carrierList)
        {
            Library.Ensure();
            byte[] n = Gbk.LengthPrefixed(number), c = Gbk.LengthPrefixed(carrierList);
            GCHandle hn = GCHandle.Alloc(n, GCHandleType.Pinned), hc = GCHandle.Alloc(c, GCHandleType.Pinned);
            try { return NativeMethods.CheckTels(hn.AddrOfPinnedObject() + 4, hc.AddrOfPinnedObject() + 4); }
            finally { hn.Free(); hc.Free(); }
        }

        // Message: the body's text; Numbers: its length (responseSize when cut) and the milliseconds taken.
        /// <summary>An HTTP GET of Url: the body as Message, cut to ResponseSize bytes; ResponseLength and ElapsedMs as numbers (WebRequestEx).  See quorvex.h.</summary>
        public static Reply WebRequestEx(string url, int responseSize = QV_BODY_BUFFER_SIZE)
        {
            var f = new Frame("WebRequestEx", false, "ResponseLength", "ElapsedMs");
            return f.Done(IntPtr.Zero, NativeMethods.WebRequestEx(f.Text(Math.Max(responseSize, 1)), responseSize, out f.Numbers[0],
                out f.Numbers[1], In(url)));
        }

        /// <summary>Connect on the default session: <see cref="Session.Connect"/>.</summary>
        public static Reply Connect(string host, int port, int timeout = 5000, string proxyKind = null,
            string proxyHost = null, int proxyPort = 0, string proxyUser = null, string proxyPassword = null) =>
            Session.Default.Connect(host, port, timeout, proxyKind, proxyHost, proxyPort, proxyUser, proxyPassword);

        /// <summary>Login on the default session: <see cref="Session.Login"/>.</summary>
        public static Reply Login(string name, string password, string app = "", string extra = "", string version = "") =>
            Session.Default.Login(name, password, app, extra, version);

        /// <summary>Creates the library's objects and the default session; true (dllInitialize).  See quorvex.h.</summary>
        public static bool dllInitialize() => Library.Loaded && NativeMethods.dllInitialize();
        /// <summary>Same as dllInitialize (TcpInit).  See quorvex.h.</summary>
        public static bool TcpInit() => Library.Loaded && NativeMethods.TcpInit();
        /// <summary>Disconnects and destroys the library's objects; the default session's calls are refused after it (dllUnInitialize).  See quorvex.h.</summary>
        public static bool dllUnInitialize() => Library.Loaded && NativeMethods.dllUnInitialize();
        /// <summary>Same as dllUnInitialize (TcpRelease).  See quorvex.h.</summary>
        public static bool TcpRelease() => Library.Loaded && NativeMethods.TcpRelease();

        /// <summary>The settings file's value for Carrier, as Message (ReadIniFile).  See quorvex.h.</summary>
        public static Reply ReadIniFile(string carrier) {
            var f = new Frame("ReadIniFile"); return f.Done(IntPtr.Zero, NativeMethods.ReadIniFile(f.Text(QV_SETTING_BUFFER_SIZE), In(carrier)));
        }
        /// <summary>Same as ReadIniFile (fxReadIniFile).  See quorvex.h.</summary>
        public static Reply fxReadIniFile(string carrier) {
            var f = new Frame("fxReadIniFile"); return f.Done(IntPtr.Zero, NativeMethods.fxReadIniFile(f.Text(QV_SETTING_BUFFER_SIZE), In(carrier)));
        }
        /// <summary>WebRequestEx at the web response's fixed size, with ElapsedMs alone (WebRequest).  See quorvex.h.</summary>
        public static Reply WebRequest(string url) {
            var f = new Frame("WebRequest", false, "ElapsedMs");
            return f.Done(IntPtr.Zero, NativeMethods.WebRequest(f.Text(QV_BODY_BUFFER_SIZE), out f.Numbers[0], In(url)));
        }
        /// <summary>Same as WebRequest (fxWebRequest).  See quorvex.h.</summary>
        public static Reply fxWebRequest(string url) {
            var f = new Frame("fxWebRequest", false, "ElapsedMs");
            return f.Done(IntPtr.Zero, NativeMethods.fxWebRequest(f.Text(QV_BODY_BUFFER_SIZE), out f.Numbers[0], In(url)));
        }

        /// <summary>Shows the library's About dialog (ShowAbout).  See quorvex.h.</summary>
        public static bool ShowAbout() => Library.Loaded && NativeMethods.ShowAbout();
        /// <summary>Shows Text in a message box (ShowMsg).  See quorvex.h.</summary>
        public static bool ShowMsg(string text) => Library.Loaded && NativeMethods.ShowMsg(In(text));

        /// <summary>Starts the protocol trace into the file at Path, with the QV_TRACE_ options (TraceStart).  See quorvex.h.</summary>
        public static bool TraceStart(string path, int options) => Library.Loaded && NativeMethods.TraceStart(In(path), options);
        /// <summary>Stops the protocol trace (TraceStop).  See quorvex.h.</summary>
        public static bool TraceStop() => Library.Loaded && NativeMethods.TraceStop();
    }

    // A session handle: destroyed once, when it has been disposed (or finalised) and the last call that holds
    // it has returned, so that no call ever passes the library a destroyed session.
    sealed class SessionHandle : SafeHandle
    {
        public SessionHandle() : base(IntPtr.Zero, true)
        {
            Library.Ensure();
            // A thread abort cannot fall between the creation and the handle's taking it inside a finally.
            try { } finally { SetHandle(NativeMethods.QvSessionCreate()); }
        }

        public override bool IsInvalid => handle == IntPtr.Zero;

        protected override bool ReleaseHandle()
        {
            NativeMethods.QvSessionDestroy(handle);
            return true;
        }
    }

    /// <summary>A connection of its own (QvSessionCreate), ready to connect without dllInitialize: every export
    /// that acts on a session is a method under its classic name, run on this session.  Any thread may call it;
    /// the library runs the calls on one session one at a time and calls on different sessions side by side.
    /// Dispose ends the calls in progress on it in other threads, and the session is destroyed once the last of
    /// them has returned; a call after Dispose throws ObjectDisposedException.  A session never disposed is
    /// destroyed by its handle's finaliser.  <see cref="Default"/> is the same class over the classic exports'
    /// session.</summary>
    public sealed partial class Session : IDisposable
    {
        readonly SessionHandle handle;  // null for Default, which looks its session up at each call
        int calls;  // in progress, so that Dispose interrupts only when there is a call to interrupt

        /// <summary>Makes a session of its own (QvSessionCreate).</summary>
        public Session()
        {
            handle = new SessionHandle();
            if (handle.IsInvalid)
            {
                handle.Dispose();
                throw new OutOfMemoryException("QvSessionCreate: out of memory");
            }
        }

        Session(bool defaultView) { }

        /// <summary>The classic exports' session (QvDefaultSession), between dllInitialize and release; outside
        /// them every call on it is refused (QV_OUTCOME_REFUSED, Argument 1).  It is never destroyed: Dispose
        /// does nothing.</summary>
        public static Session Default { get; } = new Session(true);

        /// <summary>Whether this is <see cref="Default"/>, the view of the classic exports' session.</summary>
        public bool IsDefault => handle == null;

        /// <summary>Whether Dispose has run; never for <see cref="Default"/>.</summary>
        public bool IsDisposed => handle != null && handle.IsClosed;

        static byte[] In(string text) => Gbk.Encode(text);

        // The session's address for one call, which the handle outlives; paired with Leave.  The default
        // session is looked up at each call: it changes with dllInitialize and release.
        IntPtr Enter()
        {
            if (handle == null)
            {
                Library.Ensure();
                return NativeMethods.QvDefaultSession();
            }
            bool added = false;
            try { handle.DangerousAddRef(ref added); }
            catch (ObjectDisposedException) { throw new ObjectDisposedException(nameof(Session), "the session is disposed"); }
            Interlocked.Increment(ref calls);
            return handle.DangerousGetHandle();
        }

        void Leave()
        {
            if (handle == null) return;
            Interlocked.Decrement(ref calls);
            handle.DangerousRelease();
        }

        /// <summary>Destroys the session once the calls in progress on it have returned (those blocked on its
        /// connection give way at once); nothing for <see cref="Default"/>.</summary>
        public void Dispose()
        {
            if (handle == null || handle.IsClosed) return;
            CancelJobs();
            if (Volatile.Read(ref calls) > 0)
            {
                // A call blocked on the connection in another thread gives way at once, as the destroy would
                // make it, instead of holding the handle until its time-out.
                try { var p = Enter(); try { NativeMethods.QvTcpDisconnect(p); } finally { Leave(); } }
                catch (ObjectDisposedException) { return; }
            }
            handle.Dispose();
        }

        // One generated method's call: Run on this session's address, between Enter and Leave, read back by F.
        Reply Call(Frame f, Func<Frame, IntPtr, bool> run)
        {
            var p = Enter();
            try { return f.Done(p, run(f, p)); }
            finally { Leave(); }
        }

        /// <summary>TcpConnect with defaults: connects to Host:Port within Timeout milliseconds, directly unless
        /// ProxyKind names a proxy ("socks4", "socks5" or "http" in any letter case).  Ok when the connection is
        /// open; the message is the library's text for it.</summary>
        public Reply Connect(string host, int port, int timeout = 5000, string proxyKind = null, string proxyHost = null,
            int proxyPort = 0, string proxyUser = null, string proxyPassword = null) =>
            TcpConnect(host, port, timeout, proxyKind, proxyHost, proxyPort, proxyUser, proxyPassword);

        /// <summary>Login_Request then Login_Feedback, with the texts a host rarely sets left empty; Accepted when
        /// the server answered 900.  A request that was not written is its own reply.</summary>
        public Reply Login(string name, string password, string app = "", string extra = "", string version = "")
        {
            var request = Login_Request(app, extra, name, password, version);
            return request ? Login_Feedback() : request;
        }

        /// <summary>The calling thread's last call on this session.</summary>
        public Outcome GetLastOutcome()
        {
            var p = Enter();
            if (p == IntPtr.Zero) return Client.GetLastOutcome();  // the refusal of Default outside initialisation
            try { return LastOutcome(p); }
            finally { Leave(); }
        }

        internal static Outcome LastOutcome(IntPtr session)
        {
            var detail = new byte[QV_DETAIL_BUFFER_SIZE];
            NativeMethods.QvGetLastOutcome(session, out int kind, out int sent, out int argument, out int socketError, detail,
                detail.Length);
            return new Outcome { Kind = kind, Sent = sent != 0, Argument = argument, SocketError = socketError,
                Detail = Gbk.Decode(detail) };
        }

        /// <summary>The relogin of the calling thread's last call on this session.</summary>
        public ReloginInfo GetLastRelogin()
        {
            var detail = new byte[QV_DETAIL_BUFFER_SIZE];
            int kind, serverCode, socketError;
            var p = Enter();
            if (p == IntPtr.Zero) return Client.GetLastRelogin();
            try { NativeMethods.QvGetLastRelogin(p, out kind, out serverCode, out socketError, detail, detail.Length); }
            finally { Leave(); }
            return new ReloginInfo { Kind = kind, ServerCode = serverCode, SocketError = socketError,
                Detail = Gbk.Decode(detail) };
        }

        /// <summary>This session's connection: open, logged in, its path and last login.</summary>
        public ConnectionState GetConnectionState()
        {
            int state, path, protocol, code;
            var p = Enter();
            if (p == IntPtr.Zero) return Client.GetConnectionState();
            try { NativeMethods.QvGetConnectionState(p, out state, out path, out protocol, out code); }
            finally { Leave(); }
            return new ConnectionState { State = state, Path = path, LoginProtocol = protocol, LoginCode = code };
        }
    }
}
