"""The .NET enums of the header's kinds, bindings/dotnet/Quorvex.Kinds.g.cs: one enum per
family of QV_ constants (the outcome's, the relogin's, the connection state's flags, paths
and login protocols), each member documented with the constant's comment, so that a host
writes OutcomeKind.MaybeApplied where the header says QV_OUTCOME_MAYBE_APPLIED.  The int
constants stay in Native for the hosts that use them."""
import os
import sys
from xml.sax.saxutils import escape

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import header_docs  # noqa: E402
from native_declarations import notice  # noqa: E402

# prefix: (enum, whether its values are flags, summary)
FAMILIES = {
    "QV_OUTCOME_": ("OutcomeKind", False, "What a call came to: GetLastOutcome's kind."),
    "QV_RELOGIN_": ("ReloginKind", False, "What the relogin after a failed call came to: GetLastRelogin's kind."),
    "QV_STATE_": ("StateFlags", True, "GetConnectionState's state: what the connection has reached."),
    "QV_PATH_": ("PathKind", False, "GetConnectionState's path: how the connection reaches the server."),
    "QV_PROTOCOL_": ("ProtocolKind", False, "GetConnectionState's login protocol: which login the last one was."),
}


def member(suffix):
    return "".join(word.capitalize() for word in suffix.split("_"))


def kinds():
    """{enum: (flags, summary, [(member, value, comment)])} in the header's order."""
    found = {name: (flags, summary, []) for name, flags, summary in FAMILIES.values()}
    for name, value, comment in header_docs.integer_constants():
        for prefix, (enum, _, _) in FAMILIES.items():
            if name.startswith(prefix):
                found[enum][2].append((member(name[len(prefix):]), int(value), comment or name))
    return found


def kinds_file(d):
    del d  # the header is the source
    lines = [notice("//")[:-1],
             "// The header's kinds as enums; the same values are Native's QV_ constants.",
             "using System;",
             "",
             "namespace Quorvex",
             "{"]
    for i, (enum, (flags, summary, members)) in enumerate(kinds().items()):
        if not members:
            raise ValueError(f"the header defines no constants for {enum}")
        lines += ([""] if i else []) + [f"    /// <summary>{escape(summary)}</summary>"]
        lines += ["    [Flags]"] if flags else []
        lines += [f"    public enum {enum}", "    {"]
        if flags and all(value for _, value, _ in members):
            lines += ["        /// <summary>None of the flags.</summary>", "        None = 0,"]
        for name, value, comment in members:
            lines += [f"        /// <summary>{escape(comment)}</summary>", f"        {name} = {value},"]
        lines.append("    }")
    lines.append("}")
    return "\n".join(lines) + "\n"


OUTPUTS = {"bindings/dotnet/Quorvex.Kinds.g.cs": kinds_file}
