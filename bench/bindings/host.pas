{ The Pascal unit's host of the bindings benchmark: TQvSession.Heartbeat in
  a loop.  host PORT CALLS ROUNDS prints the median of the rounds' time per
  call, in nanoseconds. }
program host;

{$MODE DELPHI}{$H+}

uses
  cthreads, SysUtils, Linux, UnixType, Quorvex;

function NowNs: Double;
var
  T: TTimeSpec;
begin
  clock_gettime(CLOCK_MONOTONIC, @T);
  Result := T.tv_sec * 1e9 + T.tv_nsec;
end;

var
  Session: TQvSession;
  Port, Calls, Rounds, I, R, J: Integer;
  Times: array of Double;
  Start, Swap: Double;
begin
  Port := StrToInt(ParamStr(1));
  Calls := StrToInt(ParamStr(2));
  Rounds := StrToInt(ParamStr(3));
  SetLength(Times, Rounds);
  Session := TQvSession.Create;
  try
    if not Session.TcpConnect('127.0.0.1', Port, 5000, '', '', 0, '', '').Ok then Halt(1);
    for I := 1 to Calls do Session.Heartbeat;  { warm-up }
    for R := 0 to Rounds - 1 do
    begin
      Start := NowNs;
      for I := 1 to Calls do
        if not Session.Heartbeat then Halt(1);
      Times[R] := (NowNs - Start) / Calls;
    end;
  finally
    Session.Free;
  end;
  for R := 1 to Rounds - 1 do  { a few rounds: insertion sort }
  begin
    Swap := Times[R];
    J := R - 1;
    while (J >= 0) and (Times[J] > Swap) do
    begin
      Times[J + 1] := Times[J];
      Dec(J);
    end;
    Times[J + 1] := Swap;
  end;
  WriteLn(FormatFloat('0.0', Times[Rounds div 2]));
end.
