"""The sessions' generated files: the twins' C declarations, include/quorvex_sessions.h,
which quorvex.h includes inside its extern "C" block, and the library's wrappers,
src/api/session_bodies.h and src/api/session_exports.inc.

Each export marked "session" has one body, qv::api::on_session::Name, that acts on the
session it is given (written by hand in src/api/).  The wrappers are mechanical: the
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
C_ROLES = {"code": "int32_t *", "out": "int32_t *", "int": "int32_t ", "size": "int32_t ",
           "text": "const char *", "prefixed": "const char *", "session": "QvSession *"}
C_RESULTS = {"bool": "QV_API ", "int": "QV_EXPORT int32_t QV_CALL ",
             "pointer": "QV_EXPORT QvSession *QV_CALL ", "void": "QV_EXPORT void QV_CALL "}


def c_arg(a):
    return C_ROLES.get(a["role"], "char *") + a["name"]


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
        lines += wrapped(C_RESULTS[e["result"]] + e["name"], [c_arg(a) for a in e["args"]], ";")
    return "\n".join(lines) + "\n"


def session_bodies(d):
    lines = [notice("//")[:-1],
             "// The body of every export that acts on a session, written in src/api/ and",
             "// wrapped by session_exports.inc: each keeps its export's name, which the trace",
             "// reports.",
             "#pragma once",
             "",
             "#include <cstdint>",
             "",
             "#include \"connection/session.h\"",
             "#include \"quorvex.h\"",
             "",
             "namespace qv::api::on_session {",
             ""]
    for e in bodies(d):
        args = ["connection::Session &session"] + [c_arg(a) for a in e["args"]]
        lines += wrapped("qv_bool " + e["name"], args, ";")
    lines += ["", "}  // namespace qv::api::on_session"]
    return "\n".join(lines) + "\n"


def session_exports(d):
    lines = [notice("//")[:-1],
             "// The exports that act on a session: the classic one on the default session,",
             "// its twin on the session given first.  Included by src/api/session_exports.cpp.",
             "",
             "extern \"C\" {"]
    for e in bodies(d):
        names = ", ".join(a["name"] for a in e["args"])
        if e["session"] is True:
            lines.append("")
            lines += wrapped("QV_API " + e["name"], [c_arg(a) for a in e["args"]], " {")
            lines.append(f"  return on_session::{e['name']}({', '.join(filter(None, ['default_session()', names]))});")
            lines.append("}")
        lines.append("")
        lines += wrapped("QV_API Qv" + e["name"], [c_arg(a) for a in [{"name": "Session", "role": "session"}] + e["args"]], " {")
        lines.append("  const SessionUse use(Session);")
        lines.append("  if (!use) return refuse_session(Session);")
        lines.append(f"  return on_session::{e['name']}({', '.join(filter(None, ['use.session()', names]))});")
        lines.append("}")
    lines += ["", "}  // extern \"C\""]
    return "\n".join(lines) + "\n"


OUTPUTS = {
    "include/quorvex_sessions.h": twins_header,
    "src/api/session_bodies.h": session_bodies,
    "src/api/session_exports.inc": session_exports,
}
