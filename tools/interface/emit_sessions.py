"""The sessions' generated files: the twins' C declarations, include/quorvex_sessions.h,
which quorvex.h includes inside its extern "C" block, and the table of the library's
wrappers, src/api/session_exports.def, one row per export that acts on a session.

Each export marked "session" has one body, qv::api::on_session::Name, that acts on the
session it is given: written by hand in src/api/, or, for an export whose body is the
plain exchange of its record "command", generated from the table's row.  The wrappers are mechanical: the
classic export passes the default session and keeps its name; the twin passes the
caller's session and refuses one that is not live (null, never made, destroyed) before
touching any argument or reading anything through the handle.  An export marked
"twin" keeps a classic export written by hand (one that does not act on the default
session) and gets only its twin from here.
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from native_declarations import notice  # noqa: E402

WIDTH = 100
C_RESULTS = {"bool": "QV_API ", "int": "QV_EXPORT int32_t QV_CALL ",
             "pointer": "QV_EXPORT QvSession *QV_CALL ", "void": "QV_EXPORT void QV_CALL "}


def c_arg(d, a):
    """An argument as C declares it, its type from the roles table."""
    c = d["roles"][a["role"]]["c"]
    return c + ("" if c.endswith("*") else " ") + a["name"]


def wrapped(head, args, tail, indent="    "):
    """head(args)tail on one line, or broken after a comma to stay within WIDTH."""
    items = [a + "," for a in args[:-1]] + [args[-1] + ")" + tail] if args else [")" + tail]
    lines = [head + "(" + items[0]]
    for item in items[1:]:
        if len(lines[-1]) + 1 + len(item) <= WIDTH:
            lines[-1] += " " + item
        else:
            lines.append(indent + item)
    return lines


def twins(d):
    return [e for e in d["exports"] if e.get("twin_of")]


def bodies(d):
    return [e for e in d["exports"] if e.get("session")]


def twins_header(d):
    lines = [notice("//")[:-1],
             "/* The twins of the exports that act on a session: QvName acts as Name does (its",
             " * result, the bytes on the wire, its messages and its outcome rules) on the session",
             " * given first instead of the default session.  A Session that is not live (NULL, a",
             " * value QvSessionCreate did not return, or a destroyed one) is refused: result 0,",
             " * QV_OUTCOME_REFUSED with Argument 1, nothing written to the other arguments.",
             " * quorvex.h includes this file inside its extern \"C\" block. */",
             "#ifndef QUORVEX_H",
             "#error \"include quorvex.h, which includes this file\"",
             "#endif",
             ""]
    for e in twins(d):
        lines += wrapped(C_RESULTS[e["result"]] + e["name"], [c_arg(d, a) for a in e["args"]], ";")
    return "\n".join(lines) + "\n"


def row_args(names):
    return "(" + ", ".join(names) + ")"


def session_rows(d):
    lines = [notice("//")[:-1],
             "// Every export that acts on a session, one row each, for the includer's macros to",
             "// expand (src/api/session_bodies.h declares the bodies, src/api/exports.cpp defines",
             "// the generated ones, src/api/session_exports.cpp wraps them in their exports):",
             "//   QV_SESSION(Name, (parameters), (arguments))       a body written in src/api/;",
             "//       the classic export on the default session and its twin QvName",
             "//   QV_SESSION_TWIN(Name, (parameters), (arguments))  the same, the classic export",
             "//       written by hand",
             "//   QV_RECORD(Name, command, (parameters), (arguments), call)  a body that is the",
             "//       plain exchange of record::command with that call; both exports",
             "// The body of Name is qv::api::on_session::Name(session, arguments...), which keeps",
             "// the export's name for the trace.",
             ""]
    for e in bodies(d):
        params = row_args(c_arg(d, a) for a in e["args"])
        names = row_args(a["name"] for a in e["args"])
        if e.get("command"):
            head = [f"QV_RECORD({e['name']}, {e['command']},", params + ",", names + ",", record_call(e) + ")"]
        elif e["session"] is True:
            head = [f"QV_SESSION({e['name']},", params + ",", names + ")"]
        else:
            head = [f"QV_SESSION_TWIN({e['name']},", params + ",", names + ")"]
        lines += packed(head)
    return "\n".join(lines) + "\n"


def record_call(e):
    """The record::Call of a plain exchange: the result code, the message, the outputs,
    the texts and the numbers, each in argument order."""
    fields = {"code": ".result_code", "message": ".message"}
    lists = {"out": ".outs", "param": ".outs", "text": ".texts", "int": ".numbers"}
    parts, grouped = [], {}
    for a in e["args"]:
        if a["role"] in fields:
            parts.append(f"{fields[a['role']]} = {a['name']}")
        elif a["role"] in lists:
            grouped.setdefault(lists[a["role"]], []).append(a["name"])
        else:
            raise ValueError(f"{e['name']}: role {a['role']} has no place in a record call")
    for field in (".outs", ".texts", ".numbers"):
        if field in grouped:
            parts.append(f"{field} = {{{', '.join(grouped[field])}}}")
    return "{" + ", ".join(parts) + "}"


def packed(items, indent="    "):
    """The items joined by spaces, broken between items to stay within WIDTH; an item too
    long for one line is broken after its commas."""
    lines = [items[0]]
    for item in items[1:]:
        if len(lines[-1]) + 1 + len(item) <= WIDTH:
            lines[-1] += " " + item
            continue
        words = item.split(", ")
        lines.append(indent + words[0])
        for w in words[1:]:
            if len(lines[-1]) + 2 + len(w) <= WIDTH:
                lines[-1] += ", " + w
            else:
                lines[-1] += ","
                lines.append(indent + " " + w)
    return lines


def starters(d):
    return [e for e in d["exports"] if e.get("starter_of")]


def starters_header(d):
    lines = [notice("//")[:-1],
             "/* The starters of operations: QvStartName runs Name (or a pair's two halves) as an",
             " * operation on Session, completed on Queue with Tag; it takes the export's inputs,",
             " * and the operation keeps its outputs (QvOpCode, QvOpText, QvOpNumber).  See",
             " * \"Operations and queues\" in quorvex.h.  quorvex.h includes this file inside its",
             " * extern \"C\" block. */",
             "#ifndef QUORVEX_H",
             "#error \"include quorvex.h, which includes this file\"",
             "#endif",
             ""]
    for e in starters(d):
        lines += wrapped("QV_EXPORT QvOp *QV_CALL " + e["name"], [c_arg(d, a) for a in e["args"]], ";")
    return "\n".join(lines) + "\n"


# The buffer an operation gives each text output, by role.
TEXT_SIZES = {"message": "QV_BODY_BUFFER_SIZE", "param": "QV_PARAM_BUFFER_SIZE", "detail": "QV_DETAIL_BUFFER_SIZE"}


def starter_call(d, halves):
    """The expression that runs an operation's export (or both halves of a pair, the second
    only after the first returned 1) on session s with its outputs in o."""
    texts, numbers, reply_length = 0, 0, None
    calls = []
    for h in halves:
        args = []
        for i, a in enumerate(h["args"]):
            role = a["role"]
            if role in ("code", "reply_code"):
                args.append("o.code_out()")
            elif role == "out":
                if a["name"] == "ReplyLength":
                    reply_length = numbers
                args.append(f"o.number({numbers})")
                numbers += 1
            elif role in TEXT_SIZES:
                args.append(f"o.text({texts}, {TEXT_SIZES[role]})")
                texts += 1
            elif role == "fxtext":
                args.append(f"o.text({texts}, async::Outputs::reply_buffer(*o.number({reply_length})))")
                texts += 1
            elif role == "size" and h["args"][i - 1]["role"] in TEXT_SIZES:
                args.append(TEXT_SIZES[h["args"][i - 1]["role"]])
            elif role == "int" and len(calls) and a["name"] == "ReplyCode":
                args.append("o.code")
            elif role == "int" and len(calls) and a["name"] == "ReplyLength":
                args.append(f"*o.number({reply_length})")
            elif role == "text":
                args.append(a["name"] + ".get()")
            elif role == "int":
                args.append(a["name"])
            else:
                raise ValueError(f"{h['name']}: role {role} has no place in an operation")
        calls.append(f"on_session::{h['name']}({', '.join(['s'] + args)})")
    if texts > 4 or numbers > 8:
        raise ValueError(f"{halves[0]['name']}: more outputs than an operation keeps")
    return " && o.first_half_done() && ".join(calls)


def starter_rows(d):
    lines = [notice("//")[:-1],
             "// Every operation's starter, one row each, for src/api/async_starters.cpp to expand:",
             "//   QV_START(Name, (inputs), (captures), call)",
             "// QvStartName takes the session, the queue, the tag and the inputs; the captures copy",
             "// the inputs into the operation, and call runs the export's body (a pair's two halves)",
             "// on its session s with the outputs kept in o.",
             ""]
    for e in starters(d):
        halves = [next(x for x in d["exports"] if x["name"] == n) for n in e["starter_of"]]
        inputs = e["args"][3:]
        params = row_args(c_arg(d, a) for a in inputs)
        captures = row_args(f"{a['name']} = async::TextIn({a['name']})" if a["role"] == "text" else a["name"]
                            for a in inputs)
        lines += packed([f"QV_START({e['name'][len('QvStart'):]},", params + ",", captures + ",",
                         starter_call(d, halves) + ")"])
    return "\n".join(lines) + "\n"


OUTPUTS = {
    "include/quorvex_sessions.h": twins_header,
    "include/quorvex_async.h": starters_header,
    "src/api/session_exports.def": session_rows,
    "src/api/async_starters.def": starter_rows,
}
