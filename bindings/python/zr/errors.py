"""Exceptions carrying a zr result code and the library's text for it."""

from __future__ import annotations

from typing import Dict, Optional, Type

from . import _native


# The result codes of api/zr.h, under its names (the tests hold them to the header); reader
# statuses map to 1001..4013.
ZR_OK = 1
ZR_ERR_NO_SESSION = -1
ZR_ERR_RANGE = -2
ZR_ERR_ADDRESS = -3
ZR_ERR_NO_REPLY = -4
ZR_ERR_PARAMETER = -5
ZR_ERR_SEND = -6
ZR_ERR_STATUS_3A = -7
ZR_ERR_REPORT_STATUS = -8
ZR_ERR_MODEL = -9
ZR_ERR_ALREADY_OPEN = -10
ZR_ERR_CONFIG = -11
ZR_ERR_CONNECT = -12
ZR_ERR_OPEN_PORT = -13
ZR_ERR_ARGUMENT = -14
ZR_ERR_TOO_LONG = -15
ZR_ERR_INTERNAL = -16
ZR_ERR_UNKNOWN_STATUS = -20
ZR_CLOSE_FAILED = 242


def result_text(code: int) -> str:
    """The library's short English text for a result code (ZRResultText)."""
    text: bytes = _native.library().ZRResultText(code)
    return text.decode("ascii", "replace")


def last_cause() -> str:
    """Why the last failed call on this thread failed (ZRLastCause): "" before any failure,
    or with a library that cannot tell."""
    lib = _native.library()
    if not hasattr(lib, "ZRLastCause"):
        return ""
    text: bytes = lib.ZRLastCause()
    return text.decode("utf-8", "replace")


class Error(Exception):
    """A zr call failed. `code` is the result the library returned, `text` its meaning
    (ZRResultText), `function` the export that returned it, `cause` the library's words for
    why (ZRLastCause, "" where it has none beyond `text`)."""

    def __init__(self, code: int, function: str = "", detail: Optional[str] = None,
                 cause: Optional[str] = None) -> None:
        self.code = code
        self.function = function
        self.text = result_text(code)
        # Raised right after the failing call, on its thread: the cause is that call's.
        if cause is None:
            cause = last_cause() if function and not detail else ""
        self.cause = "" if cause == self.text else cause
        message = f"{function}: {code} {self.text}" if function else f"{code} {self.text}"
        said = "; ".join(x for x in (detail, self.cause) if x)
        if said:
            message += f" ({said})"
        super().__init__(message)


class NoSessionError(Error):
    """-1: the reader is closed or the handle names no open session."""


class OpenError(Error):
    """ZROpen failed: 0 (port type), -10, -11 (configuration), -12 (connect), -13 (port)."""


class ArgumentError(Error, ValueError):
    """An argument was refused before anything was sent: -2, -3, -5, -9, -14, -15."""


class CommunicationError(Error):
    """The exchange failed: -4 no valid reply, -6 or 0 a send that failed."""


class ReaderStatusError(Error):
    """The reader answered with a non-zero status (mapped: 1001..4013, -7, -8, -20)."""


class InternalError(Error):
    """-16: out of memory, or the configuration file could not be written."""


class CloseError(Error):
    """242: the port could not be closed."""


_BY_CODE: Dict[int, Type[Error]] = {
    ZR_ERR_NO_SESSION: NoSessionError,
    ZR_ERR_RANGE: ArgumentError, ZR_ERR_ADDRESS: ArgumentError, ZR_ERR_PARAMETER: ArgumentError,
    ZR_ERR_MODEL: ArgumentError, ZR_ERR_ARGUMENT: ArgumentError, ZR_ERR_TOO_LONG: ArgumentError,
    ZR_ERR_NO_REPLY: CommunicationError, ZR_ERR_SEND: CommunicationError, 0: CommunicationError,
    ZR_ERR_STATUS_3A: ReaderStatusError, ZR_ERR_REPORT_STATUS: ReaderStatusError,
    ZR_ERR_UNKNOWN_STATUS: ReaderStatusError,
    ZR_ERR_ALREADY_OPEN: OpenError, ZR_ERR_CONFIG: OpenError, ZR_ERR_CONNECT: OpenError,
    ZR_ERR_OPEN_PORT: OpenError,
    ZR_ERR_INTERNAL: InternalError,
    ZR_CLOSE_FAILED: CloseError,
}


def error_for(code: int, function: str = "", detail: Optional[str] = None) -> Error:
    """The exception for `code` returned by `function`."""
    cls = _BY_CODE.get(code)
    if cls is None:
        cls = ReaderStatusError if code > 1000 else Error
    return cls(code, function, detail)
