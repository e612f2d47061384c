"""Reads the Python binding's declarations for bindings/check_bindings.py.

It loads quorvex/_native.py (with the generated quorvex/_exports.py it imports) without
the package's other modules, and loads no library, then reports the ctypes types that
the binding actually sets on each export."""
import ctypes
import importlib.util
import itertools
import os
import re
import sys
import types

_copies = itertools.count()


def _native(binding_dir):
    # A package of its own for each copy, so that _native's relative import finds the
    # _exports.py beside it, not an earlier copy's.
    package_dir = os.path.join(binding_dir, "quorvex")
    package = types.ModuleType(f"quorvex_checked_{next(_copies)}")
    package.__path__ = [package_dir]
    sys.modules[package.__name__] = package
    module_spec = importlib.util.spec_from_file_location(package.__name__ + "._native",
                                                         os.path.join(package_dir, "_native.py"))
    module = importlib.util.module_from_spec(module_spec)
    sys.modules[module_spec.name] = module
    module_spec.loader.exec_module(module)
    return module


def _kind(t):
    if t is None:
        return "void"
    if t is ctypes.c_uint8:
        return "bool8"
    if t is ctypes.c_int32:
        return "i32"
    if t is ctypes.POINTER(ctypes.c_int32):
        return "i32*"
    if t is ctypes.c_char_p:
        return "char*"
    if t is ctypes.c_void_p:
        return "ptr"
    return f"unknown({getattr(t, '__name__', t)})"


def declarations(binding_dir):
    return {name: (_kind(e.restype), [_kind(t) for t in e.argtypes])
            for name, e in _native(binding_dir).EXPORTS.items()}


def constants(binding_dir):
    module = _native(binding_dir)
    return {name: value for name, value in vars(module).items()
            if name.startswith("QV_") and isinstance(value, int)}


def alter_one_declaration(binding_dir):
    """Declares TcpConnect's Port as a text in a copy of the binding."""
    path = os.path.join(binding_dir, "quorvex", "_exports.py")
    with open(path, encoding="utf-8") as f:
        source = f.read()
    altered = re.sub(r"(TcpConnect\(message Message, text Host, )int Port", r"\1text Port", source, count=1)
    with open(path, "w", encoding="utf-8") as f:
        f.write(altered)
    return "TcpConnect's Port declared as a text"
