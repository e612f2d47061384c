{ Quorvex.pas - the Quorvex client library for Delphi and Free Pascal.

  Every export of quorvex.h, declared as the library exports it: stdcall on
  Windows (Quorvex.dll), the C convention elsewhere (libquorvex.so).  The
  one-byte result is Boolean (one byte in both compilers), every int32 is
  Int32, every int32 pointer PInt32 and every text PAnsiChar: zero-terminated
  GBK (code page 936) bytes in both directions.  Output buffers belong to the
  caller and must hold the documented sizes: TQvMessageBuffer,
  TQvParamBuffer and the others below, or QvBuffer for one of any size.
  QvCheckTels builds the length-prefixed texts that CheckTels takes.

  Text has one policy, whatever the locale, and one place that applies it
  (QvGbkFault out, QvFromGbk in), through the library's own converters: a
  string is UTF-8 (Free Pascal's string) or UTF-16 (UnicodeString, Delphi's
  string) and goes out as GBK; bytes that are not valid UTF-8, or a
  character GBK lacks, are refused, never sent as '?'.  A host that holds
  GBK already passes a TQvGbkString (code page 936) or TBytes, sent as they
  are.  What comes back is read as GBK, U+FFFD for what is not.

  TQvSession is a connection of its own (QvSessionCreate): the exports that
  act on a session are its methods, under their classic names, with texts in
  (TQvText: any of the forms above) and a TQvReply out.  A method refuses,
  by raising EQvError before anything is sent, a text that cannot travel.
  Otherwise methods report through their reply; Check turns a reply that was
  not accepted into an EQvError carrying the call's outcome.  SendJob sends
  a whole job with the recovery rules of the README's "Sending a job". }
unit Quorvex;

{$IFDEF FPC}
  {$MODE DELPHI}
  {$H+}
{$ENDIF}

interface

uses
{$IFDEF FPC}{$IFDEF UNIX}
  cwstring,
{$ENDIF}{$ENDIF}
  SysUtils, SyncObjs;

const
{$IFDEF MSWINDOWS}
  { Imported when the program starts: Windows looks in the program's folder
    first, then in the system's folders, the current directory and along
    PATH, so a program ships its own copy beside it. }
  QuorvexLib = 'Quorvex.dll';
{$ELSE}
  {$IFDEF FPC}
  QuorvexLib = 'quorvex'; { links libquorvex.so }
  {$ELSE}
  QuorvexLib = 'libquorvex.so';
  {$ENDIF}
{$ENDIF}

  { Sizes of the caller's output buffers, terminating zero included. }
  QV_BODY_BUFFER_SIZE = 2049;
  QV_PARAM_BUFFER_SIZE = 21;
  QV_SETTING_BUFFER_SIZE = 2048;
  QV_DETAIL_BUFFER_SIZE = 160;
  QV_WEB_RESPONSE_MAX = QV_BODY_BUFFER_SIZE;
  { Most text bytes an input field accepts, terminator not counted. }
  QV_BODY_MAX_TEXT = 2047;
  QV_PARAM_MAX_TEXT = 19;
  QV_CODE_ACCEPTED = 900;
  QV_DEFAULT_READ_TIMEOUT_MS = 60000;
  QV_WEB_BODY_MAX = 64 * 1024 * 1024;

  { XML protocol. }
  QV_FX_SUCCESS = 20900;
  QV_FX_REPLY_MAX = 1024 * 1024;
  QV_FX_ATTRIBUTES_MAX = 32;
  QV_FX_DEPTH_MAX = 64;
  QV_FX_NAME_MAX = 256;
  QV_FX_NAMESPACES_MAX = 32;

  { GetLastOutcome's kinds. }
  QV_OUTCOME_OK = 0;
  QV_OUTCOME_REFUSED = 1;
  QV_OUTCOME_NOT_INITIALISED = 2;
  QV_OUTCOME_NOT_CONNECTED = 3;
  QV_OUTCOME_CONNECT_FAILED = 4;
  QV_OUTCOME_NOT_SENT = 5;
  QV_OUTCOME_MAYBE_APPLIED = 6;
  QV_OUTCOME_TIMED_OUT = 7;
  QV_OUTCOME_FAILED = 8;

  { GetLastRelogin's kinds. }
  QV_RELOGIN_NOT_RUN = 0;
  QV_RELOGIN_LOGGED_IN = 1;
  QV_RELOGIN_REFUSED = 2;
  QV_RELOGIN_CONNECT_FAILED = 3;
  QV_RELOGIN_FAILED = 4;

  { GetConnectionState's flags and kinds. }
  QV_STATE_INITIALISED = 1;
  QV_STATE_CONNECTED = 2;
  QV_STATE_LOGGED_IN = 4;
  QV_PATH_NONE = 0;
  QV_PATH_DIRECT = 1;
  QV_PATH_SOCKS4 = 2;
  QV_PATH_SOCKS5 = 3;
  QV_PATH_HTTP = 4;
  QV_PROTOCOL_NONE = 0;
  QV_PROTOCOL_RECORD = 1;
  QV_PROTOCOL_XML = 2;

  { TraceStart's option. }
  QV_TRACE_HEX = 1;

type
  { Output buffers of the documented sizes: pass @Buffer[0]. }
  TQvMessageBuffer = array[0..QV_BODY_BUFFER_SIZE - 1] of AnsiChar;
  TQvParamBuffer = array[0..QV_PARAM_BUFFER_SIZE - 1] of AnsiChar;
  TQvSettingBuffer = array[0..QV_SETTING_BUFFER_SIZE - 1] of AnsiChar;
  TQvDetailBuffer = array[0..QV_DETAIL_BUFFER_SIZE - 1] of AnsiChar;
  { GBK bytes, as QvToGbk returns them.  Assigning a string to it would
    convert through the run-time library and the locale (under LANG=C to
    '?'): fill it with QvToGbk, or with bytes that are GBK already. }
  TQvGbkString = type AnsiString(936);

  { A text as a host holds it, for every text the unit sends: a string
    (UTF-8 in Free Pascal's AnsiString, UTF-16 in a UnicodeString or
    Delphi's string), a TQvGbkString or TBytes of GBK bytes, or an
    AnsiString of another declared code page.  QvGbkFault turns it into
    GBK. }
  TQvText = record
  private
    FBytes: RawByteString;  { UTF-8, or GBK when FGbk }
    FGbk: Boolean;
    FFault: string;         { why the host's text has no UTF-8 form }
  public
    class operator Implicit(const S: UnicodeString): TQvText;
    class operator Implicit(const S: RawByteString): TQvText;
    class operator Implicit(const Gbk: TBytes): TQvText;
  end;


{ Every export, written by tools/interface/generate.py from interface/quorvex.json. }
{$I QuorvexExports.inc}

type
  TQvTexts = array of string;
  TQvNumbers = array of Int32;

  { What a session's call came to: its result, the server's code (-1 when no
    answer arrived or the export has none), its message or text output, its
    Param outputs and its number outputs, in the export's order. }
  TQvReply = record
    Ok: Boolean;
    Code: Int32;
    Message: string;
    Params: TQvTexts;
    Numbers: TQvNumbers;
    { The method's name: the classic export's. }
    Call: string;
    { The exchange completed and the server accepted (900 or 20900). }
    function Accepted: Boolean;
  end;

  TQvOutcome = record
    Kind: Int32;          { QV_OUTCOME_* }
    Sent: Boolean;        { the server may have acted on the request }
    Argument: Int32;      { 1-based place of a refused argument }
    SocketError: Int32;   { Windows Sockets number, 0 when none }
    Detail: string;
  end;

  TQvRelogin = record
    Kind: Int32;          { QV_RELOGIN_* }
    ServerCode: Int32;
    SocketError: Int32;
    Detail: string;
  end;

  TQvConnectionState = record
    State: Int32;         { QV_STATE_* flags }
    Path: Int32;          { QV_PATH_* }
    LoginProtocol: Int32; { QV_PROTOCOL_* }
    LoginCode: Int32;
  end;

  { A call on a session after its Close. }
  EQvSessionClosed = class(Exception);

  { A call that did not end in an accepted answer, or an input refused before
    any call.  Raised by TQvSession.Check (Code the server's code, -1 when no
    answer arrived, and the outcome of the call), by a session method given a
    text that cannot travel, and by SendJob for a job that does not fit
    (both with Outcome QV_OUTCOME_REFUSED, Sent False and Code -1). }
  EQvError = class(Exception)
  private
    FCall: string;
    FCode: Int32;
    FOutcome: TQvOutcome;
  public
    constructor CreateFor(const ACall: string; ACode: Int32; const AText: string; const AOutcome: TQvOutcome);
    property Call: string read FCall;
    property Code: Int32 read FCode;
    property Outcome: Int32 read FOutcome.Kind;  { QV_OUTCOME_*: QV_OUTCOME_OK when the server answered }
    property Sent: Boolean read FOutcome.Sent;
    property Argument: Int32 read FOutcome.Argument;
    property SocketError: Int32 read FOutcome.SocketError;
    property Detail: string read FOutcome.Detail;
  end;

  { How SendJob's job ended: accepted by the submit; refused by the server at
    a step (nothing more was sent, the job is not submitted); failed before
    it could have been submitted (safe to send again once the connection is
    back); or failed with the submit's request out, so that it may have been
    submitted (look it up before sending it again). }
  TQvJobStatus = (jobSubmitted, jobRefused, jobFailed, jobMaybeSubmitted);

  { Called before each call of a job with the attempt (1 first) and the
    step's export name. }
  TQvJobProgress = procedure(Attempt: Integer; const Step: string) of object;

  { A send job: only the fields given (a non-empty text) are sent.  Product
    and Numbers are required; FileContent travels base64-encoded in parts;
    up to three scheduled Orders and a Period make it a scheduled job; Check
    also asks the server to vet the product and the content. }
  TQvJob = record
    Product: string;
    Numbers: TQvTexts;
    Content, Url, BeginDate, EndDate, BeginTime, EndTime: string;
    FileName: string;
    FileContent: TBytes;
    Orders: TQvTexts;
    Period: string;
    Check: Boolean;
  end;

  TQvJobResult = record
    Status: TQvJobStatus;
    { The step the job ended on (an export's name), and that call's code
      (-1 when no answer arrived), message and outcome. }
    Step: string;
    Code: Int32;
    Message: string;
    Outcome: TQvOutcome;
    { jobSubmitted: the job's number (the message) and the submit's numbers. }
    JobNumber: string;
    Recipients, Charged, Left: Int32;
    { jobMaybeSubmitted: what to look up before sending the job again. }
    LookUp: string;
    { Attempts made, the first included. }
    Attempts: Integer;
  end;

  { The buffers of one session call: the inputs' GBK bytes and the outputs,
    each of its documented size, read back into a TQvReply. }
  TQvOutputs = record
    Code: Int32;
    Numbers: array[0..3] of Int32;
    Inputs: array[0..7] of RawByteString;
    Call: string;
    Msg: RawByteString;
    Params: array[0..2] of RawByteString;
    ParamCount: Integer;
    procedure Start(const Call: string; TextSize, ParamCount, ParamSize: Integer);
    { The GBK bytes of input I (the call's argument Place, named Name), or
      EQvError when the text cannot travel. }
    function Input(I, Place: Integer; const Name: string; const S: TQvText): PAnsiChar;
    function Text: PAnsiChar;
    function Param(I: Integer): PAnsiChar;
    function Done(Ok: Boolean; NumberCount: Integer): TQvReply;
  end;

  { A connection of its own, ready to connect without dllInitialize.  Any
    thread may call it; the library runs the calls on one session one at a
    time and calls on different sessions side by side.  Close (or Free) ends
    the calls in progress on it in other threads, waits for them and
    destroys the session; a call after Close raises EQvSessionClosed. }
  TQvSession = class
  private
    FHandle: Pointer;
    FLock: TCriticalSection;
    FCalls: Integer;  { in progress }
    FClosed: Boolean;
    function Enter: Pointer;
    procedure Leave;
  public
    { Raises EOutOfMemory when the library cannot make the session. }
    constructor Create;
    destructor Destroy; override;
    procedure Close;
    function Closed: Boolean;
    { The calling thread's last call on this session. }
    function GetLastOutcome: TQvOutcome;
    function GetLastRelogin: TQvRelogin;
    function GetConnectionState: TQvConnectionState;
    { Reply when it was accepted, else raises EQvError with the calling
      thread's last outcome on this session: call it on a method's result at
      once, S.Check(S.GetUdInfo), before another call on the session. }
    function Check(const Reply: TQvReply): TQvReply; overload;
    { Ok when true, else raises EQvError for Call, a method without outputs. }
    function Check(Ok: Boolean; const Call: string): Boolean; overload;
    { Sends Job: the clear, every field given, the submit; starts the job
      again from the clear, up to Attempts in all (one when below), when a
      call failed and its relogin logged in; never resends a single field
      nor a submit that may have reached the server.  Raises EQvError,
      before any call, for a job that does not fit: no product or no
      numbers, a number empty or holding a comma, more than three orders, a
      text too long for its field, or one that cannot travel. }
    function SendJob(const Job: TQvJob; Attempts: Integer = 2; const Progress: TQvJobProgress = nil): TQvJobResult;
    { Every other export that acts on a session, generated, each with its
      export's text: *Code and Message there are the reply's Code and
      Message, the Params its Params, the int32 outputs its Numbers. }
{$I QuorvexSession.inc}
  end;

{ Helpers }

{ A zero-filled buffer of Size bytes; PAnsiChar(Result) passes it as an output. }
function QvBuffer(Size: Integer): RawByteString;
{ The size an XML _Resp export's Message and Pud need for a reply of
  ReplyLength bytes: the body and a zero, at least a message buffer. }
function QvFxBufferSize(ReplyLength: Int32): Integer;
{ The text a call left in a buffer: its bytes up to the first zero. }
function QvText(Buffer: PAnsiChar): RawByteString;
{ The unit's one conversion out: the GBK bytes of Text, and '' when it has
  them, else why it has none (bytes that are not valid UTF-8, a character
  GBK lacks, a zero byte, which would end the text early). }
function QvGbkFault(const Text: TQvText; out Gbk: RawByteString): string;
{ The GBK bytes of Text (code page 936), or EQvError saying why it has none. }
function QvToGbk(const Text: TQvText): RawByteString;
{ The unit's one conversion in: the string of GBK bytes, U+FFFD for bytes
  that are not GBK. }
function QvFromGbk(const Gbk: RawByteString): string; overload;
function QvFromGbk(Buffer: PAnsiChar): string; overload;
{ Bytes as base64 (RFC 4648, with padding). }
function QvBase64(const Bytes: TBytes): string;
{ Storage for a length-prefixed text: four bytes of length, then the text.
  Keep it alive while the call runs and pass QvPrefixedText(Storage). }
function QvLengthPrefixed(const Text: RawByteString): RawByteString;
function QvPrefixedText(const Storage: RawByteString): PAnsiChar;
{ CheckTels with both texts (GBK bytes) laid out as it needs them. }
function QvCheckTels(const Number, CarrierList: RawByteString): Int32;

implementation

function QvBuffer(Size: Integer): RawByteString;
begin
  Result := '';
  SetLength(Result, Size);
  if Size > 0 then
    FillChar(Result[1], Size, 0);
end;

function QvFxBufferSize(ReplyLength: Int32): Integer;
begin
  Result := QV_BODY_BUFFER_SIZE;
  if ReplyLength > QV_FX_REPLY_MAX then
    ReplyLength := QV_FX_REPLY_MAX;
  if ReplyLength + 1 > Result then
    Result := ReplyLength + 1;
end;

function QvText(Buffer: PAnsiChar): RawByteString;
var
  N: Integer;
begin
  Result := '';
  if Buffer = nil then
    Exit;
  N := 0;
  while Buffer[N] <> #0 do
    Inc(N);
  SetLength(Result, N);
  if N > 0 then
    Move(Buffer^, Result[1], N);
end;

{ Text: the one policy, through the library's converters }

class operator TQvText.Implicit(const S: UnicodeString): TQvText;
begin
  Result.FBytes := UTF8Encode(S);
  Result.FGbk := False;
  Result.FFault := '';
end;

{ Bytes are taken for what their code page says; in Free Pascal the string
  type's own code page (the locale's, ASCII under LANG=C) holds UTF-8, as in
  Lazarus, so that no locale turns a text into '?'. }
class operator TQvText.Implicit(const S: RawByteString): TQvText;
var
  Page: TSystemCodePage;
  U: UnicodeString;
  I, Marks: Integer;
begin
  Result.FGbk := False;
  Result.FFault := '';
  Page := StringCodePage(S);
  if Page = 936 then
  begin
    Result.FBytes := S;
    Result.FGbk := True;
  end
  else if (Page = CP_UTF8) or (Page = CP_NONE) {$IFDEF FPC}or (Page = CP_ACP) or (Page = DefaultSystemCodePage){$ENDIF} then
    Result.FBytes := S
  else
  begin
    { Another declared code page, which the run-time library converts from
      without the locale; a byte it cannot read comes back as '?' or U+FFFD. }
    U := UnicodeString(S);
    Marks := 0;
    for I := 1 to Length(S) do
      if S[I] = '?' then
        Inc(Marks);
    for I := 1 to Length(U) do
      if (U[I] = '?') or (U[I] = #$FFFD) then
        Dec(Marks);
    if Marks < 0 then
      Result.FFault := Format('bytes that code page %d does not define', [Page]);
    Result.FBytes := UTF8Encode(U);
  end;
end;

class operator TQvText.Implicit(const Gbk: TBytes): TQvText;
begin
  Result.FBytes := '';
  SetLength(Result.FBytes, Length(Gbk));
  if Length(Gbk) > 0 then
    Move(Gbk[0], Result.FBytes[1], Length(Gbk));
  Result.FGbk := True;
  Result.FFault := '';
end;

{ The Detail of the calling thread's last call, which names what a
  converter or a job refused. }
function ThreadOutcome: TQvOutcome;
var
  Sent: Int32;
  Detail: TQvDetailBuffer;
begin
  Result := Default(TQvOutcome);
  Sent := 0;
  Detail[0] := #0;
  GetLastOutcome(@Result.Kind, @Sent, @Result.Argument, @Result.SocketError, @Detail[0], SizeOf(Detail));
  Result.Sent := Sent <> 0;
  Result.Detail := QvFromGbk(@Detail[0]);
end;

function QvGbkFault(const Text: TQvText; out Gbk: RawByteString): string;
var
  N: Int32;
begin
  Gbk := '';
  if Text.FFault <> '' then
    Exit(Text.FFault);
  if Pos(#0, Text.FBytes) > 0 then
    Exit('a text cannot hold a zero byte');
  if Length(Text.FBytes) > High(Int32) div 2 then
    Exit('too long a text');
  if Text.FGbk then
    Gbk := Text.FBytes
  else
  begin
    N := QvGbkFromUtf8(PAnsiChar(Text.FBytes), Length(Text.FBytes), nil, 0);
    if N < 0 then
    begin
      { "Argument 1 is U+20AC, which GBK lacks, at byte 3." names the
        converter's argument, which is this text. }
      Result := ThreadOutcome.Detail;
      if Pos('Argument 1 is ', Result) = 1 then
        Delete(Result, 1, Length('Argument 1 is '));
      if Result = '' then
        Result := 'not valid UTF-8, or a character GBK lacks';
      Exit;
    end;
    SetLength(Gbk, N);
    { A string always has room for its terminator. }
    if N > 0 then
      QvGbkFromUtf8(PAnsiChar(Text.FBytes), Length(Text.FBytes), PAnsiChar(Gbk), N + 1);
  end;
  SetCodePage(Gbk, 936, False);
  Result := '';
end;

function QvFromGbk(const Gbk: RawByteString): string;
var
  Utf8: RawByteString;
  N: Int32;
begin
  Utf8 := '';
  N := QvUtf8FromGbk(PAnsiChar(Gbk), Length(Gbk), nil, 0);
  if N > 0 then
  begin
    SetLength(Utf8, N);
    QvUtf8FromGbk(PAnsiChar(Gbk), Length(Gbk), PAnsiChar(Utf8), N + 1);
  end;
{$IFDEF FPC}
  { The bytes as they are: a string holds UTF-8 (see TQvText). }
  Result := '';
  SetLength(Result, Length(Utf8));
  if Length(Utf8) > 0 then
    Move(Utf8[1], Result[1], Length(Utf8));
{$ELSE}
  Result := UTF8ToString(Utf8);
{$ENDIF}
end;

function QvFromGbk(Buffer: PAnsiChar): string;
begin
  Result := QvFromGbk(QvText(Buffer));
end;

function QvBase64(const Bytes: TBytes): string;
const
  Digits: AnsiString = 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/';
var
  Text: AnsiString;
  I, J, N, V: Integer;
begin
  N := Length(Bytes);
  Text := '';
  SetLength(Text, ((N + 2) div 3) * 4);
  I := 0;
  J := 1;
  while I < N do
  begin
    V := Bytes[I] shl 16;
    if I + 1 < N then
      V := V or (Bytes[I + 1] shl 8);
    if I + 2 < N then
      V := V or Bytes[I + 2];
    Text[J] := Digits[((V shr 18) and 63) + 1];
    Text[J + 1] := Digits[((V shr 12) and 63) + 1];
    Text[J + 2] := '=';
    Text[J + 3] := '=';
    if I + 1 < N then
      Text[J + 2] := Digits[((V shr 6) and 63) + 1];
    if I + 2 < N then
      Text[J + 3] := Digits[(V and 63) + 1];
    Inc(I, 3);
    Inc(J, 4);
  end;
  Result := string(Text);
end;

function QvLengthPrefixed(const Text: RawByteString): RawByteString;
var
  N: Int32;
begin
  N := Length(Text);
  Result := QvBuffer(4 + N);
  Move(N, Result[1], 4);
  if N > 0 then
    Move(Text[1], Result[5], N);
end;

function QvPrefixedText(const Storage: RawByteString): PAnsiChar;
begin
  Result := PAnsiChar(Storage) + 4;
end;

function QvCheckTels(const Number, CarrierList: RawByteString): Int32;
var
  N, C: RawByteString;
begin
  N := QvLengthPrefixed(Number);
  C := QvLengthPrefixed(CarrierList);
  Result := CheckTels(QvPrefixedText(N), QvPrefixedText(C));
end;

function TQvReply.Accepted: Boolean;
begin
  Result := Ok and ((Code = QV_CODE_ACCEPTED) or (Code = QV_FX_SUCCESS));
end;

constructor EQvError.CreateFor(const ACall: string; ACode: Int32; const AText: string; const AOutcome: TQvOutcome);
begin
  inherited Create(ACall + ': ' + AText);
  FCall := ACall;
  FCode := ACode;
  FOutcome := AOutcome;
end;

{ An input refused before any call: nothing was sent. }
procedure Refuse(const Call, Text: string; Argument: Int32);
var
  O: TQvOutcome;
begin
  O := Default(TQvOutcome);
  O.Kind := QV_OUTCOME_REFUSED;
  O.Argument := Argument;
  O.Detail := Text;
  raise EQvError.CreateFor(Call, -1, Text, O);
end;

{ The GBK bytes of Text, given to Call as the argument Place named Name, or
  EQvError naming it. }
function GbkOf(const Call, Name: string; Place: Int32; const Text: TQvText): RawByteString;
var
  Fault: string;
begin
  Fault := QvGbkFault(Text, Result);
  if Fault <> '' then
    Refuse(Call, Name + ': ' + Fault, Place);
end;

function QvToGbk(const Text: TQvText): RawByteString;
begin
  Result := GbkOf('QvToGbk', 'Text', 1, Text);
end;

procedure TQvOutputs.Start(const Call: string; TextSize, ParamCount, ParamSize: Integer);
var
  I: Integer;
begin
  Self.Call := Call;
  Code := -1;
  FillChar(Numbers, SizeOf(Numbers), 0);
  Msg := QvBuffer(TextSize);
  Self.ParamCount := ParamCount;
  for I := 0 to ParamCount - 1 do
    Params[I] := QvBuffer(ParamSize);
end;

function TQvOutputs.Input(I, Place: Integer; const Name: string; const S: TQvText): PAnsiChar;
begin
  Inputs[I] := GbkOf(Call, Name, Place, S);
  Result := PAnsiChar(Inputs[I]);
end;

function TQvOutputs.Text: PAnsiChar;
begin
  Result := PAnsiChar(Msg);
end;

function TQvOutputs.Param(I: Integer): PAnsiChar;
begin
  Result := PAnsiChar(Params[I]);
end;

function TQvOutputs.Done(Ok: Boolean; NumberCount: Integer): TQvReply;
var
  I: Integer;
begin
  Result.Call := Call;
  Result.Ok := Ok;
  Result.Code := Code;
  Result.Message := QvFromGbk(PAnsiChar(Msg));
  SetLength(Result.Params, ParamCount);
  for I := 0 to ParamCount - 1 do
    Result.Params[I] := QvFromGbk(PAnsiChar(Params[I]));
  SetLength(Result.Numbers, NumberCount);
  for I := 0 to NumberCount - 1 do
    Result.Numbers[I] := Numbers[I];
end;

constructor TQvSession.Create;
begin
  inherited Create;
  FLock := TCriticalSection.Create;
  FHandle := QvSessionCreate;
  if FHandle = nil then
    raise EOutOfMemory.Create('QvSessionCreate: out of memory');
end;

destructor TQvSession.Destroy;
begin
  if FHandle <> nil then
    Close;
  FLock.Free;
  inherited Destroy;
end;

function TQvSession.Enter: Pointer;
begin
  FLock.Acquire;
  try
    if FClosed then
      raise EQvSessionClosed.Create('the session is closed');
    Inc(FCalls);
  finally
    FLock.Release;
  end;
  Result := FHandle;
end;

procedure TQvSession.Leave;
begin
  FLock.Acquire;
  try
    Dec(FCalls);
  finally
    FLock.Release;
  end;
end;

procedure TQvSession.Close;
var
  Busy: Boolean;

  function Idle: Boolean;
  begin
    FLock.Acquire;
    try
      Result := FCalls = 0;
    finally
      FLock.Release;
    end;
  end;

begin
  FLock.Acquire;
  try
    if FClosed then
      Exit;
    FClosed := True;
    Busy := FCalls > 0;
  finally
    FLock.Release;
  end;
  { A call blocked on the connection in another thread gives way at once, as
    the destroy would make it, instead of at its time-out; the session stays
    until the last call in progress has returned.  The wait polls, since an
    event object needs a thread manager that a program without threads (on
    Linux, without cthreads) does not have. }
  if Busy then
  begin
    QvTcpDisconnect(FHandle);
    while not Idle do
      Sleep(1);
  end;
  QvSessionDestroy(FHandle);
  FHandle := nil;
end;

function TQvSession.Closed: Boolean;
begin
  FLock.Acquire;
  try
    Result := FClosed;
  finally
    FLock.Release;
  end;
end;

function TQvSession.GetLastOutcome: TQvOutcome;
var
  Detail: TQvDetailBuffer;
  Sent: Int32;
  P: Pointer;
begin
  P := Enter;
  try
    QvGetLastOutcome(P, @Result.Kind, @Sent, @Result.Argument, @Result.SocketError, @Detail[0], SizeOf(Detail));
  finally
    Leave;
  end;
  Result.Sent := Sent <> 0;
  Result.Detail := QvFromGbk(@Detail[0]);
end;

function TQvSession.GetLastRelogin: TQvRelogin;
var
  Detail: TQvDetailBuffer;
  P: Pointer;
begin
  P := Enter;
  try
    QvGetLastRelogin(P, @Result.Kind, @Result.ServerCode, @Result.SocketError, @Detail[0], SizeOf(Detail));
  finally
    Leave;
  end;
  Result.Detail := QvFromGbk(@Detail[0]);
end;

function TQvSession.GetConnectionState: TQvConnectionState;
var
  P: Pointer;
begin
  P := Enter;
  try
    QvGetConnectionState(P, @Result.State, @Result.Path, @Result.LoginProtocol, @Result.LoginCode);
  finally
    Leave;
  end;
end;

function TQvSession.Check(const Reply: TQvReply): TQvReply;
var
  O: TQvOutcome;
  Text: string;
begin
  { A reply without a server code (a connect) has only its result to go by. }
  if Reply.Accepted or (Reply.Ok and (Reply.Code = -1)) then
    Exit(Reply);
  O := GetLastOutcome;
  if Reply.Ok then
    Text := Format('refused: %d %s', [Reply.Code, Reply.Message])
  else if O.Detail <> '' then
    Text := Reply.Message + ' (' + O.Detail + ')'
  else
    Text := Reply.Message;
  raise EQvError.CreateFor(Reply.Call, Reply.Code, Text, O);
end;

function TQvSession.Check(Ok: Boolean; const Call: string): Boolean;
var
  O: TQvOutcome;
begin
  if Ok then
    Exit(True);
  O := GetLastOutcome;
  raise EQvError.CreateFor(Call, -1, O.Detail, O);
end;

{ The send job }

type
  TQvJobCall = (jcClear, jcPrdId, jcCheckPrdId, jcTelList, jcTelNum, jcContent, jcCheckContent, jcPushURL,
    jcBgnDate, jcEndDate, jcBgnTime, jcEndTime, jcFileName, jcFile, jcOrders, jcPeriod, jcOver, jcOverEx);

  TQvJobStep = record
    Call: TQvJobCall;
    Texts: array[0..2] of string;
  end;

  TQvJobPlan = array of TQvJobStep;

const
  JobStepNames: array[TQvJobCall] of string = ('SubmitAllClear', 'SubmitPrdId', 'CheckPrdId', 'SubmitTelList',
    'SubmitTelNum', 'SubmitContent', 'CheckContent', 'SubmitPushURL', 'SubmitBgnDate', 'SubmitEndDate',
    'SubmitBgnTime', 'SubmitEndTime', 'SubmitTransFilename', 'SubmitTransFile', 'SubmitPQOrderSelect',
    'SubmitBgnDateEx', 'SubmitAllOver_2', 'SubmitAllOverEx_2');
  { Base64 characters per SubmitTransFile: a whole number of groups of four
    within a field. }
  JobFilePart = 2044;

{ The GBK length of a job's text, refused unless it fits Max bytes. }
function JobText(const Field, S: string; Max: Integer): Integer;
var
  Gbk: RawByteString;
  Fault: string;
begin
  Fault := QvGbkFault(S, Gbk);
  if Fault <> '' then
    Refuse('SendJob', Field + ': ' + Fault, 0);
  if Length(Gbk) > Max then
    Refuse('SendJob', Format('%s: %d bytes in GBK, at most %d fit', [Field, Length(Gbk), Max]), 0);
  Result := Length(Gbk);
end;

procedure AddStep(var Plan: TQvJobPlan; Call: TQvJobCall; const A: string = ''; const B: string = '';
  const C: string = '');
var
  N: Integer;
begin
  N := Length(Plan);
  SetLength(Plan, N + 1);
  Plan[N].Call := Call;
  Plan[N].Texts[0] := A;
  Plan[N].Texts[1] := B;
  Plan[N].Texts[2] := C;
end;

{ A field of one text, when given. }
procedure AddField(var Plan: TQvJobPlan; Call: TQvJobCall; const Field, S: string);
begin
  if S = '' then
    Exit;
  JobText(Field, S, QV_BODY_MAX_TEXT);
  AddStep(Plan, Call, S);
end;

{ Every call of Job in order, or EQvError when it does not fit. }
function JobPlan(const Job: TQvJob): TQvJobPlan;
var
  Part, Encoded: string;
  I, Size, PartSize, InPart: Integer;
  Orders: array[0..2] of string;
begin
  Result := nil;
  if Job.Product = '' then
    Refuse('SendJob', 'a job needs a product', 0);
  if Length(Job.Numbers) = 0 then
    Refuse('SendJob', 'a job needs numbers', 0);
  if Length(Job.Orders) > 3 then
    Refuse('SendJob', Format('at most 3 scheduled orders, not %d', [Length(Job.Orders)]), 0);
  AddStep(Result, jcClear);
  AddField(Result, jcPrdId, 'Product', Job.Product);
  if Job.Check then
    AddStep(Result, jcCheckPrdId, Job.Product);
  { The numbers joined by ',' in as few parts as fit a field each. }
  Part := '';
  PartSize := 0;
  InPart := 0;
  for I := 0 to High(Job.Numbers) do
  begin
    Size := JobText(Format('Numbers[%d]', [I]), Job.Numbers[I], QV_BODY_MAX_TEXT);
    if (Size = 0) or (Pos(',', Job.Numbers[I]) > 0) then
      Refuse('SendJob', Format('Numbers[%d]: a number is empty or holds a comma', [I]), 0);
    if (InPart > 0) and (PartSize + 1 + Size > QV_BODY_MAX_TEXT) then
    begin
      AddStep(Result, jcTelList, Part);
      Part := '';
      PartSize := 0;
      InPart := 0;
    end;
    if InPart > 0 then
    begin
      Part := Part + ',';
      Inc(PartSize);
    end;
    Part := Part + Job.Numbers[I];
    Inc(PartSize, Size);
    Inc(InPart);
  end;
  AddStep(Result, jcTelList, Part);
  AddStep(Result, jcTelNum, IntToStr(Length(Job.Numbers)));
  AddField(Result, jcContent, 'Content', Job.Content);
  if Job.Check then
    AddStep(Result, jcCheckContent);
  AddField(Result, jcPushURL, 'Url', Job.Url);
  AddField(Result, jcBgnDate, 'BeginDate', Job.BeginDate);
  AddField(Result, jcEndDate, 'EndDate', Job.EndDate);
  AddField(Result, jcBgnTime, 'BeginTime', Job.BeginTime);
  AddField(Result, jcEndTime, 'EndTime', Job.EndTime);
  AddField(Result, jcFileName, 'FileName', Job.FileName);
  Encoded := QvBase64(Job.FileContent);
  I := 1;
  while I <= Length(Encoded) do
  begin
    AddStep(Result, jcFile, Copy(Encoded, I, JobFilePart));
    Inc(I, JobFilePart);
  end;
  if Length(Job.Orders) > 0 then
  begin
    for I := 0 to 2 do
      Orders[I] := '';
    for I := 0 to High(Job.Orders) do
    begin
      JobText(Format('Orders[%d]', [I]), Job.Orders[I], QV_PARAM_MAX_TEXT);
      Orders[I] := Job.Orders[I];
    end;
    AddStep(Result, jcOrders, Orders[0], Orders[1], Orders[2]);
  end;
  AddField(Result, jcPeriod, 'Period', Job.Period);
  if (Length(Job.Orders) > 0) or (Job.Period <> '') then
    AddStep(Result, jcOverEx)
  else
    AddStep(Result, jcOver);
end;

function RunJobStep(S: TQvSession; const Step: TQvJobStep): TQvReply;
var
  T: array[0..2] of string;
begin
  T[0] := Step.Texts[0];
  T[1] := Step.Texts[1];
  T[2] := Step.Texts[2];
  case Step.Call of
    jcClear: Result := S.SubmitAllClear;
    jcPrdId: Result := S.SubmitPrdId(T[0]);
    jcCheckPrdId: Result := S.CheckPrdId(T[0]);
    jcTelList: Result := S.SubmitTelList(T[0]);
    jcTelNum: Result := S.SubmitTelNum(T[0]);
    jcContent: Result := S.SubmitContent(T[0]);
    jcCheckContent: Result := S.CheckContent;
    jcPushURL: Result := S.SubmitPushURL(T[0]);
    jcBgnDate: Result := S.SubmitBgnDate(T[0]);
    jcEndDate: Result := S.SubmitEndDate(T[0]);
    jcBgnTime: Result := S.SubmitBgnTime(T[0]);
    jcEndTime: Result := S.SubmitEndTime(T[0]);
    jcFileName: Result := S.SubmitTransFilename(T[0]);
    jcFile: Result := S.SubmitTransFile(T[0]);
    jcOrders: Result := S.SubmitPQOrderSelect(T[0], T[1], T[2]);
    jcPeriod: Result := S.SubmitBgnDateEx(T[0]);
    jcOver: Result := S.SubmitAllOver_2;
  else
    Result := S.SubmitAllOverEx_2;
  end;
end;

function TQvSession.SendJob(const Job: TQvJob; Attempts: Integer; const Progress: TQvJobProgress): TQvJobResult;
var
  Plan: TQvJobPlan;
  Attempt, I: Integer;
  R: TQvReply;
  Submit: Boolean;
begin
  Plan := JobPlan(Job);
  Result := Default(TQvJobResult);
  Attempt := 1;
  I := 0;
  while True do
  begin
    if Assigned(Progress) then
      Progress(Attempt, JobStepNames[Plan[I].Call]);
    R := RunJobStep(Self, Plan[I]);
    Submit := I = High(Plan);
    if R.Ok and (R.Code = QV_CODE_ACCEPTED) and not Submit then
    begin
      Inc(I);
      Continue;
    end;
    Result.Outcome := GetLastOutcome;
    if R.Ok or (Submit and Result.Outcome.Sent)
      or (GetLastRelogin.Kind <> QV_RELOGIN_LOGGED_IN) or (Attempt >= Attempts) then
      Break;
    { The call failed and the relogin logged in: the server may hold part of
      the job, and fields such as the numbers add up, so the job starts
      again from its clear rather than resending the one field. }
    Inc(Attempt);
    I := 0;
  end;
  Result.Step := JobStepNames[Plan[I].Call];
  Result.Code := R.Code;
  Result.Message := R.Message;
  Result.Attempts := Attempt;
  if R.Ok and (R.Code = QV_CODE_ACCEPTED) then
  begin
    Result.Status := jobSubmitted;
    Result.JobNumber := R.Message;
    Result.Recipients := R.Numbers[0];
    Result.Charged := R.Numbers[1];
    Result.Left := R.Numbers[2];
  end
  else if R.Ok then
    Result.Status := jobRefused
  else if Submit and Result.Outcome.Sent then
  begin
    { The request reached the connection: the server may have the job.  It
      is never submitted again without a look first. }
    Result.Status := jobMaybeSubmitted;
    Result.LookUp := Format('LastDetails with the first number (%s), or AllInfoPackId and InfoPackStatus',
      [Job.Numbers[0]]);
  end
  else
    Result.Status := jobFailed;
end;

{$I QuorvexSessionImpl.inc}

end.
