{ The async session in a Lazarus window (the LCL on GTK 2):
    lclhost PORT SESSIONS JOBS
  PORT's simulator has an account for each session (demo, demo2, ...) and
  answers each request late.  A timer ticks every 10 ms while every session
  connects, logs in and sends JOBS jobs, all started at once as operations.
  The first session has one job more, in the middle of its others, which a
  button's handler cancels once it is past its first call: it ends
  cancelled, or maybe submitted when its submit was out, and the jobs after
  it are still sent.  Every event must run on the main thread, each
  session's jobs complete in the order started, every other job be
  submitted under a job number of its own, and no tick come 50 ms late or
  more.  The exit code says how it went. }
program lclhost;

{$MODE DELPHI}{$H+}

uses
  {$IFDEF UNIX}cthreads,{$ENDIF}
  Interfaces, Forms, ExtCtrls, StdCtrls, Classes, SysUtils, Quorvex;

const
  Interval = 10;
  { Lateness is judged on the 99th percentile of the ticks: on a shared
    machine the scheduler now and then keeps any process off the CPU for
    longer, with no code of the window's running.  A window frozen for
    FrozenLimit fails all the same. }
  LatenessLimit = 50;
  FrozenLimit = 1000;

type
  THost = class(TForm)
  private
    Sessions: array of TQvAsyncSession;
    Jobs: array of TQvJob;
    { The place of the last job each session completed: they complete in
      the order started. }
    Done: array of Integer;
    JobNumbers: TStringList;
    Ticker, Watchdog: TTimer;
    CancelButton: TButton;
    Target: IQvOperation;
    FirstStep: Int32;
    Clicked: Boolean;
    Started: QWord;
    Ticks, LateTicks, Failures, OffMain, Submitted, Remaining: Integer;
    LastTick, WorstLateness, WorstAt: QWord;
    procedure Check(Ok: Boolean; const What: string);
    procedure OnMain;
    function NewJob(Session, N: Integer): TQvJob;
    procedure Tick(Sender: TObject);
    procedure CancelClicked(Sender: TObject);
    procedure TimedOut(Sender: TObject);
    procedure Connected(const Op: IQvOperation; const Reply: TQvReply);
    procedure Sent(const Op: IQvOperation; const Result: TQvJobResult);
    procedure Finish;
  public
    constructor CreateFor(Port, SessionCount, JobCount: Integer);
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

procedure THost.OnMain;
begin
  if GetCurrentThreadId <> MainThreadID then
    Inc(OffMain);
end;

function THost.NewJob(Session, N: Integer): TQvJob;
begin
  Result := TQvJob.Create;
  Result.Product := '1001';
  Result.AddNumbers([Format('138%.4d%.4d', [Session, N]), Format('139%.4d%.4d', [Session, N])]);
  Result.Content := Format('会议通知：第 %d 号', [N]);
  Insert(Result, Jobs, Length(Jobs));
end;

constructor THost.CreateFor(Port, SessionCount, JobCount: Integer);
var
  I, J, Place: Integer;
  S: TQvAsyncSession;
  Name: string;
begin
  inherited CreateNew(nil);
  Caption := 'Quorvex';
  CancelButton := TButton.Create(Self);
  CancelButton.Parent := Self;
  CancelButton.Caption := 'Cancel';
  CancelButton.OnClick := CancelClicked;
  Ticker := TTimer.Create(Self);
  Ticker.Interval := Interval;
  Ticker.OnTimer := Tick;
  Watchdog := TTimer.Create(Self);
  Watchdog.Interval := 40000;
  Watchdog.OnTimer := TimedOut;
  Started := GetTickCount64;
  Remaining := SessionCount * JobCount + 1;
  JobNumbers := TStringList.Create;
  JobNumbers.Sorted := True;
  JobNumbers.Duplicates := dupError;
  SetLength(Done, SessionCount);
  SetLength(Sessions, SessionCount);
  for I := 0 to SessionCount - 1 do
  begin
    S := TQvAsyncSession.Create;
    Sessions[I] := S;
    Name := 'demo';
    if I > 0 then
      Name := Name + IntToStr(I + 1);
    { All at once: each session runs its own in this order. }
    S.StartTcpConnect('127.0.0.1', Port, 5000, '', '', 0, '', '', Connected);
    S.StartLogin('lcl', '', Name, 'demo123', '1.0', Connected);
    Place := 0;
    for J := 1 to JobCount do
    begin
      Inc(Place);
      S.StartSendJob(NewJob(I, J), Sent).Tag := I * 1000 + Place;
      if (I = 0) and (J = JobCount div 2) then
      begin
        Inc(Place);
        Target := S.StartSendJob(NewJob(I, 0), Sent);
        Target.Tag := Place;
      end;
    end;
  end;
end;

destructor THost.Destroy;
var
  I: Integer;
begin
  for I := 0 to High(Sessions) do
    Sessions[I].Free;
  for I := 0 to High(Jobs) do
    Jobs[I].Free;
  JobNumbers.Free;
  inherited Destroy;
end;

procedure THost.Tick(Sender: TObject);
var
  Now_, Lateness: QWord;
  Step, Attempt: Int32;
begin
  Now_ := GetTickCount64;
  if LastTick <> 0 then
  begin
    Lateness := 0;
    if Now_ - LastTick > Interval then
      Lateness := Now_ - LastTick - Interval;
    if Lateness >= LatenessLimit then
      Inc(LateTicks);
    if Lateness > WorstLateness then
    begin
      WorstLateness := Lateness;
      WorstAt := Now_ - Started;
    end;
  end;
  LastTick := Now_;
  Inc(Ticks);
  { Mid-job: the target has made its first call and gone on to another. }
  if not Clicked and (Target <> nil) and Target.Progress(Step, Attempt) then
    if FirstStep = 0 then
      FirstStep := Step
    else if Step <> FirstStep then
      CancelButton.Click;
end;

procedure THost.CancelClicked(Sender: TObject);
begin
  Clicked := True;
  Check(Target.Cancel, 'a cancel from the button''s handler mid-job');
end;

procedure THost.TimedOut(Sender: TObject);
begin
  Watchdog.Enabled := False;
  Check(False, Format('done within %d s: %d jobs still out', [Watchdog.Interval div 1000, Remaining]));
  Application.Terminate;
end;

procedure THost.Connected(const Op: IQvOperation; const Reply: TQvReply);
begin
  OnMain;
  if not (Reply.Ok and ((Op.Call = 'TcpConnect') or Reply.Accepted)) then
    Check(False, Op.Call + ': ' + Reply.Message);
end;

procedure THost.Sent(const Op: IQvOperation; const Result: TQvJobResult);
var
  Session, Place: Integer;
begin
  OnMain;
  Session := Op.Tag div 1000;
  Place := Op.Tag mod 1000;
  if Place <> Done[Session] + 1 then
    Check(False, Format('session %d completed job %d after job %d', [Session, Place, Done[Session]]));
  Done[Session] := Place;
  if Op = Target then
  begin
    Check(Clicked and ((Result.Status = jobCancelled) or ((Result.Status = jobMaybeSubmitted) and Result.Outcome.Sent)),
      Format('the cancelled job: status %d, step %d, sent %s', [Ord(Result.Status), Result.Step,
      BoolToStr(Result.Outcome.Sent, True)]));
    Target := nil;
  end
  else if (Result.Status = jobSubmitted) and (Result.Recipients = 2) and (JobNumbers.IndexOf(Result.JobNumber) < 0)
  then
  begin
    { Each answer its own job's: no job number twice. }
    JobNumbers.Add(Result.JobNumber);
    Inc(Submitted);
  end
  else
    Check(False, Format('job %d of session %d: status %d, step %d, code %d, %d recipients: %s %s', [Place, Session,
      Ord(Result.Status), Result.Step, Result.Code, Result.Recipients, Result.JobNumber, Result.Outcome.Detail]));
  Dec(Remaining);
  if Remaining = 0 then
    Finish;
end;

procedure THost.Finish;
begin
  Check(OffMain = 0, Format('every event on the main thread (%d not)', [OffMain]));
  Check(Submitted = Length(Jobs) - 1, Format('%d of %d jobs submitted', [Submitted, Length(Jobs) - 1]));
  Check(LateTicks * 100 <= Ticks, Format('%d of %d ticks %d ms late or more (at most 1 in 100)',
    [LateTicks, Ticks, LatenessLimit]));
  Check(WorstLateness < FrozenLimit, Format('worst tick lateness %d ms (at %.1f s) over %d ticks in %.1f s',
    [WorstLateness, WorstAt / 1000, Ticks, (GetTickCount64 - Started) / 1000]));
  Application.Terminate;
end;

var
  Host: THost;

begin
  Application.Initialize;
  Host := THost.CreateFor(StrToInt(ParamStr(1)), StrToInt(ParamStr(2)), StrToInt(ParamStr(3)));
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
