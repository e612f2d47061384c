"""What the Pascal unit declares, in the kinds the binding check compares with quorvex.h.

declarations(binding_dir) -> {name: (ret_kind, [param_kinds])} for every `external` routine;
constants(binding_dir) -> {name: value} for every QV_ constant.  Kinds: "bool8", "i32", "i32*",
"char*", "void"; any other type is returned under its own name so that the check reports it.
"""
import re
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from constant_expressions import evaluate  # noqa: E402  (shared with the other extractors)

UNIT = "Quorvex.pas"
# The only calling convention that matches the library on every platform.
CONVENTION = "{$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}"

_TYPES = {
    "boolean": "bool8", "bytebool": "bool8",
    "int32": "i32", "longint": "i32", "uint32": "u32", "int64": "i64", "pint64": "i64*",
    "pint32": "i32*", "plongint": "i32*",
    "pansichar": "char*",
    "pointer": "ptr",
}

_ROUTINE = re.compile(
    r"\b(function|procedure)\s+(\w+)\s*(?:\((?P<params>[^()]*)\))?\s*(?::\s*(?P<ret>\w+))?\s*;"
    r"(?P<directives>(?:(?!\b(?:function|procedure|begin)\b).)*?)\bexternal\b",
    re.S | re.I)


_INCLUDE = re.compile(r"\{\$(?:I|INCLUDE)\s+'?([^'}\s]+)'?\s*\}", re.I)


def _files(binding_dir):
    """The unit and the files it includes ({$I name}), beside it in binding_dir."""
    unit = Path(binding_dir) / UNIT
    return [unit] + [unit.parent / name for name in _INCLUDE.findall(unit.read_text(encoding="utf-8"))]


def _source(binding_dir):
    """The unit's text with every {$I name} replaced by the text of the file it names."""
    unit = Path(binding_dir) / UNIT
    text = _INCLUDE.sub(lambda m: (unit.parent / m[1]).read_text(encoding="utf-8"), unit.read_text(encoding="utf-8"))
    # Comments go; compiler directives ({$...}) stay, they carry the calling convention.
    text = re.sub(r"\{(?!\$)[^}]*\}|\(\*.*?\*\)|//[^\n]*", " ", text, flags=re.S)
    return text.split("implementation", 1)[0]


def _squeeze(text):
    return re.sub(r"\s+", "", text).lower()


def _kind(type_name, by_reference=False):
    kind = _TYPES.get(type_name.lower(), type_name)
    if by_reference:
        return kind + "*" if kind == "i32" else "ref " + kind
    return kind


def _params(text):
    kinds = []
    for group in filter(None, (g.strip() for g in (text or "").split(";"))):
        names, _, type_name = group.partition(":")
        words = names.split()
        by_reference = words[0].lower() in ("var", "out")
        if words[0].lower() in ("var", "out", "const", "constref"):
            names = names.split(None, 1)[1]
        count = len([n for n in names.split(",") if n.strip()])
        kinds += [_kind(type_name.strip(), by_reference)] * count
    return kinds


def declarations(binding_dir):
    result = {}
    for m in _ROUTINE.finditer(_source(binding_dir)):
        ret = _kind(m["ret"]) if m["ret"] else "void"
        if _squeeze(CONVENTION) not in _squeeze(m["directives"]):
            ret += " (not stdcall on Windows and cdecl elsewhere)"
        result[m.group(2)] = (ret, _params(m["params"]))
    return result


def _evaluate(expression, known):
    return evaluate(re.sub(r"\bdiv\b", "//", expression, flags=re.I), known)


def constants(binding_dir):
    known = {}
    for m in re.finditer(r"^\s*(QV_\w+)\s*=\s*([^;]+);", _source(binding_dir), re.M):
        known[m[1]] = _evaluate(m[2].strip(), known)
    return known


def alter_one_declaration(binding_dir):
    """Makes Heartbeat's result a four-byte LongBool in a copy of the unit, for the check's self-test."""
    for path in _files(binding_dir):
        text = path.read_text(encoding="utf-8")
        if "function Heartbeat: Boolean;" in text:
            path.write_text(text.replace("function Heartbeat: Boolean;", "function Heartbeat: LongBool;", 1),
                            encoding="utf-8")
            return f"Heartbeat's result made a LongBool in {path.name}"
    raise ValueError("no declaration of Heartbeat to alter")
