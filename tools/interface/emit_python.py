"""The Python package's typed surface, bindings/python/quorvex/_api.py: the kinds of the
header's QV_OUTCOME_*, QV_RELOGIN_*, QV_STATE_*, QV_PATH_*, QV_PROTOCOL_* constants and of
the send job's (fields, statuses, options, evidence, resolver answers, text encodings) and
of the journal's job states as enums, and one method per export with its real signature, type hints and the export's
documentation as its docstring, each written once: SessionExports for the exports that
act on a session, under their classic names (a Session runs them through their twins, a
Client on the default session), ClientExports for those that need no session.  The methods hand their inputs, by name, to the generic call of
client.py, which converts them and makes the output buffers.

And bindings/python/quorvex/_aio_api.py: one async method per operation's starter, under
the sync method's name and with its inputs (a pair under its stem, fxNumRule; the login
pair is aio.py's own login, as it is client.py's), handing its inputs to aio.py's
operation, and the table of the exports each starter runs, from which aio.py reads the
outputs back."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import header_docs  # noqa: E402
from native_declarations import notice  # noqa: E402

# Enum name, constant prefix, base class (the state is a set of bits) and, where one prefix
# holds several kinds, the first and last member of this one in the header's order.
KINDS = [("OutcomeKind", "QV_OUTCOME_", "enum.IntEnum"), ("ReloginKind", "QV_RELOGIN_", "enum.IntEnum"),
         ("StateFlag", "QV_STATE_", "enum.IntFlag"), ("PathKind", "QV_PATH_", "enum.IntEnum"),
         ("ProtocolKind", "QV_PROTOCOL_", "enum.IntEnum"),
         ("JobField", "QV_JOB_", "enum.IntEnum", ("PRODUCT", "PERIOD")),
         ("JobStatus", "QV_JOB_", "enum.IntEnum", ("SUBMITTED", "CANCELLED")),
         ("JobOption", "QV_JOB_OPTION_", "enum.IntEnum"), ("EvidenceKind", "QV_EVIDENCE_", "enum.IntEnum"),
         ("Resolution", "QV_RESOLVED_", "enum.IntEnum"), ("TextEncoding", "QV_TEXT_", "enum.IntEnum"),
         ("JournalState", "QV_JOURNAL_", "enum.IntEnum", ("QUEUED", "UNKNOWN"))]
INPUT_TYPES = {"text": "Optional[Text]", "prefixed": "Optional[Text]", "int": "int"}
OUTPUT_ROLES = ("out", "reply_code", "param", "setting", "web", "sized", "fxtext", "detail")


def enum_lines(defines):
    lines = []
    for name, prefix, base, *span in KINDS:
        members = [(n[len(prefix):], v, c) for n, v, c in defines if n.startswith(prefix)]
        if span:
            names = [m for m, _, _ in members]
            first, last = span[0]
            members = members[names.index(first):names.index(last) + 1]
        which = f"{prefix}{span[0][0]} to {prefix}{span[0][1]}" if span else prefix + "*"
        lines += ["", "", f"class {name}({base}):", f'    """The header\'s {which} constants."""']
        for member, value, comment in members:
            lines.append(f"    {member} = {value}" + (f"  # {comment}" if comment else ""))
    return lines


def docstring(e, indent):
    text = e["doc"].replace("\\", "\\\\").replace('"""', '\\"\\"\\"').strip()
    outputs = [a["name"] for a in e["args"] if a["role"] in OUTPUT_ROLES and a["name"] not in ("Code", "Message")]
    if outputs:
        text += f"\n\nOutputs in Result.outputs: {', '.join(outputs)}."
    body = [(indent + line) if line.strip() else "" for line in text.splitlines()]
    body[0] = indent + '"""' + body[0].lstrip()
    return body + [indent + '"""']


def method(e, name, inputs=None, body="return self._call_given", define="def"):
    """The method name of export e: its inputs (those of e by default) as parameters, handed by
    name to body(name, given)."""
    inputs = [a for a in (e["args"] if inputs is None else inputs) if a["role"] in INPUT_TYPES]
    # A text may be left out (null, the empty text) where every input after it may be too.
    optional_from = len(inputs)
    while optional_from > 0 and inputs[optional_from - 1]["role"] != "int":
        optional_from -= 1
    params = ["self"] + [f"{a['name']}: {INPUT_TYPES[a['role']]}" + (" = None" if i >= optional_from else "")
                         for i, a in enumerate(inputs)]
    given = ", ".join(f'"{a["name"]}": {a["name"]}' for a in inputs)
    head = f"    {define} {name}({', '.join(params)}) -> Result:"
    if len(head) > 110:
        head = f"    {define} {name}(\n" + "".join(f"            {p},\n" for p in params) + "    ) -> Result:"
    lines = ["", head]
    lines += docstring(e, " " * 8)
    lines.append(f'        {body}("{name}", {{{given}}})')
    return lines


def api(d):
    lines = [notice("#")[:-1],
             '"""The exports as methods with their signatures and documentation, and the header\'s kinds as enums."""',
             "import enum",
             "from typing import Optional, Union",
             "",
             "from .result import Result",
             "",
             "Text = Union[str, bytes, bytearray]"]
    lines += enum_lines(header_docs.integer_constants())
    twinned = {e["twin_of"] for e in d["exports"] if e.get("twin_of")}
    # Each session method is written once, under its classic name, from the classic export
    # (the twin's inputs are the same, after the session): Session runs it on its own
    # session through the twin, Client on the default session through the export itself.
    lines += ["", "", "class SessionExports:",
              '    """The exports that act on a session, under their classic names."""']
    lines += [line for e in d["exports"] if e["name"] in twinned for line in method(e, e["name"])]
    lines += ["", "", "class ClientExports(SessionExports):",
              '    """The exports that need no session; with those of SessionExports, on the default session."""']
    for e in d["exports"]:
        # Jobs, operations and text conversion have their own classes in the package.
        if e["name"] not in twinned and not (e["args"] and e["args"][0]["role"] == "session") \
                and e["family"] not in ("jobs", "text", "operations", "journal"):
            lines += method(e, e["name"])
    return "\n".join(lines) + "\n"


# The pairs whose sync method client.py writes by hand (its inputs in another order, with
# defaults), by starter: aio.py writes the async one beside it, under the same name.
HAND_WRITTEN = {"QvStartLogin": "login"}


def aio_api(d):
    by_name = {e["name"]: e for e in d["exports"]}
    starters = [e for e in d["exports"] if e.get("starter_of")]
    lines = [notice("#")[:-1],
             '"""The operations as async methods of AsyncSession, with the sync methods\' names, inputs and',
             'documentation; STARTERS: the exports each runs, by the method\'s name."""',
             "from typing import Optional, Union",
             "",
             "from .result import Result",
             "",
             "Text = Union[str, bytes, bytearray]",
             "",
             "STARTERS = {"]
    for e in starters:
        name = HAND_WRITTEN.get(e["name"], e["name"][len("QvStart"):])
        halves = "".join(f'"{h}", ' for h in e["starter_of"]).rstrip()
        lines.append(f'    "{name}": ("{e["name"]}", ({halves})),')
    lines += ["}", "", "", "class AsyncSessionExports:",
              '    """An async method per operation: awaiting it starts the operation and returns its Result."""']
    for e in starters:
        if e["name"] in HAND_WRITTEN:
            continue
        halves = [by_name[h] for h in e["starter_of"]]
        # A pair's documentation is its halves', in order; its Result is its second half's.
        doc = dict(halves[-1], doc="\n\n".join(h["doc"] for h in halves))
        lines += method(doc, e["name"][len("QvStart"):], e["args"][3:], "return await self._operation", "async def")
    return "\n".join(lines) + "\n"


OUTPUTS = {"bindings/python/quorvex/_api.py": api, "bindings/python/quorvex/_aio_api.py": aio_api}
