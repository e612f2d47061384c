"""What the C# binding declares, in the kinds the binding check compares with quorvex.h.

declarations(binding_dir) -> {name: (ret_kind, [param_kinds])} for every DllImport;
constants(binding_dir) -> {name: value} for every QV_ constant.  Kinds: "bool8", "i32", "i32*",
"char*", "void"; any other type is returned under its own name so that the check reports it
(a bool without MarshalAs(UnmanagedType.U1) is a four-byte BOOL: "bool32"; a string is converted
by the marshaller: "string").
"""
import re
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from constant_expressions import evaluate  # noqa: E402  (shared with the other extractors)

# The assembly's sources: the hand-written layer, the generated DllImport declarations and
# the constants generated from the header.
SOURCES = ("Quorvex.cs", "Quorvex.Native.g.cs", "Quorvex.Constants.g.cs")

_IMPORT = re.compile(
    r"\[DllImport\((?P<attrs>[^\]]*)\)\]\s*(?P<return>\[return:[^\]]*\]\s*)?"
    r"(?:(?:public|internal|private|static|extern|unsafe)\s+)+(?P<ret>[\w.\[\]]+)\s+(?P<name>\w+)\s*"
    r"\((?P<params>.*?)\)\s*;", re.S)


def _source(binding_dir):
    # A copy that holds only some of them (the emitters' test) is read as it is.
    paths = [Path(binding_dir) / name for name in SOURCES]
    text = "\n".join(p.read_text(encoding="utf-8") for p in paths if p.exists())
    return re.sub(r"//[^\n]*|/\*.*?\*/", " ", text, flags=re.S)


def _param_kind(param):
    param = re.sub(r"\[[^\]]*\w[^\]]*\]", " ", param)  # parameter attributes, not the [] of an array
    words = param.split()[:-1]                 # the name goes
    modifier = words[0] if words and words[0] in ("out", "ref", "in") else ""
    type_name = "".join(words[1:] if modifier else words)
    if type_name in ("int", "Int32", "System.Int32"):
        return "i32*" if modifier in ("out", "ref") else "i32"
    if type_name in ("int[]", "Int32[]") and not modifier:
        return "i32*"
    if type_name in ("long[]", "Int64[]") and not modifier:
        return "i64*"
    if type_name == "byte[]" and not modifier:
        return "char*"
    if type_name in ("IntPtr", "System.IntPtr") and not modifier:
        return "ptr"
    if type_name in ("uint", "UInt32", "System.UInt32") and not modifier:
        return "u32"
    if type_name in ("long", "Int64", "System.Int64"):
        return "i64*" if modifier in ("out", "ref") else "i64"
    return " ".join(filter(None, [modifier, type_name]))


def _return_kind(type_name, attribute, conventions_ok):
    if type_name == "bool":
        one_byte = attribute and re.search(r"UnmanagedType\.(U1|I1)\b", attribute)
        kind = "bool8" if one_byte else "bool32"
    else:
        kind = {"int": "i32", "Int32": "i32", "void": "void", "byte": "bool8", "IntPtr": "ptr",
                "long": "i64", "Int64": "i64"}.get(type_name, type_name)
    return kind if conventions_ok else kind + " (not CallingConvention.Winapi)"


def _convention_ok(attrs, text):
    m = re.search(r"CallingConvention\s*=\s*([\w.]+)", attrs)
    if not m:
        return True  # DllImport's default is Winapi
    value = m[1]
    if not value.startswith("CallingConvention."):
        const = re.search(r"\bconst\s+CallingConvention\s+" + re.escape(value.split(".")[-1])
                          + r"\s*=\s*([\w.]+)\s*;", text)
        value = const[1] if const else value
    return value == "CallingConvention.Winapi"


def declarations(binding_dir):
    text = _source(binding_dir)
    result = {}
    for m in _IMPORT.finditer(text):
        params = [p for p in re.split(r",(?![^\[]*\])", m["params"]) if p.strip()]
        ret = _return_kind(m["ret"], m["return"], _convention_ok(m["attrs"], text))
        result[m["name"]] = (ret, [_param_kind(p) for p in params])
    return result




def constants(binding_dir):
    known = {}
    for m in re.finditer(r"\bconst\s+int\s+(QV_\w+)\s*=\s*([^;]+);", _source(binding_dir)):
        known[m[1]] = evaluate(m[2].strip(), known)
    return known


def alter_one_declaration(binding_dir):
    """Drops Heartbeat's one-byte return marshalling in a copy of the binding, for the check's self-test."""
    pattern = r"\[return: MarshalAs\(UnmanagedType\.U1\)\](\s*public static extern bool Heartbeat\b)"
    for name in SOURCES:
        path = Path(binding_dir) / name
        text = path.read_text(encoding="utf-8")
        altered = re.sub(pattern, r"\1", text, count=1)
        if altered != text:
            path.write_text(altered, encoding="utf-8")
            return f"Heartbeat's bool left to the four-byte default in {name}"
    raise ValueError("no declaration of Heartbeat to alter")
