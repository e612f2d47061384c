{ The async session in a Lazarus window (the LCL on GTK 2):
    lclhost PORT DELAY
  PORT's simulator answers each request DELAY ms late.  A timer ticks every
  10 ms while a connect, a login and a query run as operations: each event
  must run on the main thread and the timer must keep ticking, never
  stalled for anything near DELAY.  Then a timer's handler cancels a call
  in flight, a send job is submitted, and the program ends.  The exit
  code says how it went. }
program lclhost;

{$MODE DELPHI}{$H+}

uses
  {$IFDEF UNIX}cthreads,{$ENDIF}
  Interfaces, Forms, ExtCtrls, Classes, SysUtils, Quorvex;

type
  THost = class(TForm)
  private
    Session: TQvAsyncSession;
    Ticker, Watchdog: TTimer;
    Delay, Ticks, Failures: Integer;
    LastTick, WorstGap: QWord;
    ToCancel: IQvOperation;
    Job: TQvJob;
    procedure Check(Ok: Boolean; const What: string);
    procedure OnMain(const What: string);
    procedure Tick(Sender: TObject);
    procedure TimedOut(Sender: TObject);
    procedure Connected(const Op: IQvOperation; const Reply: TQvReply);
    procedure Queried(const Op: IQvOperation; const Reply: TQvReply);
    procedure Beat(const Op: IQvOperation; Ok: Boolean);
    procedure Sent(const Op: IQvOperation; const Result: TQvJobResult);
  public
    constructor CreateFor(Port, ADelay: Integer);
    destructor Destroy; override;
  end;

procedure THost.Check(Ok: Boolean; const What: string);
begin
  if Ok then
    WriteLn('ok   ', What)
  else
  begin
    WriteLn('FAIL ', What);
    Inc(Failures);
  end;
end;

procedure THost.OnMain(const What: string);
begin
  Check(GetCurrentThreadId = MainThreadID, What + ' on the main thread');
end;

constructor THost.CreateFor(Port, ADelay: Integer);
begin
  inherited CreateNew(nil);
  Caption := 'Quorvex';
  Delay := ADelay;
  Ticker := TTimer.Create(Self);
  Ticker.Interval := 10;
  Ticker.OnTimer := Tick;
  Watchdog := TTimer.Create(Self);
  Watchdog.Interval := 30000;
  Watchdog.OnTimer := TimedOut;
  Session := TQvAsyncSession.Create;
  Job := TQvJob.Create;
  Job.Product := '1001';
  Job.AddNumbers(['13800000001', '13800000002']);
  Job.Content := '会议通知：明天九点';
  { All at once: the session runs them in this order. }
  Session.StartTcpConnect('127.0.0.1', Port, 5000, '', '', 0, '', '', Connected);
  Session.StartLogin('lcl', '', 'demo', 'demo123', '1.0', Connected);
  Session.StartGetUdInfo(Queried);
end;

destructor THost.Destroy;
begin
  Session.Free;
  Job.Free;
  inherited Destroy;
end;

procedure THost.Tick(Sender: TObject);
var
  Now_: QWord;
begin
  Now_ := GetTickCount64;
  if (LastTick <> 0) and (Now_ - LastTick > WorstGap) then
    WorstGap := Now_ - LastTick;
  LastTick := Now_;
  Inc(Ticks);
  if ToCancel <> nil then
  begin
    Check(ToCancel.Cancel, 'a cancel from a timer''s handler');
    ToCancel := nil;
  end;
end;

procedure THost.TimedOut(Sender: TObject);
begin
  Watchdog.Enabled := False;
  Check(False, 'done within 30 s');
  Application.Terminate;
end;

procedure THost.Connected(const Op: IQvOperation; const Reply: TQvReply);
begin
  OnMain(Op.Call);
  Check(Reply.Ok and ((Op.Call = 'TcpConnect') or Reply.Accepted), Op.Call + ': ' + Reply.Message);
end;

procedure THost.Queried(const Op: IQvOperation; const Reply: TQvReply);
begin
  OnMain('GetUdInfo');
  Check(Reply.Accepted and (Reply.Param1 <> ''), 'GetUdInfo: ' + Reply.Message);
  { Three exchanges of DELAY ms each ran while the timer ticked. }
  Check(Ticks >= 2 * Delay div 10 div 4, Format('%d ticks during the calls', [Ticks]));
  Check(WorstGap < Delay div 2, Format('the timer never stalled: worst gap %d ms', [WorstGap]));
  ToCancel := Session.StartHeartbeat(Beat);
end;

procedure THost.Beat(const Op: IQvOperation; Ok: Boolean);
var
  O: TQvOutcome;
begin
  OnMain('Heartbeat');
  O := Op.Reply.Outcome;
  Check(not Ok and (((O.Kind = outcomeCancelled) and not O.Sent) or ((O.Kind = outcomeMaybeApplied) and O.Sent)),
    Format('the cancelled heartbeat: outcome %d, sent %s', [Ord(O.Kind), BoolToStr(O.Sent, True)]));
  Session.StartSendJob(Job, Sent);
end;

procedure THost.Sent(const Op: IQvOperation; const Result: TQvJobResult);
begin
  OnMain('SendJob');
  Check((Result.Status = jobSubmitted) and (Result.JobNumber <> ''), 'the job submitted: ' + Result.JobNumber);
  Check(WorstGap < Delay div 2, Format('worst gap of the timer: %d ms', [WorstGap]));
  Application.Terminate;
end;

var
  Host: THost;

begin
  Application.Initialize;
  Host := THost.CreateFor(StrToInt(ParamStr(1)), StrToInt(ParamStr(2)));
  Host.Show;
  Application.Run;
  if Host.Failures > 0 then
  begin
    WriteLn(Host.Failures, ' checks failed');
    ExitCode := 1;
  end
  else
    WriteLn('lcl host: ok');
  Host.Free;
end.
