"""The .NET Session's methods, bindings/dotnet/Quorvex.Session.g.cs: one per session twin,
under the classic export's name: strings in, the outputs in a Frame made at their
documented sizes, a Reply out, its outputs named as the header names them: one
expression each, Session.Call running it between Enter and Leave.  Client's methods
for the same exports are one line each: the same method on Session.Default, the view of
the classic exports' session.  Quorvex.cs holds the rest of Session: the handle, Enter and
Leave around every call, Dispose, and the outcome queries, which return their own types.

A pair of exports (X_Req and X_Resp, X_Request and X_Feedback) is also one method X, the
second half given what the first handed back.  Quorvex.Session.Async.g.cs holds XxxAsync for
each operation's starter (QvStartXxx): the same inputs and a CancellationToken, a
Task<Reply> that completes with what the sync method of that name returns, read from the
operation's outputs.  Quorvex.Async.cs holds the queue and the thread that complete them."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from native_declarations import fill, notice  # noqa: E402
from emit_dotnet import xml_doc  # noqa: E402

# Written by hand in Quorvex.cs: they return Outcome, ReloginInfo and ConnectionState.
HAND_WRITTEN = {"GetLastOutcome", "GetLastRelogin", "GetConnectionState"}
# Pairs whose one method is written by hand in Quorvex.cs (Login takes the name and password first):
# their operation is an internal Start + name, and the public XxxAsync is written beside it.
HAND_WRITTEN_PAIRS = {"Login"}
TEXT_OUTPUTS = ("message", "param", "fxtext")
INDENT = " " * 8


def camel(name):
    return name[0].lower() + name[1:]


def shape(e):
    """(parameters, arguments passed to the twin, names of the number outputs) of twin e."""
    params, passed, numbers, fx_texts = [], ["p"], [], 0
    for a in e["args"][1:]:
        role, arg = a["role"], camel(a["name"])
        if role == "text":
            params.append(f"string {arg}")
            passed.append(f"In({arg})")
        elif role == "int":
            params.append(f"int {arg}")
            passed.append(arg)
        elif role in ("code", "reply_code"):
            passed.append("out f.Code")
        elif role == "out":
            passed.append(f"out f.Numbers[{len(numbers)}]")
            numbers.append(a["name"])
        elif role == "message":
            passed.append("f.Text(QV_BODY_BUFFER_SIZE)")
        elif role == "param":
            passed.append(f'f.Param("{a["name"]}")')
        elif role == "fxtext":
            # The first text of an XML reply is the Message, any other a Param, each sized by the reply.
            passed.append(f'f.Param("{a["name"]}", Frame.FxSize(replyLength))' if fx_texts
                          else "f.Text(Frame.FxSize(replyLength))")
            fx_texts += 1
        else:
            raise ValueError(f"{e['name']}: no Session method shape for the role {role!r} of {a['name']}")
    return params, passed, numbers


def method(e, docs):
    """The C# lines of the Session method of twin e, documented with docs, its export's text."""
    name = e["twin_of"]
    params, passed, numbers = shape(e)
    coded = any(p == "out f.Code" for p in passed)
    frame = ", ".join([f'"{name}"'] + (["true" if coded else "false"] + [f'"{n}"' for n in numbers]
                                       if coded or numbers else []))
    items = [x + "," for x in params[:-1]] + [params[-1] + ") =>"] if params else [") =>"]
    lines = fill(f"{INDENT}public Reply {name}(", items, INDENT + "    ")
    items = [f"new Frame({frame}),", f"(f, p) => NativeMethods.{e['name']}(" + passed[0] + ("," if passed[1:] else "));")]
    items += [x + "," for x in passed[1:-1]] + ([passed[-1] + "));"] if passed[1:] else [])
    return xml_doc(docs, INDENT) + lines + fill(INDENT + "    Call(", items, INDENT + "        ")


def forwarder(e):
    """Client's line for twin e: the method of the same name on the default session."""
    name = e["twin_of"]
    params, _, _ = shape(e)
    names = [p.split()[-1] for p in params]
    items = [x + "," for x in params[:-1]] + [params[-1] + ") =>"] if params else [") =>"]
    items += [f"Session.Default.{name}(" + ", ".join(names) + ");"]
    return ([f'{INDENT}/// <summary>{name} on the default session: <see cref="Session.{name}"/>.</summary>']
            + fill(f"{INDENT}public static Reply {name}(", items, INDENT + "    "))


def twins(d):
    return [e for e in d["exports"] if e.get("twin_of") and e["twin_of"] not in HAND_WRITTEN]


def halves_of(d, starter):
    """The twins that starter runs, in order."""
    by_name = {e["name"]: e for e in d["exports"]}
    return [by_name["Qv" + n] for n in starter["starter_of"]]


def starters(d):
    return [e for e in d["exports"] if e.get("starter_of") and not set(e["starter_of"]) & HAND_WRITTEN]


def outputs(halves):
    """(coded, has a message, the other texts' names, the numbers' names) of an operation: its
    outputs in the order the operation keeps them, a pair's request half first."""
    texts = [a for h in halves for a in h["args"] if a["role"] in TEXT_OUTPUTS]
    if any(a["role"] == "message" for a in texts[1:]):
        raise ValueError(f"{halves[0]['name']}: its message is not its first text output")
    message = bool(texts) and texts[0]["role"] in ("message", "fxtext")
    coded = any(a["role"] in ("code", "reply_code") for h in halves for a in h["args"])
    numbers = [a["name"] for h in halves for a in h["args"] if a["role"] == "out"]
    return coded, message, [a["name"] for a in texts[1 if message else 0:]], numbers


def pair(halves):
    """Session's sync method for a pair: the first half, then the second given its reply header."""
    name = halves[0]["twin_of"]
    stem = name[:name.rfind("_")]
    params, _, _ = shape(halves[0])
    names = [p.split()[-1] for p in params]
    given = ["r.Code" if a["role"] == "int" and a["name"] == "ReplyCode" else f'r.Number("{a["name"]}")'
             for a in halves[1]["args"][1:] if a["role"] in ("int", "text")]
    items = [x + "," for x in params[:-1]] + [params[-1] + ") =>"] if params else [") =>"]
    doc = [f"{INDENT}/// <summary>{name} then {halves[1]['twin_of']} with the reply header it handed back, as one",
           f"{INDENT}/// Reply: the pair's code, the texts and numbers of both halves (the request's first).  A first",
           f"{INDENT}/// half that fails is the reply.</summary>"]
    return (doc + fill(f"{INDENT}public Reply {stem}(", items, INDENT + "    ")
            + [f'{INDENT}    Pair("{stem}", {name}({", ".join(names)}), r => {halves[1]["twin_of"]}({", ".join(given)}));'])


def async_method(d, e):
    """The C# lines of the Task-returning method of starter e."""
    halves = halves_of(d, e)
    name = e["name"][len("QvStart"):]
    params, passed, _ = shape(halves[0])
    passed = ["p", "q", "t"] + [x for x in passed[1:] if not x.startswith(("out ", "f."))]
    coded, message, texts, numbers = outputs(halves)
    frame = ", ".join([f'"{name}"', "true" if coded else "false"] + [f'"{n}"' for n in numbers])
    shown = ", ".join(["true" if message else "false"] + [f'"{n}"' for n in texts])
    hand = name in HAND_WRITTEN_PAIRS
    head = f"{INDENT}internal Task<Reply> Start{name}(" if hand else f"{INDENT}public Task<Reply> {name}Async("
    doc = ([f"{INDENT}// {' then '.join(h['twin_of'] for h in halves)} as an operation, for {name}Async."] if hand else
           [f'{INDENT}/// <summary><see cref="{name}"/> as an operation: the same Reply, on the awaiting code\'s context',
            f"{INDENT}/// once it has completed.  The token cancels it; the task ends cancelled when nothing of it",
            f"{INDENT}/// reached the server, and otherwise with the reply of what it came to.</summary>"])
    items = [x + "," for x in params] + ["CancellationToken cancellationToken = default(CancellationToken)) =>"]
    start = f"(p, q, t) => NativeMethods.{e['name']}(" + ", ".join(passed) + "));"
    return doc + fill(head, items, INDENT + "    ") + fill(
        INDENT + "    Begin(", [f"new Frame({frame}).Texts({shown}),", "cancellationToken,", start], INDENT + "        ")


def session_async(d):
    lines = [notice("//")[:-1],
             "// Session's Task-returning methods, one for each operation the library starts; the queue",
             "// and the thread that complete them are in Quorvex.Async.cs.",
             "using System.Threading;",
             "using System.Threading.Tasks;",
             "",
             "namespace Quorvex",
             "{",
             "    public sealed partial class Session",
             "    {"]
    for e in starters(d):
        lines += async_method(d, e)
    lines += ["    }", "}"]
    return "\n".join(lines) + "\n"


def session(d):
    lines = [notice("//")[:-1],
             "// Session's methods for the exports that act on a session, and Client's view of them on the",
             "// default session; the rest of both is in Quorvex.cs.",
             "using static Quorvex.Native;",
             "",
             "namespace Quorvex",
             "{",
             "    public sealed partial class Session",
             "    {"]
    docs = {e["name"]: e.get("doc") for e in d["exports"]}
    for e in twins(d):
        lines += method(e, docs.get(e["twin_of"]))
    for e in starters(d):
        halves = halves_of(d, e)
        if len(halves) == 2 and e["name"][len("QvStart"):] not in HAND_WRITTEN_PAIRS:
            lines += pair(halves)
    lines += ["    }", "", "    public static partial class Client", "    {"]
    for e in twins(d):
        lines += forwarder(e)
    lines += ["    }", "}"]
    return "\n".join(lines) + "\n"


OUTPUTS = {"bindings/dotnet/Quorvex.Session.g.cs": session,
           "bindings/dotnet/Quorvex.Session.Async.g.cs": session_async}
