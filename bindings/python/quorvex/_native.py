"""The C interface of the Quorvex library, declared for ctypes.

Every export is declared in _exports.py (generated from interface/quorvex.json), in the
header's order, with the role of each parameter; the ctypes types follow from the roles.
Importing this module loads nothing: load() does.
"""
import ctypes
import ctypes.util
import os
import re
import struct
import sys
import threading
from typing import List, Optional, Tuple

from ._exports import DECLARATIONS

# Sizes and codes, under the header's names (generated from it).
from ._constants import *  # noqa: F401,F403
from ._constants import (QV_BODY_BUFFER_SIZE, QV_DETAIL_BUFFER_SIZE, QV_JOURNAL_REFERENCE_BUFFER_SIZE,
                         QV_PARAM_BUFFER_SIZE, QV_SETTING_BUFFER_SIZE, QV_WEB_RESPONSE_MAX)
__all__ = [name for name in dir() if name.startswith("QV_")]

# Roles of parameters:
#   code     int32_t * result code, -1 until an answer arrives
#   out      int32_t * other output number
#   reply_code int32_t * an XML request half's reply code
#   int      int32_t input;  size  int32_t size of the Detail buffer, passed by the binding
#   text     const char * GBK input
#   prefixed const char * length-prefixed GBK input (CheckTels)
#   message  char * message buffer, QV_BODY_BUFFER_SIZE bytes
#   param    char * Param output, QV_PARAM_BUFFER_SIZE bytes
#   setting  char * settings value, QV_SETTING_BUFFER_SIZE bytes
#   web      char * web response, QV_WEB_RESPONSE_MAX bytes
#   sized    char * web response of the caller's ResponseSize
#   fxtext   char * XML reply text, sized from the ReplyLength input
#   detail   char * Detail text, QV_DETAIL_BUFFER_SIZE bytes
#   session  QvSession * a session handle (QvSessionCreate, QvDefaultSession)
#   job      QvJob * a send job's handle (QvJobCreate)
#   bytes    const void * bytes of the caller's Length
#   callback a host's function pointer;  context  void * handed to it

ROLE_TYPES = {
    "code": ctypes.POINTER(ctypes.c_int32), "out": ctypes.POINTER(ctypes.c_int32),
    "reply_code": ctypes.POINTER(ctypes.c_int32),
    "int": ctypes.c_int32, "size": ctypes.c_int32,
    **{role: ctypes.c_char_p for role in
       ("text", "prefixed", "message", "param", "setting", "web", "sized", "fxtext", "detail",
        "reference")},
    "session": ctypes.c_void_p, "job": ctypes.c_void_p, "callback": ctypes.c_void_p, "context": ctypes.c_void_p,
    "bytes": ctypes.c_void_p, "queue": ctypes.c_void_p, "op": ctypes.c_void_p, "tag": ctypes.c_void_p,
    "window": ctypes.c_void_p, "uint": ctypes.c_uint32, "int64": ctypes.c_int64,
    "out64": ctypes.POINTER(ctypes.c_int64), "journal": ctypes.c_void_p,
    "ids": ctypes.POINTER(ctypes.c_int64),
}
RESULT_TYPES = {"bool": ctypes.c_uint8, "int": ctypes.c_int32, "pointer": ctypes.c_void_p, "job": ctypes.c_void_p,
                "queue": ctypes.c_void_p, "op": ctypes.c_void_p, "tag": ctypes.c_void_p, "int64": ctypes.c_int64,
                "journal": ctypes.c_void_p, "void": None}
BUFFER_SIZES = {"message": QV_BODY_BUFFER_SIZE, "param": QV_PARAM_BUFFER_SIZE,
                "setting": QV_SETTING_BUFFER_SIZE, "web": QV_WEB_RESPONSE_MAX,
                "detail": QV_DETAIL_BUFFER_SIZE, "reference": QV_JOURNAL_REFERENCE_BUFFER_SIZE}


class Export:
    """One export: its result kind and its (role, name) parameters."""

    def __init__(self, name: str, result: str, params: List[Tuple[str, str]]) -> None:
        self.name, self.result, self.params = name, result, params
        self.restype = RESULT_TYPES[result]
        self.argtypes = [ROLE_TYPES[role] for role, _ in params]


def _parse(text):
    exports = {}
    for result, name, params in re.findall(r"(\w+)\s+(\w+)\(([^)]*)\)", text):
        pairs = [tuple(p.split()) for p in params.split(",") if p.strip()]
        exports[name] = Export(name, result, pairs)
    return exports


EXPORTS = _parse(DECLARATIONS)


def bundled_library() -> Optional[str]:
    """The library a platform wheel carries inside the package, or None."""
    name = "Quorvex.dll" if sys.platform == "win32" else "libquorvex.so.0"
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), name)
    return path if os.path.isfile(path) else None


def library_names() -> List[str]:
    """Where the library is looked for: the one bundled in the package, QUORVEX_LIBRARY,
    then the system's under its usual names."""
    bundled = bundled_library()
    names = [bundled] if bundled else []
    if os.environ.get("QUORVEX_LIBRARY"):
        names.append(os.environ["QUORVEX_LIBRARY"])
    if sys.platform == "win32":
        # Python loads a bare name from its own folder, System32 and the folders given to
        # os.add_dll_directory alone; find_library would walk PATH, where any folder a user
        # can write to may hold a planted Quorvex.dll.
        return names + ["Quorvex.dll"]
    if sys.platform == "darwin":
        names.append("libquorvex.dylib")
    else:
        names += ["libquorvex.so.0", "libquorvex.so"]
    found = ctypes.util.find_library("quorvex")
    return names + ([found] if found else [])


# 32-bit Windows calls every export and callback with stdcall; everywhere else the C convention.
STDCALL = sys.platform == "win32" and struct.calcsize("P") == 4
CALLBACK = ctypes.WINFUNCTYPE if STDCALL else ctypes.CFUNCTYPE


def load(path: Optional[str] = None) -> ctypes.CDLL:
    """Loads the library and declares every export on it."""
    loader = ctypes.WinDLL if STDCALL else ctypes.CDLL
    errors = []
    for name in [path] if path else library_names():
        try:
            lib = loader(name)
            break
        except OSError as e:
            errors.append(f"{name}: {e}")
    else:
        raise OSError("the Quorvex library was not found (install a platform wheel, or set QUORVEX_LIBRARY): " + "; ".join(errors))
    for export in EXPORTS.values():
        function = getattr(lib, export.name)
        function.restype = export.restype
        function.argtypes = export.argtypes
    return lib


_libraries = {}
_libraries_lock = threading.Lock()


def library(path: Optional[str] = None) -> ctypes.CDLL:
    """The library loaded and declared once per path, shared by every object of the package."""
    with _libraries_lock:
        if path not in _libraries:
            _libraries[path] = load(path)
        return _libraries[path]


def length_prefixed(data: bytes) -> Tuple[ctypes.Array, ctypes.c_char_p]:
    """Lays out bytes as CheckTels reads them: an int32 length just before the first byte.

    Returns (storage, pointer); keep the storage alive while the pointer is used."""
    storage = ctypes.create_string_buffer(struct.pack("=i", len(data)) + data, 4 + len(data) + 1)
    return storage, ctypes.cast(ctypes.byref(storage, 4), ctypes.c_char_p)
