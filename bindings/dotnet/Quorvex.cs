// Quorvex.cs - the Quorvex client library for .NET (C#, VB.NET and other languages through the assembly).
//
// Native: every export of quorvex.h as the library exports it, declared in Quorvex.Native.g.cs (which
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
// Client: the same exports with strings in and out and results as values (Reply, Outcome, ReloginInfo,
// ConnectionState); it allocates every output buffer at its documented size.  Session: a connection of its
// own, with the exports that act on a session as methods of the same shapes (Quorvex.Session.g.cs).  Strings
// become GBK and back through the library's own converter (Gbk), and the Job of Quorvex.Job.cs is the
// library's send job.
using System;
using System.Collections.Generic;
using System.Runtime.InteropServices;
using System.Text;
using System.Threading;
using static Quorvex.Native;

namespace Quorvex
{
    public static partial class Native
    {
        public const string Lib = "quorvex";
        public const CallingConvention Convention = CallingConvention.Winapi;

        // The header's constants: Quorvex.Constants.g.cs.
    }

    // GBK texts: strings to zero-terminated bytes and back, converted by the library (QvGbkFromUtf8,
    // QvUtf8FromGbk) so that every binding keeps its one policy: a character GBK lacks (the euro sign and U+0080
    // among them) is refused, never replaced; what is not GBK reads as U+FFFD.  .NET's own code page 936
    // differs on both sides (it reads 80 as the euro sign and drops a trailing lead byte).
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

        // The zero-terminated GBK bytes of Text; null stays null, which the library takes as the empty text.
        // A zero character would cut the text short, so it is refused.
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
                int n = Native.QvGbkFromUtf8(utf8, utf8.Length, gbk, gbk.Length);
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
                if (Native.QvGbkFromUtf8(utf8, utf8.Length, null, 0) < 0)
                    return $"the text holds U+{char.ConvertToUtf32(c, 0):X4}" + (char.IsControl(c, 0) ? "" : $" ({c})")
                        + $" at character {i}, which GBK lacks";
            }
            return Client.GetLastOutcome().Detail;
        }

        // The text a call left in Buffer: its bytes up to the first zero.
        public static string Decode(byte[] buffer)
        {
            if (buffer == null) return null;
            int n = Array.IndexOf(buffer, (byte)0);
            return Decode(buffer, n < 0 ? buffer.Length : n);
        }

        // The text of Length bytes of GBK.
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
                int n = Native.QvUtf8FromGbk(gbk, length, utf8, utf8.Length);
                if (n < 0) return null;
                if (n < utf8.Length) return Encoding.UTF8.GetString(utf8, 0, n);
                utf8 = new byte[n + 1];
            }
        }

        // CheckTels' layout: the length as four bytes, then the text's GBK bytes (no terminator).
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

    public sealed class Outcome
    {
        public int Kind { get; internal set; }        // QV_OUTCOME_*
        public bool Sent { get; internal set; }       // the server may have acted on the request
        public int Argument { get; internal set; }    // 1-based place of a refused argument
        public int SocketError { get; internal set; } // Windows Sockets number, 0 when none
        public string Detail { get; internal set; }
        /// <summary>Kind as an enum.</summary>
        public OutcomeKind OutcomeKind => (OutcomeKind)Kind;
    }

    public sealed class ReloginInfo
    {
        public int Kind { get; internal set; }        // QV_RELOGIN_*
        public int ServerCode { get; internal set; }
        public int SocketError { get; internal set; }
        public string Detail { get; internal set; }
        /// <summary>Kind as an enum.</summary>
        public ReloginKind ReloginKind => (ReloginKind)Kind;
    }

    public sealed class ConnectionState
    {
        public int State { get; internal set; }       // QV_STATE_* flags
        public int Path { get; internal set; }        // QV_PATH_*
        public int LoginProtocol { get; internal set; } // QV_PROTOCOL_*
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
        byte[] text;
        List<string> names;
        List<byte[]> outputs;

        public Frame(string export, bool coded = false)
        {
            Library.Ensure();
            this.export = export;
            this.coded = coded;
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
        // initialisation), whose number outputs, in Numbers, have the header names Numbered.  A failed call's
        // outcome is read at once, before another call of the thread replaces it.
        public Reply Done(IntPtr session, bool ok, params string[] numbered)
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
            if (!ok) reply.Outcome = session == IntPtr.Zero ? Client.GetLastOutcome() : Session.LastOutcome(session);
            return reply;
        }
    }

    // The library and the classic exports' session: the process's own exports (lifecycle, settings file, web
    // request, dialogs, CheckTels, trace) as static methods here, and every export that acts on a session as
    // the same method on Session.Default (Quorvex.Session.g.cs).
    public static partial class Client
    {
        static byte[] In(string text) => Gbk.Encode(text);

        /// <inheritdoc cref="Native.GetLastOutcome"/>
        public static Outcome GetLastOutcome()
        {
            Library.Ensure();
            var detail = new byte[QV_DETAIL_BUFFER_SIZE];
            Native.GetLastOutcome(out int kind, out int sent, out int argument, out int socketError, detail,
                detail.Length);
            return new Outcome { Kind = kind, Sent = sent != 0, Argument = argument, SocketError = socketError,
                Detail = Gbk.Decode(detail) };
        }

        /// <inheritdoc cref="Native.GetLastRelogin"/>
        public static ReloginInfo GetLastRelogin()
        {
            Library.Ensure();
            var detail = new byte[QV_DETAIL_BUFFER_SIZE];
            Native.GetLastRelogin(out int kind, out int serverCode, out int socketError, detail, detail.Length);
            return new ReloginInfo { Kind = kind, ServerCode = serverCode, SocketError = socketError,
                Detail = Gbk.Decode(detail) };
        }

        /// <inheritdoc cref="Native.GetConnectionState"/>
        public static ConnectionState GetConnectionState()
        {
            Library.Ensure();
            Native.GetConnectionState(out int state, out int path, out int protocol, out int code);
            return new ConnectionState { State = state, Path = path, LoginProtocol = protocol, LoginCode = code };
        }

        // Classifies a number by the carrier list (see quorvex.h); both are laid out length-prefixed here.
        /// <inheritdoc cref="Native.CheckTels"/>
        public static int CheckTels(string number, string carrierList)
        {
            Library.Ensure();
            byte[] n = Gbk.LengthPrefixed(number), c = Gbk.LengthPrefixed(carrierList);
            GCHandle hn = GCHandle.Alloc(n, GCHandleType.Pinned), hc = GCHandle.Alloc(c, GCHandleType.Pinned);
            try { return Native.CheckTels(hn.AddrOfPinnedObject() + 4, hc.AddrOfPinnedObject() + 4); }
            finally { hn.Free(); hc.Free(); }
        }

        // Message: the body's text; Numbers: its length (responseSize when cut) and the milliseconds taken.
        /// <inheritdoc cref="Native.WebRequestEx"/>
        public static Reply WebRequestEx(string url, int responseSize = QV_BODY_BUFFER_SIZE)
        {
            var f = new Frame("WebRequestEx");
            return f.Done(IntPtr.Zero, Native.WebRequestEx(f.Text(Math.Max(responseSize, 1)), responseSize, out f.Numbers[0],
                out f.Numbers[1], In(url)), "ResponseLength", "ElapsedMs");
        }

        /// <summary>Connect on the default session: <see cref="Session.Connect"/>.</summary>
        public static Reply Connect(string host, int port, int timeout = 5000, string proxyKind = null,
            string proxyHost = null, int proxyPort = 0, string proxyUser = null, string proxyPassword = null) =>
            Session.Default.Connect(host, port, timeout, proxyKind, proxyHost, proxyPort, proxyUser, proxyPassword);

        /// <summary>Login on the default session: <see cref="Session.Login"/>.</summary>
        public static Reply Login(string name, string password, string app = "", string extra = "", string version = "") =>
            Session.Default.Login(name, password, app, extra, version);

        /// <inheritdoc cref="Native.dllInitialize"/>
        public static bool dllInitialize() => Library.Loaded && Native.dllInitialize();
        /// <inheritdoc cref="Native.TcpInit"/>
        public static bool TcpInit() => Library.Loaded && Native.TcpInit();
        /// <inheritdoc cref="Native.dllUnInitialize"/>
        public static bool dllUnInitialize() => Library.Loaded && Native.dllUnInitialize();
        /// <inheritdoc cref="Native.TcpRelease"/>
        public static bool TcpRelease() => Library.Loaded && Native.TcpRelease();

        /// <inheritdoc cref="Native.ReadIniFile"/>
        public static Reply ReadIniFile(string carrier) {
            var f = new Frame("ReadIniFile"); return f.Done(IntPtr.Zero, Native.ReadIniFile(f.Text(QV_SETTING_BUFFER_SIZE), In(carrier)));
        }
        /// <inheritdoc cref="Native.fxReadIniFile"/>
        public static Reply fxReadIniFile(string carrier) {
            var f = new Frame("fxReadIniFile"); return f.Done(IntPtr.Zero, Native.fxReadIniFile(f.Text(QV_SETTING_BUFFER_SIZE), In(carrier)));
        }
        /// <inheritdoc cref="Native.WebRequest"/>
        public static Reply WebRequest(string url) {
            var f = new Frame("WebRequest");
            return f.Done(IntPtr.Zero, Native.WebRequest(f.Text(QV_BODY_BUFFER_SIZE), out f.Numbers[0], In(url)), "ElapsedMs");
        }
        /// <inheritdoc cref="Native.fxWebRequest"/>
        public static Reply fxWebRequest(string url) {
            var f = new Frame("fxWebRequest");
            return f.Done(IntPtr.Zero, Native.fxWebRequest(f.Text(QV_BODY_BUFFER_SIZE), out f.Numbers[0], In(url)), "ElapsedMs");
        }

        /// <inheritdoc cref="Native.ShowAbout"/>
        public static bool ShowAbout() => Library.Loaded && Native.ShowAbout();
        /// <inheritdoc cref="Native.ShowMsg"/>
        public static bool ShowMsg(string text) => Library.Loaded && Native.ShowMsg(In(text));

        /// <inheritdoc cref="Native.TraceStart"/>
        public static bool TraceStart(string path, int options) => Library.Loaded && Native.TraceStart(In(path), options);
        /// <inheritdoc cref="Native.TraceStop"/>
        public static bool TraceStop() => Library.Loaded && Native.TraceStop();
    }

    // A session handle: destroyed once, when it has been disposed (or finalised) and the last call that holds
    // it has returned, so that no call ever passes the library a destroyed session.
    sealed class SessionHandle : SafeHandle
    {
        public SessionHandle() : base(IntPtr.Zero, true)
        {
            Library.Ensure();
            // A thread abort cannot fall between the creation and the handle's taking it inside a finally.
            try { } finally { SetHandle(Native.QvSessionCreate()); }
        }

        public override bool IsInvalid => handle == IntPtr.Zero;

        protected override bool ReleaseHandle()
        {
            Native.QvSessionDestroy(handle);
            return true;
        }
    }

    // A connection of its own (QvSessionCreate), ready to connect without dllInitialize: every export that acts
    // on a session is a method under its classic name, run on this session.  Any thread may call it; the library
    // runs the calls on one session one at a time and calls on different sessions side by side.  Dispose ends
    // the calls in progress on it in other threads, and the session is destroyed once the last of them has
    // returned; a call after Dispose throws ObjectDisposedException.  A session never disposed is destroyed by
    // its handle's finaliser.  Session.Default is the same class over the classic exports' session.
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
                return Native.QvDefaultSession();
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
                try { var p = Enter(); try { Native.QvTcpDisconnect(p); } finally { Leave(); } }
                catch (ObjectDisposedException) { return; }
            }
            handle.Dispose();
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
            Native.QvGetLastOutcome(session, out int kind, out int sent, out int argument, out int socketError, detail,
                detail.Length);
            return new Outcome { Kind = kind, Sent = sent != 0, Argument = argument, SocketError = socketError,
                Detail = Gbk.Decode(detail) };
        }

        public ReloginInfo GetLastRelogin()
        {
            var detail = new byte[QV_DETAIL_BUFFER_SIZE];
            int kind, serverCode, socketError;
            var p = Enter();
            if (p == IntPtr.Zero) return Client.GetLastRelogin();
            try { Native.QvGetLastRelogin(p, out kind, out serverCode, out socketError, detail, detail.Length); }
            finally { Leave(); }
            return new ReloginInfo { Kind = kind, ServerCode = serverCode, SocketError = socketError,
                Detail = Gbk.Decode(detail) };
        }

        public ConnectionState GetConnectionState()
        {
            int state, path, protocol, code;
            var p = Enter();
            if (p == IntPtr.Zero) return Client.GetConnectionState();
            try { Native.QvGetConnectionState(p, out state, out path, out protocol, out code); }
            finally { Leave(); }
            return new ConnectionState { State = state, Path = path, LoginProtocol = protocol, LoginCode = code };
        }
    }
}
