/*
 * quorvex.h - the public C interface of the Quorvex client library.
 *
 * Quorvex keeps one TCP connection to the message platform's server, logs
 * an enterprise account in and turns almost every call into one
 * request/response exchange.  Two wire protocols share the connection:
 *
 *  - the record protocol: every request and every response is one fixed
 *    2116-byte record (a 4-byte code, a 2048-byte body, a 4-byte body
 *    length and three 20-byte parameters);
 *  - the XML protocol (exports beginning with "fx").
 *
 * Conventions for every export
 *  - Results are one byte: 1 success, 0 failure.  For a protocol command,
 *    1 means that a response arrived and was handed over, whatever the
 *    server answered; the server's verdict is the result code (900 means
 *    accepted on the record protocol).
 *  - A result-code argument is set to -1 on entry, so -1 after a call means
 *    that no response arrived.
 *  - Texts are zero-terminated byte strings in the GBK code page (936), in
 *    both directions.  Record-protocol texts are never converted.
 *  - Output buffers are supplied by the caller; no size is passed but to
 *    WebRequestEx.  A buffer that receives a response body ("message
 *    buffer") must hold QV_BODY_BUFFER_SIZE (2049) bytes, one that
 *    receives a short parameter ("Param output") QV_PARAM_BUFFER_SIZE (21)
 *    bytes.  Connection messages are a fixed text followed by an error
 *    text; QV_BODY_BUFFER_SIZE bytes hold any of them.
 *  - A null input text counts as the empty text.  A null output (result
 *    code, message buffer, Param output) refuses the call: the result is 0,
 *    nothing is sent, nothing is written and no relogin runs.
 *  - An input text longer than its field (2047 bytes for a body, 19 for a
 *    parameter; for the login, "app;extra" counts as the body) is refused
 *    before anything is sent: result 0, result code -1, no relogin, and the
 *    text "输入的文本过长!" (GBK) in the message buffer of a command that has
 *    a failure message.  Texts are never cut short.
 *  - When a write or read of an exchange fails, the command copies its
 *    failure message (if it has one) into the message buffer, runs ReLogin
 *    once (reconnect with the last successful connect's arguments, log in
 *    again with the last login's texts) and returns 0.  The failed command is
 *    not repeated; the host may call it again.
 *  - Time-outs bound whole operations: writing a request, reading one
 *    record, reading an XML reply's header and then its body (each within
 *    the time-out, so a reply may take twice it), a proxy handshake and a
 *    web request each end within the read time-out (SetReadTimeout, 60000
 *    ms by default), however the peer splits or drips its bytes.  An expired
 *    read counts as a failed read ("Read timed out."), an expired write as
 *    a failed write ("Write timed out.").
 *  - The stream stays in step: a read or write that fails, times out or
 *    stops part-way closes the connection before the call returns, so no
 *    later call can take a late or partial answer for its own.  Bytes that
 *    no request asked for (a second answer to one request) are found before
 *    the next request is written: that call fails as on a broken connection
 *    ("Unrequested data from the server."), and its relogin starts clean.
 *    What the stream cannot tell: the protocols carry no request id, so a
 *    second answer that a server sends late, after the next request was
 *    written, cannot be told from that request's own answer.  Short of a
 *    server that answers twice, a call returns 1 only with the answer to
 *    its own request on its own connection.
 *  - Threads: every call that uses a connection runs alone under its
 *    session's lock (see Sessions below) and blocks its caller until the
 *    exchange, and any relogin after it, is over.  The two-call operations,
 *    Login_Request with Login_Feedback and every XML _Req with its _Resp,
 *    are safe from several threads: the first call reads the whole reply
 *    and keeps it for the calling thread and the connection it was read
 *    on, and the second hands it over without touching the connection.  A
 *    second call takes only its own thread's answer, once, and never
 *    another thread's; an answer whose connection has gone (a disconnect,
 *    a release, a new connect, a stream that lost its place, a relogin) is
 *    dropped, so the second call then fails (QV_OUTCOME_REFUSED, Argument
 *    0) and the host starts the pair again.  TcpDisconnect or
 *    dllUnInitialize from another thread ends a connect, read or write
 *    that a call is blocked in within tens of milliseconds; that call
 *    fails with the Detail "Disconnected by the host." (SocketError 10004)
 *    and does not reconnect.
 *  - No error or exception ever leaves an export.
 *
 * On 32-bit Windows every export is __stdcall; 64-bit Windows has one
 * calling convention, and QV_CALL says nothing there.  The DLL of either
 * width exports every function under its plain, undecorated name.
 */
#ifndef QUORVEX_H
#define QUORVEX_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#if defined(_WIN32) && !defined(_WIN64)
#define QV_CALL __stdcall
#else
#define QV_CALL
#endif

#if defined(_WIN32)
#define QV_EXPORT
#elif defined(QUORVEX_BUILDING)
#define QV_EXPORT __attribute__((visibility("default")))
#else
#define QV_EXPORT
#endif

#define QV_API QV_EXPORT qv_bool QV_CALL

#ifdef __cplusplus
extern "C" {
#endif

/* One-byte boolean result: 1 success, 0 failure. */
typedef uint8_t qv_bool;

/* Sizes of the caller's output buffers. */
#define QV_BODY_BUFFER_SIZE 2049
#define QV_PARAM_BUFFER_SIZE 21

/* Most text bytes that an input field accepts (its terminator not counted). */
#define QV_BODY_MAX_TEXT 2047
#define QV_PARAM_MAX_TEXT 19

/* The record protocol's result code for an accepted request. */
#define QV_CODE_ACCEPTED 900

/* Default read time-out in milliseconds. */
#define QV_DEFAULT_READ_TIMEOUT_MS 60000

/* ------------------------------------------------------------------------
 * Library lifecycle
 * ---------------------------------------------------------------------- */

/* Creates the library's objects (connection, proxy settings, relogin
 * buffer) and, on Windows, initialises COM for the calling thread where it
 * is not yet initialised.  A second call creates nothing new.  The XML
 * exports work on any thread: where a thread has no COM, a parse sets it
 * up for its own length and undoes it.  Returns 1. */
QV_API dllInitialize(void);
/* Same as dllInitialize. */
QV_API TcpInit(void);

/* Disconnects and destroys the library's objects and, on Windows, undoes
 * only the COM set-up that dllInitialize did on the calling thread (none
 * when the thread had COM already, in whatever apartment).  The arguments of
 * the last successful connect and the last login's texts survive, so that a
 * later initialisation can reconnect with ReLogin.  Returns 1, also when
 * nothing was initialised. */
QV_API dllUnInitialize(void);
/* Same as dllUnInitialize. */
QV_API TcpRelease(void);

/* Closes the connection.  Harmless when nothing is connected (result 1);
 * returns 0 before initialisation or after release.  It does not log out
 * for good: the arguments of the last connect and the last login's texts
 * are kept, so the next call that needs the connection fails, reconnects
 * and logs in again by itself (its relogin), and ReLogin reconnects at
 * once.  To stay logged out, stop calling, or release (dllUnInitialize). */
QV_API TcpDisconnect(void);
/* Same as TcpDisconnect. */
QV_API fxTcpDisconnect(void);

/* ------------------------------------------------------------------------
 * Connecting
 * ---------------------------------------------------------------------- */

/* Opens the connection to Host:Port and, on success, saves all eight
 * connection arguments for ReLogin.
 *
 *  Message      out: the outcome, a fixed GBK text, on failure followed by
 *               the error's text ("直连远程服务器异常:" + "Socket Error # 10061
 *               \r\nConnection refused." for a refused direct connect).  On
 *               success "TCP连接成功".
 *  Timeout      connect time-out in ms: 0 or -1 wait as long as the
 *               operating system's connect; -2 waits without limit; T > 0
 *               fails with "Connect timed out." once T ms have passed.
 *  ProxyKind    "socks4", "socks5" or "http" in any letter case select a
 *               proxy; anything else (also empty or null) connects directly.
 *               An HTTP proxy opens the tunnel only when its status line's
 *               code is 200 ("通过http代理服务器连接服务器失败!" otherwise,
 *               and the connection to the proxy is closed).  The connect
 *               to the proxy is bounded by Timeout as a direct one is; the
 *               handshake
 *               with either kind of proxy is bounded by the read time-out;
 *               an HTTP proxy's whole reply (blank lines, status and header
 *               lines) by 256 KiB, past which the connect fails with
 *               "Max header length exceeded." (each line by 16384 bytes:
 *               "Max line length exceeded.").
 *  ProxyHost, ProxyPort, ProxyUser, ProxyPassword: the proxy's address and
 *               credentials (unused on the direct path).
 *
 * Socket errors carry Windows Sockets numbers and texts on every platform.
 * Returns 1 when the connection is open. */
QV_API TcpConnect(char *Message, const char *Host, int32_t Port,
                  int32_t Timeout, const char *ProxyKind, const char *ProxyHost,
                  int32_t ProxyPort, const char *ProxyUser,
                  const char *ProxyPassword);

/* The XML protocol's twin of TcpConnect.  It writes "TCP连接成功" only on the
 * direct path, right after the connect. */
QV_API fxTcpConnect(char *Message, const char *Host, int32_t Port,
                    int32_t Timeout, const char *ProxyKind,
                    const char *ProxyHost, int32_t ProxyPort,
                    const char *ProxyUser, const char *ProxyPassword);

/* Extension: sets the time-out, in milliseconds, of every blocking
 * operation of the library: each request written, each answer read (a
 * whole record, an XML header, an XML body), each proxy handshake as a
 * whole, and a web request after its connect.  A value of 0 or below waits
 * without limit.  Takes effect for operations that start after the call.
 * Returns 1. */
QV_API SetReadTimeout(int32_t Milliseconds);

/* ------------------------------------------------------------------------
 * Record protocol: login, relogin, heartbeat
 * ---------------------------------------------------------------------- */

/* Sends the login record (code 100): body "app;extra", Param1 name,
 * Param2 pwd, Param3 ver.  Saves the five texts for ReLogin before the
 * write.  Reads the answer too and keeps it for the calling thread's
 * Login_Feedback on this connection (a refused call drops the thread's
 * earlier one).  Returns 1 when the record was written (also when its
 * answer then failed to arrive: Login_Feedback reports that); 0 after a
 * failed write (ReLogin has then run) or when a text is too long (nothing
 * saved, nothing sent). */
QV_API Login_Request(const char *app, const char *extra, const char *name,
                     const char *pwd, const char *ver);

/* Hands back the answer to Login_Request: its code into *Code (900:
 * logged in), its body into Message and its three parameters into the
 * Param outputs.  It takes the answer that the calling thread's last
 * Login_Request kept, once, and only while the connection it was read on
 * is still the one open; never another thread's.  If that answer failed to
 * arrive, ReLogin runs and the result is 0.  With no answer of its own
 * waiting (no Login_Request on this thread and connection, taken already,
 * or pushed out by 8 newer ones) the result is 0, QV_OUTCOME_REFUSED with
 * Argument 0: nothing is read and nothing renewed.  On every failure
 * (a login that timed out included) *Code stays -1 and Message and the
 * Param outputs are left exactly as the caller passed them, so a host may
 * fill Message with its own text beforehand; GetLastOutcome says why. */
QV_API Login_Feedback(int32_t *Code, char *Message, char *Param1, char *Param2,
                      char *Param3);

/* Disconnects, connects again with the last successful connect's
 * arguments and sends the login record of the last login.  Returns 1 only
 * when the server answers 900.  Every failure path of the library runs it.
 * Saved texts that do not fit the login record (an XML login's long name)
 * are not sent, but the connection is renewed all the same (result 0).
 * Returns 0 at once while a disconnect asked for by another thread waits
 * to run. */
QV_API ReLogin(void);

/* Sends the keep-alive record (code 105) and reads its answer.  The library
 * has no timer: call it to keep an idle connection alive. */
QV_API Heartbeat(void);

/* ------------------------------------------------------------------------
 * Record protocol: reference queries
 * Each returns the server's code in *Code and its body in Message.
 * ---------------------------------------------------------------------- */

/* Message states (code 101).  No failure message. */
QV_API MsgStates(int32_t *Code, char *Message);
/* Sub-classification types of messages (code 102). */
QV_API InfoType(int32_t *Code, char *Message);
/* Mobile number ranges (code 103).  No failure message. */
QV_API MobileNum(int32_t *Code, char *Message);
/* Limit on the size of a multimedia message (code 104): sends Text as the
 * body and Param as Param1, hands back the answer's Param1 in ParamOut. */
QV_API MMSMaxSize(int32_t *Code, char *Message, char *ParamOut,
                  const char *Text, const char *Param);
/* Rules for mobile numbers (code 106). */
QV_API NumRule(int32_t *Code, char *Message);
/* Parameters of the logged-in account (code 107): body and three Params. */
QV_API GetUdInfo(int32_t *Code, char *Message, char *Param1, char *Param2,
                 char *Param3);

/* ------------------------------------------------------------------------
 * Record protocol: the account's password and its sub-accounts
 *
 * Arguments named after a field go into that field of the request: Text
 * into the body, Param1..Param3 into the short parameters (19 bytes at
 * most).  Unless said otherwise, each hands back the server's code in *Code
 * and its body in Message.
 * ---------------------------------------------------------------------- */

/* Changes the logged-in account's password (code 110).  NewPassword and
 * NewPasswordAgain must be equal byte for byte, else the call returns 0 with
 * "两次输入的密码不一致!" and sends nothing.  Sends the saved account name and
 * password in use with the new one; when the server answers 900 the new
 * password is saved, so that every later relogin uses it. */
QV_API EditPassword(int32_t *Code, char *Message, const char *NewPassword,
                    const char *NewPasswordAgain);
/* Creates a sub-account (codes 111, 1110, 1111). */
QV_API AddSubUser(int32_t *Code, char *Message, const char *Text,
                  const char *Param1, const char *Param2, const char *Param3);
/* As AddSubUser under code 1110: Text into the body, Param1..Param3 into the
 * Params. */
QV_API AddSubUserEx(int32_t *Code, char *Message, const char *Text,
                    const char *Param1, const char *Param2, const char *Param3);
/* As AddSubUser under code 1111: Text into the body, Param1..Param3 into the
 * Params. */
QV_API AddSubAccount(int32_t *Code, char *Message, const char *Text,
                     const char *Param1, const char *Param2,
                     const char *Param3);
/* Disables or enables a sub-account (code 112); sends no body. */
QV_API DisableSubUser(int32_t *Code, char *Message, const char *Param1,
                      const char *Param2);
/* Moves part of an order's purchased quantity from the parent account to
 * the sub-account's matching order (113), or back (114). */
QV_API IncreaseSubBuy(int32_t *Code, char *Message, const char *Text,
                      const char *Param1, const char *Param2);
/* Moves part of an order's purchased quantity from the sub-account back to the
 * parent account's matching order (code 114): Text into the body, Param1 and
 * Param2 into the first two Params, as IncreaseSubBuy. */
QV_API ReduceSubBuy(int32_t *Code, char *Message, const char *Text,
                    const char *Param1, const char *Param2);
/* Lists the sub-accounts (115). */
QV_API FindAllSubs(int32_t *Code, char *Message);
/* Lists the sub-accounts (1150), the sales managers (141), or fetches large
 * data (140); the answer's three parameters come back as numbers.  A
 * parameter that is not an integer fails the call (result 0, failure
 * message, relogin) with the server's code already in *Code. */
QV_API FindAllSubsEx(int32_t *Code, char *Message, int32_t *Number1,
                     int32_t *Number2, int32_t *Number3);
/* Lists the sales managers (code 141); the answer's three parameters come back
 * as numbers.  A parameter that is not an integer fails the call (result 0,
 * failure message, relogin) with the server's code already in *Code. */
QV_API FindAllEmplyee(int32_t *Code, char *Message, int32_t *Number1,
                      int32_t *Number2, int32_t *Number3);
/* Fetches large data (code 140); the answer's three parameters come back as
 * numbers.  A parameter that is not an integer fails the call (result 0,
 * failure message, relogin) with the server's code already in *Code. */
QV_API Transfer(int32_t *Code, char *Message, int32_t *Number1,
                int32_t *Number2, int32_t *Number3);
/* A sub-account's information (116, 1160) and all its orders (117). */
QV_API FindSubInfo(int32_t *Code, char *Message, const char *Text);
/* As FindSubInfo under code 1160: a sub-account's information, Text into the
 * body. */
QV_API FindSubInfoEx(int32_t *Code, char *Message, const char *Text);
/* All orders of a sub-account (code 117): Text into the body. */
QV_API FindSubAllOrders(int32_t *Code, char *Message, const char *Text);
/* One order of a sub-account (118). */
QV_API FindSubOrderInfo(int32_t *Code, char *Message, const char *Text,
                        const char *Param1);
/* Changes a sub-account's password (119). */
QV_API EditSubPWD(int32_t *Code, char *Message, const char *Text,
                  const char *Param1, const char *Param2, const char *Param3);
/* Adds (1310) or deletes (132) access numbers of a sub-account; the answer's
 * parameters come back in the Param outputs.  The input text comes last. */
QV_API AddSubGwNumEx(int32_t *Code, char *Message, char *Param1Out,
                     char *Param2Out, const char *Text);
/* Deletes an access number of a sub-account (code 132): Text the number; the
 * answer's Param1 comes back in Param1Out. */
QV_API DelSubGwNum(int32_t *Code, char *Message, char *Param1Out,
                   const char *Text);

/* ------------------------------------------------------------------------
 * Record protocol: client, product, information-package and scheduled-order
 * queries.  Each hands back the server's code and body.
 * ---------------------------------------------------------------------- */

/* The logged-in client's information (code 121) into Message. */
QV_API ClientInfo(int32_t *Code, char *Message);
/* The ids of all the company's products (code 122) into Message. */
QV_API AllProductId(int32_t *Code, char *Message);
/* The ids of the client's products (code 1220) into Message. */
QV_API CltProductId(int32_t *Code, char *Message);
/* 1221, 1222, 1223: no failure message; Message is untouched on failure. */
QV_API CltAllPrdIdName(int32_t *Code, char *Message);
/* The client's multimedia products with their limits (code 1222) into Message.
 * No failure message: Message is untouched on failure. */
QV_API CltAllMmsInfo(int32_t *Code, char *Message);
/* The client's products with their ids, names and kinds (code 1223) into
 * Message.  No failure message: Message is untouched on failure. */
QV_API CltAllIdNameType(int32_t *Code, char *Message);
/* One product's details (code 123): ProductId the product. */
QV_API ProductInfo(int32_t *Code, char *Message, const char *ProductId);
/* The information packages (the jobs sent) of the client (code 124) into
 * Message. */
QV_API AllInfoPackId(int32_t *Code, char *Message);
/* The send report of an information package (125, 1250). */
QV_API InfoPackStatus(int32_t *Code, char *Message, const char *PackageId);
/* The send report of an information package with each recipient's state (code
 * 1250): PackageId the job number that the submit handed back. */
QV_API InfoPackStatusEx(int32_t *Code, char *Message, const char *PackageId);
/* The company's notices (127).  windows.h defines GetMessage as a macro
 * for its own function; the declaration below sets that macro aside and
 * restores it, and qv_GetMessage reaches this export whatever the order of
 * the includes. */
#if defined(GetMessage)
#pragma push_macro("GetMessage")
#undef GetMessage
#define QV_RESTORE_GETMESSAGE
#endif
/* The company's notices (code 127) into Message. windows.h defines GetMessage
 * as a macro for its own function; C hosts may call qv_GetMessage, which
 * reaches this export whatever the order of the includes. */
QV_API GetMessage(int32_t *Code, char *Message);
static inline qv_bool qv_GetMessage(int32_t *Code, char *Message) {
  return GetMessage(Code, Message);
}
#if defined(QV_RESTORE_GETMESSAGE)
#pragma pop_macro("GetMessage")
#undef QV_RESTORE_GETMESSAGE
#endif
/* Order details of the most recent messages (128): Count is sent as
 * decimal text in Param1. */
QV_API LastDetails(int32_t *Code, char *Message, const char *Query,
                   int32_t Count);
/* The length of the product in characters (code 129) into Message; the request
 * names no product. */
QV_API GetProductLen(int32_t *Code, char *Message);
/* Scheduled orders: the list (1500), one order's details (1510), the URL of
 * the scheduled-sending capability (1520).  Selections go into Params. */
QV_API PQOrderList(int32_t *Code, char *Message, const char *Param1,
                   const char *Param2);
/* One scheduled order's details (code 1510): Param1 the order's id, Param2 and
 * Param3 optional dates bounding the jobs listed. */
QV_API PQOrderInfoByID(int32_t *Code, char *Message, const char *Param1,
                       const char *Param2, const char *Param3);
/* The URL of the scheduled-sending capability (code 1520) into Message. */
QV_API PQGetAbilityURL(int32_t *Code, char *Message);

/* ------------------------------------------------------------------------
 * Record protocol: send jobs
 *
 * SubmitAllClear, then one call per field, then SubmitAllOver (or
 * SubmitAllOverEx for a scheduled job).  The server collects and checks the
 * fields; every call hands back its verdict in *Code (900 accepted) and
 * Message.  Each field travels in one record: at most 2047 bytes.
 * ---------------------------------------------------------------------- */

/* Opens a send job (code 298): the server forgets the fields left from an
 * earlier one.  Then one call per field, then SubmitAllOver_2 (or
 * SubmitAllOverEx_2 for a scheduled job).  Hands back the server's verdict in
 * *Code (900 accepted) and its answer in Message. */
QV_API SubmitAllClear(int32_t *Code, char *Message);
/* A field of the send job (code 201): sends the product's id in the body (the
 * body's length field stays 0).  Hands back the server's verdict in *Code (900
 * accepted) and its answer in Message. */
QV_API SubmitPrdId(int32_t *Code, char *Message, const char *ProductId);
/* Asks the server to check a product id (code 2011) as SubmitPrdId sends it,
 * without adding it to a job. */
QV_API CheckPrdId(int32_t *Code, char *Message, const char *ProductId);
/* A field of the send job (code 202): sends the recipients' mobile numbers (a
 * list, in the server's format) in the body.  Hands back the server's verdict
 * in *Code (900 accepted) and its answer in Message. */
QV_API SubmitTelList(int32_t *Code, char *Message, const char *Numbers);
/* A field of the send job (code 203): sends the count of the recipients'
 * numbers, as decimal text in the body.  Hands back the server's verdict in
 * *Code (900 accepted) and its answer in Message. */
QV_API SubmitTelNum(int32_t *Code, char *Message, const char *Count);
/* A field of the send job (code 204): sends the message content in the body.
 * Hands back the server's verdict in *Code (900 accepted) and its answer in
 * Message. */
QV_API SubmitContent(int32_t *Code, char *Message, const char *Content);
/* Asks the server to check the keywords of the job's content (code 2041); sends
 * nothing but its code. */
QV_API CheckContent(int32_t *Code, char *Message);
/* A field of the send job (code 205): sends the URL of a push message in the
 * body.  Hands back the server's verdict in *Code (900 accepted) and its answer
 * in Message. */
QV_API SubmitPushURL(int32_t *Code, char *Message, const char *Url);
/* A field of the send job (code 206): sends the date sending begins in the
 * body.  Hands back the server's verdict in *Code (900 accepted) and its answer
 * in Message. */
QV_API SubmitBgnDate(int32_t *Code, char *Message, const char *Date);
/* A field of the send job (code 2060): sends a scheduled job's effective dates
 * and time periods in the body.  Hands back the server's verdict in *Code (900
 * accepted) and its answer in Message. */
QV_API SubmitBgnDateEx(int32_t *Code, char *Message, const char *Period);
/* A field of the send job (code 207): sends the date sending ends in the body.
 * Hands back the server's verdict in *Code (900 accepted) and its answer in
 * Message. */
QV_API SubmitEndDate(int32_t *Code, char *Message, const char *Date);
/* A field of the send job (code 208): sends the time of day sending begins in
 * the body.  Hands back the server's verdict in *Code (900 accepted) and its
 * answer in Message. */
QV_API SubmitBgnTime(int32_t *Code, char *Message, const char *Time);
/* A field of the send job (code 209): sends the time of day sending ends in the
 * body.  Hands back the server's verdict in *Code (900 accepted) and its answer
 * in Message. */
QV_API SubmitEndTime(int32_t *Code, char *Message, const char *Time);
/* A field of the send job (code 211): sends the name of the file of a
 * multimedia message in the body.  Hands back the server's verdict in *Code
 * (900 accepted) and its answer in Message. */
QV_API SubmitTransFilename(int32_t *Code, char *Message, const char *FileName);
/* The file content travels as text: it ends at its first zero byte. */
QV_API SubmitTransFile(int32_t *Code, char *Message, const char *FileContent);
/* A field of a scheduled send job (code 2200): up to three scheduled orders'
 * ids in Param1, Param2 and Param3 (19 bytes each), the body empty.  Hands back
 * the server's verdict in *Code and its answer in Message. */
QV_API SubmitPQOrderSelect(int32_t *Code, char *Message, const char *Param1,
                           const char *Param2, const char *Param3);
/* The overall submit (299).  Its failure message is followed by the error's
 * own text. */
QV_API SubmitAllOver(int32_t *Code, char *Message);
/* As SubmitAllOver, and the answer's three parameters as numbers. */
QV_API SubmitAllOver_2(int32_t *Code, char *Message, int32_t *Number1,
                       int32_t *Number2, int32_t *Number3);
/* The overall submit of a scheduled job (2990). */
QV_API SubmitAllOverEx(int32_t *Code, char *Message);
/* As SubmitAllOverEx, and the answer's three parameters as numbers into
 * Number1, Number2 and Number3.  A parameter that is not an integer fails the
 * call (result 0, failure message, relogin) with the server's code already in
 * *Code. */
QV_API SubmitAllOverEx_2(int32_t *Code, char *Message, int32_t *Number1,
                         int32_t *Number2, int32_t *Number3);

/* ------------------------------------------------------------------------
 * Record protocol: content checks and account parameters
 * ---------------------------------------------------------------------- */

/* Preview of content (160): the answer's Param1 comes back as a number. */
QV_API ContentPreview(int32_t *Code, char *Message, int32_t *Number,
                      const char *Param, const char *Content);
/* Merchant-client parameters (161) into three Param outputs. */
QV_API GetSJKHDParams(int32_t *Code, char *Message, char *Param1, char *Param2,
                      char *Param3);
/* The merchant client's Bid (code 162) into Message. */
QV_API GetSJKHDBid(int32_t *Code, char *Message);
/* Admissibility of content (1700): the three numbers travel as decimal
 * texts.  When the server answers 900 and Number3 is 0, Message receives
 * the answer's Param1 instead of its body. */
QV_API CheckSMSContent(int32_t *Code, char *Message, const char *Content,
                       int32_t Number1, int32_t Number2, int32_t Number3);
/* The interface control parameters of the account on the server (code 1800)
 * into Message. */
QV_API ClientGuiControl(int32_t *Code, char *Message);

/* ------------------------------------------------------------------------
 * Settings file and timed web request
 *
 * Services for the host before it connects.  Neither uses the connection or
 * the state of the library: each call stands alone, also before
 * dllInitialize.
 * ---------------------------------------------------------------------- */

/* Size of the buffer that receives a value of the settings file. */
#define QV_SETTING_BUFFER_SIZE 2048

/* Reads a value for a telephone carrier from the settings file Quorvex.ini
 * in the directory of the host's executable (not the library's), section
 * [DllSet].  Carrier "电信" (GBK bytes) or "dx" in any letter case reads the
 * key dx; "网通" (GBK bytes) or "wt" in any letter case reads the key wt;
 * anything else is read as a key itself.  The file follows the Windows
 * private-profile rules: section and key names compared without regard to
 * letter case, blanks around names and values dropped, one pair of quotes
 * around a value removed, the first matching section and the first
 * matching key in it used, lines beginning with ";" ignored.
 *
 *  Value    out: the value and a terminating zero; QV_SETTING_BUFFER_SIZE
 *           bytes hold any value (a longer one is cut to 2047 bytes).
 *  Carrier  the carrier name or the key; null counts as empty.
 *
 * A missing file, section or key, and an empty Carrier, give the empty
 * text with result 1.  The result is 0, with Value untouched, only when
 * the system fails (the executable's path or the file cannot be read), or
 * when Value is null. */
QV_API ReadIniFile(char *Value, const char *Carrier);
/* Same as ReadIniFile. */
QV_API fxReadIniFile(char *Value, const char *Carrier);

/* The most bytes WebRequest and fxWebRequest write into Response, the
 * terminating zero included.  Their Response is a message buffer, as hosts
 * have long passed it, so a longer text is cut rather than written past
 * the buffer.  WebRequestEx takes larger pages and reports a cut. */
#define QV_WEB_RESPONSE_MAX QV_BODY_BUFFER_SIZE

/* The most bytes of a body that the library holds for one web request.
 * Only a WebRequestEx whose ResponseSize is larger still can meet a longer
 * body: that call fails instead of cutting it.  A chunked body's framing
 * (size lines, extensions, line ends) does not count here: it may take
 * 64 KiB plus 8 bytes for each byte of body, so a body of this size passes
 * even in one-byte chunks, and framing beyond that fails the call. */
#define QV_WEB_BODY_MAX (64 * 1024 * 1024)

/* Extension: fetches Url with an HTTP/1.1 GET on a connection of its own,
 * writes at most ResponseSize bytes into Response and reports how long it
 * took.
 *
 *  Response        out: the body's text and a terminating zero.  The text
 *                  is the body's raw bytes up to its first zero byte; a
 *                  text longer than ResponseSize - 1 bytes is cut to that
 *                  many bytes (the result stays 1).
 *  ResponseSize    bytes that Response holds, the zero included; 1 or more.
 *  ResponseLength  out: the text's length in bytes when it fits, which is
 *                  below ResponseSize; ResponseSize itself when the text
 *                  was cut.
 *  ElapsedMs       out: milliseconds of a monotonic clock spent connecting,
 *                  sending, receiving and copying.
 *  Url             "[http://]host[:port][/path][?query]"; port 80 by
 *                  default; null counts as empty.  Spaces and bytes above
 *                  127 in the path and query are sent percent-encoded.
 *
 * The request is "GET <path and query> HTTP/1.1" with the header lines
 * Content-Type, Host, Accept and User-Agent.  No proxy is used, whatever
 * TcpConnect was given.  Interim answers (100 Continue) are skipped.  A
 * 2xx status succeeds: its body is read by chunked coding, by
 * Content-Length or up to the close of the connection; 204 has none.
 * Reading stops once ResponseSize bytes of the body are in, enough to tell
 * a cut: the rest of a longer body is neither waited for nor checked, and
 * the connection is closed.  Every other status fails, and so does a
 * redirect or any answer with a Location header (redirects are not
 * followed), a body cut short by the close of the connection before
 * ResponseSize of its bytes arrived, and a body over QV_WEB_BODY_MAX that
 * ResponseSize would hold.  An https URL, or any scheme but http, fails
 * with 0: the library carries no TLS.  After the connect, sending the
 * request and receiving the answer take at most the read time-out
 * (SetReadTimeout) together: a silent, slow or non-reading server fails
 * the call once it expires.
 *
 * Returns 1 on success, a cut text included; on failure 0, with Response,
 * ResponseLength and ElapsedMs untouched.  A null Response, ResponseLength
 * or ElapsedMs, or a ResponseSize below 1, refuses the call: result 0,
 * nothing sent. */
QV_API WebRequestEx(char *Response, int32_t ResponseSize,
                    int32_t *ResponseLength, int32_t *ElapsedMs,
                    const char *Url);

/* WebRequestEx with ResponseSize QV_WEB_RESPONSE_MAX and no length output:
 * Response must hold QV_WEB_RESPONSE_MAX bytes, and a text longer than
 * QV_WEB_RESPONSE_MAX - 1 bytes is cut to that with result 1.  A host that
 * needs to know of a cut, or fetches larger pages, calls WebRequestEx. */
QV_API WebRequest(char *Response, int32_t *ElapsedMs, const char *Url);
/* Same as WebRequest. */
QV_API fxWebRequest(char *Response, int32_t *ElapsedMs, const char *Url);

/* ------------------------------------------------------------------------
 * XML protocol
 *
 * Every operation is a pair: the _Req export sends the request and reads
 * the whole reply, header and body, handing the reply's code and body
 * length to the host and keeping the body for the calling thread; the host
 * then calls the matching _Resp export with exactly those two values, and
 * it takes the body from what was kept, not from the connection.  A _Resp
 * takes only the reply that its own thread's last _Req of the operation
 * kept on the connection still open, once; never another thread's.  A
 * _Resp with no such reply fails with its read-failure message
 * (QV_OUTCOME_REFUSED, Argument 0) and reads nothing; one given another
 * code or length than its _Req returned fails the same way and leaves the
 * reply kept for a corrected call.  A _Req never followed by its _Resp
 * costs nothing but the kept body (at most 8 are kept; a thread's next
 * _Req of the same operation replaces its last, and a disconnect, release
 * or new connection drops them all).  A body that could not be read whole (cut
 * short, too late, over QV_FX_REPLY_MAX) closes the connection; the _Req still
 * returns 1 with the header's values, and the _Resp reports the failed
 * read (the query _Resp exports then run fxReLogin).  The server accepted
 * when the reply code is QV_FX_SUCCESS and the _Resp export returned 1.
 *
 * A reply document is read in one pass, at a cost in proportion to its
 * size; only the values an export takes are kept.  It may be written in
 * UTF-8, UTF-16, GBK (also declared gb2312, cp936), GB18030, ISO-8859-1,
 * US-ASCII or a Windows code page 1250 to 1258, the same on every
 * platform; any other declared encoding, a document type declaration, more
 * than QV_FX_ATTRIBUTES_MAX attributes on an element, elements nested
 * deeper than QV_FX_DEPTH_MAX, a name longer than QV_FX_NAME_MAX or more
 * than QV_FX_NAMESPACES_MAX namespace declarations (xmlns and xmlns:prefix
 * attributes) on an element and the elements it is inside fail as a
 * malformed document (the parse-failure message).  Parsing prints
 * nothing and calls none of the host's handlers.  Texts taken from replies
 * are converted to GBK, "?" standing for a character GBK lacks.  Size
 * message buffers from the reply length (plus one byte); fixed messages
 * need at most 41 bytes.  A text is never longer than the reply length:
 * in a reply written in a single-byte encoding (ISO-8859-1, the Windows
 * code pages) a character can take two bytes in GBK, and a text that
 * grows past the reply length is cut there, at a character.  The call
 * still returns 1, and GetLastOutcome's Detail names the text and its
 * full and kept sizes (the outcome stays QV_OUTCOME_OK).
 * ---------------------------------------------------------------------- */

#define QV_FX_SUCCESS 20900

/* Limits on a reply: the replies carry a root and a few short elements, so
 * these leave wide room for them and none for the shapes that make a parse
 * slow or large. */
/* clang-format off */
#define QV_FX_REPLY_MAX (1024 * 1024) /* bytes of a reply body */
#define QV_FX_ATTRIBUTES_MAX 32       /* attributes of one element */
#define QV_FX_DEPTH_MAX 64            /* elements open at once */
#define QV_FX_NAME_MAX 256            /* characters of a name */
#define QV_FX_NAMESPACES_MAX 32       /* namespace declarations in scope at once */
/* clang-format on */

/* Sends the XML login (code 10000; app, ver, a fresh key, name, pwd; extra
 * is saved for relogins but not sent).  *ReplyCode and *ReplyLength receive
 * the reply header.  Never relogs in. */
QV_API fxLogin_Req(int32_t *ReplyCode, int32_t *ReplyLength, const char *app,
                   const char *extra, const char *name, const char *pwd,
                   const char *ver);
/* Reads the login reply.  On QV_FX_SUCCESS the reply's agent, agreement,
 * pud and desc (into Message) are handed back; each one the reply does not
 * carry leaves its output untouched.  Otherwise Message receives the reply
 * body as text.  Messages: "读取登录信息为空！" (length 0 or below),
 * "读取登录信息异常失败！" (read failed), "解析登录信息异常失败！" (bad
 * document). */
QV_API fxLogin_Resp(char *Message, int32_t *Agent, char *Pud,
                    int32_t *Agreement, int32_t ReplyCode, int32_t ReplyLength);
/* Reconnects with the last successful connect's arguments and repeats the
 * XML login with the saved texts (extra becomes empty).  Returns 1 only
 * when the server accepts.  The query exports run it when they fail. */
QV_API fxReLogin(void);

/* Reference queries: the kinds of record state (10101, element "states"),
 * the detailed information types (10102, "types"), the number rules
 * (10106, "rule") and the company's notification text (10127, "notify").
 * On QV_FX_SUCCESS the element's text goes into Message (untouched when the
 * reply carries none); other reply codes give a fixed message with result
 * 1.  Messages: "读取反馈信息为空！", "读取反馈信息异常失败！" (then a relogin
 * when the body failed to arrive; none when no reply was kept for the
 * call), "解析XML异常失败！". */
QV_API fxMsgStates_Req(int32_t *ReplyCode, int32_t *ReplyLength);
/* Hands back the reply that this thread's fxMsgStates_Req kept: on
 * QV_FX_SUCCESS the text of the element "states" goes into Message (untouched
 * when the reply carries none); other reply codes give a fixed message with
 * result 1.  ReplyCode and ReplyLength must be those the _Req handed back.
 * Messages: "读取反馈信息为空！", "读取反馈信息异常失败！" (then a relogin when
 * the body failed to arrive; none when no reply was kept for the call),
 * "解析XML异常失败！". */
QV_API fxMsgStates_Resp(char *Message, int32_t ReplyCode, int32_t ReplyLength);
/* Asks for the detailed information types (10102): writes the request, reads
 * the reply's header and body and keeps the body for this thread's
 * fxInfoType_Resp. *ReplyCode and *ReplyLength receive the reply's code and
 * length. */
QV_API fxInfoType_Req(int32_t *ReplyCode, int32_t *ReplyLength);
/* Hands back the reply that this thread's fxInfoType_Req kept: on QV_FX_SUCCESS
 * the text of the element "types" goes into Message (untouched when the reply
 * carries none); other reply codes give a fixed message with result 1.
 * ReplyCode and ReplyLength must be those the _Req handed back.  Messages:
 * "读取反馈信息为空！", "读取反馈信息异常失败！" (then a relogin when the body
 * failed to arrive; none when no reply was kept for the call),
 * "解析XML异常失败！". */
QV_API fxInfoType_Resp(char *Message, int32_t ReplyCode, int32_t ReplyLength);
/* Asks for the number rules (10106): writes the request, reads the reply's
 * header and body and keeps the body for this thread's fxNumRule_Resp.
 * *ReplyCode and *ReplyLength receive the reply's code and length. */
QV_API fxNumRule_Req(int32_t *ReplyCode, int32_t *ReplyLength);
/* Hands back the reply that this thread's fxNumRule_Req kept: on QV_FX_SUCCESS
 * the text of the element "rule" goes into Message (untouched when the reply
 * carries none); other reply codes give a fixed message with result 1.
 * ReplyCode and ReplyLength must be those the _Req handed back.  Messages:
 * "读取反馈信息为空！", "读取反馈信息异常失败！" (then a relogin when the body
 * failed to arrive; none when no reply was kept for the call),
 * "解析XML异常失败！". */
QV_API fxNumRule_Resp(char *Message, int32_t ReplyCode, int32_t ReplyLength);
/* Asks for the company's notification text (10127): writes the request, reads
 * the reply's header and body and keeps the body for this thread's
 * fxNotify_Resp. *ReplyCode and *ReplyLength receive the reply's code and
 * length. */
QV_API fxNotify_Req(int32_t *ReplyCode, int32_t *ReplyLength);
/* Hands back the reply that this thread's fxNotify_Req kept: on QV_FX_SUCCESS
 * the text of the element "notify" goes into Message (untouched when the reply
 * carries none); other reply codes give a fixed message with result 1.
 * ReplyCode and ReplyLength must be those the _Req handed back.  Messages:
 * "读取反馈信息为空！", "读取反馈信息异常失败！" (then a relogin when the body
 * failed to arrive; none when no reply was kept for the call),
 * "解析XML异常失败！". */
QV_API fxNotify_Resp(char *Message, int32_t ReplyCode, int32_t ReplyLength);

/* ------------------------------------------------------------------------
 * The About dialog and the message box
 *
 * The library's own windows.  Neither uses the connection or the state of
 * the library; both may be called before dllInitialize.  Both run on the
 * calling thread, which should be the host's user-interface thread.
 *
 * On Windows they are windows of the host's process, and the About dialog
 * is served by the calling thread's message loop.  On Linux they are GTK 3
 * windows from the module libquorvex-gtk.so, which ships in quorvex/ below
 * the directory of libquorvex.so and is loaded from there alone at the first
 * call (the library itself does
 * not depend on GTK; without the module both return 0).  GTK is
 * initialised at that call (without changing the process's locale) unless
 * the host has done so already; the About dialog
 * is served by the GLib main loop of the calling thread (the default main
 * context), which is how GTK hosts run anyway; until that loop runs, the
 * dialog is neither drawn nor answers.  Where no display can be opened, or
 * the library was built without GTK, both return 0.
 * ---------------------------------------------------------------------- */

/* Opens a new About dialog with no owner and returns 1 at once, the dialog
 * staying on screen while the host goes on; 0 when it cannot be created or
 * shown.  Every call opens a further, independent dialog at the same place;
 * closing one releases it. */
QV_API ShowAbout(void);

/* Shows Text (GBK; null counts as empty) in a modal message box, centred on
 * the screen, with the title "Quorvex", no icon and a single "OK" button
 * (on Windows, the system's own OK button).
 * Blocks the calling thread until the box is closed, then returns 1; 0 when
 * the box cannot be shown. */
QV_API ShowMsg(const char *Text);

/* ------------------------------------------------------------------------
 * Number classification, without the server
 * ---------------------------------------------------------------------- */

/* Classifies Number by its form and by CarrierList, entries separated by
 * ";" such as "139,移动;130,联通" (GBK).
 *   1  an 11-digit number not beginning with 0 whose first three digits
 *      followed by ",移动" are an entry (compared whole, ASCII letters
 *      without regard to case)
 *   2  as 1 with ",联通" only
 *   3  8 to 12 digits beginning with 0
 *   0  anything else
 *  -1  the carrier list could not be processed
 * Both arguments are length-prefixed texts: a pointer to the first byte of
 * the text, with its length in bytes as an int32 in the four bytes just
 * before it.  No terminating zero is needed; null is the empty text; a
 * negative length counts as empty.  Use qv_length_prefixed() to build one. */
QV_EXPORT int32_t QV_CALL CheckTels(const char *Number,
                                    const char *CarrierList);

/* Lays out a length-prefixed text for CheckTels in storage, which must hold
 * Length + 4 bytes, and returns the pointer to pass. */
static inline const char *qv_length_prefixed(void *storage, const char *Text,
                                             int32_t Length) {
  unsigned char *p = (unsigned char *)storage;
  memcpy(p, &Length, sizeof Length);
  if (Length > 0) memcpy(p + 4, Text, (size_t)Length);
  return (const char *)(p + 4);
}

/* ------------------------------------------------------------------------
 * What happened: the last call's outcome, its relogin, the connection
 *
 * Extensions.  Every export records, for the calling thread, what its call
 * came to; these three read it back (and the connection's state) without
 * changing it, so call them right after the call you ask about, on the
 * same thread.  A text conversion (QvGbkFromUtf8, QvUtf8FromGbk) that
 * succeeds changes nothing either, so that a binding may convert a call's
 * texts before its host asks.  They add information only: no result, result
 * code or message of any export depends on them.
 *
 * Retrying a failed call.  Exports that only read (the reference and
 * client queries, the checks and previews, the XML queries, Heartbeat)
 * can simply be called again.  Exports that change state on the server
 * can have done so even when they return 0:
 *   EditPassword, AddSubUser, AddSubUserEx, AddSubAccount, DisableSubUser,
 *   IncreaseSubBuy, ReduceSubBuy, EditSubPWD, AddSubGwNumEx, DelSubGwNum,
 *   Transfer, SubmitAllClear, every Submit... field of a send job, and
 *   above all SubmitAllOver, SubmitAllOver_2, SubmitAllOverEx and
 *   SubmitAllOverEx_2, which hand the job to the server for sending.
 * After such a call failed, look at GetLastOutcome's Sent: 0 means the
 * server cannot have the request, and calling again is safe; 1 means it
 * may have acted on it (QV_OUTCOME_MAYBE_APPLIED, or a time-out after the
 * request was out).  Then find out first (for a send job: look the job up,
 * for instance with LastDetails, the details of the latest messages) instead
 * of sending it again.
 * ---------------------------------------------------------------------- */

/* Outcome kinds. */
/* clang-format off */
#define QV_OUTCOME_OK 0              /* the call did what it does (answered) */
#define QV_OUTCOME_REFUSED 1         /* an argument was refused; nothing sent */
#define QV_OUTCOME_NOT_INITIALISED 2 /* before dllInitialize, or after release */
#define QV_OUTCOME_NOT_CONNECTED 3   /* no open connection; nothing sent */
#define QV_OUTCOME_CONNECT_FAILED 4  /* a connect or proxy handshake failed */
#define QV_OUTCOME_NOT_SENT 5        /* failed before the whole request was out */
#define QV_OUTCOME_MAYBE_APPLIED 6   /* failed after the whole request was out */
#define QV_OUTCOME_TIMED_OUT 7       /* a time-out; Sent tells which side */
#define QV_OUTCOME_FAILED 8          /* any other failure; Detail says why */
#define QV_OUTCOME_CANCELLED 9       /* an operation cancelled; nothing sent */

/* Relogin outcomes (the relogin that a failure path, ReLogin or fxReLogin
 * ran during the call). */
#define QV_RELOGIN_NOT_RUN 0
#define QV_RELOGIN_LOGGED_IN 1      /* reconnected; the server accepted the login */
#define QV_RELOGIN_REFUSED 2        /* reconnected; the server answered ServerCode */
#define QV_RELOGIN_CONNECT_FAILED 3 /* the reconnect failed (SocketError, Detail) */
#define QV_RELOGIN_FAILED 4         /* the login exchange failed (SocketError, Detail) */

/* Connection state flags, and the ways a connection is opened. */
#define QV_STATE_INITIALISED 1
#define QV_STATE_CONNECTED 2
#define QV_STATE_LOGGED_IN 4 /* the last login on this connection was accepted */
#define QV_PATH_NONE 0
#define QV_PATH_DIRECT 1
#define QV_PATH_SOCKS4 2
#define QV_PATH_SOCKS5 3
#define QV_PATH_HTTP 4
#define QV_PROTOCOL_NONE 0
#define QV_PROTOCOL_RECORD 1
#define QV_PROTOCOL_XML 2
/* clang-format on */

/* Most bytes of a Detail text, its terminator included. */
#define QV_DETAIL_BUFFER_SIZE 160

/* The calling thread's last call (any export but these three and a
 * conversion that succeeded):
 *  Outcome      a QV_OUTCOME_* kind.
 *  Sent         1 when the whole request had been written, so that the
 *               server may have acted on it; 0 when it cannot have it.
 *  Argument     for QV_OUTCOME_REFUSED, the 1-based place of the refused
 *               argument in the export's list (0 when no one argument is
 *               at fault: a second call of a pair with nothing to take).
 *  SocketError  the Windows Sockets number of the failure (10060 for a
 *               time-out, 10057 for no connection, 10093 before
 *               initialisation), 0 when the failure is not a socket's.
 *  Detail       an English text of the failure, cut to DetailSize bytes
 *               with its terminator; empty after success.
 * Any pointer may be null.  Returns 1. */
QV_API GetLastOutcome(int32_t *Outcome, int32_t *Sent, int32_t *Argument,
                      int32_t *SocketError, char *Detail, int32_t DetailSize);

/* The relogin of the calling thread's last call: a QV_RELOGIN_* kind, the
 * server's answer to its login (-1 when none arrived), the Windows Sockets
 * number and an English text of its failure.  Any pointer may be null.
 * Returns 1. */
QV_API GetLastRelogin(int32_t *Relogin, int32_t *ServerCode,
                      int32_t *SocketError, char *Detail, int32_t DetailSize);

/* The connection as the last finished call left it (a call in progress on
 * another thread is not waited for; a peer's close is noticed by the next
 * call that uses the connection):
 *  State          QV_STATE_* flags.
 *  Path           QV_PATH_* of the open connection (QV_PATH_NONE when none).
 *  LoginProtocol  QV_PROTOCOL_* of the last login answered on this
 *                 connection (a relogin's included), QV_PROTOCOL_NONE when
 *                 none was.
 *  LoginCode      the server's code for that login (900 or 20900 when
 *                 accepted), -1 when none.
 * Any pointer may be null.  Returns 1. */
QV_API GetConnectionState(int32_t *State, int32_t *Path, int32_t *LoginProtocol,
                          int32_t *LoginCode);

/* ------------------------------------------------------------------------
 * The protocol trace
 *
 * Extensions.  The library writes nothing anywhere unless asked.  A trace
 * shows what it does, one line per event: a time stamp in seconds since
 * the trace started (monotonic), the thread ("t1", "t2", ... in the order
 * they first wrote), on a call on a created session that session ("s1",
 * "s2", ... in the order they were created; the default session's lines
 * name none, and "session s3 created" and "... destroyed" mark each one's
 * life), then the event: each export called and its result,
 * connects with their path, proxy steps, outcome and time, every record
 * sent and received (code, body length, texts with GBK shown as UTF-8),
 * every XML header and document, failures with their kind, relogins and
 * their outcome, disconnects.  Passwords (of logins, relogins, password
 * changes, new sub-accounts, the proxy) are always shown as "***", in the
 * hex dump too.  While no trace runs, the library pays nothing measurable
 * for it.
 *
 * A host that cannot be changed gets the same from the environment:
 * QUORVEX_TRACE=FILE starts a trace at dllInitialize (or TcpInit), and
 * QUORVEX_TRACE_HEX=1 adds the hex dump.
 * ---------------------------------------------------------------------- */

/* Adds a hex dump of every byte sent and received. */
#define QV_TRACE_HEX 1

/* Starts a trace appended to the file at Path ("-" for the process's
 * standard error); a trace that runs already is stopped first.  Options:
 * 0 or QV_TRACE_HEX.  A new file is created for its owner alone (mode
 * 0600; an owner-only access list on Windows), since a trace holds phone
 * numbers and message texts.  The file must be a regular file: a symbolic
 * link, a FIFO, a device or a directory at Path is refused, and opening
 * never blocks.  An existing file is appended to only while it is its
 * owner's alone: on Linux one that group or others may read or write is
 * refused and left as it is (Detail names its mode); on Windows an
 * existing file keeps the access list it has.  Returns 1 when the file is
 * open, 0 for a null or empty Path or a file that is refused or cannot be
 * opened (GetLastOutcome's Detail says why).  A write to the file that
 * fails later stops the trace; no call's result changes. */
QV_API TraceStart(const char *Path, int32_t Options);

/* Stops the trace and closes its file.  Returns 1, also when none ran. */
QV_API TraceStop(void);

/* ------------------------------------------------------------------------
 * Sessions
 *
 * Extensions.  A session is one connection with everything that belongs
 * to it: its proxy path, the arguments of its last successful connect, the
 * texts of its last login, its read time-out, what the first call of a
 * pair kept (Login_Request for Login_Feedback, a _Req for its _Resp), its
 * relogin, its connection state, and the outcome and relogin of each
 * thread's last call on it.  The classic exports act on the default
 * session; every export that uses a connection, the saved connection
 * arguments or login texts, the read time-out or the last outcome has a
 * twin, Qv followed by its name (QvTcpConnect, QvLogin_Request,
 * QvSubmitAllOver, QvfxNumRule_Req, QvGetLastOutcome, ...), which takes a
 * QvSession * first, then the export's own arguments, and acts on that
 * session with the export's result, bytes on the wire, messages and
 * outcome rules.  The settings file, the web request, the dialogs,
 * CheckTels and the trace belong to the process and have no twin.
 *
 *  - A session made by QvSessionCreate is ready to connect: it needs no
 *    dllInitialize, and dllUnInitialize does not touch it.
 *  - Threads: a session may be used from any thread.  The calls on one
 *    session run one at a time, in the order they take its lock (pairs as
 *    described above); calls on different sessions share no lock on the
 *    way of an exchange (connect, write, read, parse, relogin) and run
 *    side by side.
 *  - QvGetLastOutcome and QvGetLastRelogin report the calling thread's
 *    last call on that session (a thread remembers its last call on each
 *    of the 16 sessions it used last; before any, or for an older one,
 *    they report QV_OUTCOME_OK and QV_RELOGIN_NOT_RUN);
 *    QvGetConnectionState reports that session's connection.
 *    GetLastOutcome keeps reporting the thread's last call on any session.
 *  - QvSessionDestroy closes the session's connection, ends the calls in
 *    progress on it in other threads as TcpDisconnect does (the one blocked
 *    on the connection and any waiting behind it fail with "Disconnected by
 *    the host."; none of them connects, and none hands over an answer that
 *    a first call kept), waits for them all to return and frees the
 *    session.
 *  - Handles are checked, never trusted: a QvSession * is a number that
 *    names a session, not its address.  A value that is not a live session
 *    (NULL, a value QvSessionCreate did not return, a destroyed session, or
 *    one whose destroy has begun) is refused by every twin, by
 *    QvGetLastOutcome, QvGetLastRelogin and QvGetConnectionState and by
 *    QvSessionDestroy, at once and without reading anything through it:
 *    result 0, QV_OUTCOME_REFUSED with Argument 1 (read it with
 *    GetLastOutcome), nothing written to the other arguments.  A handle
 *    value is never handed out twice in the process, so a stale handle can
 *    never reach a newer session.  A call that races a destroy either
 *    enters first (the destroy then ends it and waits for it) or is
 *    refused.  A process may hold up to 65535 sessions at once; on 32-bit
 *    Windows it may make about two thousand million in its life, after
 *    which QvSessionCreate returns NULL.
 *  - Destroying the default session is refused the same way and does
 *    nothing.
 *    Every other refused argument of a twin is numbered as its classic
 *    export numbers it, in the export's own list (the session not
 *    counted), so that both report the same Argument for the same fault.
 * ---------------------------------------------------------------------- */

typedef struct QvSession QvSession;

/* Makes a session, ready to connect (no dllInitialize needed).  NULL only
 * when out of memory or out of handles (see above). */
QV_EXPORT QvSession *QV_CALL QvSessionCreate(void);

/* Closes the session's connection, ends the calls in progress on it in
 * other threads (they fail with "Disconnected by the host."), waits for
 * them to return and frees the session; returns 1.  A value that is not a
 * live session (NULL, never made, destroyed already, being destroyed) and
 * the default session are refused: 0, QV_OUTCOME_REFUSED, Argument 1. */
QV_API QvSessionDestroy(QvSession *Session);

/* The session of the classic exports, between dllInitialize and release;
 * NULL outside. */
QV_EXPORT QvSession *QV_CALL QvDefaultSession(void);

/* ------------------------------------------------------------------------
 * Send jobs
 *
 * Extensions.  A QvJob holds a whole send job (its product, recipients,
 * content, file, dates and times, scheduled orders and period); QvSendJob
 * sends it on a session: SubmitAllClear, every field the job has, then the
 * submit (SubmitAllOverEx_2 for a job with scheduled orders or a period,
 * else SubmitAllOver_2), and follows the recovery rules of the README's
 * "Sending a job" so that the host need not:
 *  - a field call that failed is never sent again on its own: when its
 *    relogin logged in, the job starts again from SubmitAllClear, while
 *    attempts remain.  A call that failed with nothing sent (the first
 *    call after a server restart finds its old connection dead) and whose
 *    relogin logged in does not use up an attempt (at most 4 such restarts
 *    in one send);
 *  - a submit whose request went out and whose answer did not come back is
 *    never sent again: the job ends QV_JOB_MAYBE_SUBMITTED;
 *  - the library never sends a job or a field twice.
 *
 * One job at a time per account.  The server collects one job per account
 * (its server address and login name), however many connections are
 * logged in to it: two jobs of one account sent at once mix their fields.
 * QvSendJob holds the account from its clear to the end of its submit, so
 * that two jobs of one account in this process never interleave, on one
 * session or several; a second job waits behind the first, for at most
 * QV_JOB_OPTION_WAIT milliseconds.  The classic field exports
 * (SubmitAllClear, SubmitPrdId, ...) called by the host have no such
 * guard: a host that calls them from several threads, or sends jobs of
 * one account from several processes, keeps them apart itself.
 *
 * What "submitted" means.  The stream carries no request id, so a late
 * second answer to an earlier request can be read as the submit's.  A job
 * ends QV_JOB_SUBMITTED only when the submit was answered 900 with its
 * three numbers present, the first of them (the recipients) equal to the
 * count of the job's numbers, and no further bytes were already waiting
 * after that answer; QV_JOB_REFUSED only when it was answered another code
 * and nothing was waiting after it.  Any other answer to the submit, or
 * none, is QV_JOB_MAYBE_SUBMITTED.  (Waiting bytes are seen once they have
 * arrived: a second answer that a server sends so late that it arrives
 * after later requests went out, and only then, can still make the last
 * field's answer read as the submit's; nothing on this stream tells them
 * apart.)
 *
 * Resolving "maybe submitted".  The library neither reads nor checks the
 * server's reply texts.  With QV_JOB_OPTION_EVIDENCE, the sender takes
 * AllInfoPackId's reply and LastDetails of the job's first number (20
 * rows) at the start of each attempt, before its clear, and again once the
 * connection is back after a "maybe"; QvJobEvidence hands them over.  (The
 * look-ups go first so that the submit always follows a field the server
 * accepted: an earlier answer read late as the submit's then reads as 900
 * without numbers, a "maybe", never as a refusal.)  Only a reply coded
 * 900 is kept.  The evidence taken before is kept after a "maybe" only
 * when the submit went unanswered: an answer that was read but could not
 * be proven the submit's may mean the stream was out of step, and the
 * replies read before it may not be their own.  A resolver set with
 * QvJobSetResolver, a host's function that knows its server's formats,
 * is then called with the job: it answers QV_RESOLVED_SUBMITTED (the job
 * ends QV_JOB_SUBMITTED), QV_RESOLVED_NOT_SUBMITTED (QV_JOB_FAILED: safe
 * to send again) or QV_RESOLVED_UNKNOWN (it stays QV_JOB_MAYBE_SUBMITTED).
 * Without a resolver a "maybe" stays one: the library never resends it and
 * never guesses.  The look-up's first call works right after a drop: a
 * query that failed with nothing sent and whose relogin logged in is made
 * once more by the look-up (the exports themselves never repeat a call).
 *
 * Cancelling.  QvJobCancel, from any thread, ends a send: a call in
 * progress gives way at once (its connection is closed, as TcpDisconnect
 * does, and reopened by the next call's relogin).  A job cancelled before
 * its submit's request was out ends QV_JOB_CANCELLED (not submitted); with
 * it out, QV_JOB_MAYBE_SUBMITTED.  TcpDisconnect or QvSessionDestroy of
 * the session from another thread ends the send the same way.
 *
 * Handles.  A QvJob * is checked as a QvSession * is: a value QvJobCreate
 * did not return, or one destroyed, is refused by every function here (0,
 * QV_OUTCOME_REFUSED, Argument 1 for the job), never read through.  A job
 * may be filled, sent, read and cancelled from any thread; a job that is
 * being sent refuses changes and a second send until the first returns,
 * and QvJobDestroy cancels a send in progress and waits for it to return.
 * A process may hold up to 65535 jobs at once.
 *
 * Callbacks run only inside QvSendJob, on the thread that called it; they
 * may call QvJobEvidence, QvJobResult and QvJobCancel on the job, and must
 * not call QvSendJob, QvJobDestroy or another export on the job's session.
 * ---------------------------------------------------------------------- */

typedef struct QvJob QvJob;

/* The fields of a job (QvJobSetText).  An empty text is a field not sent. */
#define QV_JOB_PRODUCT 1    /* SubmitPrdId; required */
#define QV_JOB_CONTENT 2    /* SubmitContent */
#define QV_JOB_PUSH_URL 3   /* SubmitPushURL */
#define QV_JOB_FILE_NAME 4  /* SubmitTransFilename */
#define QV_JOB_BEGIN_DATE 5 /* SubmitBgnDate */
#define QV_JOB_END_DATE 6   /* SubmitEndDate */
#define QV_JOB_BEGIN_TIME 7 /* SubmitBgnTime */
#define QV_JOB_END_TIME 8   /* SubmitEndTime */
#define QV_JOB_ORDER1 9     /* SubmitPQOrderSelect's first order (19 bytes) */
#define QV_JOB_ORDER2 10    /* its second order */
#define QV_JOB_ORDER3 11    /* its third order */
#define QV_JOB_PERIOD 12    /* SubmitBgnDateEx: a scheduled job's period */

/* How a text is given (QvJobSetText). */
#define QV_TEXT_GBK 0  /* GBK bytes, sent as they are */
#define QV_TEXT_UTF8 1 /* UTF-8, converted to GBK */

/* How a job ended (QvJobResult); 0 before its first send ended.
 *  SUBMITTED        the server took the job
 *  REFUSED          the server answered a code other than 900: not
 *                   submitted
 *  FAILED           not submitted; safe to send again
 *  MAYBE_SUBMITTED  the submit's request went out, its answer is unknown
 *  CANCELLED        stopped before the submit was out: not submitted */
#define QV_JOB_SUBMITTED 1
#define QV_JOB_REFUSED 2
#define QV_JOB_FAILED 3
#define QV_JOB_MAYBE_SUBMITTED 4
#define QV_JOB_CANCELLED 5

/* Options of a job (QvJobSetOption).
 *  CHECK     1: CheckPrdId after the product, CheckContent after the
 *            content
 *  EVIDENCE  1: take the evidence before the submit and after a "maybe"
 *  WAIT      ms to wait for another job of the account; 0: none */
#define QV_JOB_OPTION_CHECK 1
#define QV_JOB_OPTION_EVIDENCE 2
#define QV_JOB_OPTION_WAIT 3

/* The evidence of a job (QvJobEvidence): AllInfoPackId's reply and
 * LastDetails of the job's first number, each taken before the submit and
 * again after a "maybe". */
#define QV_EVIDENCE_PACKAGES_BEFORE 1
#define QV_EVIDENCE_DETAILS_BEFORE 2
#define QV_EVIDENCE_PACKAGES_AFTER 3
#define QV_EVIDENCE_DETAILS_AFTER 4

/* A resolver's answers. */
#define QV_RESOLVED_UNKNOWN 0
#define QV_RESOLVED_SUBMITTED 1
#define QV_RESOLVED_NOT_SUBMITTED 2

/* Limits of a job. */
#define QV_JOB_NUMBERS_MAX 100000          /* recipients */
#define QV_JOB_FILE_MAX (16 * 1024 * 1024) /* bytes of the file */
#define QV_JOB_WAIT_DEFAULT_MS 300000      /* QV_JOB_OPTION_WAIT's default */
#define QV_JOB_LOOKUP_ROWS 20              /* LastDetails rows, evidence */

/* Called before each call of a send with the job, the host's Context, the
 * request code of the call (298, 201, ..., 299) and the attempt (1, 2,
 * ...). */
typedef void(QV_CALL *QvJobProgress)(QvJob *Job, void *Context, int32_t Step,
                                     int32_t Attempt);

/* Called after a "maybe submitted" with the job and the host's Context;
 * returns a QV_RESOLVED_* answer. */
typedef int32_t(QV_CALL *QvJobResolver)(QvJob *Job, void *Context);

/* Makes an empty job.  NULL only when out of memory or out of handles. */
QV_EXPORT QvJob *QV_CALL QvJobCreate(void);

/* Cancels a send in progress, waits for it to return and frees the job;
 * returns 1.  A value that is not a live job is refused. */
QV_API QvJobDestroy(QvJob *Job);

/* Sets a field (QV_JOB_*) to Text: Length bytes, or up to its zero byte
 * when Length is -1; Encoding QV_TEXT_GBK or QV_TEXT_UTF8.  A null or
 * empty text clears the field.  Refused at once (0, QV_OUTCOME_REFUSED,
 * Detail naming the field), the field unchanged: an unknown field or
 * encoding, invalid UTF-8, a character GBK lacks, a zero byte among the
 * Length bytes, a text longer than its field (2047 bytes of GBK, 19 for
 * an order). */
QV_API QvJobSetText(QvJob *Job, int32_t Field, const char *Text, int32_t Length,
                    int32_t Encoding);

/* Adds a recipient's number (GBK or plain ASCII).  Refused: an empty
 * number, one holding a comma, longer than 2047 bytes, or the
 * QV_JOB_NUMBERS_MAX+1st.  The sender joins the numbers with "," into as
 * few SubmitTelList calls as fit, and sends their count by SubmitTelNum. */
QV_API QvJobAddNumber(QvJob *Job, const char *Number);

/* Sets the file of a multimedia job to Length bytes (0 clears it; at most
 * QV_JOB_FILE_MAX).  The sender sends it base64-encoded, in as many
 * SubmitTransFile calls as it takes. */
QV_API QvJobSetFile(QvJob *Job, const void *Bytes, int32_t Length);

/* Sets an option (QV_JOB_OPTION_*): CHECK and EVIDENCE 0 or 1 (both 0 by
 * default), WAIT in milliseconds (QV_JOB_WAIT_DEFAULT_MS by default; 0
 * refuses at once when another job of the account is being sent). */
QV_API QvJobSetOption(QvJob *Job, int32_t Option, int32_t Value);

/* Sets (or, with NULL, removes) the job's progress callback. */
QV_API QvJobSetProgress(QvJob *Job, QvJobProgress Progress, void *Context);

/* Sets (or, with NULL, removes) the job's resolver. */
QV_API QvJobSetResolver(QvJob *Job, QvJobResolver Resolver, void *Context);

/* Sends the job on the session as described above, starting it at most
 * Attempts times (1 or more; 0 or below means 2).  Returns 1 when the job
 * ended QV_JOB_SUBMITTED, 0 otherwise; QvJobResult says how it ended.  A
 * job that cannot be sent (no product, no numbers) or a refused handle
 * returns 0 at once with QV_OUTCOME_REFUSED and sends nothing.  Another
 * job of the same account that is being sent is waited for (see above);
 * when the wait ends first, the job ends QV_JOB_FAILED with
 * QV_OUTCOME_TIMED_OUT (QV_OUTCOME_REFUSED with a wait of 0) and nothing
 * sent.  Afterwards GetLastOutcome and QvGetLastOutcome report the call
 * the job ended on, as QvJobOutcome does. */
QV_API QvSendJob(QvSession *Session, QvJob *Job, int32_t Attempts);

/* How the job's last send ended.  Status a QV_JOB_* (0 before any send
 * ended); Step the request code of the call it ended on (0 when it ended
 * before any); Attempts how many times it was started; Code that call's
 * result code (-1 for none); Message (QV_BODY_BUFFER_SIZE bytes) that
 * call's message; JobNumber (QV_PARAM_BUFFER_SIZE bytes) the job's
 * number, the submit's message when the job was submitted and its message
 * fits 20 bytes, else empty; Recipients, Charged and Left the submit's
 * three numbers (0 unless submitted).  Any pointer may be null.  Returns
 * 1. */
QV_API QvJobResult(QvJob *Job, int32_t *Status, int32_t *Step,
                   int32_t *Attempts, int32_t *Code, char *Message,
                   char *JobNumber, int32_t *Recipients, int32_t *Charged,
                   int32_t *Left);

/* The outcome of the call the job's last send ended on, as GetLastOutcome
 * words it, with the kind of its relogin (QV_RELOGIN_*).  Any pointer may
 * be null.  Returns 1. */
QV_API QvJobOutcome(QvJob *Job, int32_t *Outcome, int32_t *Sent,
                    int32_t *Relogin, int32_t *SocketError, char *Detail,
                    int32_t DetailSize);

/* Ends the job's send in progress, as described above; a cancel made while
 * the job is not being sent ends its next send before its first call.
 * Returns 1 for a live job. */
QV_API QvJobCancel(QvJob *Job);

/* The evidence Which (QV_EVIDENCE_*) of the job's last send: the reply's
 * message, written with its terminating zero into Buffer when it fits
 * Size bytes.  Returns its length in bytes without the terminator (so a
 * result of Size or more means it did not fit and nothing was written),
 * or -1 when that evidence was not taken (the option off, no "maybe", its
 * query failed or was not answered 900) or was dropped (see above). */
QV_EXPORT int32_t QV_CALL QvJobEvidence(QvJob *Job, int32_t Which, char *Buffer,
                                        int32_t Size);

/* ------------------------------------------------------------------------
 * Operations and queues
 *
 * A host that must not block (a window's thread, an event loop) starts a
 * call as an operation and is told when it has completed.  QvStartName
 * (declared in quorvex_async.h, one for each export with a Qv twin) takes
 * the twin's session, a queue, the host's tag and the export's inputs; the
 * outputs (result code, message buffer, Param outputs, numbers) live in the
 * operation.  A pair of exports is one operation: QvStartLogin runs
 * Login_Request then Login_Feedback, QvStartfxNumRule runs fxNumRule_Req
 * then fxNumRule_Resp with the reply header the first handed back.  A
 * start copies every input before it returns and never waits for the
 * network or for another call; it returns NULL when refused at once (the
 * calling thread's GetLastOutcome says why: a session, queue or job that
 * is not live, Argument 1, 2 or 4).
 *
 * Order.  The operations of one session run one at a time, in the order
 * started, and complete in that order; those of different sessions run
 * side by side.  An operation holds its session's call lock for its whole
 * run, so a blocking call on the session from another thread and an
 * operation never interleave on the wire.  A session with work has one
 * library thread, which ends a quarter of a second after its last
 * operation has completed (a host that starts one call after another
 * pays for no new thread each time); an idle session has none.
 *
 * Completion.  A completed operation is put on its queue; the host takes
 * it with QvQueueNext on a thread of its own, reads it (QvOpResult,
 * QvOpCode, QvOpText, QvOpNumber, QvOpOutcome) and frees it with
 * QvOpFree.  The library runs nothing of the host's on its own threads: an
 * operation calls no progress callback or resolver of a job it sends (a
 * "maybe" it cannot settle from its evidence stays
 * QV_JOB_MAYBE_SUBMITTED); QvOpProgress reads how far a send has come.
 * QvQueueWaitHandle is signalled exactly while the queue holds a completed
 * operation that was not taken, so a host may wait on it with its own
 * means (poll, select, WaitForMultipleObjects, an event loop's reader).
 *
 * Cancelling.  QvOpCancel, from any thread:
 *  - an operation that has not started completes, in its turn, with
 *    QV_OUTCOME_CANCELLED and Sent 0: nothing of it reaches the server;
 *  - one whose request is not wholly out completes QV_OUTCOME_CANCELLED,
 *    Sent 0 (the connection is closed when part of it was written);
 *  - one whose request is out completes QV_OUTCOME_MAYBE_APPLIED, Sent 1,
 *    and the session's connection is closed: a late answer could not be
 *    told from the next request's.  The next call's relogin reopens it.
 *    One whose answer had been read completes as it would have.
 *  - a send job's operation ends as QvJobCancel says.
 * A cancel of an operation that has completed (taken or not), or that was
 * freed, is refused (0) and changes nothing.
 *
 * Handles.  Queues and operations are checked as sessions are: a value
 * never handed out, or one destroyed or freed, is refused (0 or -1 or NULL,
 * QV_OUTCOME_REFUSED), never read through.  An operation is the host's
 * from QvQueueNext until QvOpFree; before it completes only QvOpTag,
 * QvOpProgress and QvOpCancel act on it.  Destroying a session cancels its
 * operations: each still completes exactly once, QV_OUTCOME_CANCELLED or
 * (its request out) QV_OUTCOME_MAYBE_APPLIED.  A process may hold up to
 * 65535 queues and 65535 operations not yet freed at once.
 * ---------------------------------------------------------------------- */

typedef struct QvQueue QvQueue;
typedef struct QvOp QvOp;

/* How long QvQueueDestroy waits at most for its running operations to
 * give way, in milliseconds. */
#define QV_QUEUE_DESTROY_WAIT_MS 300

/* Makes a queue; NULL when the system gives no wait handle (the outcome
 * says why) or every queue handle is taken. */
QV_EXPORT QvQueue *QV_CALL QvQueueCreate(void);

/* Destroys a queue: its operations that have not started complete
 * cancelled, those that run are cancelled, and completed ones not taken
 * are freed.  It waits up to QV_QUEUE_DESTROY_WAIT_MS for the running
 * ones to end (an interrupted call gives way at once; only a name look-up
 * of a connect may take longer), and an operation ending after that is
 * freed unseen.  Nothing of the queue (its handle, its wait handle, its
 * window) is used once it returns; operations taken and not freed stay
 * the host's to read and free. */
QV_API QvQueueDestroy(QvQueue *Queue);

/* The queue's wait handle, -1 for a queue that is not live.  On Linux a
 * descriptor that is readable exactly while the queue holds a completion
 * (it stays readable until the last is taken; reading from it is not
 * needed and not allowed); on Windows the HANDLE of a manual-reset event
 * that is set on the same rule.  The queue owns it: close it only through
 * QvQueueDestroy. */
QV_EXPORT int64_t QV_CALL QvQueueWaitHandle(QvQueue *Queue);

/* Windows: posts Message to the window Hwnd (PostMessage, wParam and lParam
 * 0) each time the queue goes from empty to not empty, for hosts that have
 * a message loop and no wait of their own; take every completion when the
 * message arrives.  A null Hwnd stops it.  Elsewhere refused (0,
 * QV_OUTCOME_FAILED). */
QV_API QvQueueNotifyWindow(QvQueue *Queue, void *Hwnd, uint32_t Message);

/* The oldest completed operation not yet taken, waiting up to TimeoutMs
 * for one (0: not at all, -1: without limit); NULL when none completed in
 * time, or for a queue that is not live or is destroyed while it waits. */
QV_EXPORT QvOp *QV_CALL QvQueueNext(QvQueue *Queue, int32_t TimeoutMs);

/* A completed operation's result: the export's result (both halves' for
 * a pair), or for a send job 1 when it ended QV_JOB_SUBMITTED (read the
 * rest with QvJobResult).  0 for an operation not completed. */
QV_API QvOpResult(QvOp *Op);

/* Its result code (a pair's reply code), -1 when it has none or was not
 * completed. */
QV_EXPORT int32_t QV_CALL QvOpCode(QvOp *Op);

/* Its text outputs in the export's order (a pair's request half first),
 * the message buffer first where it has one: writes text Index (from 0)
 * with its terminator into Buffer when it fits Size bytes, and returns its
 * length without the terminator (so Size 0 measures); -1 for no such
 * output or an operation not completed. */
QV_EXPORT int32_t QV_CALL QvOpText(QvOp *Op, int32_t Index, char *Buffer,
                                   int32_t Size);

/* Its number outputs in the export's order (a pair's request half
 * first, the reply length among them); 0 for no such output (the outcome
 * then refuses Argument 2). */
QV_EXPORT int32_t QV_CALL QvOpNumber(QvOp *Op, int32_t Index);

/* How it went, as GetLastOutcome reports a call; QV_OUTCOME_CANCELLED
 * when it was cancelled before its request was out. */
QV_API QvOpOutcome(QvOp *Op, int32_t *Outcome, int32_t *Sent, int32_t *Argument,
                   int32_t *SocketError, char *Detail, int32_t DetailSize);

/* The tag given to its start; NULL for a value that is not an operation. */
QV_EXPORT void *QV_CALL QvOpTag(QvOp *Op);

/* A send job's progress so far: the request code of the call in progress
 * or last made (0 before the first) and its attempt.  Any time. */
QV_API QvOpProgress(QvOp *Op, int32_t *Step, int32_t *Attempt);

/* Cancels it (see above); 0 when it has completed or is not live. */
QV_API QvOpCancel(QvOp *Op);

/* Frees a completed operation that QvQueueNext handed over; refused (0)
 * before it completed or once freed. */
QV_API QvOpFree(QvOp *Op);

/* Sends Job as QvSendJob does, as an operation on Session.  The job
 * refuses changes and other sends from the start until it completes. */
QV_EXPORT QvOp *QV_CALL QvStartSendJob(QvSession *Session, QvQueue *Queue,
                                       void *Tag, QvJob *Job, int32_t Attempts);

/* ------------------------------------------------------------------------
 * The send-job journal
 *
 * A host that must never send a job twice, nor lose one it was handed,
 * even when it crashes or loses power, keeps its jobs in a journal: an
 * SQLite database file that the host names.  A job added is on stable
 * storage before QvJournalAdd returns its id; a job being sent is marked
 * SENDING, with the evidence the sender takes, before the submit's first
 * byte leaves; its end is stored as soon as it is known.  A job found
 * SENDING when the journal is opened again was possibly sent: it becomes
 * UNKNOWN and is never sent again by the library.
 *
 * The journal refuses, with a clear Detail, a file that is not a journal
 * of this library (another program's database, garbage, a truncated
 * file), one of a newer format, and one on a network file system.  A disk
 * that fails or fills makes the call that needed it fail, and nothing is
 * acknowledged that was not stored.  Handles are checked as sessions are.
 * ---------------------------------------------------------------------- */

typedef struct QvJournal QvJournal;

/* The states of a journal's job. */
/* clang-format off */
#define QV_JOURNAL_QUEUED 1    /* added, not sent */
#define QV_JOURNAL_SENDING 2   /* its send began; found so after a crash it is UNKNOWN */
#define QV_JOURNAL_SUBMITTED 3 /* the server took it; its job number is kept */
#define QV_JOURNAL_REFUSED 4   /* the server refused it; its code and message are kept */
#define QV_JOURNAL_FAILED 5    /* not submitted; the host may queue it again */
#define QV_JOURNAL_UNKNOWN 6   /* may have been submitted: to be looked up, never resent */
/* clang-format on */

/* Most bytes of a job's reference, and the buffer that holds one. */
#define QV_JOURNAL_REFERENCE_MAX 255
#define QV_JOURNAL_REFERENCE_BUFFER_SIZE 256

/* Opens the journal in the file at Path (made when there is none; UTF-8
 * on Linux, the system's code page on Windows); NULL when it cannot be
 * used (GetLastOutcome's Detail says why).  A journal file is open in one
 * place at a time: while it is, another QvJournalOpen of it, in this
 * process or another, is refused.  Jobs found SENDING become UNKNOWN. */
QV_EXPORT QvJournal *QV_CALL QvJournalOpen(const char *Path);

/* Closes it; its jobs stay in the file. */
QV_API QvJournalClose(QvJournal *Journal);

/* Stores Job's content under Reference (1 to QV_JOURNAL_REFERENCE_MAX
 * bytes, the host's own name for the job) and returns its id once it is
 * on stable storage.  A Reference already stored returns that job's id
 * and stores nothing, so that a host that crashed while adding may add
 * again.  0 when refused (a job the sender would refuse, a bad reference,
 * the disk). */
QV_EXPORT int64_t QV_CALL QvJournalAdd(QvJournal *Journal, QvJob *Job,
                                       const char *Reference);

/* Job Id's state (QV_JOURNAL_*), its reference, the sends it took, the
 * server's code (-1 for none) and message, its job number once submitted,
 * and when it was added and last changed (milliseconds since 1970, UTC).
 * Any output may be NULL.  0 when there is no such job. */
QV_API QvJournalJob(QvJournal *Journal, int64_t Id, int32_t *State,
                    char *Reference, int32_t *Attempts, int32_t *Code,
                    char *Message, char *JobNumber, int64_t *AddedMs,
                    int64_t *ChangedMs);

/* The ids of the jobs in State (a QV_JOURNAL_* state, or 0 for every
 * state), oldest first, into Ids (room for Size of them; Ids may be NULL
 * when Size is 0).  Returns how many there are, which may be more than
 * Size (only Size are then written); -1 when refused. */
QV_EXPORT int32_t QV_CALL QvJournalList(QvJournal *Journal, int32_t State,
                                        int64_t *Ids, int32_t Size);

/* The evidence Which (QV_EVIDENCE_*) kept with job Id, as QvJobEvidence
 * hands it over: the evidence taken before the submit is stored with
 * SENDING, the rest with the job's end.  -1 when there is none. */
QV_EXPORT int32_t QV_CALL QvJournalEvidence(QvJournal *Journal, int64_t Id,
                                            int32_t Which, char *Buffer,
                                            int32_t Size);

/* Sets (or, with NULL, removes) the resolver that QvJournalSend and
 * QvJournalRecover call, on the calling thread, for a job that may have
 * been submitted.  It is given a job that holds the journal's job's content
 * and evidence (QvJobEvidence reads it); the job lives only for the call. */
QV_API QvJournalSetResolver(QvJournal *Journal, QvJobResolver Resolver,
                            void *Context);

/* Sends the journal's QUEUED jobs on Session, oldest first, at most
 * MaxJobs of them (0 or below: all), each as QvSendJob sends a job with
 * two attempts.  Before a job's submit leaves, the journal stores SENDING
 * with the evidence taken before; once the job ends it stores SUBMITTED
 * (with the job number), REFUSED (with the code and message), FAILED or,
 * for a "maybe" the resolver could not settle, UNKNOWN.  A job cancelled
 * before its submit was out goes back to QUEUED.  Settled (may be NULL)
 * receives how many jobs left QUEUED.  Returns 1 when it stopped because
 * no queued job was left or MaxJobs were sent; 0 when it stopped early:
 * a job ended FAILED (the server or the connection), the journal could not
 * store a state, or the send was cancelled (GetLastOutcome says which).
 * A job ending REFUSED or UNKNOWN does not stop it.  Jobs are taken one
 * at a time, so several sessions may send from one journal at once; none
 * is taken twice. */
QV_API QvJournalSend(QvSession *Session, QvJournal *Journal, int32_t MaxJobs,
                     int32_t *Settled);

/* QvJournalSend as an operation on Session: QvOpResult as QvJournalSend's
 * result, QvOpNumber(Op, 0) the jobs settled, QvOpProgress the current
 * job's step and attempt.  QvOpCancel ends the job being sent as
 * QvJobCancel does, and the run with it.  No resolver is called: a
 * "maybe" stays UNKNOWN, for QvJournalRecover or the host. */
QV_EXPORT QvOp *QV_CALL QvStartJournalSend(QvSession *Session, QvQueue *Queue,
                                           void *Tag, QvJournal *Journal,
                                           int32_t MaxJobs);

/* Looks up the jobs that may have been submitted: a job left SENDING by a
 * process that ended during its send becomes UNKNOWN (so does every such
 * job when the journal is opened), and each UNKNOWN job whose evidence
 * before its submit was kept is looked up on Session (the evidence after
 * is taken again) and handed to the resolver.  Its answer moves the job
 * to SUBMITTED or FAILED, or leaves it UNKNOWN.  A job is never sent again
 * by this call.  Session may be NULL: the states change, nothing is looked
 * up.  Resolved (may be NULL) receives how many jobs it settled.  0 when
 * the journal could not store a state or a look-up's call failed. */
QV_API QvJournalRecover(QvJournal *Journal, QvSession *Session,
                        int32_t *Resolved);

/* The host settles job Id: an UNKNOWN job to SUBMITTED (JobNumber, may be
 * NULL, as the job number), to FAILED, or to QUEUED (not submitted: it is
 * sent again); a FAILED or REFUSED job back to QUEUED.  Any other change
 * is refused (QV_OUTCOME_REFUSED, the journal unchanged). */
QV_API QvJournalResolve(QvJournal *Journal, int64_t Id, int32_t State,
                        const char *JobNumber);

/* ------------------------------------------------------------------------
 * Text conversion
 *
 * One policy in every language: GBK out is strict (a character GBK lacks,
 * the euro sign and U+0080 among them, is refused, never replaced), and
 * what cannot be read in (a byte that begins no GBK character, such as 80
 * or FF, or a lead byte without its trail) becomes U+FFFD.  A conversion
 * that succeeds leaves GetLastOutcome as it was, so that a host may read a
 * call's texts before it asks how the call went.
 * ---------------------------------------------------------------------- */

/* Converts Length bytes of UTF-8 (up to its zero byte when Length is -1)
 * to GBK.  Returns the length of the GBK text without its terminator, and
 * writes it with the terminator into Gbk only when it fits Size bytes (so
 * Size 0 measures); -1 for a null text, invalid UTF-8 or a character GBK
 * lacks (GetLastOutcome's Detail names the first and its byte offset). */
QV_EXPORT int32_t QV_CALL QvGbkFromUtf8(const char *Utf8, int32_t Length,
                                        char *Gbk, int32_t Size);

/* Converts Length bytes of GBK (up to its zero byte when Length is -1) to
 * UTF-8, U+FFFD for what is not GBK.  Returns the length of the UTF-8
 * text without its terminator, and writes it as QvGbkFromUtf8 does; -1 for
 * a null text. */
QV_EXPORT int32_t QV_CALL QvUtf8FromGbk(const char *Gbk, int32_t Length,
                                        char *Utf8, int32_t Size);

/* The twins and the operations' starters, generated from the interface's
 * description. */
#include "quorvex_sessions.h"
#include "quorvex_async.h"

#ifdef __cplusplus
}
#endif

#endif /* QUORVEX_H */
