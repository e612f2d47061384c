"""libclang for the header check: the binding loaded from Debian's python3-clang, and the
kind of a C type as the check compares it with the description's roles:
    "bool8"  qv_bool (one byte)        "i32"    int32_t
    "i32*"   int32_t *                 "char*"  char * or const char *
    "void"   no parameters, or no result
    "session*" QvSession *             "job*"   QvJob *
    "void*"  void * or const void *    "function*" a function pointer (a callback)
"""
import glob
import os
import sys


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
    if c.kind == K.UINT and c.get_size() == 4:
        return "u32"
    if c.kind in (K.LONG, K.LONGLONG) and c.get_size() == 8:
        return "i64"
    if c.kind == K.POINTER:
        p = c.get_pointee().get_canonical()
        if p.kind == K.INT and p.get_size() == 4:
            return "i32*"
        if p.kind in (K.LONG, K.LONGLONG) and p.get_size() == 8:
            return "i64*"
        if p.kind in (K.CHAR_S, K.CHAR_U, K.SCHAR):
            return "char*"
        if p.kind == K.RECORD and p.spelling.endswith("QvSession"):
            return "session*"
        if p.kind == K.RECORD and p.spelling.endswith("QvJob"):
            return "job*"
        if p.kind == K.RECORD and p.spelling.endswith("QvQueue"):
            return "queue*"
        if p.kind == K.RECORD and p.spelling.endswith("QvOp"):
            return "op*"
        if p.kind == K.RECORD and p.spelling.endswith("QvJournal"):
            return "journal*"
        if p.kind == K.VOID:
            return "void*"
        if p.kind in (K.FUNCTIONPROTO, K.FUNCTIONNOPROTO):
            return "function*"
    raise ValueError(f"type {t.spelling!r} has no kind")
