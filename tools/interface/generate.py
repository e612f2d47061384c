#!/usr/bin/env python3
"""Writes the interface's generated files from interface/quorvex.json and include/quorvex.h,
and checks them.

The description holds what C cannot say of every export: its name, result, family, what
it asks of the server, each argument with its role, whether it acts on a session and the
record command it runs.  Each export's documentation is the comment above its declaration
in the header (header_docs.py reads it).  From the two this writes

    src/exports.txt                     each export with its stdcall byte count
    src/quorvex-win32.def               the 32-bit DLL's exports, decorated (--kill-at strips them)
    src/quorvex-win64.def               the 64-bit DLL's exports
    src/quorvex.map                     the shared object's version script
    bindings/python/quorvex/_exports.py the ctypes binding's declarations

Every export marked "session" gets a twin, Qv + its name, taking the session first; the
twins follow the exports in every list.  emit_sessions.py writes their C declarations
(include/quorvex_sessions.h, which quorvex.h includes) and the library's wrappers: the
classic export on the default session and the twin on the caller's, around one body.

and, through the emitters tools/interface/emit_*.py, the command-line host's export rows
(emit_cli.py), the C++ interface's methods (emit_cpp.py: include/quorvex_twins.hpp, which
include/quorvex.hpp includes) and the other bindings' declarations, each opening with a line that says it
is generated.  The generated files are committed, so that a build needs no generator.  The C header stays written by hand, since it is the
document a host developer reads (sections, prose, constants); --check-header parses it (with
the twins' header it includes) with libclang and fails on any export whose name, order,
result or arguments (names and C types) differ from the description.

Usage:
    generate.py                 write the generated files into the tree
    generate.py --diff          regenerate into a scratch folder; exit 1 if any file differs
    generate.py --check-header  compare include/quorvex.h with the description
    generate.py --self-test     show that a hand edit of any generated file, and a header
                                that drifts, are caught
Exit status: 0 agreement, 1 differences (one line each), 77 libclang unavailable.
"""
import argparse
import difflib
import json
import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import header_docs  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DESCRIPTION = os.path.join(ROOT, "interface", "quorvex.json")
HEADER = os.path.join(ROOT, "include", "quorvex.h")
SKIP = 77

# The C kind of each role, as the header's parser reports it.
ROLE_KINDS = {"code": "i32*", "out": "i32*", "reply_code": "i32*", "int": "i32", "size": "i32", "session": "session*", "job": "job*",
              "bytes": "void*", "callback": "function*", "context": "void*", "queue": "queue*", "op": "op*",
              "tag": "void*", "window": "void*", "uint": "u32", "int64": "i64", "out64": "i64*",
              "journal": "journal*", "ids": "i64*"}
RESULT_KINDS = {"bool": "bool8", "int": "i32", "pointer": "session*", "job": "job*", "void": "void",
                "queue": "queue*", "op": "op*", "int64": "i64", "tag": "void*", "journal": "journal*"}
# The headers that generate.py writes for the twins and the starters; quorvex.h includes them.
TWINS_HEADER = os.path.join(ROOT, "include", "quorvex_sessions.h")
STARTERS_HEADER = os.path.join(ROOT, "include", "quorvex_async.h")
# The inputs an operation's starter takes; every other argument is an output the operation
# keeps, or a size it chooses.
STARTER_INPUTS = ("text", "int")
# The two halves of a pair, by the ends of their names: one operation runs both.
PAIR_ENDS = (("_Req", "_Resp"), ("_Request", "_Feedback"))


def twin(e):
    """The export of e's behaviour on the session given first: Qv + its name."""
    return {"name": "Qv" + e["name"], "family": "session-twins", "result": e["result"],
            "server": e["server"], "twin_of": e["name"], "doc": f"{e['name']} on the session given first.",
            "args": [{"name": "Session", "role": "session"}] + e["args"]}


def operations(d):
    """Each operation a starter runs: (name, [exports]) for every export with a twin, a pair's
    two halves as one operation under their stem."""
    by_name = {e["name"]: e for e in d["exports"] if e.get("session")}
    seconds = set()
    for name in by_name:
        for first, second in PAIR_ENDS:
            if name.endswith(first) and name[:-len(first)] + second in by_name:
                seconds.add(name[:-len(first)] + second)
    result = []
    for name, e in by_name.items():
        if name in seconds:
            continue
        pair = next((name[:-len(first)] + second for first, second in PAIR_ENDS
                     if name.endswith(first) and name[:-len(first)] + second in by_name), None)
        result.append((name[:name.rfind("_")] if pair else name,
                       [e, by_name[pair]] if pair else [e]))
    return result


def starter(name, halves):
    """QvStart + name: the operation's session, queue, tag and the first half's inputs."""
    inputs = [a for a in halves[0]["args"] if a["role"] in STARTER_INPUTS]
    return {"name": "QvStart" + name, "family": "operation-starters", "result": "op",
            "server": halves[-1]["server"] if len(halves) == 1 else "changes", "starter_of": [h["name"] for h in halves],
            "doc": f"{' then '.join(h['name'] for h in halves)} as an operation on Session, completed on Queue.",
            "args": [{"name": "Session", "role": "session"}, {"name": "Queue", "role": "queue"},
                     {"name": "Tag", "role": "tag"}] + inputs}


def load(path=DESCRIPTION, header=HEADER):
    """The description, each export's doc taken from its comment in the header."""
    with open(path, encoding="utf-8") as f:
        description = json.load(f)
    with open(header, encoding="utf-8") as f:
        docs = header_docs.export_docs(f.read())
    roles = description["roles"]
    for e in description["exports"]:
        if e["name"] not in docs:
            raise ValueError(f"{e['name']}: no comment of its own above its declaration in {os.path.basename(header)}")
        e["doc"] = docs[e["name"]]
        if e["family"] not in description["families"]:
            raise ValueError(f"{e['name']}: family {e['family']!r} is not in the families table")
        for a in e["args"]:
            if a["role"] not in roles:
                raise ValueError(f"{e['name']}: argument {a['name']} has no known role {a['role']!r}")
    # The twins follow every export, in the order of the exports they twin.
    description["exports"] = description["exports"] + [twin(e) for e in description["exports"] if e.get("session")]
    # Then the starters, one per operation.
    description["exports"] += [starter(name, halves) for name, halves in operations(description)]
    return description


def notice(comment):
    return f"{comment} Generated by tools/interface/generate.py from interface/quorvex.json: do not edit.\n"


def stack_bytes(e):
    """The bytes a 32-bit stdcall export takes off the stack: four for a pointer or an int32,
    eight for an int64."""
    return sum(8 if a["role"] == "int64" else 4 for a in e["args"])


def exports_txt(d):
    return notice("#") + "".join(f"{e['name']}@{stack_bytes(e)}\n" for e in d["exports"])


def def_file(d, decorated):
    names = [f"{e['name']}@{stack_bytes(e)}" if decorated else e["name"] for e in d["exports"]]
    return notice(";") + "LIBRARY Quorvex.dll\nEXPORTS\n" + "".join(f"    {n}\n" for n in names)


def version_script(d):
    body = "".join(f"    {e['name']};\n" for e in d["exports"])
    return "/*" + notice("")[:-1] + " */\n{\n  global:\n" + body + "  local: *;\n};\n"


def python_exports(d):
    lines = [notice("#"), '"""Every export with the role of each argument, in the header\'s order."""\n\n',
             "DECLARATIONS = \"\"\"\n"]
    for e in d["exports"]:
        args = ", ".join(f"{a['role']} {a['name']}" for a in e["args"])
        lines.append(f"{e['result']} {e['name']}({args})\n")
    lines.append('"""\n')
    return "".join(lines)


OUTPUTS = {
    "src/exports.txt": exports_txt,
    "src/quorvex-win32.def": lambda d: def_file(d, True),
    "src/quorvex-win64.def": lambda d: def_file(d, False),
    "src/quorvex.map": version_script,
    "bindings/python/quorvex/_exports.py": python_exports,
}


def load_emitters():
    """Adds the outputs of every tools/interface/emit_*.py: each module's OUTPUTS maps a
    path in the tree to a function of the description that returns the file's text."""
    import glob
    import importlib.util
    for path in sorted(glob.glob(os.path.join(os.path.dirname(os.path.abspath(__file__)), "emit_*.py"))):
        spec = importlib.util.spec_from_file_location(os.path.basename(path)[:-3], path)
        module = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(module)
        OUTPUTS.update(module.OUTPUTS)


load_emitters()


def gitattributes(d):
    """Marks every file written here as generated, so that reviews and language statistics
    read the description instead."""
    del d  # the list of outputs is all it needs
    paths = sorted(p for p in OUTPUTS if p != ".gitattributes")
    return notice("#") + "".join(f"/{p} linguist-generated=true\n" for p in paths)


OUTPUTS[".gitattributes"] = gitattributes


def write_all(d, root):
    for path, make in OUTPUTS.items():
        target = os.path.join(root, path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "w", encoding="utf-8", newline="\n") as f:
            f.write(make(d))


def differences(d, tree=ROOT):
    """One line (and a short diff) per generated file of tree that is not what the description makes."""
    problems = []
    for path, make in OUTPUTS.items():
        want = make(d)
        try:
            with open(os.path.join(tree, path), encoding="utf-8") as f:
                have = f.read()
        except OSError:
            problems.append(f"{path}: missing (run tools/interface/generate.py)")
            continue
        if have != want:
            diff = difflib.unified_diff(want.splitlines(), have.splitlines(), "generated", path, lineterm="", n=0)
            problems.append(f"{path}: differs from what interface/quorvex.json makes (run "
                            f"tools/interface/generate.py):\n    " + "\n    ".join(list(diff)[2:8]))
    return problems


def header_problems(d, header=HEADER):
    """The header's exports against the description; None when libclang is unavailable."""
    import header_clang
    cindex = header_clang.load_clang()
    if cindex is None:
        return None
    tu = cindex.Index.create().parse(header, args=["-x", "c", "-std=c11", "-I", os.path.dirname(header)])
    errors = [x for x in tu.diagnostics if x.severity >= cindex.Diagnostic.Error]
    if errors:
        return [f"{header}: {errors[0].spelling}"]
    own_files = (os.path.abspath(header),
                 os.path.join(os.path.dirname(os.path.abspath(header)), os.path.basename(TWINS_HEADER)),
                 os.path.join(os.path.dirname(os.path.abspath(header)), os.path.basename(STARTERS_HEADER)))
    declared = []
    for cur in tu.cursor.get_children():
        if (cur.kind == cindex.CursorKind.FUNCTION_DECL and cur.location.file is not None
                and os.path.abspath(cur.location.file.name) in own_files
                and cur.storage_class != cindex.StorageClass.STATIC):
            declared.append((cur.spelling, header_clang.type_kind(cindex, cur.result_type),
                             [(a.spelling, header_clang.type_kind(cindex, a.type)) for a in cur.get_arguments()]))
    problems = []
    described = [(e["name"], RESULT_KINDS[e["result"]],
                  [(a["name"], ROLE_KINDS.get(a["role"], "char*")) for a in e["args"]]) for e in d["exports"]]
    names_h, names_d = [n for n, _, _ in declared], [n for n, _, _ in described]
    for name in names_h:
        if name not in names_d:
            problems.append(f"{name}: in the header, not in the description")
    for name in names_d:
        if name not in names_h:
            problems.append(f"{name}: in the description, not in the header")
    common_h = [n for n in names_h if n in names_d]
    common_d = [n for n in names_d if n in names_h]
    if common_h != common_d:
        first = next(i for i, (a, b) in enumerate(zip(common_h, common_d)) if a != b)
        problems.append(f"the order differs from {common_d[first]} on (the header has {common_h[first]})")
    header_by_name = {n: (r, a) for n, r, a in declared}
    for name, result, args in described:
        if name not in header_by_name:
            continue
        h_result, h_args = header_by_name[name]
        if h_result != result:
            problems.append(f"{name}: the header returns {h_result}, the description {result}")
        if h_args != args:
            problems.append(f"{name}: the header takes {h_args}, the description {args}")
    return problems


def self_test():
    """Alters a copy of each generated file, and a copy of the header, and expects each caught."""
    d = load()
    failures = []
    with tempfile.TemporaryDirectory() as scratch:
        write_all(d, scratch)
        for path in OUTPUTS:
            target = os.path.join(scratch, path)
            with open(target, encoding="utf-8") as f:
                lines = f.read().splitlines(keepends=True)
            original = list(lines)
            lines[-2] = lines[-2].replace("e", "E", 1) if "e" in lines[-2] else lines[-2] + " "
            with open(target, "w", encoding="utf-8") as f:
                f.writelines(lines)
            caught = [p for p in differences(d, scratch) if p.startswith(path)]
            print(f"self-test: a hand edit of {path}: {'caught' if caught else 'NOT CAUGHT'}")
            if not caught:
                failures.append(path)
            with open(target, "w", encoding="utf-8") as f:
                f.writelines(original)
        # Beside the scratch copy of the twins' header, which it includes.
        header_copy = os.path.join(scratch, "include", "quorvex.h")
        with open(HEADER, encoding="utf-8") as f:
            text = f.read()
        drifted = text.replace("QV_API SetReadTimeout(int32_t Milliseconds)", "QV_API SetReadTimeout(int32_t Ms)")
        if drifted == text:
            failures.append("the header's SetReadTimeout declaration was not found to alter")
        with open(header_copy, "w", encoding="utf-8") as f:
            f.write(drifted)
        found = header_problems(d, header_copy)
        if found is None:
            print("self-test: libclang unavailable, the header check was not tried")
        else:
            caught = any(p.startswith("SetReadTimeout") for p in found)
            print(f"self-test: a renamed argument in the header: {'caught' if caught else 'NOT CAUGHT'}")
            if not caught:
                failures.append("the header check")
    for f in failures:
        print(f"self-test failed: {f}")
    return 1 if failures else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    group = parser.add_mutually_exclusive_group()
    group.add_argument("--diff", action="store_true")
    group.add_argument("--check-header", action="store_true")
    group.add_argument("--self-test", action="store_true")
    args = parser.parse_args()
    if args.self_test:
        return self_test()
    d = load()
    if args.diff:
        problems = differences(d)
    elif args.check_header:
        problems = header_problems(d)
        if problems is None:
            print("libclang is not available: the header was not checked")
            return SKIP
    else:
        write_all(d, ROOT)
        return 0
    for p in problems:
        print(p)
    if not problems:
        print(f"{len(d['exports'])} exports agree with interface/quorvex.json")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
