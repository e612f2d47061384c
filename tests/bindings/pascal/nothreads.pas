{ A program that forgot cthreads: its async session refuses with a reason
  that names the fix.  With -dLATE, cthreads comes after the unit, and the
  run-time library stops the program as it starts, saying why. }
program nothreads;

{$MODE DELPHI}{$H+}

uses
  SysUtils, Quorvex{$IFDEF LATE}, cthreads{$ENDIF};

begin
  try
    TQvAsyncSession.Create.Free;
    WriteLn('FAIL an async session without threads');
    Halt(1);
  except
    on E: EQvNoThreads do
      if Pos('put cthreads first', E.Message) = 0 then
      begin
        WriteLn('FAIL ', E.Message);
        Halt(1);
      end
      else
        WriteLn('ok   ', E.Message);
  end;
end.
