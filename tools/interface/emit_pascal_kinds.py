"""The Pascal enumerations of the header's kinds, bindings/pascal/QuorvexKinds.inc, which
Quorvex.pas includes in a type section: one enumerated type per family of QV_ constants
(the outcome's, the relogin's, the connection's path and login protocol), each value the
constant's own, and the connection state's flags as a set whose element n is the flag of
value 1 shl n.  A host writes O.Kind = outcomeRefused where the header says
QV_OUTCOME_REFUSED; the integer constants stay (QuorvexConstants.inc) for hosts that use
them, and Ord(Kind) is the header's number."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from native_declarations import fill  # noqa: E402
import header_docs  # noqa: E402
from emit_constants import notice  # noqa: E402  (the notice of the files made from the header)

# prefix: (type, member prefix, whether the values are flags, summary)
FAMILIES = {
    "QV_OUTCOME_": ("TQvOutcomeKind", "outcome", False, "What a call came to: GetLastOutcome's kind."),
    "QV_RELOGIN_": ("TQvReloginKind", "relogin", False,
                    "What the relogin after a failed call came to: GetLastRelogin's kind."),
    "QV_STATE_": ("TQvStateFlag", "state", True,
                  "GetConnectionState's state flags, held in a TQvStateFlags: element n is the flag of value "
                  "1 shl n."),
    "QV_PATH_": ("TQvPathKind", "path", False, "GetConnectionState's path: how the connection reaches the server."),
    "QV_PROTOCOL_": ("TQvProtocolKind", "protocol", False,
                     "GetConnectionState's login protocol: which login the last one was."),
}


def member(prefix, suffix):
    """outcome + MAYBE_APPLIED -> outcomeMaybeApplied."""
    return prefix + "".join(word.capitalize() for word in suffix.split("_"))


def kinds():
    """{type: (flags, summary, [(member, constant, value, comment)])} in the header's order."""
    found = {name: (flags, summary, []) for name, _, flags, summary in FAMILIES.values()}
    for name, value, comment in header_docs.integer_constants():
        for prefix, (kind, short, _, _) in FAMILIES.items():
            if name.startswith(prefix):
                found[kind][2].append((member(short, name[len(prefix):]), name, int(value), comment))
    return found


def comment(text, indent):
    """text as a brace comment; a brace in it would end the comment early."""
    words = text.replace("{", "(").replace("}", ")").split()
    lines = fill(indent + "{ ", words, indent + "  ")
    return lines[:-1] + [lines[-1] + " }"]


def enumeration(kind, flags, summary, members):
    if not members:
        raise ValueError(f"the header defines no constants for {kind}")
    lines = comment(summary, "  ")
    items = []
    for name, constant, value, note in members:
        if flags:
            bit = value.bit_length() - 1
            if value != 1 << bit:
                raise ValueError(f"{constant} = {value} is not a single flag")
            items.append((f"{name} = {bit}", f"{constant} = {value}" + (f": {note}" if note else "")))
        else:
            items.append((f"{name} = {constant}", note))
    lines.append(f"  {kind} = (")
    for i, (item, note) in enumerate(items):
        end = ");" if i == len(items) - 1 else ","
        lines.append(f"    {item}{end}" + (f" {{ {note} }}" if note else ""))
    if flags:
        lines.append(f"  {kind}s = set of {kind};")
    return lines


def kinds_inc(d):
    del d  # the header is the source
    found = kinds()
    lines = [notice("//")[:-1], "{ The header's kinds as enumerations, included in a type section. }"]
    for kind, (flags, summary, members) in found.items():
        lines += [""] + enumeration(kind, flags, summary, members)
    return "\n".join(lines) + "\n"


OUTPUTS = {"bindings/pascal/QuorvexKinds.inc": kinds_inc}
