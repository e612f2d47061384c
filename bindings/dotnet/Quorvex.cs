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

    // What an export came to: its result, the server's code (-1 when none arrived or the export has none),
    // its message or text output, its Param outputs and its number outputs, in the export's order.
    public sealed class Reply
    {
        public bool Ok { get; internal set; }
        public int Code { get; internal set; }
        public string Message { get; internal set; }
        public string[] Params { get; internal set; }
        public int[] Numbers { get; internal set; }
        // The exchange completed and the server accepted (900 on the record protocol, 20900 on the XML one).
        public bool Accepted => Ok && (Code == QV_CODE_ACCEPTED || Code == QV_FX_SUCCESS);
        public override string ToString() => $"{(Ok ? 1 : 0)} {Code} {Message}";
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
        byte[] text;
        readonly List<byte[]> outputs = new List<byte[]>();

        public Frame() { Library.Ensure(); }

        public byte[] Text(int size) => text = new byte[size];

        public byte[] Param(int size = QV_PARAM_BUFFER_SIZE)
        {
            var buffer = new byte[size];
            outputs.Add(buffer);
            return buffer;
        }

        public Reply Done(bool ok, int numbers = 0)
        {
            var texts = outputs.ConvertAll(Gbk.Decode).ToArray();
            var values = new int[numbers];
            Array.Copy(Numbers, values, numbers);
            return new Reply { Ok = ok, Code = Code, Message = Gbk.Decode(text), Params = texts, Numbers = values };
        }
    }

    // The exports with strings in and out; names and argument order as in quorvex.h.
    public static class Client
    {
        static byte[] In(string text) => Gbk.Encode(text);

        // An XML reply's texts need its length and a zero; fixed messages fit a message buffer.
        internal static int FxSize(int replyLength) => Math.Max(QV_BODY_BUFFER_SIZE, Math.Min(replyLength, QV_FX_REPLY_MAX) + 1);

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
            var f = new Frame();
            return f.Done(Native.WebRequestEx(f.Text(Math.Max(responseSize, 1)), responseSize, out f.Numbers[0],
                out f.Numbers[1], In(url)), 2);
        }

        // Message: desc or the reply's text; Params: pud; Numbers: agent, agreement (0 when the reply has none).
        /// <inheritdoc cref="Native.fxLogin_Resp"/>
        public static Reply fxLogin_Resp(int replyCode, int replyLength)
        {
            var f = new Frame();
            int size = FxSize(replyLength);
            return f.Done(Native.fxLogin_Resp(f.Text(size), out f.Numbers[0], f.Param(size), out f.Numbers[1],
                replyCode, replyLength), 2);
        }

        // Library lifecycle
        /// <inheritdoc cref="Native.dllInitialize"/>
        public static bool dllInitialize() => Library.Loaded && Native.dllInitialize();
        /// <inheritdoc cref="Native.TcpInit"/>
        public static bool TcpInit() => Library.Loaded && Native.TcpInit();
        /// <inheritdoc cref="Native.dllUnInitialize"/>
        public static bool dllUnInitialize() => Library.Loaded && Native.dllUnInitialize();
        /// <inheritdoc cref="Native.TcpRelease"/>
        public static bool TcpRelease() => Library.Loaded && Native.TcpRelease();
        /// <inheritdoc cref="Native.TcpDisconnect"/>
        public static bool TcpDisconnect() => Library.Loaded && Native.TcpDisconnect();
        /// <inheritdoc cref="Native.fxTcpDisconnect"/>
        public static bool fxTcpDisconnect() => Library.Loaded && Native.fxTcpDisconnect();

        // Connecting
        /// <inheritdoc cref="Native.TcpConnect"/>
        public static Reply TcpConnect(string host, int port, int timeout, string proxyKind, string proxyHost,
            int proxyPort, string proxyUser, string proxyPassword) {
            var f = new Frame(); return f.Done(Native.TcpConnect(f.Text(QV_BODY_BUFFER_SIZE), In(host), port, timeout,
                In(proxyKind), In(proxyHost), proxyPort, In(proxyUser), In(proxyPassword)));
        }
        /// <inheritdoc cref="Native.fxTcpConnect"/>
        public static Reply fxTcpConnect(string host, int port, int timeout, string proxyKind, string proxyHost,
            int proxyPort, string proxyUser, string proxyPassword) {
            var f = new Frame(); return f.Done(Native.fxTcpConnect(f.Text(QV_BODY_BUFFER_SIZE), In(host), port,
                timeout, In(proxyKind), In(proxyHost), proxyPort, In(proxyUser), In(proxyPassword)));
        }
        /// <inheritdoc cref="Native.SetReadTimeout"/>
        public static bool SetReadTimeout(int milliseconds) => Library.Loaded && Native.SetReadTimeout(milliseconds);

        // Record protocol: login, relogin, heartbeat
        /// <inheritdoc cref="Native.Login_Request"/>
        public static bool Login_Request(string app, string extra, string name, string pwd,
            string ver) => Library.Loaded && Native.Login_Request(In(app), In(extra), In(name), In(pwd), In(ver));
        /// <inheritdoc cref="Native.Login_Feedback"/>
        public static Reply Login_Feedback() {
            var f = new Frame(); return f.Done(Native.Login_Feedback(out f.Code, f.Text(QV_BODY_BUFFER_SIZE),
                f.Param(), f.Param(), f.Param()));
        }
        /// <inheritdoc cref="Native.ReLogin"/>
        public static bool ReLogin() => Library.Loaded && Native.ReLogin();
        /// <inheritdoc cref="Native.Heartbeat"/>
        public static bool Heartbeat() => Library.Loaded && Native.Heartbeat();

        // Record protocol: reference queries
        /// <inheritdoc cref="Native.MsgStates"/>
        public static Reply MsgStates() {
            var f = new Frame(); return f.Done(Native.MsgStates(out f.Code, f.Text(QV_BODY_BUFFER_SIZE)));
        }
        /// <inheritdoc cref="Native.InfoType"/>
        public static Reply InfoType() {
            var f = new Frame(); return f.Done(Native.InfoType(out f.Code, f.Text(QV_BODY_BUFFER_SIZE)));
        }
        /// <inheritdoc cref="Native.MobileNum"/>
        public static Reply MobileNum() {
            var f = new Frame(); return f.Done(Native.MobileNum(out f.Code, f.Text(QV_BODY_BUFFER_SIZE)));
        }
        /// <inheritdoc cref="Native.MMSMaxSize"/>
        public static Reply MMSMaxSize(string text, string param) {
            var f = new Frame(); return f.Done(Native.MMSMaxSize(out f.Code, f.Text(QV_BODY_BUFFER_SIZE), f.Param(),
                In(text), In(param)));
        }
        /// <inheritdoc cref="Native.NumRule"/>
        public static Reply NumRule() {
            var f = new Frame(); return f.Done(Native.NumRule(out f.Code, f.Text(QV_BODY_BUFFER_SIZE)));
        }
        /// <inheritdoc cref="Native.GetUdInfo"/>
        public static Reply GetUdInfo() {
            var f = new Frame(); return f.Done(Native.GetUdInfo(out f.Code, f.Text(QV_BODY_BUFFER_SIZE), f.Param(),
                f.Param(), f.Param()));
        }

        // Record protocol: the account's password and its sub-accounts
        /// <inheritdoc cref="Native.EditPassword"/>
        public static Reply EditPassword(string newPassword, string newPasswordAgain) {
            var f = new Frame(); return f.Done(Native.EditPassword(out f.Code, f.Text(QV_BODY_BUFFER_SIZE),
                In(newPassword), In(newPasswordAgain)));
        }
        /// <inheritdoc cref="Native.AddSubUser"/>
        public static Reply AddSubUser(string text, string param1, string param2, string param3) {
            var f = new Frame(); return f.Done(Native.AddSubUser(out f.Code, f.Text(QV_BODY_BUFFER_SIZE), In(text),
                In(param1), In(param2), In(param3)));
        }
        /// <inheritdoc cref="Native.AddSubUserEx"/>
        public static Reply AddSubUserEx(string text, string param1, string param2, string param3) {
            var f = new Frame(); return f.Done(Native.AddSubUserEx(out f.Code, f.Text(QV_BODY_BUFFER_SIZE), In(text),
                In(param1), In(param2), In(param3)));
        }
        /// <inheritdoc cref="Native.AddSubAccount"/>
        public static Reply AddSubAccount(string text, string param1, string param2, string param3) {
            var f = new Frame(); return f.Done(Native.AddSubAccount(out f.Code, f.Text(QV_BODY_BUFFER_SIZE), In(text),
                In(param1), In(param2), In(param3)));
        }
        /// <inheritdoc cref="Native.DisableSubUser"/>
        public static Reply DisableSubUser(string param1, string param2) {
            var f = new Frame(); return f.Done(Native.DisableSubUser(out f.Code, f.Text(QV_BODY_BUFFER_SIZE),
                In(param1), In(param2)));
        }
        /// <inheritdoc cref="Native.IncreaseSubBuy"/>
        public static Reply IncreaseSubBuy(string text, string param1, string param2) {
            var f = new Frame(); return f.Done(Native.IncreaseSubBuy(out f.Code, f.Text(QV_BODY_BUFFER_SIZE),
                In(text), In(param1), In(param2)));
        }
        /// <inheritdoc cref="Native.ReduceSubBuy"/>
        public static Reply ReduceSubBuy(string text, string param1, string param2) {
            var f = new Frame(); return f.Done(Native.ReduceSubBuy(out f.Code, f.Text(QV_BODY_BUFFER_SIZE), In(text),
                In(param1), In(param2)));
        }
        /// <inheritdoc cref="Native.FindAllSubs"/>
        public static Reply FindAllSubs() {
            var f = new Frame(); return f.Done(Native.FindAllSubs(out f.Code, f.Text(QV_BODY_BUFFER_SIZE)));
        }
        /// <inheritdoc cref="Native.FindAllSubsEx"/>
        public static Reply FindAllSubsEx() {
            var f = new Frame(); return f.Done(Native.FindAllSubsEx(out f.Code, f.Text(QV_BODY_BUFFER_SIZE),
                out f.Numbers[0], out f.Numbers[1], out f.Numbers[2]), 3);
        }
        /// <inheritdoc cref="Native.FindAllEmplyee"/>
        public static Reply FindAllEmplyee() {
            var f = new Frame(); return f.Done(Native.FindAllEmplyee(out f.Code, f.Text(QV_BODY_BUFFER_SIZE),
                out f.Numbers[0], out f.Numbers[1], out f.Numbers[2]), 3);
        }
        /// <inheritdoc cref="Native.Transfer"/>
        public static Reply Transfer() {
            var f = new Frame(); return f.Done(Native.Transfer(out f.Code, f.Text(QV_BODY_BUFFER_SIZE),
                out f.Numbers[0], out f.Numbers[1], out f.Numbers[2]), 3);
        }
        /// <inheritdoc cref="Native.FindSubInfo"/>
        public static Reply FindSubInfo(string text) {
            var f = new Frame(); return f.Done(Native.FindSubInfo(out f.Code, f.Text(QV_BODY_BUFFER_SIZE), In(text)));
        }
        /// <inheritdoc cref="Native.FindSubInfoEx"/>
        public static Reply FindSubInfoEx(string text) {
            var f = new Frame(); return f.Done(Native.FindSubInfoEx(out f.Code, f.Text(QV_BODY_BUFFER_SIZE), In(text)));
        }
        /// <inheritdoc cref="Native.FindSubAllOrders"/>
        public static Reply FindSubAllOrders(string text) {
            var f = new Frame(); return f.Done(Native.FindSubAllOrders(out f.Code, f.Text(QV_BODY_BUFFER_SIZE),
                In(text)));
        }
        /// <inheritdoc cref="Native.FindSubOrderInfo"/>
        public static Reply FindSubOrderInfo(string text, string param1) {
            var f = new Frame(); return f.Done(Native.FindSubOrderInfo(out f.Code, f.Text(QV_BODY_BUFFER_SIZE),
                In(text), In(param1)));
        }
        /// <inheritdoc cref="Native.EditSubPWD"/>
        public static Reply EditSubPWD(string text, string param1, string param2, string param3) {
            var f = new Frame(); return f.Done(Native.EditSubPWD(out f.Code, f.Text(QV_BODY_BUFFER_SIZE), In(text),
                In(param1), In(param2), In(param3)));
        }
        /// <inheritdoc cref="Native.AddSubGwNumEx"/>
        public static Reply AddSubGwNumEx(string text) {
            var f = new Frame(); return f.Done(Native.AddSubGwNumEx(out f.Code, f.Text(QV_BODY_BUFFER_SIZE),
                f.Param(), f.Param(), In(text)));
        }
        /// <inheritdoc cref="Native.DelSubGwNum"/>
        public static Reply DelSubGwNum(string text) {
            var f = new Frame(); return f.Done(Native.DelSubGwNum(out f.Code, f.Text(QV_BODY_BUFFER_SIZE), f.Param(),
                In(text)));
        }

        // Record protocol: client, product, information-package and scheduled-order
        /// <inheritdoc cref="Native.ClientInfo"/>
        public static Reply ClientInfo() {
            var f = new Frame(); return f.Done(Native.ClientInfo(out f.Code, f.Text(QV_BODY_BUFFER_SIZE)));
        }
        /// <inheritdoc cref="Native.AllProductId"/>
        public static Reply AllProductId() {
            var f = new Frame(); return f.Done(Native.AllProductId(out f.Code, f.Text(QV_BODY_BUFFER_SIZE)));
        }
        /// <inheritdoc cref="Native.CltProductId"/>
        public static Reply CltProductId() {
            var f = new Frame(); return f.Done(Native.CltProductId(out f.Code, f.Text(QV_BODY_BUFFER_SIZE)));
        }
        /// <inheritdoc cref="Native.CltAllPrdIdName"/>
        public static Reply CltAllPrdIdName() {
            var f = new Frame(); return f.Done(Native.CltAllPrdIdName(out f.Code, f.Text(QV_BODY_BUFFER_SIZE)));
        }
        /// <inheritdoc cref="Native.CltAllMmsInfo"/>
        public static Reply CltAllMmsInfo() {
            var f = new Frame(); return f.Done(Native.CltAllMmsInfo(out f.Code, f.Text(QV_BODY_BUFFER_SIZE)));
        }
        /// <inheritdoc cref="Native.CltAllIdNameType"/>
        public static Reply CltAllIdNameType() {
            var f = new Frame(); return f.Done(Native.CltAllIdNameType(out f.Code, f.Text(QV_BODY_BUFFER_SIZE)));
        }
        /// <inheritdoc cref="Native.ProductInfo"/>
        public static Reply ProductInfo(string productId) {
            var f = new Frame(); return f.Done(Native.ProductInfo(out f.Code, f.Text(QV_BODY_BUFFER_SIZE),
                In(productId)));
        }
        /// <inheritdoc cref="Native.AllInfoPackId"/>
        public static Reply AllInfoPackId() {
            var f = new Frame(); return f.Done(Native.AllInfoPackId(out f.Code, f.Text(QV_BODY_BUFFER_SIZE)));
        }
        /// <inheritdoc cref="Native.InfoPackStatus"/>
        public static Reply InfoPackStatus(string packageId) {
            var f = new Frame(); return f.Done(Native.InfoPackStatus(out f.Code, f.Text(QV_BODY_BUFFER_SIZE),
                In(packageId)));
        }
        /// <inheritdoc cref="Native.InfoPackStatusEx"/>
        public static Reply InfoPackStatusEx(string packageId) {
            var f = new Frame(); return f.Done(Native.InfoPackStatusEx(out f.Code, f.Text(QV_BODY_BUFFER_SIZE),
                In(packageId)));
        }
        /// <inheritdoc cref="Native.GetMessage"/>
        public static Reply GetMessage() {
            var f = new Frame(); return f.Done(Native.GetMessage(out f.Code, f.Text(QV_BODY_BUFFER_SIZE)));
        }
        /// <inheritdoc cref="Native.LastDetails"/>
        public static Reply LastDetails(string query, int count) {
            var f = new Frame(); return f.Done(Native.LastDetails(out f.Code, f.Text(QV_BODY_BUFFER_SIZE), In(query),
                count));
        }
        /// <inheritdoc cref="Native.GetProductLen"/>
        public static Reply GetProductLen() {
            var f = new Frame(); return f.Done(Native.GetProductLen(out f.Code, f.Text(QV_BODY_BUFFER_SIZE)));
        }
        /// <inheritdoc cref="Native.PQOrderList"/>
        public static Reply PQOrderList(string param1, string param2) {
            var f = new Frame(); return f.Done(Native.PQOrderList(out f.Code, f.Text(QV_BODY_BUFFER_SIZE), In(param1),
                In(param2)));
        }
        /// <inheritdoc cref="Native.PQOrderInfoByID"/>
        public static Reply PQOrderInfoByID(string param1, string param2, string param3) {
            var f = new Frame(); return f.Done(Native.PQOrderInfoByID(out f.Code, f.Text(QV_BODY_BUFFER_SIZE),
                In(param1), In(param2), In(param3)));
        }
        /// <inheritdoc cref="Native.PQGetAbilityURL"/>
        public static Reply PQGetAbilityURL() {
            var f = new Frame(); return f.Done(Native.PQGetAbilityURL(out f.Code, f.Text(QV_BODY_BUFFER_SIZE)));
        }

        // Record protocol: send jobs
        /// <inheritdoc cref="Native.SubmitAllClear"/>
        public static Reply SubmitAllClear() {
            var f = new Frame(); return f.Done(Native.SubmitAllClear(out f.Code, f.Text(QV_BODY_BUFFER_SIZE)));
        }
        /// <inheritdoc cref="Native.SubmitPrdId"/>
        public static Reply SubmitPrdId(string productId) {
            var f = new Frame(); return f.Done(Native.SubmitPrdId(out f.Code, f.Text(QV_BODY_BUFFER_SIZE),
                In(productId)));
        }
        /// <inheritdoc cref="Native.CheckPrdId"/>
        public static Reply CheckPrdId(string productId) {
            var f = new Frame(); return f.Done(Native.CheckPrdId(out f.Code, f.Text(QV_BODY_BUFFER_SIZE),
                In(productId)));
        }
        /// <inheritdoc cref="Native.SubmitTelList"/>
        public static Reply SubmitTelList(string numbers) {
            var f = new Frame(); return f.Done(Native.SubmitTelList(out f.Code, f.Text(QV_BODY_BUFFER_SIZE),
                In(numbers)));
        }
        /// <inheritdoc cref="Native.SubmitTelNum"/>
        public static Reply SubmitTelNum(string count) {
            var f = new Frame(); return f.Done(Native.SubmitTelNum(out f.Code, f.Text(QV_BODY_BUFFER_SIZE), In(count)));
        }
        /// <inheritdoc cref="Native.SubmitContent"/>
        public static Reply SubmitContent(string content) {
            var f = new Frame(); return f.Done(Native.SubmitContent(out f.Code, f.Text(QV_BODY_BUFFER_SIZE),
                In(content)));
        }
        /// <inheritdoc cref="Native.CheckContent"/>
        public static Reply CheckContent() {
            var f = new Frame(); return f.Done(Native.CheckContent(out f.Code, f.Text(QV_BODY_BUFFER_SIZE)));
        }
        /// <inheritdoc cref="Native.SubmitPushURL"/>
        public static Reply SubmitPushURL(string url) {
            var f = new Frame(); return f.Done(Native.SubmitPushURL(out f.Code, f.Text(QV_BODY_BUFFER_SIZE), In(url)));
        }
        /// <inheritdoc cref="Native.SubmitBgnDate"/>
        public static Reply SubmitBgnDate(string date) {
            var f = new Frame(); return f.Done(Native.SubmitBgnDate(out f.Code, f.Text(QV_BODY_BUFFER_SIZE), In(date)));
        }
        /// <inheritdoc cref="Native.SubmitBgnDateEx"/>
        public static Reply SubmitBgnDateEx(string period) {
            var f = new Frame(); return f.Done(Native.SubmitBgnDateEx(out f.Code, f.Text(QV_BODY_BUFFER_SIZE),
                In(period)));
        }
        /// <inheritdoc cref="Native.SubmitEndDate"/>
        public static Reply SubmitEndDate(string date) {
            var f = new Frame(); return f.Done(Native.SubmitEndDate(out f.Code, f.Text(QV_BODY_BUFFER_SIZE), In(date)));
        }
        /// <inheritdoc cref="Native.SubmitBgnTime"/>
        public static Reply SubmitBgnTime(string time) {
            var f = new Frame(); return f.Done(Native.SubmitBgnTime(out f.Code, f.Text(QV_BODY_BUFFER_SIZE), In(time)));
        }
        /// <inheritdoc cref="Native.SubmitEndTime"/>
        public static Reply SubmitEndTime(string time) {
            var f = new Frame(); return f.Done(Native.SubmitEndTime(out f.Code, f.Text(QV_BODY_BUFFER_SIZE), In(time)));
        }
        /// <inheritdoc cref="Native.SubmitTransFilename"/>
        public static Reply SubmitTransFilename(string fileName) {
            var f = new Frame(); return f.Done(Native.SubmitTransFilename(out f.Code, f.Text(QV_BODY_BUFFER_SIZE),
                In(fileName)));
        }
        /// <inheritdoc cref="Native.SubmitTransFile"/>
        public static Reply SubmitTransFile(string fileContent) {
            var f = new Frame(); return f.Done(Native.SubmitTransFile(out f.Code, f.Text(QV_BODY_BUFFER_SIZE),
                In(fileContent)));
        }
        /// <inheritdoc cref="Native.SubmitPQOrderSelect"/>
        public static Reply SubmitPQOrderSelect(string param1, string param2, string param3) {
            var f = new Frame(); return f.Done(Native.SubmitPQOrderSelect(out f.Code, f.Text(QV_BODY_BUFFER_SIZE),
                In(param1), In(param2), In(param3)));
        }
        /// <inheritdoc cref="Native.SubmitAllOver"/>
        public static Reply SubmitAllOver() {
            var f = new Frame(); return f.Done(Native.SubmitAllOver(out f.Code, f.Text(QV_BODY_BUFFER_SIZE)));
        }
        /// <inheritdoc cref="Native.SubmitAllOver_2"/>
        public static Reply SubmitAllOver_2() {
            var f = new Frame(); return f.Done(Native.SubmitAllOver_2(out f.Code, f.Text(QV_BODY_BUFFER_SIZE),
                out f.Numbers[0], out f.Numbers[1], out f.Numbers[2]), 3);
        }
        /// <inheritdoc cref="Native.SubmitAllOverEx"/>
        public static Reply SubmitAllOverEx() {
            var f = new Frame(); return f.Done(Native.SubmitAllOverEx(out f.Code, f.Text(QV_BODY_BUFFER_SIZE)));
        }
        /// <inheritdoc cref="Native.SubmitAllOverEx_2"/>
        public static Reply SubmitAllOverEx_2() {
            var f = new Frame(); return f.Done(Native.SubmitAllOverEx_2(out f.Code, f.Text(QV_BODY_BUFFER_SIZE),
                out f.Numbers[0], out f.Numbers[1], out f.Numbers[2]), 3);
        }

        // Record protocol: content checks and account parameters
        /// <inheritdoc cref="Native.ContentPreview"/>
        public static Reply ContentPreview(string param, string content) {
            var f = new Frame(); return f.Done(Native.ContentPreview(out f.Code, f.Text(QV_BODY_BUFFER_SIZE),
                out f.Numbers[0], In(param), In(content)), 1);
        }
        /// <inheritdoc cref="Native.GetSJKHDParams"/>
        public static Reply GetSJKHDParams() {
            var f = new Frame(); return f.Done(Native.GetSJKHDParams(out f.Code, f.Text(QV_BODY_BUFFER_SIZE),
                f.Param(), f.Param(), f.Param()));
        }
        /// <inheritdoc cref="Native.GetSJKHDBid"/>
        public static Reply GetSJKHDBid() {
            var f = new Frame(); return f.Done(Native.GetSJKHDBid(out f.Code, f.Text(QV_BODY_BUFFER_SIZE)));
        }
        /// <inheritdoc cref="Native.CheckSMSContent"/>
        public static Reply CheckSMSContent(string content, int number1, int number2, int number3) {
            var f = new Frame(); return f.Done(Native.CheckSMSContent(out f.Code, f.Text(QV_BODY_BUFFER_SIZE),
                In(content), number1, number2, number3));
        }
        /// <inheritdoc cref="Native.ClientGuiControl"/>
        public static Reply ClientGuiControl() {
            var f = new Frame(); return f.Done(Native.ClientGuiControl(out f.Code, f.Text(QV_BODY_BUFFER_SIZE)));
        }

        // Settings file and timed web request
        /// <inheritdoc cref="Native.ReadIniFile"/>
        public static Reply ReadIniFile(string carrier) {
            var f = new Frame(); return f.Done(Native.ReadIniFile(f.Text(QV_SETTING_BUFFER_SIZE), In(carrier)));
        }
        /// <inheritdoc cref="Native.fxReadIniFile"/>
        public static Reply fxReadIniFile(string carrier) {
            var f = new Frame(); return f.Done(Native.fxReadIniFile(f.Text(QV_SETTING_BUFFER_SIZE), In(carrier)));
        }
        /// <inheritdoc cref="Native.WebRequest"/>
        public static Reply WebRequest(string url) {
            var f = new Frame(); return f.Done(Native.WebRequest(f.Text(QV_BODY_BUFFER_SIZE), out f.Numbers[0],
                In(url)), 1);
        }
        /// <inheritdoc cref="Native.fxWebRequest"/>
        public static Reply fxWebRequest(string url) {
            var f = new Frame(); return f.Done(Native.fxWebRequest(f.Text(QV_BODY_BUFFER_SIZE), out f.Numbers[0],
                In(url)), 1);
        }

        // XML protocol
        /// <inheritdoc cref="Native.fxLogin_Req"/>
        public static Reply fxLogin_Req(string app, string extra, string name, string pwd, string ver) {
            var f = new Frame(); return f.Done(Native.fxLogin_Req(out f.Code, out f.Numbers[0], In(app), In(extra),
                In(name), In(pwd), In(ver)), 1);
        }
        /// <inheritdoc cref="Native.fxReLogin"/>
        public static bool fxReLogin() => Library.Loaded && Native.fxReLogin();
        /// <inheritdoc cref="Native.fxMsgStates_Req"/>
        public static Reply fxMsgStates_Req() {
            var f = new Frame(); return f.Done(Native.fxMsgStates_Req(out f.Code, out f.Numbers[0]), 1);
        }
        /// <inheritdoc cref="Native.fxMsgStates_Resp"/>
        public static Reply fxMsgStates_Resp(int replyCode, int replyLength) {
            var f = new Frame(); return f.Done(Native.fxMsgStates_Resp(f.Text(FxSize(replyLength)), replyCode,
                replyLength));
        }
        /// <inheritdoc cref="Native.fxInfoType_Req"/>
        public static Reply fxInfoType_Req() {
            var f = new Frame(); return f.Done(Native.fxInfoType_Req(out f.Code, out f.Numbers[0]), 1);
        }
        /// <inheritdoc cref="Native.fxInfoType_Resp"/>
        public static Reply fxInfoType_Resp(int replyCode, int replyLength) {
            var f = new Frame(); return f.Done(Native.fxInfoType_Resp(f.Text(FxSize(replyLength)), replyCode,
                replyLength));
        }
        /// <inheritdoc cref="Native.fxNumRule_Req"/>
        public static Reply fxNumRule_Req() {
            var f = new Frame(); return f.Done(Native.fxNumRule_Req(out f.Code, out f.Numbers[0]), 1);
        }
        /// <inheritdoc cref="Native.fxNumRule_Resp"/>
        public static Reply fxNumRule_Resp(int replyCode, int replyLength) {
            var f = new Frame(); return f.Done(Native.fxNumRule_Resp(f.Text(FxSize(replyLength)), replyCode,
                replyLength));
        }
        /// <inheritdoc cref="Native.fxNotify_Req"/>
        public static Reply fxNotify_Req() {
            var f = new Frame(); return f.Done(Native.fxNotify_Req(out f.Code, out f.Numbers[0]), 1);
        }
        /// <inheritdoc cref="Native.fxNotify_Resp"/>
        public static Reply fxNotify_Resp(int replyCode, int replyLength) {
            var f = new Frame(); return f.Done(Native.fxNotify_Resp(f.Text(FxSize(replyLength)), replyCode,
                replyLength));
        }

        // The About dialog and the message box
        /// <inheritdoc cref="Native.ShowAbout"/>
        public static bool ShowAbout() => Library.Loaded && Native.ShowAbout();
        /// <inheritdoc cref="Native.ShowMsg"/>
        public static bool ShowMsg(string text) => Library.Loaded && Native.ShowMsg(In(text));

        // Number classification, without the server

        // What happened: the last call's outcome, its relogin, the connection

        // The protocol trace
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
    // on a session is a method under its classic name, shaped as Client's, run on this session.  Any thread may
    // call it; the library runs the calls on one session one at a time and calls on different sessions side by
    // side.  Dispose ends the calls in progress on it in other threads, and the session is destroyed once the
    // last of them has returned; a call after Dispose throws ObjectDisposedException.  A session never disposed
    // is destroyed by its handle's finaliser.
    public sealed partial class Session : IDisposable
    {
        readonly SessionHandle handle = new SessionHandle();
        int calls;  // in progress, so that Dispose interrupts only when there is a call to interrupt

        public Session()
        {
            if (handle.IsInvalid)
            {
                handle.Dispose();
                throw new OutOfMemoryException("QvSessionCreate: out of memory");
            }
        }

        public bool IsDisposed => handle.IsClosed;

        static byte[] In(string text) => Gbk.Encode(text);

        // The session's address for one call, which the handle outlives; paired with Leave.
        IntPtr Enter()
        {
            bool added = false;
            try { handle.DangerousAddRef(ref added); }
            catch (ObjectDisposedException) { throw new ObjectDisposedException(nameof(Session), "the session is disposed"); }
            Interlocked.Increment(ref calls);
            return handle.DangerousGetHandle();
        }

        void Leave()
        {
            Interlocked.Decrement(ref calls);
            handle.DangerousRelease();
        }

        public void Dispose()
        {
            if (handle.IsClosed) return;
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

        // The calling thread's last call on this session.
        public Outcome GetLastOutcome()
        {
            var detail = new byte[QV_DETAIL_BUFFER_SIZE];
            int kind, sent, argument, socketError;
            var p = Enter();
            try { Native.QvGetLastOutcome(p, out kind, out sent, out argument, out socketError, detail, detail.Length); }
            finally { Leave(); }
            return new Outcome { Kind = kind, Sent = sent != 0, Argument = argument, SocketError = socketError,
                Detail = Gbk.Decode(detail) };
        }

        public ReloginInfo GetLastRelogin()
        {
            var detail = new byte[QV_DETAIL_BUFFER_SIZE];
            int kind, serverCode, socketError;
            var p = Enter();
            try { Native.QvGetLastRelogin(p, out kind, out serverCode, out socketError, detail, detail.Length); }
            finally { Leave(); }
            return new ReloginInfo { Kind = kind, ServerCode = serverCode, SocketError = socketError,
                Detail = Gbk.Decode(detail) };
        }

        public ConnectionState GetConnectionState()
        {
            int state, path, protocol, code;
            var p = Enter();
            try { Native.QvGetConnectionState(p, out state, out path, out protocol, out code); }
            finally { Leave(); }
            return new ConnectionState { State = state, Path = path, LoginProtocol = protocol, LoginCode = code };
        }
    }
}
