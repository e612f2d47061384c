{ A host's session through the unit, against the simulator:
    scenario PORT DROP_PORT
  PORT serves normally (accounts demo and demo2); DROP_PORT closes each
  connection after two answers. }
program scenario;

{$IFDEF FPC}{$MODE DELPHI}{$H+}{$ENDIF}

uses
  {$IFDEF FPC}{$IFDEF UNIX}cthreads,{$ENDIF}{$ENDIF}
  Classes, SysUtils, Sockets, Quorvex;

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

begin
  if ParamCount <> 2 then
  begin
    WriteLn('usage: scenario PORT DROP_PORT');
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
  if Failures > 0 then
  begin
    WriteLn(Failures, ' checks failed');
    Halt(1);
  end;
  WriteLn('all checks passed');
end.
