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
 *  - Output buffers are supplied by the caller; no size is passed.  A buffer
 *    that receives a response body ("message buffer") must hold
 *    QV_BODY_BUFFER_SIZE (2049) bytes, one that receives a short parameter
 *    ("Param output") QV_PARAM_BUFFER_SIZE (21) bytes.  Connection messages
 *    are a fixed text followed by an error text; QV_BODY_BUFFER_SIZE bytes
 *    hold any of them.
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
 *  - Every blocking read gives up after the read time-out (SetReadTimeout,
 *    60000 ms by default) and counts as a failed read ("Read timed out.").
 *  - Calls are made one at a time: every call that uses the connection
 *    blocks its caller until the exchange, and any relogin after it, is over.
 *  - No error or exception ever leaves an export.
 *
 * On 32-bit Windows every export is __stdcall and exported under its plain,
 * undecorated name.
 */
#ifndef QUORVEX_H
#define QUORVEX_H

#include <stdint.h>

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
 * buffer) and initialises COM for the calling thread on Windows.  A second
 * call creates nothing new.  Returns 1. */
QV_API dllInitialize(void);
/* Same as dllInitialize. */
QV_API TcpInit(void);

/* Disconnects and destroys the library's objects and uninitialises COM for
 * the calling thread on Windows.  The arguments of the last successful
 * connect and the last login's texts survive, so that a later
 * initialisation can reconnect with ReLogin.  Returns 1, also when nothing
 * was initialised. */
QV_API dllUnInitialize(void);
/* Same as dllUnInitialize. */
QV_API TcpRelease(void);

/* Closes the connection.  Harmless when nothing is connected (result 1);
 * returns 0 before initialisation or after release. */
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
 *  ProxyHost, ProxyPort, ProxyUser, ProxyPassword: the proxy's address and
 *               credentials (unused on the direct path).
 *
 * Socket errors carry Windows Sockets numbers and texts on every platform.
 * Returns 1 when the connection is open. */
QV_API TcpConnect(char *Message, const char *Host, int32_t Port,
                  int32_t Timeout, const char *ProxyKind,
                  const char *ProxyHost, int32_t ProxyPort,
                  const char *ProxyUser, const char *ProxyPassword);

/* The XML protocol's twin of TcpConnect.  It writes "TCP连接成功" only on the
 * direct path, right after the connect. */
QV_API fxTcpConnect(char *Message, const char *Host, int32_t Port,
                    int32_t Timeout, const char *ProxyKind,
                    const char *ProxyHost, int32_t ProxyPort,
                    const char *ProxyUser, const char *ProxyPassword);

/* Extension: sets the read time-out, in milliseconds, of every blocking
 * read of the library (responses, replies, proxy handshakes, web request).
 * A value of 0 or below waits without limit.  Takes effect for reads that
 * start after the call.  Returns 1. */
QV_API SetReadTimeout(int32_t Milliseconds);

/* ------------------------------------------------------------------------
 * Record protocol: login, relogin, heartbeat
 * ---------------------------------------------------------------------- */

/* Sends the login record (code 100): body "app;extra", Param1 name,
 * Param2 pwd, Param3 ver.  Saves the five texts for ReLogin before the
 * write.  Does not read the answer: call Login_Feedback next.  Returns 1
 * when the record was written; 0 after a failed write (ReLogin has then
 * run and consumed the answer) or when a text is too long (nothing saved). */
QV_API Login_Request(const char *app, const char *extra, const char *name,
                     const char *pwd, const char *ver);

/* Reads the answer to Login_Request: its code into *Code (900: logged in),
 * its body into Message and its three parameters into the Param outputs. */
QV_API Login_Feedback(int32_t *Code, char *Message, char *Param1,
                      char *Param2, char *Param3);

/* Disconnects, connects again with the last successful connect's
 * arguments and sends the login record of the last login.  Returns 1 only
 * when the server answers 900.  Every failure path of the library runs it. */
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

#ifdef __cplusplus
}
#endif

#endif /* QUORVEX_H */
