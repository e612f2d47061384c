"""The .NET Session's methods, bindings/dotnet/Quorvex.Session.g.cs: one per session twin,
under the classic export's name: strings in, the outputs in a Frame made at their
documented sizes, a Reply out, its outputs named as the header names them: one
expression each, Session.Call running it between Enter and Leave.  Client's methods
for the same exports are one line each: the same method on Session.Default, the view of
the classic exports' session.  Quorvex.cs holds the rest of Session: the handle, Enter and
Leave around every call, Dispose, and the outcome queries, which return their own types."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from native_declarations import fill, notice  # noqa: E402
from emit_dotnet import xml_doc  # noqa: E402

# Written by hand in Quorvex.cs: they return Outcome, ReloginInfo and ConnectionState.
HAND_WRITTEN = {"GetLastOutcome", "GetLastRelogin", "GetConnectionState"}
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
    lines += ["    }", "", "    public static partial class Client", "    {"]
    for e in twins(d):
        lines += forwarder(e)
    lines += ["    }", "}"]
    return "\n".join(lines) + "\n"


OUTPUTS = {"bindings/dotnet/Quorvex.Session.g.cs": session}
