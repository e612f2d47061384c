{ Quorvex.pas - the Quorvex client library for Delphi and Free Pascal.

  Every export of quorvex.h, declared as the library exports it: stdcall on
  Windows (Quorvex.dll), the C convention elsewhere (libquorvex.so).  The
  one-byte result is Boolean (one byte in both compilers), every int32 is
  Int32, every int32 pointer PInt32 and every text PAnsiChar: zero-terminated
  GBK (code page 936) bytes in both directions.  Output buffers belong to the
  caller and must hold the documented sizes: TQvMessageBuffer,
  TQvParamBuffer and the others below, or QvBuffer for one of any size.
  QvToGbk and QvFromGbk convert between strings and GBK; QvCheckTels builds
  the length-prefixed texts that CheckTels takes.  On Linux, Free Pascal
  converts code pages through the C library (the unit cwstring).

  TQvSession is a connection of its own (QvSessionCreate): the exports that
  act on a session are its methods, under their classic names, with strings
  in and a TQvReply out. }
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
  { A string whose bytes are GBK: assigning a string to it converts. }
  TQvGbkString = type AnsiString(936);

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

  { The buffers of one session call: the inputs' GBK bytes and the outputs,
    each of its documented size, read back into a TQvReply. }
  TQvOutputs = record
    Code: Int32;
    Numbers: array[0..3] of Int32;
    Inputs: array[0..7] of RawByteString;
    Msg: RawByteString;
    Params: array[0..2] of RawByteString;
    ParamCount: Integer;
    procedure Start(TextSize, ParamCount, ParamSize: Integer);
    function Input(I: Integer; const S: string): PAnsiChar;
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
    { Every other export that acts on a session, generated. }
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
{ GBK bytes of S (characters GBK lacks become '?'), and the string of GBK bytes. }
function QvToGbk(const S: string): RawByteString;
function QvFromGbk(const Gbk: RawByteString): string; overload;
function QvFromGbk(Buffer: PAnsiChar): string; overload;
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

function QvToGbk(const S: string): RawByteString;
var
  U: UnicodeString;
  G: TQvGbkString;
begin
  U := UnicodeString(S);
  G := TQvGbkString(U);
  Result := G;
end;

function QvFromGbk(const Gbk: RawByteString): string;
var
  Bytes: RawByteString;
  U: UnicodeString;
begin
  Bytes := Gbk;
  SetCodePage(Bytes, 936, False);
  U := UnicodeString(Bytes);
  Result := string(U);
end;

function QvFromGbk(Buffer: PAnsiChar): string;
begin
  Result := QvFromGbk(QvText(Buffer));
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

procedure TQvOutputs.Start(TextSize, ParamCount, ParamSize: Integer);
var
  I: Integer;
begin
  Code := -1;
  FillChar(Numbers, SizeOf(Numbers), 0);
  Msg := QvBuffer(TextSize);
  Self.ParamCount := ParamCount;
  for I := 0 to ParamCount - 1 do
    Params[I] := QvBuffer(ParamSize);
end;

function TQvOutputs.Input(I: Integer; const S: string): PAnsiChar;
begin
  Inputs[I] := QvToGbk(S);
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

{$I QuorvexSessionImpl.inc}

end.
