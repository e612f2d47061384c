"""The .NET and Pascal emitters, on exports made by a seeded generator: what each writes, read
back by its binding's extractor, declares every export with the kinds its roles' C types say,
whatever the number, order and names of the arguments and however the lines wrap.
    python3 emitters_test.py SOURCE_DIR [SEED]
"""
import importlib.util
import json
import random
import shutil
import sys
import tempfile
from pathlib import Path

root = Path(sys.argv[1])
seed = int(sys.argv[2]) if len(sys.argv) > 2 else 20261209
sys.dont_write_bytecode = True  # nothing lands in the source tree
C_KINDS = {"int32_t *": "i32*", "int32_t": "i32", "const char *": "char*", "char *": "char*",
           "QvSession *": "session*", "QvJob *": "job*", "const void *": "void*", "void *": "void*",
           "a function pointer": "function*", "QvQueue *": "queue*", "QvOp *": "op*", "uint32_t": "u32",
           "int64_t": "i64", "int64_t *": "i64*", "QvJournal *": "journal*"}
RESULT_KINDS = {"bool": "bool8", "int": "i32", "pointer": "session*", "job": "job*", "void": "void",
                "queue": "queue*", "op": "op*", "int64": "i64", "tag": "void*", "journal": "journal*"}


def read_as(want, found):
    """found's kinds, an untyped address ("ptr") read as the text or session pointer it stands for."""
    def one(w, f):
        pointers = ("char*", "session*", "job*", "void*", "function*", "queue*", "op*", "journal*")
        return w if (f == "ptr" and w in pointers) or (f == "char*" and w == "void*") else f
    if found is None or want is None or len(want[1]) != len(found[1]):
        return found
    return (one(want[0], found[0]), [one(w, f) for w, f in zip(want[1], found[1])])


def load(path, name):
    found = importlib.util.spec_from_file_location(name, path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def identifier(rng, i):
    # A trailing number keeps every name clear of both languages' reserved words.
    letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_"
    return rng.choice(letters[:-1]) + "".join(rng.choice(letters) for _ in range(rng.randrange(0, 24))) + str(i)


def exports(rng, roles, families):
    made = []
    for i in range(rng.randrange(1, 40)):
        args = [{"name": identifier(rng, j), "role": rng.choice(roles)} for j in range(rng.randrange(0, 14))]
        made.append({"name": identifier(rng, i), "result": rng.choice(sorted(RESULT_KINDS)),
                     "family": rng.choice(families), "args": args})
    return made


def main():
    real = json.loads((root / "interface/quorvex.json").read_text(encoding="utf-8"))
    bindings = [("dotnet", "emit_dotnet", "Quorvex.cs"), ("pascal", "emit_pascal", "Quorvex.pas")]
    rng, failures, rounds = random.Random(seed), [], 200
    for _ in range(rounds):
        d = {"roles": real["roles"], "families": real["families"],
             "exports": exports(rng, sorted(real["roles"]), sorted(real["families"]))}
        want = {e["name"]: (RESULT_KINDS[e["result"]],
                            [C_KINDS[real["roles"][a["role"]]["c"]] for a in e["args"]]) for e in d["exports"]}
        for lang, emitter, unit in bindings:
            outputs = load(root / "tools/interface" / f"{emitter}.py", emitter).OUTPUTS
            extractor = load(root / "tests" / "bindings" / "extract" / f"{lang}.py", f"{lang}_extract")
            with tempfile.TemporaryDirectory() as tmp:
                shutil.copy(root / "bindings" / lang / unit, tmp)  # the hand-written half, as it includes
                for other in (root / "bindings" / lang).glob("*.inc"):  # what else the unit includes
                    shutil.copy(other, tmp)
                for path, make in outputs.items():
                    Path(tmp, Path(path).name).write_text(make(d), encoding="utf-8")
                found = {k: read_as(want.get(k), (r, list(p))) for k, (r, p) in extractor.declarations(tmp).items()}
            if found != want:
                wrong = sorted(k for k in want.keys() | found.keys() if want.get(k) != found.get(k))
                failures.append(f"seed {seed}, {lang}: {wrong[0]} reads back as {found.get(wrong[0])}, "
                                f"not {want.get(wrong[0])}")
    print("\n".join(failures[:5]))
    print(f"emitters: {rounds} descriptions" + (": ok" if not failures else f": {len(failures)} failed"))
    return 1 if failures else 0


sys.exit(main())
