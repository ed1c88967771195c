"""Python binding of zr, the host-side control library for UHF RFID readers.

Pure ctypes: it loads libzr.so / zr.dll (see :func:`load`) and declares every export of
api/zr.h. Use :class:`Reader`::

    import zr
    with zr.Reader.open("reader.ini", "reader") as r:
        r.reset()
        for epc in r.inventory(antenna=1):
            print(epc.hex())

Failures raise :class:`Error` subclasses carrying ``code`` and ``text``. The raw exports are
on :func:`library` (``zr.library().ZRReset(handle)``), declared for ctypes.
"""

from ._native import STDCALL, SIGNATURES, library, load
from .errors import (ArgumentError, CloseError, CommunicationError, Error, InternalError,
                     NoSessionError, OpenError, ReaderStatusError, error_for, result_text)
from .reader import (LOCK_REGIONS, NO_TAG_STATUSES, REPLY_TIMING_FIXED, REPLY_TIMING_WHOLE, Encoded, EncodeError,
                     Listened, Reader, library_bits, library_version, set_device_class, set_trace)

__version__ = "1.0.0"

__all__ = [
    "Reader", "Listened", "Encoded", "EncodeError", "LOCK_REGIONS", "Error", "NoSessionError", "OpenError",
    "ArgumentError",
    "CommunicationError", "ReaderStatusError", "InternalError", "CloseError",
    "load", "library", "result_text", "error_for", "set_device_class", "set_trace", "library_version",
    "library_bits", "NO_TAG_STATUSES", "REPLY_TIMING_FIXED", "REPLY_TIMING_WHOLE", "SIGNATURES", "STDCALL", "__version__",
]
