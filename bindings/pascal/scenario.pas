{ A host's session through the unit, against the simulator:
    scenario PORT DROP_PORT SIMULATOR
  PORT serves normally (accounts demo and demo2); DROP_PORT closes each
  connection after two answers; SIMULATOR is the simulator's program, which
  the send-job checks start and stop themselves. }
program scenario;

{$IFDEF FPC}{$MODE DELPHI}{$H+}{$ENDIF}

uses
  {$IFDEF FPC}{$IFDEF UNIX}cthreads,{$ENDIF}{$ENDIF}
  Classes, SysUtils, Sockets, Process, Quorvex;

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
      Mine := not R.Ok and (O.Kind = QV_OUTCOME_REFUSED) and (O.Argument = 3);
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
        Mine := Session.Heartbeat and (Session.GetLastOutcome.Kind = QV_OUTCOME_OK);
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
  I, Before: Integer;
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
  Check((Before = QV_OUTCOME_OK) and (First.GetLastOutcome.Kind = QV_OUTCOME_OK)
    and (Second.GetLastOutcome.Kind = QV_OUTCOME_REFUSED), 'last outcome per session and per thread');
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

  TOutage = (outNone, outRestart, outStop, outTimeOut);

  { Records the steps of a job, and at step At of the first attempt stops
    the simulator, then (outRestart) starts a new one at once; or
    (outTimeOut) gives the call less time than the simulator's delay. }
  TJobWatch = class
  public
    Steps: TStringList;
    Simulator: TOwnSimulator;
    Session: TQvSession;
    At: string;
    Outage: TOutage;
    constructor Create;
    destructor Destroy; override;
    procedure OnStep(Attempt: Integer; const Step: string);
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
end;

destructor TJobWatch.Destroy;
begin
  Steps.Free;
  inherited Destroy;
end;

procedure TJobWatch.OnStep(Attempt: Integer; const Step: string);
begin
  Steps.Add(Step);
  if (Attempt = 1) and (Step = At) and (Outage = outTimeOut) then
    Session.SetReadTimeout(Simulator.Delay div 5)
  else if (Attempt = 1) and (Step = At) and (Outage <> outNone) then
  begin
    Simulator.Stop;
    if Outage = outRestart then
      Simulator.Start;
  end;
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
  Result.Check(Result.TcpConnect('127.0.0.1', Port, 5000, '', '', 0, '', ''));
  Result.Check(Result.Login_Request('pascal', '', 'demo', 'demo123', '1.0'), 'Login_Request');
  Result.Check(Result.Login_Feedback);
end;

function Numbers(Count: Integer): TQvTexts;
var
  I: Integer;
begin
  Result := nil;
  SetLength(Result, Count);
  for I := 0 to Count - 1 do
    Result[I] := Format('138%.8d', [I + 1]);
end;

function SmsJob: TQvJob;
begin
  Result := Default(TQvJob);
  Result.Product := '1001';
  Result.Numbers := Numbers(2);
  Result.Content := '会议通知：明天九点';
end;

function Described(const R: TQvJobResult): string;
begin
  Result := Format('status %d at %s after %d, code %d "%s", outcome %d sent %s: %s', [Ord(R.Status), R.Step,
    R.Attempts, R.Code, R.Message, R.Outcome.Kind, BoolToStr(R.Outcome.Sent, True), R.Outcome.Detail]);
end;

{ Whole jobs: the steps each sends, in order, and the server's verdict. }
procedure WholeJobs(Port: Integer);
var
  S: TQvSession;
  Watch: TJobWatch;
  Mms, Scheduled, Forbidden: TQvJob;
  R: TQvJobResult;
  I: Integer;
  Year: Word;
begin
  Mms := SmsJob;
  Mms.Product := '2001';
  Mms.Numbers := Numbers(171); { two lists: 170 numbers fill a field }
  Mms.FileName := 'notice.gif';
  SetLength(Mms.FileContent, 2000); { two base64 parts, one '=' of padding }
  for I := 0 to High(Mms.FileContent) do
    Mms.FileContent[I] := Byte(I * 7919 shr 3);
  Mms.Check := True;
  Scheduled := SmsJob;
  Scheduled.Orders := TQvTexts.Create('PQ001');
  Year := StrToInt(FormatDateTime('yyyy', Now)) + 1;
  Scheduled.Period := Format('%d-03-01~%d-03-10 09:00-10:00', [Year, Year]);
  Forbidden := SmsJob;
  Forbidden.Content := '请开发票';
  Forbidden.Check := True;

  S := LoggedIn(Port);
  Watch := TJobWatch.Create;
  try
    R := S.SendJob(Mms, 2, Watch.OnStep);
    Check((R.Status = jobSubmitted) and (R.Attempts = 1) and (R.Recipients = 171) and (R.Charged = 171)
      and (StrToIntDef(R.JobNumber, 0) > 100000), 'a checked multimedia job: ' + Described(R));
    Check(Watch.Steps.CommaText = 'SubmitAllClear,SubmitPrdId,CheckPrdId,SubmitTelList,SubmitTelList,SubmitTelNum,'
      + 'SubmitContent,CheckContent,SubmitTransFilename,SubmitTransFile,SubmitTransFile,SubmitAllOver_2',
      'its steps: ' + Watch.Steps.CommaText);
    Watch.Steps.Clear;
    R := S.SendJob(Scheduled, 2, Watch.OnStep);
    Check((R.Status = jobSubmitted) and (R.Step = 'SubmitAllOverEx_2') and (R.Recipients = 2),
      'a scheduled job: ' + Described(R));
    Check(Watch.Steps.CommaText = 'SubmitAllClear,SubmitPrdId,SubmitTelList,SubmitTelNum,SubmitContent,'
      + 'SubmitPQOrderSelect,SubmitBgnDateEx,SubmitAllOverEx_2', 'its steps: ' + Watch.Steps.CommaText);
    R := S.SendJob(Forbidden);
    Check((R.Status = jobRefused) and (R.Step = 'CheckContent') and (R.Code = 406)
      and (R.Message = '内容含有禁用关键字:发票'), 'a forbidden keyword, refused in GBK: ' + Described(R));
  finally
    Watch.Free;
    S.Free;
  end;
end;

{ What does not fit is refused before any call: no step is sent. }
procedure UnfitJobs(Port: Integer);
const
  Cases = 9;
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
      Job := SmsJob;
      case I of
        0: Job.Product := '';
        1: Job.Numbers := nil;
        2: Job.Orders := TQvTexts.Create('PQ001', 'PQ002', 'PQ003', 'PQ004');
        3: Job.Content := StringOfChar('X', 2047) + '中'; { 2047 characters, 2049 bytes }
        4: Job.Content := '会议'#0'通知';
        5: Job.Content := '会议 ' + string(UTF8Encode(UnicodeString(#$D83D#$DE00)));
        6: Job.Orders := TQvTexts.Create(StringOfChar('9', QV_PARAM_MAX_TEXT + 1));
        7: Job.Numbers[1] := StringOfChar('1', QV_BODY_MAX_TEXT + 1);
        8: Job.Numbers[1] := '13800000002,13800000003';
      end;
      Raised := False;
      try
        S.SendJob(Job, 2, Watch.OnStep);
      except
        on E: EQvError do
          Raised := (E.Outcome = QV_OUTCOME_REFUSED) and not E.Sent;
      end;
      Check(Raised and (Watch.Steps.Count = 0), 'an unfit job refused before any call: case ' + IntToStr(I));
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
      S.Check(S.SubmitPrdId('1009'));
    except
      on E: EQvError do
        Raised := (E.Call = 'SubmitPrdId') and (E.Code = 404) and (E.Outcome = QV_OUTCOME_OK);
    end;
    Check(Raised, 'Check raises on a refusal');
  finally
    Watch.Free;
    S.Free;
  end;
end;

type
  TRecovery = record
    At: string;
    Outage: TOutage;
    Status: TQvJobStatus;
    Step: string;
    Attempts: Integer;
  end;

const
  OutageNames: array[TOutage] of string = ('no outage', 'simulator restarted', 'simulator stopped',
    'answer too late');
  { The simulator goes away just before a step of the first attempt. }
  Recoveries: array[0..3] of TRecovery = (
    { It comes back at once: the step fails, the relogin logs in, the job
      starts again from its clear. }
    (At: 'SubmitTelList'; Outage: outRestart; Status: jobSubmitted; Step: 'SubmitAllOver_2'; Attempts: 2),
    { The same at the submit: the library finds the connection closed
      before it writes, so the submit cannot have arrived. }
    (At: 'SubmitAllOver_2'; Outage: outRestart; Status: jobSubmitted; Step: 'SubmitAllOver_2'; Attempts: 2),
    { The submit's request went out and its answer did not come in time: it
      may have been submitted, so it is never sent again. }
    (At: 'SubmitAllOver_2'; Outage: outTimeOut; Status: jobMaybeSubmitted; Step: 'SubmitAllOver_2'; Attempts: 1),
    { It stays away: the relogin cannot log in, nothing is tried again. }
    (At: 'SubmitContent'; Outage: outStop; Status: jobFailed; Step: 'SubmitContent'; Attempts: 1));

procedure Recovery(const SimulatorPath: string; const Case_: TRecovery);
var
  Simulator: TOwnSimulator;
  S: TQvSession;
  Watch: TJobWatch;
  R: TQvJobResult;
  Failed: Integer;
begin
  Simulator := TOwnSimulator.Create;
  Simulator.Path := SimulatorPath;
  Simulator.Port := FreePort;
  if Case_.Outage = outTimeOut then
    Simulator.Delay := 250;
  Simulator.Start;
  S := LoggedIn(Simulator.Port);
  Watch := TJobWatch.Create;
  try
    Watch.Simulator := Simulator;
    Watch.Session := S;
    Watch.At := Case_.At;
    Watch.Outage := Case_.Outage;
    R := S.SendJob(SmsJob, 2, Watch.OnStep);
    Check((R.Status = Case_.Status) and (R.Step = Case_.Step) and (R.Attempts = Case_.Attempts),
      OutageNames[Case_.Outage] + ' at ' + Case_.At + ': ' + Described(R));
    { The failed step is never sent again by itself. }
    Failed := Watch.Steps.IndexOf(Case_.At);
    Check((Failed = Watch.Steps.Count - 1) or (Watch.Steps[Failed + 1] = 'SubmitAllClear'),
      'after the failed step: ' + Watch.Steps.CommaText);
    if R.Status = jobMaybeSubmitted then
      Check(Pos('(13800000001)', R.LookUp) > 0, 'what to look up: ' + R.LookUp);
    if Case_.Outage = outStop then
    begin
      Simulator.Start;
      R := S.SendJob(SmsJob);
      Check(R.Status = jobSubmitted, 'the same job once the simulator is back: ' + Described(R));
    end;
  finally
    Watch.Free;
    S.Free;
    if Simulator.Running <> nil then
      Simulator.Stop;
    Simulator.Free;
  end;
end;

procedure Jobs(Port, DropPort: Integer; const SimulatorPath: string);
var
  S: TQvSession;
  R: TQvJobResult;
  I: Integer;
begin
  WholeJobs(Port);
  UnfitJobs(Port);
  { Every connection drops after the login and one answer: each attempt's
    SubmitPrdId fails and its relogin logs in, until the attempts run out. }
  S := LoggedIn(DropPort);
  R := S.SendJob(SmsJob, 3);
  Check((R.Status = jobFailed) and (R.Step = 'SubmitPrdId') and (R.Attempts = 3)
    and (R.Outcome.Kind <> QV_OUTCOME_OK), 'a connection that keeps dropping: ' + Described(R));
  S.Free;
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
  if Failures > 0 then
  begin
    WriteLn(Failures, ' checks failed');
    Halt(1);
  end;
  WriteLn('all checks passed');
end.
