"""What include/quorvex.h says, where it is written once, read for the generated files: the
documentation of each export (the comment that stands directly above its declaration; a
section's banner, a comment at the end of a line or one followed by another declaration
first is none), and its integer constants with their comments.  The bindings' docstrings,
constants and kinds are made from these."""
import os
import re

HEADER = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                      "include", "quorvex.h")

DECLARATION = re.compile(r"^(?:QV_API|QV_EXPORT\b[^(;]*?)\s*\b(\w+)\(", re.M)


def comment_text(comment):
    """A /* ... */ comment's text: its lines without the frame and the leading stars."""
    lines = comment[2:-2].split("\n")
    return "\n".join(re.sub(r"^\s?\*? ?", "", line, count=1) for line in lines).strip()


def export_docs(text):
    """{export name: its comment's text} for every export of the header text that has one."""
    docs = {}
    for m in DECLARATION.finditer(text):
        before = text[:m.start()].rstrip()
        if not before.endswith("*/"):
            continue
        start = before.rfind("/*")
        comment = before[start:]
        if comment.startswith(("/* ---", "/* clang-format")) or (start > 0 and before[start - 1] != "\n"):
            continue
        docs[m.group(1)] = comment_text(comment)
    return docs


DEFINE = re.compile(r"^#define\s+(QV_[A-Z0-9_]+)\s+(.+?)\s*(?:/\*\s*(.*?)\s*\*/)?\s*$")
VALUE = re.compile(r"^\(?\s*((?:QV_[A-Z0-9_]+|\d+)(?:\s*[*+]\s*(?:QV_[A-Z0-9_]+|\d+))*)\s*\)?$")


def constants(header=HEADER):
    """[(comment, [(name, value, own comment)])]: the runs of constants that the header
    keeps together, each with the comment that stands directly above it (or None)."""
    runs, known = [], set()
    comment, after_define = None, False
    with open(header, encoding="utf-8") as f:
        text = f.read()
    lines = text.split("\n")
    i = 0
    while i < len(lines):
        line = lines[i]
        if line.startswith("/*") and not line.startswith(("/* ---", "/* clang-format")):
            j = i
            while "*/" not in lines[j]:
                j += 1
            comment = comment_text("\n".join(lines[i:j + 1]))
            i, after_define = j + 1, False
            continue
        m = DEFINE.match(line)
        value = VALUE.match(m.group(2)) if m else None
        if value:
            names = re.findall(r"QV_[A-Z0-9_]+", value.group(1))
            unknown = [n for n in names if n not in known]
            if unknown:
                raise ValueError(f"{m.group(1)}: its value names {unknown[0]}, not defined before it")
            if not after_define:
                runs.append((comment, []))
            runs[-1][1].append((m.group(1), value.group(1), m.group(3)))
            known.add(m.group(1))
            after_define = True
        elif not line.startswith("/* clang-format"):
            comment, after_define = None, False
        i += 1
    return runs


def integer_constants(header=HEADER):
    """[(name, value, own comment or "")] of the constants whose value is a plain number, in
    the header's order: the kinds' members."""
    return [(name, value, own or "") for _, run in constants(header) for name, value, own in run
            if value.isdigit()]
