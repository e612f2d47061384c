{ A host's session through the unit, against the simulator:
    scenario PORT DROP_PORT
  PORT serves normally; DROP_PORT closes each connection after two answers. }
program scenario;

{$IFDEF FPC}{$MODE DELPHI}{$H+}{$ENDIF}

uses
  SysUtils, Quorvex;

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
  if Failures > 0 then
  begin
    WriteLn(Failures, ' checks failed');
    Halt(1);
  end;
  WriteLn('all checks passed');
end.
