"""The binding's one text conversion, done by the library (QvGbkFromUtf8, QvUtf8FromGbk) so
that every language keeps the same policy; Python's own "gbk" codec writes the euro sign as
80 and reads 80 back as it, which the policy forbids.

Out: a str is converted strictly; a character GBK lacks (the euro sign and U+0080 among
them) raises ValueError naming the input and what was refused.  bytes are GBK already and
go out as they are.  In: what is not GBK (80, FF, a lead byte without its trail) reads as
U+FFFD."""
import ctypes
import re
from typing import Any, Optional, Union

from . import _native

Text = Union[str, bytes, bytearray]


def _detail(native) -> str:
    """The Detail of the calling thread's last outcome, which names what a conversion refused."""
    numbers = [ctypes.c_int32() for _ in range(4)]
    detail = ctypes.create_string_buffer(_native.QV_DETAIL_BUFFER_SIZE)
    native.GetLastOutcome(*map(ctypes.byref, numbers), detail, len(detail))
    return from_gbk(detail.value, native)


def to_gbk(value: Optional[Text], name: str = "text", native: Any = None, terminated: bool = True) -> Optional[bytes]:
    """value as the GBK bytes the library reads; None stays None.

    terminated: the library reads the text up to its zero byte, so a zero byte inside is
    refused (ValueError) rather than cutting the text short."""
    if value is None:
        return None
    if isinstance(value, (bytes, bytearray)):
        data = bytes(value)
    elif isinstance(value, str):
        native = native or _native.library()
        # A lone surrogate goes through as the invalid UTF-8 it is, for the library to refuse.
        utf8 = value.encode("utf-8", "surrogatepass")
        # A character is never longer in GBK than in UTF-8.
        gbk = ctypes.create_string_buffer(len(utf8) + 1)
        length = native.QvGbkFromUtf8(utf8, len(utf8), gbk, len(gbk))
        if length < 0:
            # The Detail speaks of the conversion's argument; the host knows the input by name.
            why = re.sub(r"^Argument \d+ is ", "", _detail(native)) or "not convertible to GBK"
            raise ValueError(f"{name}: {why}")
        data = gbk.raw[:length]
    else:
        raise TypeError(f"{name}: a str or bytes is needed, not {type(value).__name__}")
    if terminated and b"\0" in data:
        raise ValueError(f"{name}: a text cannot hold a zero byte")
    return data


def from_gbk(data: Union[bytes, bytearray], native: Any = None) -> str:
    """GBK bytes as a str, U+FFFD for what is not GBK."""
    if not data:
        return ""
    native = native or _native.library()
    data = bytes(data)
    size = 3 * len(data) + 1  # a GBK byte is at most three bytes of UTF-8 (U+FFFD among them)
    while True:
        utf8 = ctypes.create_string_buffer(size)
        length = native.QvUtf8FromGbk(data, len(data), utf8, size)
        if length < size:
            return utf8.raw[:max(length, 0)].decode("utf-8", "replace")
        size = length + 1
