{ Quorvex.pas - the Quorvex client library for Delphi and Free Pascal.

  Every export of quorvex.h, declared as the library exports it: stdcall on
  Windows (Quorvex.dll), the C convention elsewhere (libquorvex.so).  The
  one-byte result is Boolean (one byte in both compilers), every int32 is
  Int32, every int32 pointer PInt32 and every text PAnsiChar: zero-terminated
  GBK (code page 936) bytes in both directions.  Output buffers belong to the
  caller and must hold the documented sizes: TQvMessageBuffer,
  TQvParamBuffer and the others below, or QvBuffer for one of any size.
  QvCheckTels builds the length-prefixed texts that CheckTels takes.

  Text has one policy, whatever the locale, and one place that applies it
  (QvGbkFault out, QvFromGbk in), through the library's own converters: a
  string is UTF-8 (Free Pascal's string) or UTF-16 (UnicodeString, Delphi's
  string) and goes out as GBK; bytes that are not valid UTF-8, or a
  character GBK lacks, are refused, never sent as '?'.  A host that holds
  GBK already passes a TQvGbkString (code page 936) or TBytes, sent as they
  are.  What comes back is read as GBK, U+FFFD for what is not.

  TQvSessionView holds the exports that act on a session as methods, under
  their classic names, with texts in (TQvText: any of the forms above) and
  a TQvReply out, its outputs by their header names (R.Param1, R.Number1);
  TQvSession (QvSessionCreate) is a connection of its own with the same
  methods, and TQvSessionView.DefaultSession the classic exports' session
  seen through them.  Connect and Login are the usual connect and login
  with defaults.  A method refuses, by raising EQuorvexError before
  anything is sent, a text that cannot travel; otherwise it reports through
  its reply, and R.Check turns a reply that was not accepted into an
  EQuorvexError carrying the call's outcome.  The header's kinds are
  enumerations (outcomeRefused for QV_OUTCOME_REFUSED; the numbers stay).
  SendJob sends a TQvJob with the library's QvSendJob.
  TQvJournal keeps send jobs in a journal file, so that a host that
  crashes never sends one twice nor loses one (QvJournal*).

  TQvAsyncSession is a TQvSession that also starts each method as an
  operation, StartHeartbeat(OnDone), and runs OnDone on the main thread with
  what the method would have returned.  It needs threads: on Unix, cthreads
  first in the program's uses clause (the session says so if not). }
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
  SysUtils, SyncObjs, Classes;

const
{$IFDEF MSWINDOWS}
  { Imported when the program starts: Windows looks in the program's folder
    first, then in the system's folders, the current directory and along
    PATH, so a program ships its own copy beside it. }
  QuorvexLib = 'Quorvex.dll';
{$ELSE}
  {$IFDEF FPC}
  QuorvexLib = 'quorvex'; { links libquorvex.so }
  {$ELSE}
  QuorvexLib = 'libquorvex.so';
  {$ENDIF}
{$ENDIF}

  { The header's constants, generated from quorvex.h. }
  {$I QuorvexConstants.inc}

type
  { Output buffers of the documented sizes: pass @Buffer[0]. }
  TQvMessageBuffer = array[0..QV_BODY_BUFFER_SIZE - 1] of AnsiChar;
  TQvParamBuffer = array[0..QV_PARAM_BUFFER_SIZE - 1] of AnsiChar;
  TQvSettingBuffer = array[0..QV_SETTING_BUFFER_SIZE - 1] of AnsiChar;
  TQvDetailBuffer = array[0..QV_DETAIL_BUFFER_SIZE - 1] of AnsiChar;
  { GBK bytes, as QvToGbk returns them.  Assigning a string to it would
    convert through the run-time library and the locale (under LANG=C to
    '?'): fill it with QvToGbk, or with bytes that are GBK already. }
  TQvGbkString = type AnsiString(936);

  { A text as a host holds it, for every text the unit sends: a string
    (UTF-8 in Free Pascal's AnsiString, UTF-16 in a UnicodeString or
    Delphi's string), a TQvGbkString or TBytes of GBK bytes, or an
    AnsiString of another declared code page.  QvGbkFault turns it into
    GBK. }
  TQvText = record
  private
    FBytes: RawByteString;  { UTF-8, or GBK when FGbk }
    FGbk: Boolean;
    FFault: string;         { why the host's text has no UTF-8 form }
  public
    { A UTF-16 string, sent as GBK. }
    class operator Implicit(const S: UnicodeString): TQvText;
    { Bytes read by their code page: 936 sent as they are, UTF-8 (Free
      Pascal's string) as GBK, any other declared page through UTF-16. }
    class operator Implicit(const S: RawByteString): TQvText;
    { GBK bytes, sent as they are. }
    class operator Implicit(const Gbk: TBytes): TQvText;
  end;

{ Every export, written by tools/interface/generate.py from interface/quorvex.json. }
{$I QuorvexExports.inc}

type
  TQvTexts = array of string;
  TQvNumbers = array of Int32;

  { The header's kinds, generated from quorvex.h; Ord(Kind) is the header's
    QV_ number, which stays a constant for hosts that compare numbers. }
{$I QuorvexKinds.inc}

  { What a call came to, as GetLastOutcome reports it. }
  TQvOutcome = record
    Kind: TQvOutcomeKind;
    Sent: Boolean;        { the server may have acted on the request }
    Argument: Int32;      { 1-based place of a refused argument }
    SocketError: Int32;   { Windows Sockets number, 0 when none }
    Detail: string;
  end;

  { What the relogin after a failed call came to, as GetLastRelogin reports it. }
  TQvRelogin = record
    Kind: TQvReloginKind;
    ServerCode: Int32;
    SocketError: Int32;
    Detail: string;
  end;

  { What the connection has reached, as GetConnectionState reports it:
    stateLoggedIn in S.State. }
  TQvConnectionState = record
    State: TQvStateFlags;
    Path: TQvPathKind;
    LoginProtocol: TQvProtocolKind;
    LoginCode: Int32;
  end;

  { What a session's call came to: its result, the server's code (-1 when no
    answer arrived or the export has none), its message or text output, and
    its other outputs by their names in quorvex.h (R.Param1, R.Number1,
    R.ReplyLength, R.Pud: a method fills the ones its export has), also in
    the export's order in Params and Numbers. }
  TQvReply = record
    Ok: Boolean;
    Code: Int32;
    Message: string;
    Params: TQvTexts;
    Numbers: TQvNumbers;
    { The method's name: the classic export's. }
    Call: string;
    { What the call came to when Ok is False (its kind outcomeOk otherwise). }
    Outcome: TQvOutcome;
{$I QuorvexReply.inc}
    { The exchange completed and the server accepted (900 or 20900). }
    function Accepted: Boolean;
    { The reply when it was accepted (or Ok with no server code, as a
      connect's), else raises EQuorvexError carrying the code and the
      outcome: S.Login_Feedback.Check.Param1. }
    function Check: TQvReply;
  end;

  { A call on a session after its Close. }
  EQvSessionClosed = class(Exception);

  { A call that did not end in an accepted answer, or an input refused before
    any call.  Raised by a reply's Check (Code the server's code, -1 when no
    answer arrived, and the outcome of the call), and, with Kind
    outcomeRefused, Sent False and Code -1, for a text that cannot
    travel, by a TQvJob setter for what the job cannot take and by SendJob
    for a job that cannot be sent. }
  EQuorvexError = class(Exception)
  private
    FCall: string;
    FCode: Int32;
    FOutcome: TQvOutcome;
    function GetOutcomeNumber: Int32;
  public
    { The error of ACall, its message ACall: AText. }
    constructor CreateFor(const ACall: string; ACode: Int32; const AText: string; const AOutcome: TQvOutcome);
    { The method or export that failed, by its classic name. }
    property Call: string read FCall;
    { The server's code; -1 when no answer arrived. }
    property Code: Int32 read FCode;
    { The outcome's kind: outcomeOk when the server answered. }
    property Kind: TQvOutcomeKind read FOutcome.Kind;
    { The same kind as the header's number, QV_OUTCOME_*. }
    property Outcome: Int32 read GetOutcomeNumber;
    { The server may have acted on the request. }
    property Sent: Boolean read FOutcome.Sent;
    { The 1-based place of a refused argument, 0 when none. }
    property Argument: Int32 read FOutcome.Argument;
    { The Windows Sockets number of a socket error, 0 when none. }
    property SocketError: Int32 read FOutcome.SocketError;
    { The library's readable account of the failure. }
    property Detail: string read FOutcome.Detail;
  end;
  { The same class under the name the unit first gave it. }
  EQvError = EQuorvexError;

  { How a job's send ended: the header's QV_JOB_* (jobNone before any
    ended).  jobSubmitted: the server took it; jobRefused: the server
    answered a code other than 900, nothing submitted; jobFailed: not
    submitted, safe to send again; jobMaybeSubmitted: the submit's request
    went out and its answer is unknown (see the evidence); jobCancelled:
    stopped before the submit was out, not submitted. }
  TQvJobStatus = (jobNone = 0, jobSubmitted = QV_JOB_SUBMITTED, jobRefused = QV_JOB_REFUSED,
    jobFailed = QV_JOB_FAILED, jobMaybeSubmitted = QV_JOB_MAYBE_SUBMITTED, jobCancelled = QV_JOB_CANCELLED);

  { A resolver's answer about a "maybe submitted" job (QV_RESOLVED_*). }
  TQvResolution = (resolvedUnknown = QV_RESOLVED_UNKNOWN, resolvedSubmitted = QV_RESOLVED_SUBMITTED,
    resolvedNotSubmitted = QV_RESOLVED_NOT_SUBMITTED);

  { One reply the sender took to resolve a "maybe" (QV_EVIDENCE_*): Taken
    False when it was not taken (the option off, no "maybe", its query
    failed). }
  TQvJobEvidence = record
    Taken: Boolean;
    Text: string;
  end;

  TQvJobResult = record
    Status: TQvJobStatus;
    { The request code of the call the job ended on (0 before any), how
      many times the job was started, that call's code (-1 for none) and
      message. }
    Step: Int32;
    Attempts: Int32;
    Code: Int32;
    Message: string;
    { jobSubmitted: the job's number and the submit's three numbers. }
    JobNumber: string;
    Recipients, Charged, Left: Int32;
    { The outcome of the call the job ended on (Argument 0), and the kind
      of its relogin. }
    Outcome: TQvOutcome;
    Relogin: TQvReloginKind;
    Evidence: array[QV_EVIDENCE_PACKAGES_BEFORE..QV_EVIDENCE_DETAILS_AFTER] of TQvJobEvidence;
  end;

  TQvJob = class;

  { Called on the sending thread before each call of a send, with the
    call's request code (298, 201, ..., 299) and the attempt (1 first). }
  TQvJobProgress = procedure(Job: TQvJob; Step, Attempt: Int32) of object;
  { Called on the sending thread after a "maybe submitted", when the
    evidence is in (Job.Evidence): what the host's server says of it. }
  TQvJobResolver = function(Job: TQvJob): TQvResolution of object;

  { A send job, held by the library (QvJob): its texts, numbers, file and
    options, sent by TQvSession.SendJob.  Only the texts given (not empty)
    are sent; Product and at least one number are required; up to three
    orders or a Period make it a scheduled job.  A setter raises EQuorvexError
    for what the job cannot take (a text that cannot travel or is too long
    for its field, a number empty or holding a comma, too many numbers, too
    large a file) and leaves the job as it was; so does any change while
    the job is being sent. }
  TQvJob = class
  private
    FHandle: Pointer;
    FLock: TCriticalSection;
    FSends: Integer;     { SendJob calls in progress }
    FFreeing: Boolean;
    FCheck, FTakeEvidence: Boolean;
    FWait: Int32;
    FOnProgress: TQvJobProgress;
    FResolver: TQvJobResolver;
    FCallbackError: TObject;  { what a callback raised, raised again by SendJob }
    procedure SetText(Field: Int32; const Text: TQvText);
    procedure SetOption(Option, Value: Int32);
    procedure SetCheck(Value: Boolean);
    procedure SetTakeEvidence(Value: Boolean);
    procedure SetWait(Value: Int32);
    procedure SetOnProgress(Value: TQvJobProgress);
    procedure SetResolver(Value: TQvJobResolver);
    procedure Refused(const Call: string);
    procedure KeepCallbackError;
    procedure Progress(Step, Attempt: Int32);
    function Resolve: Int32;
    function BeginSend: Boolean;
    procedure EndSend;
  public
    { Raises EOutOfMemory when the library cannot make the job. }
    constructor Create;
    { Cancels a send in progress and waits for it to return first. }
    destructor Destroy; override;
    { A recipient's number. }
    procedure AddNumber(const Number: TQvText);
    { Each of Numbers, as AddNumber. }
    procedure AddNumbers(const Numbers: array of string);
    { The file of a multimedia job (empty: none); the library encodes it. }
    procedure SetFile(const Bytes: TBytes);
    { From any thread: ends the send in progress (jobCancelled before the
      submit was out, else jobMaybeSubmitted); made while no send is in
      progress, it ends the next one before its first call. }
    procedure Cancel;
    { Evidence Which (QV_EVIDENCE_*) of the last send, False when it was
      not taken; a resolver reads it here. }
    function Evidence(Which: Int32; out Text: string): Boolean;
    { How the last send ended. }
    function LastResult: TQvJobResult;
    { The library's job (QvJob), for its exports. }
    property Handle: Pointer read FHandle;
    { Text Field (QV_JOB_PRODUCT to QV_JOB_PERIOD), as the named properties below. }
    property Text[Field: Int32]: TQvText write SetText;
    { The product (SubmitPrdId); required. }
    property Product: TQvText index QV_JOB_PRODUCT write SetText;
    { The content (SubmitContent). }
    property Content: TQvText index QV_JOB_CONTENT write SetText;
    { The push address (SubmitPushURL). }
    property PushUrl: TQvText index QV_JOB_PUSH_URL write SetText;
    { The file's name (SubmitTransFilename). }
    property FileName: TQvText index QV_JOB_FILE_NAME write SetText;
    { The first day (SubmitBgnDate). }
    property BeginDate: TQvText index QV_JOB_BEGIN_DATE write SetText;
    { The last day (SubmitEndDate). }
    property EndDate: TQvText index QV_JOB_END_DATE write SetText;
    { The time of day to start (SubmitBgnTime). }
    property BeginTime: TQvText index QV_JOB_BEGIN_TIME write SetText;
    { The time of day to stop (SubmitEndTime). }
    property EndTime: TQvText index QV_JOB_END_TIME write SetText;
    { SubmitPQOrderSelect's first order (19 bytes). }
    property Order1: TQvText index QV_JOB_ORDER1 write SetText;
    { Its second order. }
    property Order2: TQvText index QV_JOB_ORDER2 write SetText;
    { Its third order. }
    property Order3: TQvText index QV_JOB_ORDER3 write SetText;
    { A scheduled job's period (SubmitBgnDateEx). }
    property Period: TQvText index QV_JOB_PERIOD write SetText;
    { CheckPrdId after the product and CheckContent after the content. }
    property Check: Boolean read FCheck write SetCheck;
    { Take the evidence before the submit and after a "maybe". }
    property TakeEvidence: Boolean read FTakeEvidence write SetTakeEvidence;
    { Milliseconds to wait for another job of the account being sent
      (QV_JOB_WAIT_DEFAULT_MS; 0: refuse at once). }
    property Wait: Int32 read FWait write SetWait;
    { An exception raised by OnProgress cancels the send, one raised by the
      resolver answers resolvedUnknown; SendJob raises it again once the
      send has returned, and LastResult says how the job ended. }
    property OnProgress: TQvJobProgress read FOnProgress write SetOnProgress;
    { What the host's server says of a "maybe submitted" (resolvedUnknown when unset). }
    property Resolver: TQvJobResolver read FResolver write SetResolver;
  end;

  TQvSessionView = class;

  { One session call of the generated methods: its output buffers, each of
    its documented size, and its inputs' GBK bytes, all made by Start before
    the session is entered (nothing between Enter and Done can raise, so
    that a call entered is always left), and the reply they are read back
    into. }
  TQvCall = record
  private
    FView: TQvSessionView;
    FSession: Pointer;
    FMsg: RawByteString;
    FInputs: array[0..7] of RawByteString;
    FSized: array[0..2] of RawByteString;
    { Room for a Param and a zero past it, whatever the library writes. }
    FParams: array[0..2, 0..QV_PARAM_BUFFER_SIZE] of AnsiChar;
    FParamFields: array[0..2] of ^string;
    FSizedCount: Integer;
    FNumberFields: array[0..3] of PInt32;
    FCodeField: PInt32;
    FParamCount, FNumberCount: Integer;
    function Buffer(I: Integer): PAnsiChar;
  public
    { The reply being filled: the import writes its numbers here. }
    R: TQvReply;
    { Starts Call on View with a Message buffer of TextSize bytes (0: none)
      and Sized output buffers of the same size (an XML reply's texts). }
    procedure Start(View: TQvSessionView; const Call: string; TextSize: Integer; Sized: Integer = 0); overload;
    { Also turns each text into GBK, or raises EQuorvexError naming it
      (Names, comma-separated) and its place among the export's arguments. }
    procedure Start(View: TQvSessionView; const Call: string; TextSize: Integer; const Texts: array of TQvText;
      const Places: array of Int32; const Names: string); overload;
    { Enters the view's session (EQvSessionClosed after its Close) and
      returns its handle: pass it first to the import, which Done or Ended
      must follow. }
    function Enter: Pointer;
    { The GBK bytes of text I. }
    function Input(I: Integer): PAnsiChar;
    { The Message buffer. }
    function Text: PAnsiChar;
    { Output buffer I, of a Param's size or of Start's Sized, read into
      Field (and Params[I]). }
    function Param(I: Integer; var Field: string): PAnsiChar;
    { Number output I, written into Field (and copied to Numbers[I]). }
    function Number(I: Integer; var Field: Int32): PInt32;
    { A reply code output, written into Field and copied to Code. }
    function CodeAt(var Field: Int32): PInt32;
    { Leaves the session with the import's result Ok (its outcome read
      first when it failed) and returns the reply. }
    function Done(Ok: Boolean): TQvReply;
    { Leaves the session and returns Ok, for an export without outputs. }
    function Ended(Ok: Boolean): Boolean;
  end;

  { The methods of a session, whoever owns it: TQvSession, a connection of
    its own, and DefaultSession, the classic exports' session seen through
    the same methods.  Any thread may call them; the library runs the calls
    on one session one at a time and calls on different sessions side by
    side.  The generated methods are the exports that act on a session,
    under their classic names, with texts in (TQvText) and a TQvReply out;
    a method refuses, by raising EQuorvexError before anything is sent, a
    text that cannot travel, and otherwise reports through its reply. }
  TQvSessionView = class
  protected
    { The session's handle for one call (EQvSessionClosed when there is
      none to call), and the end of that call. }
    function Enter: Pointer; virtual;
    function TryEnter(out P: Pointer; Job: Pointer = nil): Boolean; virtual;
    procedure Leave(Job: Pointer = nil); virtual;
  public
    { The classic exports' session, between dllInitialize and release (a
      call outside is refused): one view for the whole program, never to be
      freed. }
    class function DefaultSession: TQvSessionView;
    { The calling thread's last call on this session. }
    function GetLastOutcome: TQvOutcome;
    { The relogin after the calling thread's last failed call on this session. }
    function GetLastRelogin: TQvRelogin;
    { What the session's connection has reached, as the last finished call left it. }
    function GetConnectionState: TQvConnectionState;
    { Reply.Check: the reply when it was accepted, else raises
      EQuorvexError with the call's outcome. }
    function Check(const Reply: TQvReply): TQvReply; overload;
    { Ok when true, else raises EQuorvexError for Call, a method without
      outputs, with the calling thread's last outcome on this session: call
      it at once, S.Check(S.Heartbeat, 'Heartbeat'). }
    function Check(Ok: Boolean; const Call: string): Boolean; overload;
    { Sends Job with the library's QvSendJob, starting it at most Attempts
      times, and says how it ended: never an exception for a job that was
      sent, whatever happened to it, nor when Close, Free or Job.Cancel in
      another thread ends the send (jobCancelled, or jobMaybeSubmitted with
      the submit out; jobCancelled with nothing sent when the session was
      closed already).  Raises EQuorvexError for a job refused before any
      call (no product, no numbers, a job being sent or freed). }
    function SendJob(Job: TQvJob; Attempts: Integer = 2): TQvJobResult;
    { TcpConnect with defaults: connects to Host:Port within Timeout
      milliseconds, directly, or through the proxy that ProxyKind names
      ('socks4', 'socks5' or 'http' in any letter case; '' none).  Ok when
      the connection is open; Message is the library's text for it. }
    function Connect(const Host: TQvText; Port: Int32; Timeout: Int32 = 5000; const ProxyKind: string = '';
      const ProxyHost: string = ''; ProxyPort: Int32 = 0; const ProxyUser: string = '';
      const ProxyPassword: string = ''): TQvReply;
    { Login_Request then Login_Feedback, the texts a server does not need
      left empty: the feedback's reply (accepted with 900, the account's id
      in Param1), or a reply for Login_Request, with its outcome, when the
      request failed. }
    function Login(const Name, Password: TQvText; const App: string = ''; const Extra: string = '';
      const Version: string = ''): TQvReply;
    { Every other export that acts on a session, generated, each with its
      export's text: *Code and Message there are the reply's Code and
      Message, the other outputs the reply's fields of the same names. }
{$I QuorvexSession.inc}
  end;

  { A connection of its own, ready to connect without dllInitialize.  Close
    (or Free) ends the calls in progress on it in other threads, waits for
    them and destroys the session; a call after Close raises
    EQvSessionClosed, except SendJob, which returns jobCancelled. }
  TQvSession = class(TQvSessionView)
  private
    FHandle: Pointer;
    FLock: TCriticalSection;
    FCalls: Integer;  { in progress }
    FClosed: Boolean;
    FJobs: array of Pointer;  { the jobs being sent, which Close cancels }
  protected
    function Enter: Pointer; override;
    function TryEnter(out P: Pointer; Job: Pointer = nil): Boolean; override;
    procedure Leave(Job: Pointer = nil); override;
  public
    { Raises EOutOfMemory when the library cannot make the session. }
    constructor Create;
    { Closes the session first when it is open. }
    destructor Destroy; override;
    { Ends the calls in progress, waits for them and destroys the session;
      a second Close does nothing. }
    procedure Close;
    { Whether Close has begun. }
    function Closed: Boolean;
  end;

{$I QuorvexJournal.inc}

  TQvAsyncSession = class;

  { An operation a TQvAsyncSession started.  It lives as long as the host
    holds it, so that a Cancel after the end is harmless. }
  IQvOperation = interface
    ['{7D0C2B4E-5A3F-4E61-9C1B-2F8E6A9D4C10}']
    { From any thread, the library's QvOpCancel: one not started completes
      with outcomeCancelled and nothing sent; one whose request is not
      wholly out the same (Sent False); one whose request is out completes
      outcomeMaybeApplied, and the session's connection is closed; a send
      job ends as TQvJob.Cancel says.  False once it has completed: its
      event still runs. }
    function Cancel: Boolean;
    { Its event has run or is running. }
    function Completed: Boolean;
    { The method it runs: the pair's stem for a pair (Login). }
    function Call: string;
    { Its reply once completed, also for a method whose event takes a
      Boolean (Reply.Outcome says how it failed). }
    function Reply: TQvReply;
    { A send job's progress: the request code of the call in progress or
      last made (0 before the first) and its attempt. }
    function Progress(out Step, Attempt: Int32): Boolean;
    function GetTag: NativeInt;
    procedure SetTag(Value: NativeInt);
    { The host's own, untouched by the unit. }
    property Tag: NativeInt read GetTag write SetTag;
  end;

  { Completion events, run on the main thread with what the sync method of
    the same name returns. }
  TQvReplyEvent = procedure(const Op: IQvOperation; const Reply: TQvReply) of object;
  TQvResultEvent = procedure(const Op: IQvOperation; Ok: Boolean) of object;
  TQvJobEvent = procedure(const Op: IQvOperation; const Result: TQvJobResult) of object;
  TQvJournalEvent = procedure(const Op: IQvOperation; const Result: TQvJournalResult) of object;

  { A TQvAsyncSession in a program without a thread manager. }
  EQvNoThreads = class(Exception);

  { One operation of a TQvAsyncSession, for its generated methods: its
    inputs' GBK bytes, where its outputs go in R, and its event.  The
    dispatcher thread fills R from the completed operation and has the main
    thread run the event. }
  TQvPending = class(TInterfacedObject, IQvOperation)
  private
    FSession: TQvAsyncSession;  { nil once the session is freed: no event then }
    FHandle: Pointer;
    FCall: string;
    FInputs: array of RawByteString;
    FMessage: Boolean;
    FTextFields: array of PString;
    FNumberFields: array of PInt32;
    FCodeField: PInt32;
    FJob: TQvJob;               { a send job's, held from its start to its completion }
    FJobResult: TQvJobResult;
    FSettled: Int32;            { a journal send's jobs settled }
    FCompleted: Boolean;
    FTag: NativeInt;
    procedure Complete(Op: Pointer);
    procedure Deliver;
    procedure ReleaseJob;
    procedure Forget;
  public
    R: TQvReply;
    OnReply: TQvReplyEvent;
    OnResult: TQvResultEvent;
    OnJob: TQvJobEvent;
    OnJournal: TQvJournalEvent;
    destructor Destroy; override;
    { Turns each text into GBK, or raises EQuorvexError naming it (Names,
      comma-separated) and its place among the export's arguments. }
    procedure Texts(const Values: array of TQvText; const Places: array of Int32; const Names: string);
    { Where the outputs go: the first text into Message when Message is set,
      the others into TextFields, the numbers into NumberFields, the result
      code into Code and CodeField. }
    procedure Outputs(Message: Boolean; const TextFields, NumberFields: array of Pointer; CodeField: PInt32);
    { Enters the session (EQvSessionClosed after its Close) and returns its
      handle; Started must follow. }
    function Enter: Pointer;
    { The process's queue. }
    function Queue: Pointer;
    { The GBK bytes of text I. }
    function Input(I: Integer): PAnsiChar;
    { Leaves the session with the starter's result: EQuorvexError, with the
      library's reason, when it refused to start. }
    procedure Started(Op: Pointer);
    function Cancel: Boolean;
    function Completed: Boolean;
    function Call: string;
    function Reply: TQvReply;
    function Progress(out Step, Attempt: Int32): Boolean;
    function GetTag: NativeInt;
    procedure SetTag(Value: NativeInt);
  end;

  { A TQvSession whose methods also start as operations: StartName(inputs,
    OnDone) for each method Name that acts on the session (a pair under its
    stem: StartLogin(app, extra, name, pwd, ver) runs Login_Request then
    Login_Feedback, and StartfxNumRule runs fxNumRule_Req then
    fxNumRule_Resp), returning at once.  OnDone then runs on the main
    thread, from the program's own loop (Application's in the LCL,
    CheckSynchronize in a console program), with the reply the sync method
    returns (a pair's second half's, the first half's outputs in it too) or
    its Boolean.  Operations of one session run one at a time in the order
    started, beside its blocking calls, never interleaved with them; those
    of different sessions side by side.  One thread per process waits on
    one queue of the library for every session's completions and hands
    them to the main thread (TThread.Queue, on Windows as elsewhere).

    A start raises what the method raises (EQuorvexError for a text that
    cannot travel, EQvSessionClosed after Close), and EQuorvexError when the
    library refuses to start it.  Close cancels what runs: each operation
    still completes, outcomeCancelled (or outcomeMaybeApplied when its
    request was out), and its event runs; Free, from the main thread, also
    drops the events of what has not been delivered.  Create raises
    EQvNoThreads in a program without a thread manager: on Unix, cthreads
    comes first in the program's uses clause, before every other unit. }
  TQvAsyncSession = class(TQvSession)
  private
    FPending: array of TQvPending;  { started, not delivered; under the dispatcher's lock }
  protected
    function Pending(const Call: string; out Op: IQvOperation): TQvPending;
  public
    { Raises EQvNoThreads without a thread manager, EOutOfMemory when the
      library cannot make the session or the queue. }
    constructor Create;
    destructor Destroy; override;
    { SendJob as an operation; the job's OnProgress and Resolver are not
      called (Op.Progress reads how far it has come, and a "maybe" its
      evidence cannot settle stays jobMaybeSubmitted).  The job refuses
      changes and other sends until the operation completes, and Job.Free
      waits for it. }
    function StartSendJob(Job: TQvJob; Attempts: Integer; OnDone: TQvJobEvent): IQvOperation; overload;
    function StartSendJob(Job: TQvJob; OnDone: TQvJobEvent): IQvOperation; overload;
    { TQvJournal.Send as an operation: OnDone gets what Send returns.  No
      resolver is called: a "maybe" stays UNKNOWN, for Recover or the host. }
    function StartJournalSend(Journal: TQvJournal; MaxJobs: Int32; OnDone: TQvJournalEvent): IQvOperation;
    { The methods, generated. }
{$I QuorvexAsync.inc}
  end;

{ Helpers }

{ A zero-filled buffer of Size bytes; PAnsiChar(Result) passes it as an output. }
function QvBuffer(Size: Integer): RawByteString;
{ The size an XML _Resp export's Message and Pud need for a reply of
  ReplyLength bytes: the body and a zero, at least a message buffer. }
function QvFxBufferSize(ReplyLength: Int32): Integer;
{ The text a call left in a buffer: its bytes up to the first zero. }
function QvText(Buffer: PAnsiChar): RawByteString;
{ The unit's one conversion out: the GBK bytes of Text, and '' when it has
  them, else why it has none (bytes that are not valid UTF-8, a character
  GBK lacks, a zero byte, which would end the text early). }
function QvGbkFault(const Text: TQvText; out Gbk: RawByteString): string;
{ The GBK bytes of Text (code page 936), or EQuorvexError saying why it has none. }
function QvToGbk(const Text: TQvText): RawByteString;
{ The unit's one conversion in: the string of GBK bytes, U+FFFD for bytes
  that are not GBK. }
function QvFromGbk(const Gbk: RawByteString): string; overload;
{ The same, of the text a call left in Buffer. }
function QvFromGbk(Buffer: PAnsiChar): string; overload;
{ Storage for a length-prefixed text: four bytes of length, then the text.
  Keep it alive while the call runs and pass QvPrefixedText(Storage). }
function QvLengthPrefixed(const Text: RawByteString): RawByteString;
{ The text of Storage to pass to the export: its address past the length. }
function QvPrefixedText(const Storage: RawByteString): PAnsiChar;
{ CheckTels with both texts (GBK bytes) laid out as it needs them. }
function QvCheckTels(const Number, CarrierList: RawByteString): Int32;
{ The state flags of GetConnectionState's State number (QV_STATE_*). }
function QvStateFlags(State: Int32): TQvStateFlags;
{ The header's number of a set of state flags. }
function QvStateNumber(Flags: TQvStateFlags): Int32;
{ The calling thread's last outcome on Session (GetLastOutcome when nil). }
function QvOutcomeOf(Session: Pointer): TQvOutcome;

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

{ Text: the one policy, through the library's converters }

class operator TQvText.Implicit(const S: UnicodeString): TQvText;
begin
  Result.FBytes := UTF8Encode(S);
  Result.FGbk := False;
  Result.FFault := '';
end;

{ Bytes are taken for what their code page says; in Free Pascal the string
  type's own code page (the locale's, ASCII under LANG=C) holds UTF-8, as in
  Lazarus, so that no locale turns a text into '?'. }
class operator TQvText.Implicit(const S: RawByteString): TQvText;
var
  Page: TSystemCodePage;
  U: UnicodeString;
  I, Marks: Integer;
begin
  Result.FGbk := False;
  Result.FFault := '';
  Page := StringCodePage(S);
  if Page = 936 then
  begin
    Result.FBytes := S;
    Result.FGbk := True;
  end
  else if (Page = CP_UTF8) or (Page = CP_NONE) {$IFDEF FPC}or (Page = CP_ACP) or (Page = DefaultSystemCodePage){$ENDIF} then
    Result.FBytes := S
  else
  begin
    { Another declared code page, which the run-time library converts from
      without the locale; a byte it cannot read comes back as '?' or U+FFFD. }
    U := UnicodeString(S);
    Marks := 0;
    for I := 1 to Length(S) do
      if S[I] = '?' then
        Inc(Marks);
    for I := 1 to Length(U) do
      if (U[I] = '?') or (U[I] = #$FFFD) then
        Dec(Marks);
    if Marks < 0 then
      Result.FFault := Format('bytes that code page %d does not define', [Page]);
    Result.FBytes := UTF8Encode(U);
  end;
end;

class operator TQvText.Implicit(const Gbk: TBytes): TQvText;
begin
  Result.FBytes := '';
  SetLength(Result.FBytes, Length(Gbk));
  if Length(Gbk) > 0 then
    Move(Gbk[0], Result.FBytes[1], Length(Gbk));
  Result.FGbk := True;
  Result.FFault := '';
end;

{ The Detail of the calling thread's last call, which names what a
  converter or a job refused. }
function ThreadOutcome: TQvOutcome;
begin
  Result := QvOutcomeOf(nil);
end;

function QvGbkFault(const Text: TQvText; out Gbk: RawByteString): string;
var
  N: Int32;
begin
  Gbk := '';
  if Text.FFault <> '' then
    Exit(Text.FFault);
  if Pos(#0, Text.FBytes) > 0 then
    Exit('a text cannot hold a zero byte');
  if Length(Text.FBytes) > High(Int32) div 2 then
    Exit('too long a text');
  if Text.FGbk then
    Gbk := Text.FBytes
  else
  begin
    N := QvGbkFromUtf8(PAnsiChar(Text.FBytes), Length(Text.FBytes), nil, 0);
    if N < 0 then
    begin
      { "Argument 1 is U+20AC, which GBK lacks, at byte 3." names the
        converter's argument, which is this text. }
      Result := ThreadOutcome.Detail;
      if Pos('Argument 1 is ', Result) = 1 then
        Delete(Result, 1, Length('Argument 1 is '));
      if Result = '' then
        Result := 'not valid UTF-8, or a character GBK lacks';
      Exit;
    end;
    SetLength(Gbk, N);
    { A string always has room for its terminator. }
    if N > 0 then
      QvGbkFromUtf8(PAnsiChar(Text.FBytes), Length(Text.FBytes), PAnsiChar(Gbk), N + 1);
  end;
  SetCodePage(Gbk, 936, False);
  Result := '';
end;

function QvFromGbk(const Gbk: RawByteString): string;
var
  Utf8: RawByteString;
  N: Int32;
begin
  Utf8 := '';
  N := QvUtf8FromGbk(PAnsiChar(Gbk), Length(Gbk), nil, 0);
  if N > 0 then
  begin
    SetLength(Utf8, N);
    QvUtf8FromGbk(PAnsiChar(Gbk), Length(Gbk), PAnsiChar(Utf8), N + 1);
  end;
{$IFDEF FPC}
  { The bytes as they are: a string holds UTF-8 (see TQvText). }
  Result := '';
  SetLength(Result, Length(Utf8));
  if Length(Utf8) > 0 then
    Move(Utf8[1], Result[1], Length(Utf8));
{$ELSE}
  Result := UTF8ToString(Utf8);
{$ENDIF}
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

function QvStateFlags(State: Int32): TQvStateFlags;
var
  Flag: TQvStateFlag;
begin
  Result := [];
  for Flag := Low(TQvStateFlag) to High(TQvStateFlag) do
    if State and (1 shl Ord(Flag)) <> 0 then
      Include(Result, Flag);
end;

function QvStateNumber(Flags: TQvStateFlags): Int32;
var
  Flag: TQvStateFlag;
begin
  Result := 0;
  for Flag in Flags do
    Result := Result or (1 shl Ord(Flag));
end;

{ Read through numbers: an enumeration may be narrower than the int32 the
  library writes. }
function QvOutcomeOf(Session: Pointer): TQvOutcome;
var
  Kind, Sent: Int32;
  Detail: TQvDetailBuffer;
begin
  Result := Default(TQvOutcome);
  Kind := 0;
  Sent := 0;
  Detail[0] := #0;
  if Session = nil then
    GetLastOutcome(@Kind, @Sent, @Result.Argument, @Result.SocketError, @Detail[0], SizeOf(Detail))
  else
    QvGetLastOutcome(Session, @Kind, @Sent, @Result.Argument, @Result.SocketError, @Detail[0], SizeOf(Detail));
  Result.Kind := TQvOutcomeKind(Kind);
  Result.Sent := Sent <> 0;
  Result.Detail := QvFromGbk(@Detail[0]);
end;

function EQuorvexError.GetOutcomeNumber: Int32;
begin
  Result := Ord(FOutcome.Kind);
end;

function TQvReply.Accepted: Boolean;
begin
  Result := Ok and ((Code = QV_CODE_ACCEPTED) or (Code = QV_FX_SUCCESS));
end;

function TQvReply.Check: TQvReply;
var
  Text: string;
begin
  { A reply without a server code (a connect) has only its result to go by. }
  if Accepted or (Ok and (Code = -1)) then
    Exit(Self);
  if Ok then
    Text := Format('refused: %d %s', [Code, Message])
  else if Message = '' then
    Text := Outcome.Detail
  else if Outcome.Detail <> '' then
    Text := Message + ' (' + Outcome.Detail + ')'
  else
    Text := Message;
  raise EQuorvexError.CreateFor(Call, Code, Text, Outcome);
end;

constructor EQuorvexError.CreateFor(const ACall: string; ACode: Int32; const AText: string; const AOutcome: TQvOutcome);
begin
  inherited Create(ACall + ': ' + AText);
  FCall := ACall;
  FCode := ACode;
  FOutcome := AOutcome;
end;

{ An input refused before any call: nothing was sent. }
procedure Refuse(const Call, Text: string; Argument: Int32);
var
  O: TQvOutcome;
begin
  O := Default(TQvOutcome);
  O.Kind := outcomeRefused;
  O.Argument := Argument;
  O.Detail := Text;
  raise EQuorvexError.CreateFor(Call, -1, Text, O);
end;

{ The GBK bytes of Text, given to Call as the argument Place named Name, or
  EQuorvexError naming it. }
function GbkOf(const Call, Name: string; Place: Int32; const Text: TQvText): RawByteString;
var
  Fault: string;
begin
  Fault := QvGbkFault(Text, Result);
  if Fault <> '' then
    Refuse(Call, Name + ': ' + Fault, Place);
end;

function QvToGbk(const Text: TQvText): RawByteString;
begin
  Result := GbkOf('QvToGbk', 'Text', 1, Text);
end;

procedure TQvCall.Start(View: TQvSessionView; const Call: string; TextSize: Integer; Sized: Integer);
var
  I: Integer;
begin
  FView := View;
  FSession := nil;
  R := Default(TQvReply);
  R.Call := Call;
  R.Code := -1;
  if TextSize > 0 then
    FMsg := QvBuffer(TextSize);
  FSizedCount := Sized;
  for I := 0 to Sized - 1 do
    FSized[I] := QvBuffer(TextSize);
  FillChar(FParams, SizeOf(FParams), 0);
  FParamCount := 0;
  FNumberCount := 0;
  FCodeField := nil;
end;

procedure TQvCall.Start(View: TQvSessionView; const Call: string; TextSize: Integer; const Texts: array of TQvText;
  const Places: array of Int32; const Names: string);
var
  I: Integer;
  Fault: string;
begin
  Start(View, Call, TextSize);
  for I := 0 to High(Texts) do
  begin
    Fault := QvGbkFault(Texts[I], FInputs[I]);
    if Fault <> '' then
      Refuse(Call, Names.Split([','])[I] + ': ' + Fault, Places[I]);
  end;
end;

function TQvCall.Enter: Pointer;
begin
  FSession := FView.Enter;
  Result := FSession;
end;

function TQvCall.Input(I: Integer): PAnsiChar;
begin
  Result := PAnsiChar(FInputs[I]);
end;

function TQvCall.Text: PAnsiChar;
begin
  Result := PAnsiChar(FMsg);
end;

function TQvCall.Buffer(I: Integer): PAnsiChar;
begin
  if I < FSizedCount then
    Result := PAnsiChar(FSized[I])
  else
    Result := @FParams[I][0];
end;

function TQvCall.Param(I: Integer; var Field: string): PAnsiChar;
begin
  FParamFields[I] := @Field;
  if I >= FParamCount then
    FParamCount := I + 1;
  Result := Buffer(I);
end;

function TQvCall.Number(I: Integer; var Field: Int32): PInt32;
begin
  FNumberFields[I] := @Field;
  if I >= FNumberCount then
    FNumberCount := I + 1;
  Result := @Field;
end;

function TQvCall.CodeAt(var Field: Int32): PInt32;
begin
  FCodeField := @Field;
  Result := @Field;
end;

function TQvCall.Done(Ok: Boolean): TQvReply;
var
  I: Integer;
begin
  { Read while the session is entered: a Close may follow the Leave. }
  if not Ok then
    R.Outcome := QvOutcomeOf(FSession);
  FView.Leave;
  R.Ok := Ok;
  if FCodeField <> nil then
    R.Code := FCodeField^;
  R.Message := QvFromGbk(PAnsiChar(FMsg));
  SetLength(R.Params, FParamCount);
  for I := 0 to FParamCount - 1 do
  begin
    R.Params[I] := QvFromGbk(Buffer(I));
    FParamFields[I]^ := R.Params[I];
  end;
  SetLength(R.Numbers, FNumberCount);
  for I := 0 to FNumberCount - 1 do
    R.Numbers[I] := FNumberFields[I]^;
  Result := R;
end;

function TQvCall.Ended(Ok: Boolean): Boolean;
begin
  FView.Leave;
  Result := Ok;
end;

var
  TheDefaultSession: TQvSessionView;

class function TQvSessionView.DefaultSession: TQvSessionView;
begin
  Result := TheDefaultSession;
end;

{ The handle is asked for at each call: the default session is made by
  dllInitialize and goes with release. }
function TQvSessionView.Enter: Pointer;
begin
  Result := QvDefaultSession;
end;

function TQvSessionView.TryEnter(out P: Pointer; Job: Pointer): Boolean;
begin
  P := QvDefaultSession;
  Result := True;
end;

procedure TQvSessionView.Leave(Job: Pointer);
begin
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

function TQvSession.TryEnter(out P: Pointer; Job: Pointer): Boolean;
begin
  FLock.Acquire;
  try
    Result := not FClosed;
    if Result then
    begin
      Inc(FCalls);
      if Job <> nil then
        Insert(Job, FJobs, Length(FJobs));
    end;
  finally
    FLock.Release;
  end;
  P := FHandle;
end;

function TQvSession.Enter: Pointer;
begin
  if not TryEnter(Result) then
    raise EQvSessionClosed.Create('the session is closed');
end;

procedure TQvSession.Leave(Job: Pointer);
var
  I: Integer;
begin
  FLock.Acquire;
  try
    Dec(FCalls);
    for I := 0 to High(FJobs) do
      if FJobs[I] = Job then
      begin
        Delete(FJobs, I, 1);
        Break;
      end;
  finally
    FLock.Release;
  end;
end;

procedure TQvSession.Close;
var
  Busy: Boolean;
  Jobs: array of Pointer;
  I: Integer;

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
    Jobs := Copy(FJobs);
  finally
    FLock.Release;
  end;
  { A disconnect ends only the call it finds in progress, and the next call
    of a send would reconnect: a job being sent is cancelled instead, which
    also ends its wait for another job of the account.  A cancel that lands
    as the send returns ends the job's next send before its first call, as
    Job.Cancel would: nothing is sent. }
  for I := 0 to High(Jobs) do
    QvJobCancel(Jobs[I]);
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

function TQvSessionView.GetLastOutcome: TQvOutcome;
var
  P: Pointer;
begin
  P := Enter;
  try
    Result := QvOutcomeOf(P);
  finally
    Leave;
  end;
end;

function TQvSessionView.GetLastRelogin: TQvRelogin;
var
  Detail: TQvDetailBuffer;
  Kind: Int32;
  P: Pointer;
begin
  Result := Default(TQvRelogin);
  Kind := 0;
  Detail[0] := #0;
  P := Enter;
  try
    QvGetLastRelogin(P, @Kind, @Result.ServerCode, @Result.SocketError, @Detail[0], SizeOf(Detail));
  finally
    Leave;
  end;
  Result.Kind := TQvReloginKind(Kind);
  Result.Detail := QvFromGbk(@Detail[0]);
end;

function TQvSessionView.GetConnectionState: TQvConnectionState;
var
  State, Path, Protocol: Int32;
  P: Pointer;
begin
  Result := Default(TQvConnectionState);
  State := 0;
  Path := 0;
  Protocol := 0;
  P := Enter;
  try
    QvGetConnectionState(P, @State, @Path, @Protocol, @Result.LoginCode);
  finally
    Leave;
  end;
  Result.State := QvStateFlags(State);
  Result.Path := TQvPathKind(Path);
  Result.LoginProtocol := TQvProtocolKind(Protocol);
end;

function TQvSessionView.Check(const Reply: TQvReply): TQvReply;
begin
  Result := Reply.Check;
end;

function TQvSessionView.Connect(const Host: TQvText; Port, Timeout: Int32; const ProxyKind, ProxyHost: string;
  ProxyPort: Int32; const ProxyUser, ProxyPassword: string): TQvReply;
begin
  Result := TcpConnect(Host, Port, Timeout, ProxyKind, ProxyHost, ProxyPort, ProxyUser, ProxyPassword);
end;

function TQvSessionView.Login(const Name, Password: TQvText; const App, Extra, Version: string): TQvReply;
begin
  if Login_Request(App, Extra, Name, Password, Version) then
    Exit(Login_Feedback);
  Result := Default(TQvReply);
  Result.Call := 'Login_Request';
  Result.Code := -1;
  Result.Outcome := GetLastOutcome;
end;

function TQvSessionView.Check(Ok: Boolean; const Call: string): Boolean;
var
  O: TQvOutcome;
begin
  if Ok then
    Exit(True);
  O := GetLastOutcome;
  raise EQuorvexError.CreateFor(Call, -1, O.Detail, O);
end;

{ The send job: a thin shell over the library's QvJob and QvSendJob }

const
  JobFieldNames: array[QV_JOB_PRODUCT..QV_JOB_PERIOD] of string = ('Product', 'Content', 'PushUrl', 'FileName',
    'BeginDate', 'EndDate', 'BeginTime', 'EndTime', 'Order1', 'Order2', 'Order3', 'Period');

{ The library calls these on the sending thread, with the TQvJob as the
  context.  No exception may cross the library's frames, so the methods
  behind them keep what the host's code raised. }
procedure JobProgress(Job, Context: Pointer; Step, Attempt: Int32); {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF};
begin
  TQvJob(Context).Progress(Step, Attempt);
end;

function JobResolver(Job, Context: Pointer): Int32; {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF};
begin
  Result := TQvJob(Context).Resolve;
end;

constructor TQvJob.Create;
begin
  inherited Create;
  FLock := TCriticalSection.Create;
  FWait := QV_JOB_WAIT_DEFAULT_MS;
  FHandle := QvJobCreate;
  if FHandle = nil then
    raise EOutOfMemory.Create('QvJobCreate: out of memory or out of handles');
end;

destructor TQvJob.Destroy;
var
  Busy: Boolean;

  function Sending: Boolean;
  begin
    FLock.Acquire;
    try
      Result := FSends > 0;
    finally
      FLock.Release;
    end;
  end;

begin
  if FHandle <> nil then
  begin
    FLock.Acquire;
    try
      FFreeing := True;
      Busy := FSends > 0;
    finally
      FLock.Release;
    end;
    { The send returns at once and reads its result before the job goes;
      the wait polls, as TQvSession.Close does. }
    if Busy then
    begin
      QvJobCancel(FHandle);
      while Sending do
        Sleep(1);
    end;
    QvJobDestroy(FHandle);
  end;
  FLock.Free;
  inherited Destroy;
end;

procedure TQvJob.Refused(const Call: string);
var
  O: TQvOutcome;
begin
  O := ThreadOutcome;
  raise EQuorvexError.CreateFor(Call, -1, O.Detail, O);
end;

procedure TQvJob.SetText(Field: Int32; const Text: TQvText);
var
  Name: string;
  Gbk: RawByteString;
begin
  if (Field >= Low(JobFieldNames)) and (Field <= High(JobFieldNames)) then
    Name := JobFieldNames[Field]
  else
    Name := Format('Text[%d]', [Field]);
  Gbk := GbkOf('TQvJob', Name, 3, Text);
  if not QvJobSetText(FHandle, Field, PAnsiChar(Gbk), Length(Gbk), QV_TEXT_GBK) then
    Refused('TQvJob');
end;

procedure TQvJob.AddNumber(const Number: TQvText);
var
  Gbk: RawByteString;
begin
  Gbk := GbkOf('TQvJob', 'Number', 2, Number);
  if not QvJobAddNumber(FHandle, PAnsiChar(Gbk)) then
    Refused('TQvJob');
end;

procedure TQvJob.AddNumbers(const Numbers: array of string);
var
  I: Integer;
begin
  for I := Low(Numbers) to High(Numbers) do
    AddNumber(Numbers[I]);
end;

procedure TQvJob.SetFile(const Bytes: TBytes);
begin
  if Length(Bytes) > QV_JOB_FILE_MAX then
    Refuse('TQvJob', Format('File: %d bytes, at most %d', [Length(Bytes), QV_JOB_FILE_MAX]), 2);
  if not QvJobSetFile(FHandle, Pointer(Bytes), Length(Bytes)) then
    Refused('TQvJob');
end;

procedure TQvJob.SetOption(Option, Value: Int32);
begin
  if not QvJobSetOption(FHandle, Option, Value) then
    Refused('TQvJob');
end;

procedure TQvJob.SetCheck(Value: Boolean);
begin
  SetOption(QV_JOB_OPTION_CHECK, Ord(Value));
  FCheck := Value;
end;

procedure TQvJob.SetTakeEvidence(Value: Boolean);
begin
  SetOption(QV_JOB_OPTION_EVIDENCE, Ord(Value));
  FTakeEvidence := Value;
end;

procedure TQvJob.SetWait(Value: Int32);
begin
  SetOption(QV_JOB_OPTION_WAIT, Value);
  FWait := Value;
end;

procedure TQvJob.SetOnProgress(Value: TQvJobProgress);
var
  Call: Pointer;
begin
  Call := nil;
  if Assigned(Value) then
    Call := @JobProgress;
  if not QvJobSetProgress(FHandle, Call, Self) then
    Refused('TQvJob');
  FOnProgress := Value;
end;

procedure TQvJob.SetResolver(Value: TQvJobResolver);
var
  Call: Pointer;
begin
  Call := nil;
  if Assigned(Value) then
    Call := @JobResolver;
  if not QvJobSetResolver(FHandle, Call, Self) then
    Refused('TQvJob');
  FResolver := Value;
end;

procedure TQvJob.KeepCallbackError;
begin
  if FCallbackError = nil then
    FCallbackError := TObject(AcquireExceptionObject);
end;

procedure TQvJob.Progress(Step, Attempt: Int32);
begin
  try
    if Assigned(FOnProgress) then
      FOnProgress(Self, Step, Attempt);
  except
    KeepCallbackError;
    QvJobCancel(FHandle);
  end;
end;

function TQvJob.Resolve: Int32;
begin
  try
    Result := QV_RESOLVED_UNKNOWN;
    if Assigned(FResolver) then
      Result := Ord(FResolver(Self));
  except
    KeepCallbackError;
    Result := QV_RESOLVED_UNKNOWN;
  end;
end;

procedure TQvJob.Cancel;
begin
  QvJobCancel(FHandle);
end;

function TQvJob.BeginSend: Boolean;
begin
  FLock.Acquire;
  try
    Result := not FFreeing;
    if Result then
      Inc(FSends);
  finally
    FLock.Release;
  end;
end;

procedure TQvJob.EndSend;
begin
  FLock.Acquire;
  try
    Dec(FSends);
  finally
    FLock.Release;
  end;
end;

function TQvJob.Evidence(Which: Int32; out Text: string): Boolean;
var
  Buffer: RawByteString;
  N: Int32;
begin
  Text := '';
  Buffer := QvBuffer(QV_BODY_BUFFER_SIZE);
  N := QvJobEvidence(FHandle, Which, PAnsiChar(Buffer), Length(Buffer));
  if N >= Length(Buffer) then
  begin
    Buffer := QvBuffer(N + 1);
    N := QvJobEvidence(FHandle, Which, PAnsiChar(Buffer), Length(Buffer));
  end;
  Result := (N >= 0) and (N < Length(Buffer));
  if Result then
    Text := QvFromGbk(Copy(Buffer, 1, N));
end;

function TQvJob.LastResult: TQvJobResult;
var
  Status, Kind, Sent, Relogin: Int32;
  Msg: TQvMessageBuffer;
  Number: TQvParamBuffer;
  Detail: TQvDetailBuffer;
  Which: Int32;
begin
  Result := Default(TQvJobResult);
  Status := 0;
  Sent := 0;
  Result.Code := -1;
  Msg[0] := #0;
  Number[0] := #0;
  Detail[0] := #0;
  QvJobResult(FHandle, @Status, @Result.Step, @Result.Attempts, @Result.Code, @Msg[0], @Number[0],
    @Result.Recipients, @Result.Charged, @Result.Left);
  if (Status >= Ord(Low(TQvJobStatus))) and (Status <= Ord(High(TQvJobStatus))) then
    Result.Status := TQvJobStatus(Status);
  Result.Message := QvFromGbk(@Msg[0]);
  Result.JobNumber := QvFromGbk(@Number[0]);
  Kind := 0;
  Relogin := 0;
  QvJobOutcome(FHandle, @Kind, @Sent, @Relogin, @Result.Outcome.SocketError, @Detail[0], SizeOf(Detail));
  Result.Outcome.Kind := TQvOutcomeKind(Kind);
  Result.Relogin := TQvReloginKind(Relogin);
  Result.Outcome.Sent := Sent <> 0;
  Result.Outcome.Detail := QvFromGbk(@Detail[0]);
  for Which := Low(Result.Evidence) to High(Result.Evidence) do
    Result.Evidence[Which].Taken := Evidence(Which, Result.Evidence[Which].Text);
end;

function TQvSessionView.SendJob(Job: TQvJob; Attempts: Integer): TQvJobResult;
var
  P: Pointer;
  Submitted: Boolean;
  O: TQvOutcome;
  Error: TObject;
begin
  if Job = nil then
    Refuse('SendJob', 'no job', 2);
  if not Job.BeginSend then
    Refuse('SendJob', 'the job is being freed', 2);
  try
    if not TryEnter(P, Job.FHandle) then
    begin
      { Closed before the send could begin: nothing was sent. }
      Result := Default(TQvJobResult);
      Result.Status := jobCancelled;
      Result.Code := -1;
      Result.Outcome.Kind := outcomeRefused;
      Result.Outcome.Argument := 1;
      Result.Outcome.Detail := 'the session is closed';
      Exit;
    end;
    try
      { Close in another thread cancels the send and waits for it here. }
      Submitted := QvSendJob(P, Job.FHandle, Attempts);
    finally
      Leave(Job.FHandle);
    end;
    { Refused before any call: a handle, no product, no numbers, a job
      being sent.  A job that ended has no argument at fault. }
    if not Submitted then
    begin
      O := ThreadOutcome;
      if (O.Kind = outcomeRefused) and (O.Argument <> 0) then
        raise EQuorvexError.CreateFor('SendJob', -1, O.Detail, O);
    end;
    Result := Job.LastResult;
    Error := Job.FCallbackError;
    Job.FCallbackError := nil;
    if Error <> nil then
      raise Error;
  finally
    Job.EndSend;
  end;
end;

{$I QuorvexJournalImpl.inc}

{ Operations: one dispatcher thread per process, one queue }

type
  { Takes each completed operation off the queue, reads it into its
    TQvPending, frees it and has the main thread deliver it.  It ends when
    the queue is destroyed, which ends its wait. }
  TQvDispatcher = class(TThread)
  protected
    procedure Execute; override;
  end;

var
  { Made at initialisation when a thread manager is there; it guards the
    dispatcher's creation and every session's FPending. }
  DispatchLock: TCriticalSection;
  DispatchQueue: Pointer;
  Dispatcher: TQvDispatcher;
  Ending: Boolean;

function ThreadManagerInstalled: Boolean;
{$IFDEF FPC}{$IFDEF UNIX}
var
  Manager: TThreadManager;
{$ENDIF}{$ENDIF}
begin
  Result := True;
{$IFDEF FPC}{$IFDEF UNIX}
  { Without cthreads the run-time library's stand-in, which has no
    InitManager, would stop the program at the first thread. }
  GetThreadManager(Manager);
  Result := Assigned(Manager.InitManager);
{$ENDIF}{$ENDIF}
end;

procedure StartDispatcher;
var
  O: TQvOutcome;
begin
  { A manager installed after this unit came too late for it (the run-time
    library itself stops such a program as it starts). }
  if DispatchLock = nil then
    raise EQvNoThreads.Create('TQvAsyncSession: the program has no thread manager; put cthreads first in its '
      + 'uses clause, before every other unit');
  DispatchLock.Acquire;
  try
    if Dispatcher <> nil then
      Exit;
    DispatchQueue := QvQueueCreate;
    if DispatchQueue = nil then
    begin
      O := ThreadOutcome;
      raise EQuorvexError.CreateFor('QvQueueCreate', -1, O.Detail, O);
    end;
    Dispatcher := TQvDispatcher.Create(False);
  finally
    DispatchLock.Release;
  end;
end;

procedure StopDispatcher;
begin
  if Dispatcher <> nil then
  begin
    Ending := True;
    Dispatcher.Terminate;
    { Operations still running are cancelled and freed unseen. }
    QvQueueDestroy(DispatchQueue);
    Dispatcher.WaitFor;
    Dispatcher.Free;
  end;
  DispatchLock.Free;
end;

procedure TQvDispatcher.Execute;
var
  Op: Pointer;
  P: TQvPending;
begin
  while not Terminated do
  begin
    Op := QvQueueNext(DispatchQueue, -1);
    if Op = nil then
      Break;
    P := TQvPending(QvOpTag(Op));
    try
      P.Complete(Op);
    except
      { Out of memory reading it: the event still runs, with what was read. }
    end;
    QvOpFree(Op);
    Queue(P.Deliver);
  end;
end;

{ Text Index of a completed operation, read from GBK. }
function OpText(Op: Pointer; Index: Int32): string;
var
  N: Int32;
  Gbk: RawByteString;
begin
  N := QvOpText(Op, Index, nil, 0);
  if N <= 0 then
    Exit('');
  Gbk := QvBuffer(N + 1);
  if QvOpText(Op, Index, PAnsiChar(Gbk), N + 1) <> N then
    Exit('');
  SetLength(Gbk, N);
  Result := QvFromGbk(Gbk);
end;

function OpOutcome(Op: Pointer): TQvOutcome;
var
  Kind, Sent: Int32;
  Detail: TQvDetailBuffer;
begin
  Result := Default(TQvOutcome);
  Kind := 0;
  Sent := 0;
  Detail[0] := #0;
  QvOpOutcome(Op, @Kind, @Sent, @Result.Argument, @Result.SocketError, @Detail[0], SizeOf(Detail));
  Result.Kind := TQvOutcomeKind(Kind);
  Result.Sent := Sent <> 0;
  Result.Detail := QvFromGbk(@Detail[0]);
end;

destructor TQvPending.Destroy;
begin
  ReleaseJob;
  inherited Destroy;
end;

procedure TQvPending.ReleaseJob;
begin
  if FJob <> nil then
    FJob.EndSend;
  FJob := nil;
end;

procedure TQvPending.Texts(const Values: array of TQvText; const Places: array of Int32; const Names: string);
var
  I: Integer;
  Fault: string;
begin
  SetLength(FInputs, Length(Values));
  for I := 0 to High(Values) do
  begin
    Fault := QvGbkFault(Values[I], FInputs[I]);
    if Fault <> '' then
      Refuse(FCall, Names.Split([','])[I] + ': ' + Fault, Places[I]);
  end;
end;

procedure TQvPending.Outputs(Message: Boolean; const TextFields, NumberFields: array of Pointer; CodeField: PInt32);
var
  I: Integer;
begin
  FMessage := Message;
  SetLength(FTextFields, Length(TextFields));
  for I := 0 to High(TextFields) do
    FTextFields[I] := TextFields[I];
  SetLength(FNumberFields, Length(NumberFields));
  for I := 0 to High(NumberFields) do
    FNumberFields[I] := NumberFields[I];
  FCodeField := CodeField;
end;

function TQvPending.Enter: Pointer;
begin
  if not FSession.TryEnter(Result) then
    raise EQvSessionClosed.Create('the session is closed');
  DispatchLock.Acquire;
  try
    Insert(Self, FSession.FPending, Length(FSession.FPending));
  finally
    DispatchLock.Release;
  end;
  { The dispatcher's reference, which Deliver drops. }
  _AddRef;
end;

function TQvPending.Queue: Pointer;
begin
  Result := DispatchQueue;
end;

function TQvPending.Input(I: Integer): PAnsiChar;
begin
  Result := PAnsiChar(FInputs[I]);
end;

procedure TQvPending.Forget;
var
  I: Integer;
begin
  DispatchLock.Acquire;
  try
    if FSession <> nil then
      for I := 0 to High(FSession.FPending) do
        if FSession.FPending[I] = Self then
        begin
          Delete(FSession.FPending, I, 1);
          Break;
        end;
    FSession := nil;
  finally
    DispatchLock.Release;
  end;
end;

procedure TQvPending.Started(Op: Pointer);
var
  O: TQvOutcome;
begin
  FSession.Leave;
  if Op <> nil then
  begin
    FHandle := Op;
    Exit;
  end;
  O := ThreadOutcome;
  Forget;
  ReleaseJob;
  FCompleted := True;
  _Release;
  raise EQuorvexError.CreateFor(FCall, -1, O.Detail, O);
end;

procedure TQvPending.Complete(Op: Pointer);
var
  I, First: Integer;
begin
  R.Ok := QvOpResult(Op);
  R.Code := QvOpCode(Op);
  if FCodeField <> nil then
    FCodeField^ := R.Code;
  First := 0;
  if FMessage then
  begin
    R.Message := OpText(Op, 0);
    First := 1;
  end;
  SetLength(R.Params, Length(FTextFields));
  for I := 0 to High(FTextFields) do
  begin
    R.Params[I] := OpText(Op, First + I);
    FTextFields[I]^ := R.Params[I];
  end;
  SetLength(R.Numbers, Length(FNumberFields));
  for I := 0 to High(FNumberFields) do
  begin
    R.Numbers[I] := QvOpNumber(Op, I);
    FNumberFields[I]^ := R.Numbers[I];
  end;
  if not R.Ok then
    R.Outcome := OpOutcome(Op);
  if FJob <> nil then
  begin
    FJobResult := FJob.LastResult;
    ReleaseJob;
  end;
end;

{ On the main thread: the event, unless the session was freed or the
  program is ending, then the dispatcher's reference dropped. }
procedure TQvPending.Deliver;
var
  Owned: Boolean;
begin
  try
    Owned := FSession <> nil;
    Forget;
    FCompleted := True;
    if Owned and not Ending then
      if Assigned(OnJob) then
        OnJob(Self, FJobResult)
      else if Assigned(OnReply) then
        OnReply(Self, R)
      else if Assigned(OnResult) then
        OnResult(Self, R.Ok)
      else if Assigned(OnJournal) then
        OnJournal(Self, JournalResultOf(R, FSettled));
  finally
    _Release;
  end;
end;

function TQvPending.Cancel: Boolean;
begin
  { A handle freed meanwhile is refused by the library, never reused. }
  Result := not FCompleted and (FHandle <> nil) and QvOpCancel(FHandle);
end;

function TQvPending.Completed: Boolean;
begin
  Result := FCompleted;
end;

function TQvPending.Call: string;
begin
  Result := FCall;
end;

function TQvPending.Reply: TQvReply;
begin
  if FCompleted then
    Result := R
  else
  begin
    Result := Default(TQvReply);
    Result.Call := FCall;
    Result.Code := -1;
  end;
end;

function TQvPending.Progress(out Step, Attempt: Int32): Boolean;
begin
  Step := 0;
  Attempt := 0;
  Result := not FCompleted and (FHandle <> nil) and QvOpProgress(FHandle, @Step, @Attempt);
end;

function TQvPending.GetTag: NativeInt;
begin
  Result := FTag;
end;

procedure TQvPending.SetTag(Value: NativeInt);
begin
  FTag := Value;
end;

constructor TQvAsyncSession.Create;
begin
  StartDispatcher;
  inherited Create;
end;

destructor TQvAsyncSession.Destroy;
var
  I: Integer;
begin
  if DispatchLock <> nil then
  begin
    DispatchLock.Acquire;
    try
      for I := 0 to High(FPending) do
        FPending[I].FSession := nil;
      FPending := nil;
    finally
      DispatchLock.Release;
    end;
  end;
  { Destroying the session cancels what runs; those complete unseen. }
  inherited Destroy;
end;

function TQvAsyncSession.Pending(const Call: string; out Op: IQvOperation): TQvPending;
begin
  Result := TQvPending.Create;
  Result.FSession := Self;
  Result.FCall := Call;
  Result.R.Call := Call;
  Result.R.Code := -1;
  { Held by the host from here, so that a start that raises frees it. }
  Op := Result;
end;

function TQvAsyncSession.StartSendJob(Job: TQvJob; Attempts: Integer; OnDone: TQvJobEvent): IQvOperation;
var
  O: TQvPending;
begin
  if Job = nil then
    Refuse('SendJob', 'no job', 2);
  O := Pending('SendJob', Result);
  if not Job.BeginSend then
    Refuse('SendJob', 'the job is being freed', 2);
  O.FJob := Job;
  O.OnJob := OnDone;
  O.Started(QvStartSendJob(O.Enter, O.Queue, O, Job.FHandle, Attempts));
end;

function TQvAsyncSession.StartSendJob(Job: TQvJob; OnDone: TQvJobEvent): IQvOperation;
begin
  Result := StartSendJob(Job, 2, OnDone);
end;

{$I QuorvexAsyncImpl.inc}

{$I QuorvexSessionImpl.inc}

initialization
  TheDefaultSession := TQvSessionView.Create;
  if ThreadManagerInstalled then
    DispatchLock := TCriticalSection.Create;

finalization
  StopDispatcher;
  TheDefaultSession.Free;

end.
