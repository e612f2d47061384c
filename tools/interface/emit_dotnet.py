"""The .NET binding's DllImport declarations, bindings/dotnet/Quorvex.Native.g.cs.

Each role has one C# parameter type: the marshaller passes int and the address of an int
as they are and a byte[] as the address of its first byte, so that texts travel as the
caller's GBK bytes in both directions and are never converted.  A length-prefixed text is
an IntPtr, since its length sits in the four bytes before the address passed.
"""
import os
import sys
from xml.sax.saxutils import escape

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from native_declarations import fill, notice, sections  # noqa: E402

ROLE_TYPES = {
    "code": "out int", "out": "out int", "reply_code": "out int",
    "int": "int", "size": "int",
    "prefixed": "IntPtr",
    "text": "byte[]", "message": "byte[]", "param": "byte[]", "setting": "byte[]", "web": "byte[]",
    "sized": "byte[]", "fxtext": "byte[]", "detail": "byte[]",
    "session": "IntPtr", "job": "IntPtr", "callback": "IntPtr", "context": "IntPtr",
    "bytes": "byte[]",
    "queue": "IntPtr", "op": "IntPtr", "tag": "IntPtr", "window": "IntPtr", "uint": "uint",
    "int64": "long", "out64": "out long", "journal": "IntPtr", "reference": "byte[]", "ids": "long[]",
}
# The one-byte result needs U1: a bare bool is marshalled as a four-byte BOOL.
RESULTS = {
    "bool": ("bool", " [return: MarshalAs(UnmanagedType.U1)]"),
    "int": ("int", ""),
    "pointer": ("IntPtr", ""),
    "job": ("IntPtr", ""),
    "queue": ("IntPtr", ""),
    "op": ("IntPtr", ""),
    "tag": ("IntPtr", ""),
    "int64": ("long", ""),
    "journal": ("IntPtr", ""),
    "void": ("void", ""),
}
IMPORT = "[DllImport(Lib, ExactSpelling = true, CallingConvention = Convention)]"
INDENT = " " * 8


def xml_doc(text, indent, extra=()):
    """The /// summary of a documentation text, so that an editor shows it: its lines as written,
    a blank line a paragraph break, then the extra lines, each its own paragraph."""
    paragraphs = [p.strip("\n") for p in (text or "").split("\n\n") if p.strip()] + list(extra)
    if not paragraphs:
        return []
    lines = [f"{indent}/// <summary>"]
    for i, paragraph in enumerate(paragraphs):
        if i:
            lines.append(f"{indent}/// <para/>")
        lines += [f"{indent}/// {escape(line)}".rstrip() for line in paragraph.split("\n")]
    return lines + [f"{indent}/// </summary>"]


def declaration(e):
    """The attribute line and the declaration (one line unless it passes the width) of export e.  The
    class is internal: the export's prose is on the Session or Client method a host calls."""
    result, attribute = RESULTS[e["result"]]
    args = [f"{ROLE_TYPES[a['role']]} {a['name']}" for a in e["args"]]
    items = [a + "," for a in args[:-1]] + [args[-1] + ");"] if args else [");"]
    head = f"{INDENT}public static extern {result} {e['name']}("
    return [INDENT + IMPORT + attribute] + fill(head, items, INDENT + "    ")


def native(d):
    lines = [notice("//")[:-1],
             "// The DllImport declarations of every export; Lib and Convention are in Quorvex.cs.",
             "using System;",
             "using System.Runtime.InteropServices;",
             "",
             "namespace Quorvex",
             "{",
             "    static partial class NativeMethods",
             "    {"]
    for i, (title, exports) in enumerate(sections(d)):
        lines += ([""] if i else []) + [f"{INDENT}// {title}"]
        for e in exports:
            lines += declaration(e)
    lines += ["    }", "}"]
    return "\n".join(lines) + "\n"


OUTPUTS = {"bindings/dotnet/Quorvex.Native.g.cs": native}
