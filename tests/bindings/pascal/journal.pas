{ A host's send-job journal through the unit, against the simulator:
    journal PORT WORKDIR
  Jobs added once per reference, sent blocking and as an operation, read
  back SUBMITTED with their numbers; what cannot be opened refused. }
program journal;

{$IFDEF FPC}{$MODE DELPHI}{$H+}{$ENDIF}

uses
  {$IFDEF FPC}{$IFDEF UNIX}cthreads,{$ENDIF}{$ENDIF}
  Classes, SysUtils, Quorvex;

type
  TWaiter = class
    Done: Boolean;
    Got: TQvJournalResult;
    procedure OnDone(const Op: IQvOperation; const Result: TQvJournalResult);
  end;

var
  Failures: Integer = 0;

procedure Check(Ok: Boolean; const What: string);
begin
  if Ok then
    WriteLn('ok   ', What)
  else
  begin
    WriteLn('FAIL ', What);
    Inc(Failures);
  end;
end;

procedure TWaiter.OnDone(const Op: IQvOperation; const Result: TQvJournalResult);
begin
  Got := Result;
  Done := True;
end;

function NewJob(const Number: string): TQvJob;
begin
  Result := TQvJob.Create;
  Result.Product := '1001';
  Result.Content := '会议改到三点';
  Result.AddNumber(Number);
end;

function Add(J: TQvJournal; const Number: string; const Reference: RawByteString): Int64;
var
  Job: TQvJob;
begin
  Job := NewJob(Number);
  try
    Result := J.Add(Job, Reference);
  finally
    Job.Free;
  end;
end;

procedure LogIn(S: TQvSession; Port: Integer);
begin
  Check(S.Connect('127.0.0.1', Port).Ok, 'connect');
  Check(S.Login('demo', 'demo123').Accepted, 'login');
end;

{ Every job of the journal SUBMITTED, with a number, in the order added. }
procedure AllSubmitted(J: TQvJournal; const Ids: array of Int64; const What: string);
var
  Listed: TQvJournalIds;
  Info: TQvJournalJob;
  I: Integer;
  Ok: Boolean;
begin
  Listed := J.List(journalSubmitted);
  Ok := Length(Listed) = Length(Ids);
  for I := 0 to High(Ids) do
  begin
    Ok := Ok and (Listed[I] = Ids[I]);
    Info := J.Job(Ids[I]);
    Ok := Ok and (Info.State = journalSubmitted) and (Info.JobNumber <> '') and (Info.Attempts = 1)
      and (Info.Added <= Info.Changed);
  end;
  Check(Ok and (Length(J.List(journalQueued)) = 0), What);
end;

{ Raises EQuorvexError whose detail holds Part ('' any). }
procedure Refused(const Path, Part, What: string);
var
  J: TQvJournal;
begin
  try
    J := TQvJournal.Create(Path);
    J.Free;
    Check(False, What);
  except
    on E: EQuorvexError do
      Check((Part = '') or (Pos(Part, E.Detail) > 0), What + ': ' + E.Detail);
  end;
end;

var
  Port: Integer;
  Path: string;
  J: TQvJournal;
  S: TQvSession;
  A: TQvAsyncSession;
  W: TWaiter;
  Ids: array of Int64;
  R: TQvJournalResult;
  Deadline: QWord;
  Garbage: TStringList;

begin
  if ParamCount <> 2 then
  begin
    WriteLn('usage: journal PORT WORKDIR');
    Halt(2);
  end;
  Port := StrToInt(ParamStr(1));
  Path := IncludeTrailingPathDelimiter(ParamStr(2)) + 'pascal.journal';
  DeleteFile(Path);
  J := TQvJournal.Create(Path);
  SetLength(Ids, 3);
  Ids[0] := Add(J, '13800000001', 'order-1');
  Ids[1] := Add(J, '13800000002', 'order-2');
  Check(Add(J, '13800000009', 'order-1') = Ids[0], 'a reference added again is the same job');
  Ids[2] := Add(J, '13800000003', 'order-3');
  Check((Length(J.List(journalQueued)) = 3) and (J.Job(Ids[1]).Reference = 'order-2'), 'three jobs queued');

  S := TQvSession.Create;
  LogIn(S, Port);
  R := J.Send(S);
  Check(R.Ok and (R.Settled = 3), 'Send settled three: ' + R.Outcome.Detail);
  AllSubmitted(J, Ids, 'three jobs submitted with their numbers');
  try
    J.Resolve(Ids[0], journalQueued);
    Check(False, 'a submitted job cannot go back to the queue');
  except
    on E: EQuorvexError do
      Check(E.Kind = outcomeRefused, 'a submitted job cannot go back to the queue');
  end;
  S.Free;

  A := TQvAsyncSession.Create;
  W := TWaiter.Create;
  LogIn(A, Port);
  SetLength(Ids, 5);
  Ids[3] := Add(J, '13800000004', 'order-4');
  Ids[4] := Add(J, '13800000005', 'order-5');
  A.StartJournalSend(J, 0, W.OnDone);
  Deadline := GetTickCount64 + 20000;
  while not W.Done and (GetTickCount64 < Deadline) do
    CheckSynchronize(100);
  Check(W.Done and W.Got.Ok and (W.Got.Settled = 2), 'StartJournalSend settled two: ' + W.Got.Outcome.Detail);
  AllSubmitted(J, Ids, 'five jobs submitted with their numbers');
  A.Free;
  W.Free;

  Refused(Path, '', 'a journal open already is refused');
  J.Free;
  Garbage := TStringList.Create;
  Garbage.Text := StringOfChar('x', 4096);
  Garbage.SaveToFile(Path + '.garbage');
  Garbage.Free;
  Refused(Path + '.garbage', 'not a journal', 'a garbage file is refused');
  J := TQvJournal.Create(Path);
  Check(Length(J.List(journalSubmitted)) = 5, 'the jobs stay in the file');
  J.Free;

  if Failures > 0 then
  begin
    WriteLn(Failures, ' checks failed');
    Halt(1);
  end;
  WriteLn('pascal journal: ok');
end.
