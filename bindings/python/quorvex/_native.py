"""The C interface of the Quorvex library, declared for ctypes.

Every export is listed once below, in the header's order, with the role of each
parameter; the ctypes types follow from the roles.  bindings/check_bindings.py compares
the types with include/quorvex.h.  Importing this module loads nothing: load() does.
"""
import ctypes
import ctypes.util
import os
import re
import struct
import sys

# Sizes and codes, under the header's names.
QV_BODY_BUFFER_SIZE = 2049
QV_PARAM_BUFFER_SIZE = 21
QV_BODY_MAX_TEXT = 2047
QV_PARAM_MAX_TEXT = 19
QV_CODE_ACCEPTED = 900
QV_DEFAULT_READ_TIMEOUT_MS = 60000
QV_SETTING_BUFFER_SIZE = 2048
QV_WEB_RESPONSE_MAX = QV_BODY_BUFFER_SIZE
QV_FX_SUCCESS = 20900
QV_FX_REPLY_MAX = 1024 * 1024
QV_OUTCOME_OK = 0
QV_OUTCOME_REFUSED = 1
QV_OUTCOME_NOT_INITIALISED = 2
QV_OUTCOME_NOT_CONNECTED = 3
QV_OUTCOME_CONNECT_FAILED = 4
QV_OUTCOME_NOT_SENT = 5
QV_OUTCOME_MAYBE_APPLIED = 6
QV_OUTCOME_TIMED_OUT = 7
QV_OUTCOME_FAILED = 8
QV_RELOGIN_NOT_RUN = 0
QV_RELOGIN_LOGGED_IN = 1
QV_RELOGIN_REFUSED = 2
QV_RELOGIN_CONNECT_FAILED = 3
QV_RELOGIN_FAILED = 4
QV_STATE_INITIALISED = 1
QV_STATE_CONNECTED = 2
QV_STATE_LOGGED_IN = 4
QV_PATH_NONE = 0
QV_PATH_DIRECT = 1
QV_PATH_SOCKS4 = 2
QV_PATH_SOCKS5 = 3
QV_PATH_HTTP = 4
QV_PROTOCOL_NONE = 0
QV_PROTOCOL_RECORD = 1
QV_PROTOCOL_XML = 2
QV_DETAIL_BUFFER_SIZE = 160
QV_TRACE_HEX = 1
__all__ = [name for name in dir() if name.startswith("QV_")]

# Roles of parameters:
#   code     int32_t * result code, -1 until an answer arrives
#   out      int32_t * other output number
#   int      int32_t input;  size  int32_t size of the Detail buffer, passed by the binding
#   text     const char * GBK input
#   prefixed const char * length-prefixed GBK input (CheckTels)
#   message  char * message buffer, QV_BODY_BUFFER_SIZE bytes
#   param    char * Param output, QV_PARAM_BUFFER_SIZE bytes
#   setting  char * settings value, QV_SETTING_BUFFER_SIZE bytes
#   web      char * web response, QV_WEB_RESPONSE_MAX bytes
#   sized    char * web response of the caller's ResponseSize
#   fxtext   char * XML reply text, sized from the ReplyLength input
#   detail   char * Detail text, QV_DETAIL_BUFFER_SIZE bytes
DECLARATIONS = """
bool dllInitialize()
bool TcpInit()
bool dllUnInitialize()
bool TcpRelease()
bool TcpDisconnect()
bool fxTcpDisconnect()
bool TcpConnect(message Message, text Host, int Port, int Timeout, text ProxyKind, text ProxyHost, int
    ProxyPort, text ProxyUser, text ProxyPassword)
bool fxTcpConnect(message Message, text Host, int Port, int Timeout, text ProxyKind, text ProxyHost, int
    ProxyPort, text ProxyUser, text ProxyPassword)
bool SetReadTimeout(int Milliseconds)
bool Login_Request(text app, text extra, text name, text pwd, text ver)
bool Login_Feedback(code Code, message Message, param Param1, param Param2, param Param3)
bool ReLogin()
bool Heartbeat()
bool MsgStates(code Code, message Message)
bool InfoType(code Code, message Message)
bool MobileNum(code Code, message Message)
bool MMSMaxSize(code Code, message Message, param ParamOut, text Text, text Param)
bool NumRule(code Code, message Message)
bool GetUdInfo(code Code, message Message, param Param1, param Param2, param Param3)
bool EditPassword(code Code, message Message, text NewPassword, text NewPasswordAgain)
bool AddSubUser(code Code, message Message, text Text, text Param1, text Param2, text Param3)
bool AddSubUserEx(code Code, message Message, text Text, text Param1, text Param2, text Param3)
bool AddSubAccount(code Code, message Message, text Text, text Param1, text Param2, text Param3)
bool DisableSubUser(code Code, message Message, text Param1, text Param2)
bool IncreaseSubBuy(code Code, message Message, text Text, text Param1, text Param2)
bool ReduceSubBuy(code Code, message Message, text Text, text Param1, text Param2)
bool FindAllSubs(code Code, message Message)
bool FindAllSubsEx(code Code, message Message, out Number1, out Number2, out Number3)
bool FindAllEmplyee(code Code, message Message, out Number1, out Number2, out Number3)
bool Transfer(code Code, message Message, out Number1, out Number2, out Number3)
bool FindSubInfo(code Code, message Message, text Text)
bool FindSubInfoEx(code Code, message Message, text Text)
bool FindSubAllOrders(code Code, message Message, text Text)
bool FindSubOrderInfo(code Code, message Message, text Text, text Param1)
bool EditSubPWD(code Code, message Message, text Text, text Param1, text Param2, text Param3)
bool AddSubGwNumEx(code Code, message Message, param Param1Out, param Param2Out, text Text)
bool DelSubGwNum(code Code, message Message, param Param1Out, text Text)
bool ClientInfo(code Code, message Message)
bool AllProductId(code Code, message Message)
bool CltProductId(code Code, message Message)
bool CltAllPrdIdName(code Code, message Message)
bool CltAllMmsInfo(code Code, message Message)
bool CltAllIdNameType(code Code, message Message)
bool ProductInfo(code Code, message Message, text ProductId)
bool AllInfoPackId(code Code, message Message)
bool InfoPackStatus(code Code, message Message, text PackageId)
bool InfoPackStatusEx(code Code, message Message, text PackageId)
bool GetMessage(code Code, message Message)
bool LastDetails(code Code, message Message, text Query, int Count)
bool GetProductLen(code Code, message Message)
bool PQOrderList(code Code, message Message, text Param1, text Param2)
bool PQOrderInfoByID(code Code, message Message, text Param1, text Param2, text Param3)
bool PQGetAbilityURL(code Code, message Message)
bool SubmitAllClear(code Code, message Message)
bool SubmitPrdId(code Code, message Message, text ProductId)
bool CheckPrdId(code Code, message Message, text ProductId)
bool SubmitTelList(code Code, message Message, text Numbers)
bool SubmitTelNum(code Code, message Message, text Count)
bool SubmitContent(code Code, message Message, text Content)
bool CheckContent(code Code, message Message)
bool SubmitPushURL(code Code, message Message, text Url)
bool SubmitBgnDate(code Code, message Message, text Date)
bool SubmitBgnDateEx(code Code, message Message, text Period)
bool SubmitEndDate(code Code, message Message, text Date)
bool SubmitBgnTime(code Code, message Message, text Time)
bool SubmitEndTime(code Code, message Message, text Time)
bool SubmitTransFilename(code Code, message Message, text FileName)
bool SubmitTransFile(code Code, message Message, text FileContent)
bool SubmitPQOrderSelect(code Code, message Message, text Param1, text Param2, text Param3)
bool SubmitAllOver(code Code, message Message)
bool SubmitAllOver_2(code Code, message Message, out Number1, out Number2, out Number3)
bool SubmitAllOverEx(code Code, message Message)
bool SubmitAllOverEx_2(code Code, message Message, out Number1, out Number2, out Number3)
bool ContentPreview(code Code, message Message, out Number, text Param, text Content)
bool GetSJKHDParams(code Code, message Message, param Param1, param Param2, param Param3)
bool GetSJKHDBid(code Code, message Message)
bool CheckSMSContent(code Code, message Message, text Content, int Number1, int Number2, int Number3)
bool ClientGuiControl(code Code, message Message)
bool ReadIniFile(setting Value, text Carrier)
bool fxReadIniFile(setting Value, text Carrier)
bool WebRequestEx(sized Response, int ResponseSize, out ResponseLength, out ElapsedMs, text Url)
bool WebRequest(web Response, out ElapsedMs, text Url)
bool fxWebRequest(web Response, out ElapsedMs, text Url)
bool fxLogin_Req(out ReplyCode, out ReplyLength, text app, text extra, text name, text pwd, text ver)
bool fxLogin_Resp(fxtext Message, out Agent, fxtext Pud, out Agreement, int ReplyCode, int ReplyLength)
bool fxReLogin()
bool fxMsgStates_Req(out ReplyCode, out ReplyLength)
bool fxMsgStates_Resp(fxtext Message, int ReplyCode, int ReplyLength)
bool fxInfoType_Req(out ReplyCode, out ReplyLength)
bool fxInfoType_Resp(fxtext Message, int ReplyCode, int ReplyLength)
bool fxNumRule_Req(out ReplyCode, out ReplyLength)
bool fxNumRule_Resp(fxtext Message, int ReplyCode, int ReplyLength)
bool fxNotify_Req(out ReplyCode, out ReplyLength)
bool fxNotify_Resp(fxtext Message, int ReplyCode, int ReplyLength)
bool ShowAbout()
bool ShowMsg(text Text)
int CheckTels(prefixed Number, prefixed CarrierList)
bool GetLastOutcome(out Outcome, out Sent, out Argument, out SocketError, detail Detail, size DetailSize)
bool GetLastRelogin(out Relogin, out ServerCode, out SocketError, detail Detail, size DetailSize)
bool GetConnectionState(out State, out Path, out LoginProtocol, out LoginCode)
bool TraceStart(text Path, int Options)
bool TraceStop()
"""

ROLE_TYPES = {
    "code": ctypes.POINTER(ctypes.c_int32), "out": ctypes.POINTER(ctypes.c_int32),
    "int": ctypes.c_int32, "size": ctypes.c_int32,
    **{role: ctypes.c_char_p for role in
       ("text", "prefixed", "message", "param", "setting", "web", "sized", "fxtext", "detail")},
}
RESULT_TYPES = {"bool": ctypes.c_uint8, "int": ctypes.c_int32}
BUFFER_SIZES = {"message": QV_BODY_BUFFER_SIZE, "param": QV_PARAM_BUFFER_SIZE,
                "setting": QV_SETTING_BUFFER_SIZE, "web": QV_WEB_RESPONSE_MAX,
                "detail": QV_DETAIL_BUFFER_SIZE}


class Export:
    """One export: its result kind and its (role, name) parameters."""

    def __init__(self, name, result, params):
        self.name, self.result, self.params = name, result, params
        self.restype = RESULT_TYPES[result]
        self.argtypes = [ROLE_TYPES[role] for role, _ in params]


def _parse(text):
    exports = {}
    for result, name, params in re.findall(r"(\w+)\s+(\w+)\(([^)]*)\)", text):
        pairs = [tuple(p.split()) for p in params.split(",") if p.strip()]
        exports[name] = Export(name, result, pairs)
    return exports


EXPORTS = _parse(DECLARATIONS)


def library_names():
    """Where the library is looked for: QUORVEX_LIBRARY, then the usual names."""
    names = [os.environ["QUORVEX_LIBRARY"]] if os.environ.get("QUORVEX_LIBRARY") else []
    if sys.platform == "win32":
        names.append("Quorvex.dll")
    elif sys.platform == "darwin":
        names.append("libquorvex.dylib")
    else:
        names += ["libquorvex.so.0", "libquorvex.so"]
    found = ctypes.util.find_library("quorvex")
    return names + ([found] if found else [])


def load(path=None):
    """Loads the library and declares every export on it."""
    # 32-bit Windows calls every export with stdcall; everywhere else the C convention.
    stdcall = sys.platform == "win32" and struct.calcsize("P") == 4
    loader = ctypes.WinDLL if stdcall else ctypes.CDLL
    errors = []
    for name in [path] if path else library_names():
        try:
            lib = loader(name)
            break
        except OSError as e:
            errors.append(f"{name}: {e}")
    else:
        raise OSError("the Quorvex library was not found (set QUORVEX_LIBRARY): " + "; ".join(errors))
    for export in EXPORTS.values():
        function = getattr(lib, export.name)
        function.restype = export.restype
        function.argtypes = export.argtypes
    return lib


def length_prefixed(data):
    """Lays out bytes as CheckTels reads them: an int32 length just before the first byte.

    Returns (storage, pointer); keep the storage alive while the pointer is used."""
    storage = ctypes.create_string_buffer(struct.pack("=i", len(data)) + data, 4 + len(data) + 1)
    return storage, ctypes.cast(ctypes.byref(storage, 4), ctypes.c_char_p)
