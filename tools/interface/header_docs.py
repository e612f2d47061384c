"""The documentation of each export, read from include/quorvex.h, where it is written once:
the comment that stands directly above the export's declaration (a section's banner, a
comment at the end of a line or one followed by another declaration first is none).  The
bindings' docstrings and summaries are made from it."""
import re

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
