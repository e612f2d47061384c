{ A host's session through the unit, against the simulator:
    scenario PORT DROP_PORT SIMULATOR
  PORT serves normally (accounts demo and demo2); DROP_PORT closes each
  connection after two answers; SIMULATOR is the simulator's program, which
  the send-job checks start and stop themselves. }
program scenario;

{$IFDEF FPC}{$MODE DELPHI}{$H+}{$ENDIF}

uses
  {$IFDEF FPC}{$IFDEF UNIX}cthreads,{$ENDIF}{$ENDIF}
  Classes, SysUtils, SyncObjs, Sockets, Process, Quorvex;

type
  { One session's calls, chosen by a seeded generator: every answer must
    name the session's own account.  The last call is refused, for the
    outcome checks of Sessions. }
  TDriver = class(TThread)
  public
    Session: TQvSession;
    Port: Integer;
    Account, Id: string;
    Seed: Cardinal;
    Wrong: Integer;
    procedure Execute; override;
  end;

  { A heartbeat that waits for an answer that never comes. }
  TWaiter = class(TThread)
  public
    Session: TQvSession;
    Answered: Boolean;
    procedure Execute; override;
  end;

var
  Failures: Integer = 0;
  Msg: TQvMessageBuffer;
  P1, P2, P3: TQvParamBuffer;
  Code, N1, N2, N3: Int32;

procedure Check(Ok: Boolean; const What: string);
begin
  if Ok then
    WriteLn('ok   ', What)
  else
  begin
    WriteLn('FAIL ', What, ' (code ', Code, ', message "', QvFromGbk(@Msg[0]), '")');
    Inc(Failures);
  end;
end;

function Accepted(Ok: Boolean): Boolean;
begin
  Accepted := Ok and (Code = QV_CODE_ACCEPTED);
end;

procedure ConnectAndLogin(Port: Integer);
begin
  Check(TcpConnect(@Msg[0], '127.0.0.1', Port, 5000, '', '', 0, '', ''), 'TcpConnect ' + IntToStr(Port));
  Check(QvFromGbk(@Msg[0]) = 'TCP连接成功', 'connect message in GBK');
  Check(Login_Request('pascal', '', 'demo', 'demo123', '1.0'), 'Login_Request');
  Check(Accepted(Login_Feedback(@Code, @Msg[0], @P1[0], @P2[0], @P3[0])), 'Login_Feedback');
  Check(QvText(@P1[0]) = '10001', 'account id in Param1');
end;

procedure SendJob;
var
  Content: RawByteString;
begin
  Content := QvToGbk('会议通知：明天九点');
  Check(Accepted(SubmitAllClear(@Code, @Msg[0])), 'SubmitAllClear');
  Check(Accepted(SubmitPrdId(@Code, @Msg[0], '1001')), 'SubmitPrdId');
  Check(Accepted(SubmitTelList(@Code, @Msg[0], '13800000001,13800000002')), 'SubmitTelList');
  Check(Accepted(SubmitTelNum(@Code, @Msg[0], '2')), 'SubmitTelNum');
  Check(Accepted(SubmitContent(@Code, @Msg[0], PAnsiChar(Content))), 'SubmitContent');
  Check(QvFromGbk(@Msg[0]) = '字数:9', 'content counted in GBK characters');
  Check(Accepted(SubmitAllOver_2(@Code, @Msg[0], @N1, @N2, @N3)), 'SubmitAllOver_2');
  Check((N1 = 2) and (N2 = 2) and (StrToIntDef(string(QvText(@Msg[0])), 0) > 100000), 'job numbers');
end;

procedure TDriver.Execute;
var
  I: Integer;
  R: TQvReply;
  Mine: Boolean;
  O: TQvOutcome;
begin
  Session.TcpConnect('127.0.0.1', Port, 5000, '', '', 0, '', '');
  Session.Login_Request('pascal', '', Account, 'demo123', '1.0');
  if not Session.Login_Feedback.Accepted then
    Inc(Wrong);
  for I := 0 to 39 do
  begin
    Seed := Seed * 1103515245 + 12345;
    if I = 39 then
    begin
      R := Session.SubmitContent(StringOfChar('X', QV_BODY_MAX_TEXT + 1));
      O := Session.GetLastOutcome;
      Mine := not R.Ok and (O.Kind = outcomeRefused) and (O.Argument = 3);
    end
    else
      case (Seed shr 16) mod 3 of
        0:
          begin
            R := Session.GetUdInfo;
            Mine := R.Accepted and (R.Params[0] = Id) and (Pos('帐号:' + Account + ';', R.Message) > 0);
          end;
        1:
          begin
            R := Session.PQGetAbilityURL;
            Mine := R.Accepted and (Copy(R.Message, Length(R.Message) - Length(Account), MaxInt) = '=' + Account);
          end;
      else
        Mine := Session.Heartbeat and (Session.GetLastOutcome.Kind = outcomeOk);
      end;
    if not Mine then
      Inc(Wrong);
  end;
end;

procedure TWaiter.Execute;
begin
  Answered := Session.Heartbeat;
end;

{ A Free while another thread waits for an answer: that call gives way, and
  the session is destroyed once it has returned. }
procedure CloseWhileWaiting;
var
  Listener, Peer: TSocket;
  Address: TInetSockAddr;
  Size: TSockLen;
  Buffer: array[0..4095] of Byte;
  Got: Integer;
  Waiter: TWaiter;
begin
  Listener := fpSocket(AF_INET, SOCK_STREAM, 0);
  FillChar(Address, SizeOf(Address), 0);
  Address.sin_family := AF_INET;
  Address.sin_addr := StrToNetAddr('127.0.0.1');
  fpBind(Listener, @Address, SizeOf(Address));
  fpListen(Listener, 1);
  Size := SizeOf(Address);
  fpGetSockName(Listener, @Address, @Size);
  Waiter := TWaiter.Create(True);
  Waiter.Session := TQvSession.Create;
  Waiter.Session.SetReadTimeout(60000);
  Waiter.Session.TcpConnect('127.0.0.1', NToHs(Address.sin_port), 5000, '', '', 0, '', '');
  Peer := fpAccept(Listener, nil, nil);
  Waiter.Start;
  Got := 0;
  while Got < 2116 do
    Got := Got + fpRecv(Peer, @Buffer[0], SizeOf(Buffer), 0);
  Waiter.Session.Free;
  Waiter.WaitFor;
  Check(not Waiter.Answered, 'Free ends a call waiting in another thread');
  Waiter.Free;
  CloseSocket(Peer);
  CloseSocket(Listener);
end;

{ Two sessions with two accounts on two threads; a thread's last outcome on
  a session is its own; a call after Close is refused. }
procedure Sessions(Port: Integer);
var
  First, Second: TQvSession;
  Drivers: array[0..1] of TDriver;
  I: Integer;
  Before: TQvOutcomeKind;
  State: TQvConnectionState;
  Refused: Boolean;
begin
  First := TQvSession.Create;
  Second := TQvSession.Create;
  for I := 0 to 1 do
  begin
    Drivers[I] := TDriver.Create(True);
    Drivers[I].Port := Port;
    Drivers[I].Seed := I + 1;
  end;
  Drivers[0].Session := First;
  Drivers[0].Account := 'demo';
  Drivers[0].Id := '10001';
  Drivers[1].Session := Second;
  Drivers[1].Account := 'demo2';
  Drivers[1].Id := '10002';
  for I := 0 to 1 do
    Drivers[I].Start;
  for I := 0 to 1 do
  begin
    Drivers[I].WaitFor;
    Check(Drivers[I].Wrong = 0, 'session ' + Drivers[I].Account + ': every answer its own ('
      + IntToStr(Drivers[I].Wrong) + ' not)');
    Drivers[I].Free;
  end;
  Before := First.GetLastOutcome.Kind;
  Second.SubmitContent(StringOfChar('X', QV_BODY_MAX_TEXT + 1));
  Check((Before = outcomeOk) and (First.GetLastOutcome.Kind = outcomeOk)
    and (Second.GetLastOutcome.Kind = outcomeRefused), 'last outcome per session and per thread');
  State := First.GetConnectionState;
  Check((State.State >= [stateConnected, stateLoggedIn]) and (State.Path = pathDirect)
    and (State.LoginProtocol = protocolRecord) and (State.LoginCode = QV_CODE_ACCEPTED),
    'a session''s connection state as enumerations');
  First.Close;
  First.Close; { a second Close does nothing }
  Refused := False;
  try
    First.Heartbeat;
  except
    on EQvSessionClosed do
      Refused := True;
  end;
  Check(Refused and First.Closed, 'a call after Close is refused');
  First.Free;
  Second.Free;
end;

{ The default session through the session methods, beside the classic
  exports on the same connection: the same answers, outputs by name (and in
  Params and Numbers), the state as enumerations; then Check on a table of
  replies, each raising, or not, with its call's code and outcome. }
procedure DefaultView(Port: Integer);
type
  TCase = record
    Reply: TQvReply;
    Raises: Boolean;
    Kind: TQvOutcomeKind;
    Code, Argument: Int32;
  end;
var
  D: TQvSessionView;
  R: TQvReply;
  State: TQvConnectionState;
  Raw: array[0..3] of Int32;
  Flags: TQvStateFlags;
  Bits: Integer;
  Fresh: TQvSession;
  Cases: array[0..7] of TCase;
  I: Integer;
  Raised: Boolean;
  E: EQuorvexError;

  function Case_(const Reply: TQvReply; Raises: Boolean; Kind: TQvOutcomeKind; Code, Argument: Int32): TCase;
  begin
    Result.Reply := Reply;
    Result.Raises := Raises;
    Result.Kind := Kind;
    Result.Code := Code;
    Result.Argument := Argument;
  end;

begin
  D := TQvSessionView.DefaultSession;
  R := D.GetUdInfo;
  Check(Accepted(GetUdInfo(@Code, @Msg[0], @P1[0], @P2[0], @P3[0])) and R.Accepted and (R.Param1 = '10001')
    and (R.Param1 = QvFromGbk(@P1[0])) and (R.Param2 = QvFromGbk(@P2[0])) and (R.Param3 = QvFromGbk(@P3[0]))
    and (Length(R.Params) = 3) and (R.Params[2] = R.Param3) and (R.Message = QvFromGbk(@Msg[0])),
    'the default view''s GetUdInfo: the classic export''s texts, by name');
  R := D.FindAllSubsEx;
  Check(FindAllSubsEx(@Code, @Msg[0], @N1, @N2, @N3) and R.Ok and (R.Code = Code) and (R.Number1 = N1)
    and (R.Number2 = N2) and (R.Number3 = N3) and (Length(R.Numbers) = 3) and (R.Numbers[1] = N2),
    'the default view''s FindAllSubsEx: the classic export''s numbers, by name');
  State := D.GetConnectionState;
  GetConnectionState(@Raw[0], @Raw[1], @Raw[2], @Raw[3]);
  Check((QvStateNumber(State.State) = Raw[0]) and (Ord(State.Path) = Raw[1]) and (Ord(State.LoginProtocol) = Raw[2])
    and (State.LoginCode = Raw[3]) and (stateLoggedIn in State.State) and (State.Path = pathDirect),
    'the default view''s connection state: the classic export''s numbers');
  Bits := 0;
  for I := 0 to 7 do
  begin
    Flags := QvStateFlags(I);
    if QvStateNumber(Flags) = I then
      Inc(Bits);
  end;
  Check(Bits = 8, 'state flags and numbers convert both ways');

  { A session never connected fails; its reply keeps the outcome after it is gone. }
  Fresh := TQvSession.Create;
  Cases[0] := Case_(Fresh.GetUdInfo, True, outcomeNotConnected, -1, 0);
  Cases[4] := Case_(Fresh.TcpConnect('127.0.0.1', 1, 5000, '', '', 0, '', ''), True, outcomeConnectFailed, -1, 0);
  Cases[5] := Case_(Fresh.Login('demo', 'demo123'), True, outcomeNotConnected, -1, 0);
  Raised := False;
  try
    Fresh.Check(Fresh.Heartbeat, 'Heartbeat');
  except
    on X: EQuorvexError do
      Raised := (X.Call = 'Heartbeat') and (X.Kind = outcomeNotConnected);
  end;
  Check(Raised, 'Check of a Boolean method raises with its outcome');
  Fresh.Free;
  { Connect and Login with their defaults, on a session of its own. }
  Fresh := TQvSession.Create;
  Cases[6] := Case_(Fresh.Connect('127.0.0.1', Port), False, outcomeOk, -1, 0);
  Cases[7] := Case_(Fresh.Login('demo', 'wrong'), True, outcomeOk, 401, 0);
  { An XML pair: the request's reply code is its Code too, the reply's
    texts and numbers by name.  It also parses a reply under Free Pascal's
    floating-point exceptions, which the library's XML set-up must not
    raise. }
  R := Fresh.fxLogin_Req('pascal', '', 'demo', 'demo123', '1.0');
  Check(R.Ok and (R.Code = R.ReplyCode) and (R.Numbers[0] = R.ReplyLength) and (R.ReplyLength > 0),
    'fxLogin_Req: ReplyCode and ReplyLength by name');
  R := Fresh.fxLogin_Resp(R.ReplyCode, R.ReplyLength);
  Check(R.Ok and (Length(R.Params) = 1) and (R.Params[0] = R.Pud) and (R.Numbers[0] = R.Agent)
    and (R.Numbers[1] = R.Agreement), 'fxLogin_Resp: ' + R.Message + ', Pud "' + R.Pud + '", Agent '
    + IntToStr(R.Agent));
  Fresh.Free;
  Cases[1] := Case_(D.SubmitContent(StringOfChar('X', QV_BODY_MAX_TEXT + 1)), True, outcomeRefused, -1, 3);
  Cases[2] := Case_(D.CheckPrdId('1009'), True, outcomeOk, 404, 0);
  Cases[3] := Case_(D.CheckPrdId('1001'), False, outcomeOk, QV_CODE_ACCEPTED, 0);
  for I := 0 to High(Cases) do
  begin
    Raised := False;
    E := nil;
    try
      R := Cases[I].Reply.Check;
    except
      on X: EQuorvexError do
      begin
        Raised := True;
        E := EQuorvexError(AcquireExceptionObject);
      end;
    end;
    if Raised then
      Check(Cases[I].Raises and (E.Kind = Cases[I].Kind) and (E.Code = Cases[I].Code)
        and (E.Argument = Cases[I].Argument) and (E.Call = Cases[I].Reply.Call) and (E.Sent = False),
        'Check on case ' + IntToStr(I) + ': ' + E.Message)
    else
      Check(not Cases[I].Raises and (R.Code = Cases[I].Code), 'Check on case ' + IntToStr(I) + ': no exception');
    E.Free;
  end;
end;

procedure Outcomes;
var
  Outcome, Sent, Argument, SocketError, Relogin, ServerCode, State, Path, Protocol, LoginCode: Int32;
  Detail: TQvDetailBuffer;
  Long: RawByteString;
begin
  { A text longer than its field is refused before anything is sent. }
  Long := StringOfChar(AnsiChar('1'), QV_BODY_MAX_TEXT + 1);
  Check(not SubmitPrdId(@Code, @Msg[0], PAnsiChar(Long)) and (Code = -1), 'too long a text is refused');
  Check(QvFromGbk(@Msg[0]) = '输入的文本过长!', 'refusal message');
  GetLastOutcome(@Outcome, @Sent, @Argument, @SocketError, @Detail[0], SizeOf(Detail));
  Check((Outcome = QV_OUTCOME_REFUSED) and (Sent = 0) and (Argument = 3), 'GetLastOutcome after the refusal');

  { The drop server answers the login and one call, then closes: the next
    call fails and logs in again on a new connection. }
  Check(Heartbeat, 'Heartbeat, the last answer before the drop');
  Check(not MsgStates(@Code, @Msg[0]), 'MsgStates fails on the dropped connection');
  GetLastOutcome(@Outcome, @Sent, @Argument, @SocketError, @Detail[0], SizeOf(Detail));
  Check(Outcome in [QV_OUTCOME_NOT_SENT, QV_OUTCOME_MAYBE_APPLIED, QV_OUTCOME_FAILED], 'GetLastOutcome after the drop: '
    + IntToStr(Outcome) + ' ' + string(QvText(@Detail[0])));
  GetLastRelogin(@Relogin, @ServerCode, nil, nil, 0);
  Check((Relogin = QV_RELOGIN_LOGGED_IN) and (ServerCode = QV_CODE_ACCEPTED), 'relogged in after the drop');
  GetConnectionState(@State, @Path, @Protocol, @LoginCode);
  Check((State and QV_STATE_LOGGED_IN <> 0) and (Path = QV_PATH_DIRECT), 'connection state after the relogin');
  Check(Accepted(MsgStates(@Code, @Msg[0])), 'MsgStates on the new connection');
end;

{ The send job }

type
  { A simulator of the checks' own on a fixed port, so that it can be
    stopped in the middle of a job and started again where the session's
    relogin will look for it. }
  TOwnSimulator = class
  public
    Path: string;
    Port: Integer;
    Delay: Integer; { ms before each answer }
    Running: TProcess;
    procedure Start;
    procedure Stop;
  end;

  TOutage = (outNone, outRestart, outStop, outRaise);

  { Records the steps of a job (request codes), and at step At of the first
    attempt stops the simulator, then (outRestart) starts a new one at once;
    or raises (outRaise).  Reached is set at step At, for another thread. }
  TJobWatch = class
  public
    Steps: TStringList;
    Simulator: TOwnSimulator;
    At: Int32;
    Outage: TOutage;
    Reached: TEvent;
    constructor Create;
    destructor Destroy; override;
    procedure OnStep(Job: TQvJob; Step, Attempt: Int32);
    function Resolve(Job: TQvJob): TQvResolution;
  end;

  { Once the watched job reaches its step, cancels it, or frees its
    session when one is given. }
  TCanceller = class(TThread)
  public
    Watch: TJobWatch;
    Job: TQvJob;
    Session: TQvSession;
    procedure Execute; override;
  end;

procedure TOwnSimulator.Start;
var
  Line: string;
  C: AnsiChar;
begin
  Running := TProcess.Create(nil);
  Running.Executable := Path;
  Running.Parameters.Add('--port');
  Running.Parameters.Add(IntToStr(Port));
  Running.Parameters.Add('--delay');
  Running.Parameters.Add(IntToStr(Delay));
  Running.Parameters.Add('--quiet');
  Running.Options := [poUsePipes, poStderrToOutPut];
  Running.Execute;
  { It serves once it says where. }
  Line := '';
  while Pos('listening on', Line) = 0 do
  begin
    if Running.Output.Read(C, 1) <> 1 then
      raise Exception.Create('the simulator did not start: ' + Line);
    Line := Line + C;
  end;
end;

procedure TOwnSimulator.Stop;
begin
  Running.Terminate(0);
  Running.WaitOnExit;
  FreeAndNil(Running);
end;

constructor TJobWatch.Create;
begin
  Steps := TStringList.Create;
  Reached := TEvent.Create(nil, True, False, '');
end;

destructor TJobWatch.Destroy;
begin
  Reached.Free;
  Steps.Free;
  inherited Destroy;
end;

procedure TJobWatch.OnStep(Job: TQvJob; Step, Attempt: Int32);
begin
  Steps.Add(IntToStr(Step));
  if (Attempt > 1) or (Step <> At) then
    Exit;
  Reached.SetEvent;
  case Outage of
    outRaise: raise EConvertError.Create('the host stops here');
    outRestart, outStop:
      begin
        Simulator.Stop;
        if Outage = outRestart then
          Simulator.Start;
      end;
  end;
end;

function TJobWatch.Resolve(Job: TQvJob): TQvResolution;
begin
  Result := resolvedUnknown;
end;

procedure TCanceller.Execute;
begin
  if Watch.Reached.WaitFor(10000) <> wrSignaled then
    Exit;
  if Session <> nil then
    Session.Free
  else
    Job.Cancel;
end;

function FreePort: Integer;
var
  Listener: TSocket;
  Address: TInetSockAddr;
  Size: TSockLen;
begin
  Listener := fpSocket(AF_INET, SOCK_STREAM, 0);
  FillChar(Address, SizeOf(Address), 0);
  Address.sin_family := AF_INET;
  Address.sin_addr := StrToNetAddr('127.0.0.1');
  fpBind(Listener, @Address, SizeOf(Address));
  Size := SizeOf(Address);
  fpGetSockName(Listener, @Address, @Size);
  Result := NToHs(Address.sin_port);
  CloseSocket(Listener);
end;

function LoggedIn(Port: Integer): TQvSession;
begin
  Result := TQvSession.Create;
  Result.Connect('127.0.0.1', Port).Check;
  Result.Login('demo', 'demo123', 'pascal', '', '1.0').Check;
end;

function SmsJob(Numbers: Integer = 2): TQvJob;
var
  I: Integer;
begin
  Result := TQvJob.Create;
  Result.Product := '1001';
  for I := 1 to Numbers do
    Result.AddNumber(Format('138%.8d', [I]));
  Result.Content := '会议通知：明天九点';
end;

function Described(const R: TQvJobResult): string;
begin
  Result := Format('status %d at %d after %d, code %d "%s", outcome %d sent %s: %s', [Ord(R.Status), R.Step,
    R.Attempts, R.Code, R.Message, Ord(R.Outcome.Kind), BoolToStr(R.Outcome.Sent, True), R.Outcome.Detail]);
end;

function Sorted(List: TStringList): string;
var
  Copied: TStringList;
begin
  Copied := TStringList.Create;
  Copied.Assign(List);
  Copied.Sort;
  Result := Copied.CommaText;
  Copied.Free;
end;

{ Whole jobs through the library's sender: the calls each makes and the
  server's verdict, read back through the adapter. }
procedure WholeJobs(Port: Integer);
var
  S: TQvSession;
  Watch: TJobWatch;
  Mms, Scheduled, Forbidden, Witnessed: TQvJob;
  R: TQvJobResult;
  Bytes: TBytes;
  I: Integer;
  Year: Word;
begin
  S := LoggedIn(Port);
  Watch := TJobWatch.Create;
  Mms := SmsJob(171); { two lists: 170 numbers fill a field }
  Scheduled := SmsJob;
  Forbidden := SmsJob;
  Witnessed := SmsJob;
  try
    Mms.Product := '2001';
    Mms.FileName := 'notice.gif';
    SetLength(Bytes, 2000); { two base64 parts }
    for I := 0 to High(Bytes) do
      Bytes[I] := Byte(I * 7919 shr 3);
    Mms.SetFile(Bytes);
    Mms.Check := True;
    Mms.OnProgress := Watch.OnStep;
    R := S.SendJob(Mms);
    Check((R.Status = jobSubmitted) and (R.Attempts = 1) and (R.Step = 299) and (R.Recipients = 171)
      and (R.Charged = 171) and (StrToIntDef(R.JobNumber, 0) > 100000) and (R.Outcome.Kind = outcomeOk),
      'a checked multimedia job: ' + Described(R));
    Check((Watch.Steps[0] = '298') and (Watch.Steps[Watch.Steps.Count - 1] = '299')
      and (Sorted(Watch.Steps) = '201,2011,202,202,203,204,2041,211,212,212,298,299'),
      'its calls: ' + Watch.Steps.CommaText);

    Year := StrToInt(FormatDateTime('yyyy', Now)) + 1;
    Scheduled.Order1 := 'PQ001';
    Scheduled.Period := Format('%d-03-01~%d-03-10 09:00-10:00', [Year, Year]);
    R := S.SendJob(Scheduled);
    Check((R.Status = jobSubmitted) and (R.Step = 2990) and (R.Recipients = 2), 'a scheduled job: ' + Described(R));

    Forbidden.Content := '请开发票';
    Forbidden.Check := True;
    R := S.SendJob(Forbidden);
    Check((R.Status = jobRefused) and (R.Step = 2041) and (R.Code = 406)
      and (R.Message = '内容含有禁用关键字:发票'), 'a forbidden keyword, refused in GBK: ' + Described(R));

    { The evidence before the submit is taken and handed over; none after,
      since nothing was in doubt. }
    Witnessed.TakeEvidence := True;
    Witnessed.Resolver := Watch.Resolve;
    R := S.SendJob(Witnessed);
    Check((R.Status = jobSubmitted) and R.Evidence[QV_EVIDENCE_PACKAGES_BEFORE].Taken
      and R.Evidence[QV_EVIDENCE_DETAILS_BEFORE].Taken and not R.Evidence[QV_EVIDENCE_PACKAGES_AFTER].Taken
      and not R.Evidence[QV_EVIDENCE_DETAILS_AFTER].Taken, 'the evidence of a job: ' + Described(R));
  finally
    Witnessed.Free;
    Forbidden.Free;
    Scheduled.Free;
    Mms.Free;
    Watch.Free;
    S.Free;
  end;
end;

{ What a job cannot take is refused by its setter, what cannot be sent by
  SendJob, before any call: EQvError, nothing sent. }
procedure UnfitJobs(Port: Integer);
const
  Cases = 8;
var
  S: TQvSession;
  Watch: TJobWatch;
  Job: TQvJob;
  I: Integer;
  Raised: Boolean;
begin
  S := LoggedIn(Port);
  Watch := TJobWatch.Create;
  try
    for I := 0 to Cases - 1 do
    begin
      Job := TQvJob.Create;
      Job.OnProgress := Watch.OnStep;
      Raised := False;
      try
        case I of
          0: Job.AddNumber('13800000001');  { no product }
          1: Job.Product := '1001';         { no numbers }
          2: Job.Content := StringOfChar('X', 2047) + '中'; { 2047 characters, 2049 bytes }
          3: Job.Content := '会议'#0'通知';
          4: Job.Order1 := StringOfChar('9', QV_PARAM_MAX_TEXT + 1);
          5: Job.AddNumber(StringOfChar('1', QV_BODY_MAX_TEXT + 1));
          6: Job.AddNumber('13800000002,13800000003');
          7: Job.AddNumber('');
        end;
        S.SendJob(Job);
      except
        on E: EQvError do
          Raised := (E.Outcome = QV_OUTCOME_REFUSED) and not E.Sent;
      end;
      Check(Raised and (Watch.Steps.Count = 0), 'refused before any call: case ' + IntToStr(I));
      Job.Free;
    end;
    { A session method refuses such a text itself, naming its argument. }
    Raised := False;
    try
      S.SubmitContent('会议'#0'通知');
    except
      on E: EQvError do
        Raised := (E.Call = 'SubmitContent') and (E.Argument = 3) and (E.Outcome = QV_OUTCOME_REFUSED);
    end;
    Check(Raised and S.Heartbeat, 'a zero byte refused by SubmitContent, the session unharmed');
    { Check carries the server's refusal and its code. }
    Raised := False;
    try
      S.Check(S.CheckPrdId('1009'));
    except
      on E: EQvError do
        Raised := (E.Call = 'CheckPrdId') and (E.Code = 404) and (E.Outcome = QV_OUTCOME_OK);
    end;
    Check(Raised, 'Check raises on a refusal');
  finally
    Watch.Free;
    S.Free;
  end;
end;

type
  TLatin1 = type AnsiString(28591);

{ Text as a host holds it, out and back through the server, whatever the
  locale: ContentPreview answers with the content it got.  Every form that
  names its characters arrives as them; bytes that are not UTF-8 in a
  string, and characters GBK lacks, are refused, naming the text. }
procedure TextPolicy(Port: Integer);
const
  Cases = 10;
  Echoes: array[0..Cases - 1] of string = ('会议通知', '中文', '中文', '中文', 'aéb', '', '', '', '', '');
  Faults: array[0..Cases - 1] of string = ('', '', '', '', '', 'U+20AC', 'U+0080', 'U+1F600', 'not UTF-8 at byte 1',
    'not UTF-8 at byte 0');
var
  S: TQvSession;
  Job: TQvJob;
  Text: TQvText;
  Gbk: TQvGbkString;
  Latin1: TLatin1;
  Bytes: TBytes;
  R: TQvReply;
  I: Integer;
  SessionFault, JobFault: string;
begin
  Gbk := '';
  SetLength(Gbk, 4);
  Move(PAnsiChar(#$D6#$D0#$CE#$C4)^, Gbk[1], 4);
  Latin1 := '';
  SetLength(Latin1, 3);
  Move(PAnsiChar('a'#$E9'b')^, Latin1[1], 3);
  SetLength(Bytes, 4);
  Move(Gbk[1], Bytes[0], 4);
  S := LoggedIn(Port);
  Job := TQvJob.Create;
  try
    for I := 0 to Cases - 1 do
    begin
      case I of
        0: Text := '会议通知';
        1: Text := UTF8Decode('中文');
        2: Text := Gbk;
        3: Text := Bytes;
        4: Text := Latin1;
        5: Text := 'a€';
        6: Text := 'a'#$C2#$80;
        7: Text := '会'#$F0#$9F#$98#$80;
        8: Text := 'a'#$E9'b';
        9: Text := #$D6#$D0#$CE#$C4;
      end;
      SessionFault := '';
      JobFault := '';
      try
        R := S.ContentPreview('', Text);
        Check(R.Accepted and (Copy(R.Message, 1, Length(Echoes[I])) = Echoes[I]), 'text ' + IntToStr(I)
          + ' arrives as "' + Echoes[I] + '": ' + R.Message);
      except
        on E: EQvError do
          if (E.Call = 'ContentPreview') and (E.Argument = 5) and (E.Outcome = QV_OUTCOME_REFUSED) then
            SessionFault := E.Message
          else
            SessionFault := 'not as it should be: ' + E.Message;
      end;
      try
        Job.Content := Text;
      except
        on E: EQvError do
          JobFault := E.Message;
      end;
      if Faults[I] = '' then
        Check((SessionFault = '') and (JobFault = ''), 'text ' + IntToStr(I) + ' taken by the session and the job'
          + SessionFault + JobFault)
      else
        Check((Pos('ContentPreview: Content: ' + Faults[I], SessionFault) = 1)
          and (Pos('TQvJob: Content: ' + Faults[I], JobFault) = 1),
          'text ' + IntToStr(I) + ' refused, naming it: ' + SessionFault + ' / ' + JobFault);
    end;
  finally
    Job.Free;
    S.Free;
  end;
  { In: a byte that begins no GBK character, and a lead byte without its
    trail, read as U+FFFD. }
  Check(QvFromGbk(RawByteString(#$80)) = #$EF#$BF#$BD, '80 reads as U+FFFD');
  Check(QvFromGbk(RawByteString('a'#$D6)) = 'a'#$EF#$BF#$BD, 'a lead byte at the end reads as U+FFFD');
  Check(QvFromGbk(RawByteString(#$D6#$D0)) = '中', 'GBK reads in');
end;

{ Cancelling from another thread: Cancel, Free of the session, or the
  host's own progress method raising.  Each answer comes late, so that the
  cancel lands while a call waits. }
procedure Cancels(const SimulatorPath: string);
const
  CancelNames: array[0..1] of string = ('Cancel', 'Free of the session');
var
  Simulator: TOwnSimulator;
  S: TQvSession;
  Watch: TJobWatch;
  Canceller: TCanceller;
  Job: TQvJob;
  R: TQvJobResult;
  Raised: Boolean;
  Round: Integer;
begin
  Simulator := TOwnSimulator.Create;
  Simulator.Path := SimulatorPath;
  Simulator.Port := FreePort;
  Simulator.Delay := 150;
  Simulator.Start;
  Job := SmsJob;
  try
    for Round := 0 to 1 do
    begin
      S := LoggedIn(Simulator.Port);
      Watch := TJobWatch.Create;
      Watch.At := 202;
      Job.OnProgress := Watch.OnStep;
      Canceller := TCanceller.Create(True);
      Canceller.Watch := Watch;
      Canceller.Job := Job;
      if Round = 1 then
        Canceller.Session := S;
      Canceller.Start;
      Raised := False;
      try
        R := S.SendJob(Job);
      except
        Raised := True;
      end;
      Canceller.WaitFor;
      Canceller.Free;
      Check(not Raised and (R.Status = jobCancelled) and (Watch.Steps.IndexOf('299') < 0),
        CancelNames[Round] + ' from another thread: ' + Described(R));
      if Round = 0 then
      begin
        { The cancel ended that send only: the same job goes out next. }
        R := S.SendJob(Job);
        Check(R.Status = jobSubmitted, 'the cancelled job sent again: ' + Described(R));
        S.Free;
      end
      else
      begin
        { A closed session ends a send at once, with nothing sent. }
        S := TQvSession.Create;
        S.Close;
        R := S.SendJob(Job);
        Check((R.Status = jobCancelled) and (R.Attempts = 0), 'a send on a closed session: ' + Described(R));
        S.Free;
      end;
      Job.OnProgress := nil;
      Watch.Free;
    end;
    { The host's progress method raises: the send is cancelled and the
      exception comes back once it returned. }
    S := LoggedIn(Simulator.Port);
    Watch := TJobWatch.Create;
    Watch.At := 203;
    Watch.Outage := outRaise;
    Job.OnProgress := Watch.OnStep;
    Raised := False;
    try
      S.SendJob(Job);
    except
      on E: EConvertError do
        Raised := True;
    end;
    R := Job.LastResult;
    Check(Raised and (R.Status = jobCancelled), 'a progress method that raises: ' + Described(R));
    Job.OnProgress := nil;
    Watch.Free;
    S.Free;
  finally
    Job.Free;
    Simulator.Stop;
    Simulator.Free;
  end;
end;

type
  TRecovery = record
    At: Int32;
    Outage: TOutage;
    Status: TQvJobStatus;
    Step: Int32;
  end;

const
  OutageNames: array[TOutage] of string = ('no outage', 'simulator restarted', 'simulator stopped', 'host raised');
  { The simulator goes away just before a call of the first attempt. }
  Recoveries: array[0..2] of TRecovery = (
    { It comes back at once: the call fails, the relogin logs in, the job
      starts again from its clear. }
    (At: 202; Outage: outRestart; Status: jobSubmitted; Step: 299),
    (At: 299; Outage: outRestart; Status: jobSubmitted; Step: 299),
    { It stays away: the relogin cannot log in, nothing is tried again. }
    (At: 204; Outage: outStop; Status: jobFailed; Step: 204));

procedure Recovery(const SimulatorPath: string; const Case_: TRecovery);
var
  Simulator: TOwnSimulator;
  S: TQvSession;
  Watch: TJobWatch;
  Job: TQvJob;
  R: TQvJobResult;
  Failed: Integer;
begin
  Simulator := TOwnSimulator.Create;
  Simulator.Path := SimulatorPath;
  Simulator.Port := FreePort;
  Simulator.Start;
  S := LoggedIn(Simulator.Port);
  Watch := TJobWatch.Create;
  Job := SmsJob;
  try
    Watch.Simulator := Simulator;
    Watch.At := Case_.At;
    Watch.Outage := Case_.Outage;
    Job.OnProgress := Watch.OnStep;
    R := S.SendJob(Job);
    Check((R.Status = Case_.Status) and (R.Step = Case_.Step),
      OutageNames[Case_.Outage] + ' at ' + IntToStr(Case_.At) + ': ' + Described(R));
    { The failed call is never made again by itself. }
    Failed := Watch.Steps.IndexOf(IntToStr(Case_.At));
    Check((Failed = Watch.Steps.Count - 1) or (Watch.Steps[Failed + 1] = '298'),
      'after the failed call: ' + Watch.Steps.CommaText);
    Job.OnProgress := nil;
    if Case_.Outage = outStop then
    begin
      Simulator.Start;
      R := S.SendJob(Job);
      Check(R.Status = jobSubmitted, 'the same job once the simulator is back: ' + Described(R));
    end;
    { A server restart between two jobs: the next one, with the default
      attempts, is submitted. }
    Simulator.Stop;
    Simulator.Start;
    R := S.SendJob(Job);
    Check(R.Status = jobSubmitted, 'a job after a server restart: ' + Described(R));
  finally
    Job.Free;
    Watch.Free;
    S.Free;
    if Simulator.Running <> nil then
      Simulator.Stop;
    Simulator.Free;
  end;
end;

{ Operations: a TQvAsyncSession's events, run here by CheckSynchronize }

type
  { Every completion as the main thread sees it, its operation's Tag in
    Order, and how many ran on another thread. }
  TRecorder = class
  public
    Order: array of NativeInt;
    Replies: array of TQvReply;
    Jobs: array of TQvJobResult;
    OffMain: Integer;
    procedure OnReply(const Op: IQvOperation; const Reply: TQvReply);
    procedure OnResult(const Op: IQvOperation; Ok: Boolean);
    procedure OnJob(const Op: IQvOperation; const Result: TQvJobResult);
    function Count: Integer;
    { Runs the queued events until N have completed (False after 20 s). }
    function Await(N: Integer): Boolean;
  end;

procedure TRecorder.OnReply(const Op: IQvOperation; const Reply: TQvReply);
begin
  if GetCurrentThreadId <> MainThreadID then
    Inc(OffMain);
  Insert(Op.Tag, Order, Length(Order));
  Insert(Reply, Replies, Length(Replies));
end;

procedure TRecorder.OnResult(const Op: IQvOperation; Ok: Boolean);
begin
  OnReply(Op, Op.Reply);
  Replies[High(Replies)].Ok := Ok and Op.Reply.Ok;
end;

procedure TRecorder.OnJob(const Op: IQvOperation; const Result: TQvJobResult);
begin
  Insert(Result, Jobs, Length(Jobs));
  OnReply(Op, Op.Reply);
end;

function TRecorder.Count: Integer;
begin
  Result := Length(Order);
end;

function TRecorder.Await(N: Integer): Boolean;
var
  Deadline: QWord;
begin
  Deadline := GetTickCount64 + 20000;
  while (Count < N) and (GetTickCount64 < Deadline) do
    CheckSynchronize(100);
  Result := Count >= N;
end;

function SameReply(const A, B: TQvReply): Boolean;
var
  I: Integer;
begin
  Result := (A.Ok = B.Ok) and (A.Code = B.Code) and (A.Message = B.Message) and (Length(A.Params) = Length(B.Params))
    and (Length(A.Numbers) = Length(B.Numbers)) and (A.Outcome.Kind = B.Outcome.Kind)
    and (A.Outcome.Argument = B.Outcome.Argument) and (A.Outcome.Sent = B.Outcome.Sent);
  for I := 0 to High(A.Params) do
    Result := Result and (A.Params[I] = B.Params[I]);
  for I := 0 to High(A.Numbers) do
    Result := Result and (A.Numbers[I] = B.Numbers[I]);
end;

{ A seeded run of operations, started all at once behind their connect and
  login, each completing on the main thread, in the order started, with the
  reply its sync method gives on a session of the same account. }
procedure SameAsSync(Port: Integer);
const
  Runs = 30;
var
  A: TQvAsyncSession;
  S: TQvSession;
  Rec: TRecorder;
  Kinds: array[0..Runs - 1] of Integer;
  Op: IQvOperation;
  Seed: Cardinal;
  I, Wrong: Integer;
  Expected, Req: TQvReply;
  Fx: TQvReply;
  Raised: Boolean;
begin
  A := TQvAsyncSession.Create;
  S := LoggedIn(Port);
  Rec := TRecorder.Create;
  try
    A.StartTcpConnect('127.0.0.1', Port, 5000, '', '', 0, '', '', Rec.OnReply).Tag := -2;
    A.StartLogin('pascal', '', 'demo', 'demo123', '1.0', Rec.OnReply).Tag := -1;
    Seed := 7;
    for I := 0 to Runs - 1 do
    begin
      Seed := Seed * 1103515245 + 12345;
      Kinds[I] := (Seed shr 16) mod 5;
      case Kinds[I] of
        0: Op := A.StartGetUdInfo(Rec.OnReply);
        1: Op := A.StartPQGetAbilityURL(Rec.OnReply);
        2: Op := A.StartHeartbeat(Rec.OnResult);
        3: Op := A.StartCheckPrdId('1009', Rec.OnReply);
      else
        Op := A.StartSubmitContent(StringOfChar('X', QV_BODY_MAX_TEXT + 1), Rec.OnReply);
      end;
      Op.Tag := I;
    end;
    Op := A.StartfxLogin('pascal', '', 'demo', 'demo123', '1.0', Rec.OnReply);
    Op.Tag := Runs;
    Check(Rec.Count = 0, 'no event runs inside a start');
    { A text that cannot travel is refused by the start itself. }
    Raised := False;
    try
      A.StartSubmitContent('会议'#0'通知', Rec.OnReply);
    except
      on E: EQuorvexError do
        Raised := (E.Call = 'SubmitContent') and (E.Argument = 3);
    end;
    Check(Raised, 'a start refuses a zero byte, naming its argument');
    Rec.Await(Runs + 3);
    Check((Rec.Count = Runs + 3) and (Rec.OffMain = 0), 'every event on the main thread: '
      + IntToStr(Rec.Count) + ' of ' + IntToStr(Runs + 3));
    if Rec.Count < Runs + 3 then
      Exit;
    Wrong := 0;
    for I := 0 to Runs + 2 do
      if Rec.Order[I] <> I - 2 then
        Inc(Wrong);
    Check(Wrong = 0, 'completed in the order started');
    Check(Rec.Replies[0].Ok and (Rec.Replies[0].Message = 'TCP连接成功'), 'StartTcpConnect: ' + Rec.Replies[0].Message);
    Check(Rec.Replies[1].Accepted and (Rec.Replies[1].Param1 = '10001') and (Rec.Replies[1].Call = 'Login'),
      'StartLogin: Login_Feedback''s reply, Param1 ' + Rec.Replies[1].Param1);
    Wrong := 0;
    for I := 0 to Runs - 1 do
    begin
      case Kinds[I] of
        0: Expected := S.GetUdInfo;
        1: Expected := S.PQGetAbilityURL;
        2:
          begin
            Expected := Default(TQvReply);
            Expected.Code := -1;
            Expected.Ok := S.Heartbeat;
          end;
        3: Expected := S.CheckPrdId('1009');
      else
        Expected := S.SubmitContent(StringOfChar('X', QV_BODY_MAX_TEXT + 1));
      end;
      if not SameReply(Rec.Replies[I + 2], Expected) then
      begin
        WriteLn('     operation ', I, ' (kind ', Kinds[I], '): "', Rec.Replies[I + 2].Message, '" code ',
          Rec.Replies[I + 2].Code, ', sync "', Expected.Message, '" code ', Expected.Code);
        Inc(Wrong);
      end;
    end;
    Check(Wrong = 0, 'each operation''s reply is its sync method''s (' + IntToStr(Wrong) + ' not)');
    { The XML pair: both halves' outputs in one reply, by name. }
    Req := S.fxLogin_Req('pascal', '', 'demo', 'demo123', '1.0');
    Expected := S.fxLogin_Resp(Req.ReplyCode, Req.ReplyLength);
    Fx := Rec.Replies[Runs + 2];
    Check(Fx.Ok and (Fx.Code = Req.Code) and (Fx.ReplyCode = Req.ReplyCode) and (Fx.ReplyLength = Req.ReplyLength)
      and (Fx.Message = Expected.Message) and (Fx.Pud = Expected.Pud) and (Fx.Agent = Expected.Agent)
      and (Fx.Agreement = Expected.Agreement) and (Length(Fx.Numbers) = 3) and (Fx.Numbers[0] = Fx.ReplyLength),
      'StartfxLogin: fxLogin_Req and fxLogin_Resp in one reply, Pud "' + Fx.Pud + '"');
  finally
    Rec.Free;
    S.Free;
    A.Free;
  end;
end;

{ Against a slow server: a cancel of what has not started, of what runs, a
  Close and a Free with operations in flight, and a send job. }
procedure OperationCancels(const SimulatorPath: string);
var
  Simulator: TOwnSimulator;
  A, B: TQvAsyncSession;
  Rec, Dropped: TRecorder;
  Ops: array[0..2] of IQvOperation;
  Op: IQvOperation;
  R: TQvReply;
  I: Integer;
  Honest, Raised: Boolean;
  Job: TQvJob;
  J: TQvJobResult;
begin
  Simulator := TOwnSimulator.Create;
  Simulator.Path := SimulatorPath;
  Simulator.Port := FreePort;
  Simulator.Delay := 200;
  Simulator.Start;
  Rec := TRecorder.Create;
  Dropped := TRecorder.Create;
  A := TQvAsyncSession.Create;
  try
    A.Connect('127.0.0.1', Simulator.Port).Check;
    A.Login('demo', 'demo123').Check;
    Ops[0] := A.StartHeartbeat(Rec.OnResult);
    Ops[1] := A.StartGetUdInfo(Rec.OnReply);
    Ops[2] := A.StartNumRule(Rec.OnReply);
    for I := 0 to 2 do
      Ops[I].Tag := I;
    Check(Ops[2].Cancel and not Ops[2].Completed, 'a cancel of an operation not yet started');
    Check(Rec.Await(3), 'three completions');
    R := Rec.Replies[2];
    Check(Rec.Replies[0].Ok and Rec.Replies[1].Accepted and not R.Ok and (R.Outcome.Kind = outcomeCancelled)
      and not R.Outcome.Sent and (Rec.Order[2] = 2), 'the cancelled one completes in its turn, nothing sent');
    Check(not Ops[0].Cancel and not Ops[2].Cancel and Ops[2].Completed, 'a cancel after completion is refused');
    { A cancel of a call in flight: cancelled with nothing sent, or "maybe"
      with the request out and the connection closed; then the next
      operation, as any first call after a drop, fails with nothing sent
      and logs in again (the job below is served). }
    Op := A.StartGetUdInfo(Rec.OnReply);
    Op.Cancel;
    A.StartGetUdInfo(Rec.OnReply);
    Check(Rec.Await(5), 'a cancel in flight completes');
    R := Rec.Replies[3];
    Honest := not R.Ok and (((R.Outcome.Kind = outcomeCancelled) and not R.Outcome.Sent)
      or ((R.Outcome.Kind = outcomeMaybeApplied) and R.Outcome.Sent));
    Check(Honest and (Rec.Replies[4].Accepted or ((R.Outcome.Kind = outcomeMaybeApplied)
      and not Rec.Replies[4].Ok and not Rec.Replies[4].Outcome.Sent)), 'a cancel in flight is honest (outcome '
      + IntToStr(Ord(R.Outcome.Kind)) + '), the next operation served or logging in again');
    { A send job as an operation: the job refuses changes until it completes. }
    Job := SmsJob;
    Op := A.StartSendJob(Job, Rec.OnJob);
    Raised := False;
    try
      Job.Content := 'changed';
    except
      on EQuorvexError do
        Raised := True;
    end;
    Check(Rec.Await(6) and Raised, 'a job being sent refuses changes');
    J := Rec.Jobs[0];
    Check((J.Status = jobSubmitted) and (J.JobNumber <> '') and (J.Recipients = 2), 'StartSendJob: ' + Described(J));
    Job.Free;
    { Close with operations queued: each completes, its event runs. }
    for I := 0 to 2 do
      A.StartHeartbeat(Rec.OnResult);
    A.Close;
    Check(Rec.Await(9), 'Close: every operation still completes');
    Honest := True;
    for I := 6 to 8 do
      Honest := Honest and not Rec.Replies[I].Ok and (Rec.Replies[I].Outcome.Kind in [outcomeCancelled,
        outcomeMaybeApplied]);
    Raised := False;
    try
      A.StartHeartbeat(Rec.OnResult);
    except
      on EQvSessionClosed do
        Raised := True;
    end;
    Check(Honest and Raised, 'Close cancels what it finds; a start after Close raises');
    { Free drops the events of what was not delivered; a slow operation of
      another session, started after, completes after them. }
    B := TQvAsyncSession.Create;
    B.Connect('127.0.0.1', Simulator.Port).Check;
    B.Login('demo', 'demo123').Check;
    B.StartGetUdInfo(Dropped.OnReply);
    B.StartHeartbeat(Dropped.OnResult);
    B.Free;
    B := TQvAsyncSession.Create;
    B.Connect('127.0.0.1', Simulator.Port).Check;
    B.StartHeartbeat(Rec.OnResult);
    Check(Rec.Await(10) and (Dropped.Count = 0), 'no event after Free');
    B.Free;
  finally
    A.Free;
    Dropped.Free;
    Rec.Free;
    Simulator.Stop;
    Simulator.Free;
  end;
end;

procedure Jobs(Port, DropPort: Integer; const SimulatorPath: string);
var
  S: TQvSession;
  Job: TQvJob;
  R: TQvJobResult;
  I: Integer;
begin
  TextPolicy(Port);
  WholeJobs(Port);
  UnfitJobs(Port);
  { Every connection drops after the login and one answer: each attempt's
    SubmitPrdId fails, until the attempts run out. }
  S := LoggedIn(DropPort);
  Job := SmsJob;
  R := S.SendJob(Job, 3);
  Check((R.Status = jobFailed) and (R.Step = 201) and (R.Outcome.Kind <> outcomeOk),
    'a connection that keeps dropping: ' + Described(R));
  Job.Free;
  S.Free;
  Cancels(SimulatorPath);
  for I := Low(Recoveries) to High(Recoveries) do
    Recovery(SimulatorPath, Recoveries[I]);
end;

begin
  if ParamCount <> 3 then
  begin
    WriteLn('usage: scenario PORT DROP_PORT SIMULATOR');
    Halt(2);
  end;
  Check((SizeOf(Boolean) = 1) and (SizeOf(Int32) = 4), 'Boolean is one byte, Int32 four');
  Check(dllInitialize, 'dllInitialize');
  ConnectAndLogin(StrToInt(ParamStr(1)));

  Check(Accepted(GetUdInfo(@Code, @Msg[0], @P1[0], @P2[0], @P3[0])), 'GetUdInfo');
  Check(Pos('企业:演示企业', QvFromGbk(@Msg[0])) > 0, 'GetUdInfo text in GBK');
  DefaultView(StrToInt(ParamStr(1)));
  SendJob;

  Check(QvCheckTels('13912345678', QvToGbk('139,移动;130,联通')) = 1, 'CheckTels mobile');
  Check(QvCheckTels('13012345678', QvToGbk('139,移动;130,联通')) = 2, 'CheckTels unicom');
  Check(QvCheckTels('01012345678', '') = 3, 'CheckTels fixed line');

  Check(TcpDisconnect, 'TcpDisconnect');
  ConnectAndLogin(StrToInt(ParamStr(2)));
  Outcomes;

  TcpDisconnect;
  dllUnInitialize;
  Sessions(StrToInt(ParamStr(1)));
  CloseWhileWaiting;
  Jobs(StrToInt(ParamStr(1)), StrToInt(ParamStr(2)), ParamStr(3));
  SameAsSync(StrToInt(ParamStr(1)));
  OperationCancels(ParamStr(3));
  if Failures > 0 then
  begin
    WriteLn(Failures, ' checks failed');
    Halt(1);
  end;
  WriteLn('all checks passed');
end.
