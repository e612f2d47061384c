"""The Pascal unit's external declarations, bindings/pascal/QuorvexExports.inc, which
Quorvex.pas includes in its interface section.

Each role has one Pascal type: numbers are Int32, the address of a number PInt32, and
every text, in or out, PAnsiChar of GBK bytes.  Boolean is one byte in Delphi and Free
Pascal alike, as the result is.  The library is stdcall on Windows and the C convention
elsewhere.
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from native_declarations import WIDTH, fill, notice, sections  # noqa: E402

ROLE_TYPES = {
    "code": "PInt32", "out": "PInt32", "reply_code": "PInt32",
    "int": "Int32", "size": "Int32",
    "text": "PAnsiChar", "prefixed": "PAnsiChar", "message": "PAnsiChar", "param": "PAnsiChar",
    "setting": "PAnsiChar", "web": "PAnsiChar", "sized": "PAnsiChar", "fxtext": "PAnsiChar",
    "detail": "PAnsiChar", "session": "Pointer", "job": "Pointer", "bytes": "Pointer", "callback": "Pointer",
    "context": "Pointer", "queue": "Pointer", "op": "Pointer", "tag": "Pointer", "window": "Pointer",
    "uint": "UInt32", "int64": "Int64", "out64": "PInt64", "journal": "Pointer", "reference": "PAnsiChar",
    "ids": "PInt64",
}
RESULT_TYPES = {"bool": "Boolean", "int": "Int32", "pointer": "Pointer", "job": "Pointer", "queue": "Pointer",
                "op": "Pointer", "tag": "Pointer", "int64": "Int64",
                "journal": "Pointer"}
CONVENTION = "{$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external QuorvexLib;"


def groups(args):
    """Runs of arguments of one type, as Pascal writes them: "Message, Host: PAnsiChar"."""
    runs = []
    for a in args:
        kind = ROLE_TYPES[a["role"]]
        if runs and runs[-1][1] == kind:
            runs[-1][0].append(a["name"])
        else:
            runs.append(([a["name"]], kind))
    return [f"{', '.join(names)}: {kind}" for names, kind in runs]


def declaration(e):
    # A void result is a procedure.
    kind, result = ("procedure", "") if e["result"] == "void" else ("function", ": " + RESULT_TYPES[e["result"]])
    if not e["args"]:
        lines = [f"{kind} {e['name']}{result};"]
    else:
        items = groups(e["args"])
        items = [g + ";" for g in items[:-1]] + [f"{items[-1]}){result};"]
        lines = fill(f"{kind} {e['name']}(", items, "  ")
    if len(lines) == 1 and len(lines[0]) + 1 + len(CONVENTION) <= WIDTH:
        return [lines[0] + " " + CONVENTION]
    return lines + ["  " + CONVENTION]


def exports_inc(d):
    lines = [notice("//")[:-1]]
    for i, (title, exports) in enumerate(sections(d)):
        lines += ([""] if i else []) + [f"{{ {title} }}"]
        for e in exports:
            lines += declaration(e)
    return "\n".join(lines) + "\n"


OUTPUTS = {"bindings/pascal/QuorvexExports.inc": exports_inc}
