#!/usr/bin/env python3
"""Checks every language binding against include/quorvex.h, the one source of truth.

The header is parsed with libclang (Debian's python3-clang) into the list of exports,
    name -> (return kind, [parameter kinds])
with the kinds
    "bool8"  qv_bool (one byte)        "i32"    int32_t
    "i32*"   int32_t *                 "char*"  char * or const char * (const-ness ignored)
    "void"   no parameters, or no result
    "session*" QvSession *           "job*"   QvJob *
    "void*"  void * or const void *    "function*" a function pointer (a callback)
    "ptr"    (a binding's) an address it does not look into, which agrees with every
             pointer kind above; a binding's char* agrees with void* (bytes)
and the header's integer #define constants (QV_BODY_BUFFER_SIZE, QV_OUTCOME_*, ...),
aliases and simple expressions evaluated.  The header's exports are also compared with
src/exports.txt: the same names, and each stdcall byte count "@N" four bytes a parameter.

Bindings plug in: every bindings/<lang>/extract.py is imported and must provide
    declarations(binding_dir) -> dict[name, (ret_kind, [param_kinds])]
    constants(binding_dir)    -> dict[name, int]
with the kinds above and the constants under their header names (the extractor maps
its language's spelling).  Each binding must declare every export with the same kinds in
the same order and no other; every constant it returns must exist in the header with
the same value; and it must define the buffer sizes in REQUIRED_CONSTANTS.
An extractor may also provide
    alter_one_declaration(binding_dir) -> str
which changes one declaration of a copy of the binding in place (for --self-test) and
says what it changed.

Usage:
    check_bindings.py [--binding LANG=DIR]...   check (DIR replaces bindings/LANG)
    check_bindings.py --self-test               prove that altered copies fail
Exit status: 0 agreement, 1 one line per mismatch, 77 libclang unavailable.
"""
import argparse
import ast
import glob
import importlib.util
import os
import re
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
REQUIRED_CONSTANTS = ("QV_BODY_BUFFER_SIZE", "QV_PARAM_BUFFER_SIZE")
# An export that every binding declares on a line of its own, removed by the self-test.
REMOVED_BY_SELF_TEST = "SetReadTimeout"
SKIP = 77


def load_clang():
    """Imports clang.cindex and points it at a libclang shared object, or returns None."""
    try:
        import clang.cindex as cindex
    except ImportError:
        # Debian installs the binding for its own python3; another interpreter can use it.
        for site in glob.glob("/usr/lib/python3/dist-packages"):
            sys.path.append(site)
        try:
            import clang.cindex as cindex
        except ImportError:
            return None
    candidates = sorted(glob.glob("/usr/lib/llvm-*/lib/libclang*.so*")
                        + glob.glob("/usr/lib/x86_64-linux-gnu/libclang-*.so*")
                        + glob.glob("/usr/lib/*/libclang.so*"), reverse=True)
    candidates = [c for c in candidates if "cpp" not in os.path.basename(c)]
    for path in candidates:
        try:
            cindex.Config.set_library_file(path)
            cindex.Index.create()
            return cindex
        except Exception:  # a broken or foreign copy: try the next one
            cindex.Config.loaded = False
            cindex.Config.library_file = None
    try:
        cindex.Index.create()  # the library's own search
        return cindex
    except Exception:
        return None


def type_kind(cindex, t):
    if t.spelling.replace("const ", "") == "qv_bool":
        return "bool8"
    c = t.get_canonical()
    K = cindex.TypeKind
    if c.kind == K.VOID:
        return "void"
    if c.kind == K.INT and c.get_size() == 4:
        return "i32"
    if c.kind == K.POINTER:
        p = c.get_pointee().get_canonical()
        if p.kind == K.INT and p.get_size() == 4:
            return "i32*"
        if p.kind in (K.CHAR_S, K.CHAR_U, K.SCHAR):
            return "char*"
        if p.kind == K.RECORD and p.spelling.endswith("QvSession"):
            return "session*"
        if p.kind == K.RECORD and p.spelling.endswith("QvJob"):
            return "job*"
        if p.kind == K.VOID:
            return "void*"
        if p.kind in (K.FUNCTIONPROTO, K.FUNCTIONNOPROTO):
            return "function*"
    raise ValueError(f"type {t.spelling!r} has no kind")


def parse_header(cindex, header):
    """Returns (exports, constants) of the header."""
    include = os.path.dirname(header)
    tu = cindex.Index.create().parse(
        header, args=["-x", "c", "-std=c11", "-I", include],
        options=cindex.TranslationUnit.PARSE_DETAILED_PROCESSING_RECORD)
    errors = [d for d in tu.diagnostics if d.severity >= cindex.Diagnostic.Error]
    if errors:
        raise ValueError(f"{header}: {errors[0].spelling}")
    exports, macros = {}, {}
    # The header and the twins' declarations it includes.
    own_files = (os.path.abspath(header), os.path.join(os.path.dirname(os.path.abspath(header)), "quorvex_sessions.h"))
    for cur in tu.cursor.get_children():
        if cur.location.file is None or os.path.abspath(cur.location.file.name) not in own_files:
            continue
        if cur.kind == cindex.CursorKind.FUNCTION_DECL:
            # static inline helpers are the header's own code, not exports.
            if cur.storage_class == cindex.StorageClass.STATIC:
                continue
            params = [type_kind(cindex, a.type) for a in cur.get_arguments()]
            exports[cur.spelling] = (type_kind(cindex, cur.result_type), params)
        elif cur.kind == cindex.CursorKind.MACRO_DEFINITION and cur.spelling.startswith("QV_"):
            # Function-like and non-integer macros fail evaluation and are left out.
            macros[cur.spelling] = [t.spelling for t in cur.get_tokens()][1:]
    return exports, evaluate_macros(macros)


def evaluate_macros(macros):
    """Integer values of the object-like macros whose tokens form an integer expression."""
    values = {}

    def value(name, seen=()):
        if name in values:
            return values[name]
        if name in seen or name not in macros:
            return None
        parts = []
        for tok in macros[name]:
            if re.fullmatch(r"[A-Za-z_]\w*", tok):
                v = value(tok, seen + (name,))
                if v is None:
                    return None
                parts.append(str(v))
            elif re.fullmatch(r"\d+[uUlL]*", tok):
                parts.append(tok.rstrip("uUlL"))
            elif tok in ("(", ")", "+", "-", "*", "/", "<<", ">>", "|", "&", "~"):
                parts.append("//" if tok == "/" else tok)
            else:
                return None
        try:
            tree = ast.parse(" ".join(parts), mode="eval")
            allowed = (ast.Expression, ast.BinOp, ast.UnaryOp, ast.Constant, ast.operator, ast.unaryop)
            if not all(isinstance(n, allowed) for n in ast.walk(tree)):
                return None
            result = eval(compile(tree, "<macro>", "eval"), {"__builtins__": {}})
        except (SyntaxError, ZeroDivisionError):
            return None
        values[name] = result if isinstance(result, int) else None
        return values[name]

    for name in macros:
        value(name)
    return {k: v for k, v in values.items() if v is not None}


def check_export_list(exports, path):
    problems = []
    listed = {}
    with open(path) as f:
        for line in f:
            line = line.strip()
            if line and not line.startswith("#"):
                name, _, size = line.partition("@")
                listed[name] = int(size) if size.isdigit() else None
    for name in sorted(set(exports) - set(listed)):
        problems.append(f"exports.txt: {name} is in the header but not in the list")
    for name in sorted(set(listed) - set(exports)):
        problems.append(f"exports.txt: {name} is listed but not in the header")
    for name in sorted(set(exports) & set(listed)):
        want = 4 * len(exports[name][1])  # pointers and int32 are 4 bytes on 32-bit
        if listed[name] != want:
            problems.append(f"exports.txt: {name}@{listed[name]} but its {len(exports[name][1])} "
                            f"parameters take {want} bytes")
    return problems


def agrees(header_kind, binding_kind):
    """An untyped address in a binding (IntPtr, c_void_p, Pointer) agrees with any pointer of
    the header; bytes given as a binding's text pointer agree with void *."""
    pointers = ("char*", "session*", "job*", "void*", "function*")
    return (header_kind == binding_kind or (binding_kind == "ptr" and header_kind in pointers)
            or (binding_kind == "char*" and header_kind == "void*"))


def compare(lang, exports, constants, declared, defined):
    problems = []
    for name in sorted(set(exports) - set(declared)):
        problems.append(f"{lang}: {name} is not declared")
    for name in sorted(set(declared) - set(exports)):
        problems.append(f"{lang}: {name} is declared but the header has no such export")
    for name in sorted(set(exports) & set(declared)):
        (hret, hparams), (bret, bparams) = exports[name], declared[name]
        bparams = list(bparams)
        if not agrees(hret, bret):
            problems.append(f"{lang}: {name} returns {bret}, the header {hret}")
        if len(bparams) != len(hparams):
            problems.append(f"{lang}: {name} takes {len(bparams)} parameters, the header {len(hparams)} "
                            f"({', '.join(hparams) or 'void'})")
            continue
        for i, (h, b) in enumerate(zip(hparams, bparams), 1):
            if not agrees(h, b):
                problems.append(f"{lang}: {name} parameter {i} is {b}, the header's is {h}")
    for name in sorted(defined):
        if name not in constants:
            problems.append(f"{lang}: constant {name} is not in the header")
        elif defined[name] != constants[name]:
            problems.append(f"{lang}: constant {name} is {defined[name]}, the header's is {constants[name]}")
    for name in REQUIRED_CONSTANTS:
        if name not in defined:
            problems.append(f"{lang}: constant {name} is missing")
    return problems


def load_extractor(lang):
    path = os.path.join(ROOT, "bindings", lang, "extract.py")
    module_spec = importlib.util.spec_from_file_location(f"quorvex_extract_{lang}", path)
    module = importlib.util.module_from_spec(module_spec)
    module_spec.loader.exec_module(module)
    return module


def languages():
    return sorted(os.path.basename(os.path.dirname(p))
                  for p in glob.glob(os.path.join(ROOT, "bindings", "*", "extract.py")))


def check_binding(lang, directory, exports, constants):
    try:
        extractor = load_extractor(lang)
        declared = extractor.declarations(directory)
        defined = extractor.constants(directory)
    except Exception as e:  # an extractor that breaks is a failed check, named
        return [f"{lang}: the extractor failed: {type(e).__name__}: {e}"]
    return compare(lang, exports, constants, declared, defined)


def self_test(header_args):
    """Each binding, copied and altered, must fail the check and name what was altered."""
    failures = []
    for lang in languages():
        extractor = load_extractor(lang)
        alterations = [("remove", f"every line naming {REMOVED_BY_SELF_TEST}")]
        if hasattr(extractor, "alter_one_declaration"):
            alterations.append(("alter", None))
        for how, what in alterations:
            with tempfile.TemporaryDirectory() as tmp:
                copy = os.path.join(tmp, lang)
                shutil.copytree(os.path.join(ROOT, "bindings", lang), copy)
                if how == "remove":
                    remove_lines_naming(copy, REMOVED_BY_SELF_TEST)
                else:
                    what = extractor.alter_one_declaration(copy)
                run = subprocess.run([sys.executable, os.path.abspath(__file__), *header_args,
                                      "--only", lang, "--binding", f"{lang}={copy}"],
                                     capture_output=True, text=True)
                lines = run.stdout.strip().splitlines()
                print(f"{lang}, {what}: exit {run.returncode}")
                for line in lines:
                    print(f"    {line}")
                # A removal must be named, not merely break the extractor.
                named = how != "remove" or any(REMOVED_BY_SELF_TEST in line for line in lines)
                if run.returncode != 1 or not lines or not named:
                    failures.append(f"{lang}: the check did not fail, naming the export, after {what}")
    for line in failures:
        print(line)
    return 1 if failures else 0


def remove_lines_naming(directory, name):
    word = re.compile(rf"\b{re.escape(name)}\b")
    for dirpath, _, files in os.walk(directory):
        for f in files:
            path = os.path.join(dirpath, f)
            try:
                with open(path, encoding="utf-8") as fh:
                    lines = fh.readlines()
            except (UnicodeDecodeError, OSError):
                continue
            kept = [line for line in lines if not word.search(line)]
            if len(kept) != len(lines):
                with open(path, "w", encoding="utf-8") as fh:
                    fh.writelines(kept)


def main():
    parser = argparse.ArgumentParser(description="Checks the bindings against include/quorvex.h.")
    parser.add_argument("--header", default=os.path.join(ROOT, "include", "quorvex.h"))
    parser.add_argument("--exports", default=os.path.join(ROOT, "src", "exports.txt"))
    parser.add_argument("--binding", action="append", default=[], metavar="LANG=DIR")
    parser.add_argument("--only", action="append", default=[], metavar="LANG")
    parser.add_argument("--self-test", action="store_true")
    args = parser.parse_args()

    cindex = load_clang()
    if cindex is None:
        print("SKIP: libclang's Python binding (python3-clang) is not available")
        return SKIP
    if args.self_test:
        return self_test(["--header", args.header, "--exports", args.exports])

    exports, constants = parse_header(cindex, args.header)
    if not exports:
        print(f"{args.header}: no exports found")
        return 1
    dirs = {lang: os.path.join(ROOT, "bindings", lang) for lang in languages()}
    for item in args.binding:
        lang, _, directory = item.partition("=")
        dirs[lang] = os.path.abspath(directory)
    if args.only:
        dirs = {k: v for k, v in dirs.items() if k in args.only}

    problems = check_export_list(exports, args.exports)
    for lang, directory in sorted(dirs.items()):
        problems += check_binding(lang, directory, exports, constants)
    for line in problems:
        print(line)
    if problems:
        return 1
    print(f"{len(exports)} exports and {len(constants)} constants agree in exports.txt and "
          f"{', '.join(sorted(dirs)) or 'no binding'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
