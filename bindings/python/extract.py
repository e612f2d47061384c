"""Reads the Python binding's declarations for bindings/check_bindings.py.

It loads quorvex/_native.py on its own (no library is loaded) and reports the ctypes
types that the binding actually sets on each export."""
import ctypes
import importlib.util
import os
import re


def _native(binding_dir):
    path = os.path.join(binding_dir, "quorvex", "_native.py")
    module_spec = importlib.util.spec_from_file_location("quorvex_native_checked", path)
    module = importlib.util.module_from_spec(module_spec)
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
    path = os.path.join(binding_dir, "quorvex", "_native.py")
    with open(path, encoding="utf-8") as f:
        source = f.read()
    altered = re.sub(r"(TcpConnect\(message Message, text Host, )int Port", r"\1text Port", source, count=1)
    with open(path, "w", encoding="utf-8") as f:
        f.write(altered)
    return "TcpConnect's Port declared as a text"
