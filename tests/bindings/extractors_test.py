"""The Pascal and .NET extractors read back exactly the header's exports and constants, and a
declaration made wrong in a copy of either binding shows up as a difference.
    python3 extractors_test.py SOURCE_DIR
"""
import importlib.util
import re
import shutil
import sys
import tempfile
from pathlib import Path

root = Path(sys.argv[1])
sys.dont_write_bytecode = True  # nothing lands in the source tree


def header():
    """quorvex.h read independently of the extractors: exports with kinds, and integer constants."""
    # The hand-written header and the twins' declarations it includes.
    text = re.sub(r"/\*.*?\*/", " ", "\n".join((root / "include" / name).read_text(encoding="utf-8")
                                                for name in ("quorvex.h", "quorvex_sessions.h", "quorvex_async.h")), flags=re.S)
    kinds = {"int32_t": "i32", "int32_t*": "i32*", "char*": "char*", "QvSession*": "session*", "QvJob*": "job*",
             "void*": "void*", "QvJobProgress": "function*", "QvJobResolver": "function*",
             "QvQueue*": "queue*", "QvOp*": "op*", "uint32_t": "u32", "int64_t": "i64",
             "int64_t*": "i64*", "QvJournal*": "journal*"}
    results = {"QV_API": "bool8", "QV_EXPORT int32_t QV_CALL": "i32", "QV_EXPORT QvSession *QV_CALL": "session*",
               "QV_EXPORT QvJob *QV_CALL": "job*", "QV_EXPORT void QV_CALL": "void",
               "QV_EXPORT QvQueue *QV_CALL": "queue*", "QV_EXPORT QvOp *QV_CALL": "op*",
               "QV_EXPORT int64_t QV_CALL": "i64", "QV_EXPORT void *QV_CALL": "void*",
               "QV_EXPORT QvJournal *QV_CALL": "journal*"}
    exports = {}
    for m in re.finditer(r"(QV_API|QV_EXPORT int32_t QV_CALL|QV_EXPORT QvSession \*QV_CALL|QV_EXPORT QvJob \*QV_CALL"
                         r"|QV_EXPORT void QV_CALL|QV_EXPORT QvQueue \*QV_CALL|QV_EXPORT QvOp \*QV_CALL"
                         r"|QV_EXPORT int64_t QV_CALL|QV_EXPORT void \*QV_CALL|QV_EXPORT QvJournal \*QV_CALL)"
                         r"\s*(\w+)\s*\(([^)]*)\)\s*;", text):
        args = [a for a in m[3].split(",") if a.strip() not in ("", "void")]
        params = [kinds[re.sub(r"const|\s|\w+$", "", a.strip())] for a in args]
        exports[m[2]] = (results[m[1]], params)
    values = {}
    for m in re.finditer(r"#define (QV_[A-Z0-9_]+) +([^\n]+)", text):
        expr = re.sub(r"QV_\w+", lambda n: str(values.get(n[0], n[0])), m[2].strip())
        if re.fullmatch(r"[\d\s()*+-]+", expr):
            values[m[1]] = eval(expr)  # digits and operators only
    return exports, values


def load(lang):
    found = importlib.util.spec_from_file_location(f"{lang}_extract", root / "tests" / "bindings" / "extract" / f"{lang}.py")
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


# (binding, file, text in the binding, its wrong replacement, the export or constant that must differ)
MUTATIONS = [
    ("pascal", "QuorvexExports.inc", "function Heartbeat: Boolean;", "function Heartbeat: LongBool;", "Heartbeat"),
    ("pascal", "QuorvexExports.inc", "function SubmitTelNum(Code: PInt32; Message, Count: PAnsiChar)",
     "function SubmitTelNum(Code: PInt32; Message: PAnsiChar; Count: Int32)", "SubmitTelNum"),
    ("pascal", "QuorvexExports.inc", "function ReLogin: Boolean; {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF};",
     "function ReLogin: Boolean; stdcall;", "ReLogin"),
    ("pascal", "QuorvexConstants.inc", "QV_PARAM_BUFFER_SIZE = 21;", "QV_PARAM_BUFFER_SIZE = 20;", "QV_PARAM_BUFFER_SIZE"),
    ("dotnet", "Quorvex.Native.g.cs",
     "] [return: MarshalAs(UnmanagedType.U1)]\n        public static extern bool Heartbeat",
     "]\n        public static extern bool Heartbeat", "Heartbeat"),
    ("dotnet", "Quorvex.Native.g.cs", "SubmitTelNum(out int Code, byte[] Message, byte[] Count)",
     "SubmitTelNum(out int Code, byte[] Message, string Count)", "SubmitTelNum"),
    ("dotnet", "Quorvex.Native.g.cs", "extern bool MsgStates(out int Code, byte[] Message)",
     "extern bool MsgStates(byte[] Message, out int Code)", "MsgStates"),
    ("dotnet", "Quorvex.Constants.g.cs", "QV_DETAIL_BUFFER_SIZE = 160;", "QV_DETAIL_BUFFER_SIZE = 16;",
     "QV_DETAIL_BUFFER_SIZE"),
]


def read_as(want, found):
    """found's kinds, an untyped address ("ptr") read as the text or session pointer it stands for."""
    def one(w, f):
        pointers = ("char*", "session*", "job*", "void*", "function*", "queue*", "op*", "journal*")
        return w if (f == "ptr" and w in pointers) or (f == "char*" and w == "void*") else f
    if not isinstance(found, tuple) or not isinstance(want, tuple) or len(want[1]) != len(found[1]):
        return found
    return (one(want[0], found[0]), [one(w, f) for w, f in zip(want[1], found[1])])


def differences(expected, found):
    return {k for k in expected.keys() | found.keys() if expected.get(k) != read_as(expected.get(k), found.get(k))}


def main():
    exports, values = header()
    failures = []
    for lang in ("pascal", "dotnet"):
        ex = load(lang)
        src = root / "bindings" / lang
        if differences(exports, ex.declarations(src)) or differences(values, ex.constants(src)):
            failures.append(f"{lang}: {differences(exports, ex.declarations(src))} "
                            f"{differences(values, ex.constants(src))}")
    for lang, name, good, bad, culprit in MUTATIONS:
        ex = load(lang)
        with tempfile.TemporaryDirectory() as tmp:
            shutil.copytree(root / "bindings" / lang, tmp, dirs_exist_ok=True)
            path = Path(tmp) / name
            text = path.read_text(encoding="utf-8")
            if good not in text:
                failures.append(f"{lang}: mutation source not found: {good!r}")
                continue
            path.write_text(text.replace(good, bad, 1), encoding="utf-8")
            found = differences(exports, ex.declarations(tmp)) | differences(values, ex.constants(tmp))
            if found != {culprit}:
                failures.append(f"{lang}: {bad!r} gives {found}, not {{{culprit!r}}}")
    print("\n".join(failures))
    print(f"extractors: {len(exports)} exports, {len(values)} constants, {len(MUTATIONS)} mutations"
          + (": ok" if not failures else f": {len(failures)} failed"))
    return 1 if failures else 0


sys.exit(main())
