"""Loading the zr library and declaring every export for ctypes.

The declarations follow api/zr.h one to one (a test parses the header and compares). Types:
``int`` -> c_int, ``int*`` -> POINTER(c_int), ``const char*`` and ``const unsigned char*`` ->
c_char_p (bytes are passed without a copy), ``unsigned char*`` (a buffer the library writes)
-> POINTER(c_char), which accepts ctypes.create_string_buffer() but refuses immutable bytes;
``ZRTraceCallback`` -> TRACE_CALLBACK, ``void*`` -> c_void_p.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import struct
import sys
import threading
from ctypes import POINTER, c_char, c_char_p, c_int, c_void_p
from pathlib import Path
from typing import Any, Dict, List, Optional, Tuple, Type

_I = c_int
_IP = POINTER(c_int)
_S = c_char_p  # const char*: a NUL-terminated text
_IN = c_char_p  # const unsigned char*: bytes read by the library
_OUT = POINTER(c_char)  # unsigned char*: a buffer the library writes

STDCALL: bool = sys.platform == "win32" and struct.calcsize("P") == 4
"""True where the library's exports are __stdcall (32-bit Windows) and ctypes.WinDLL loads it."""

# void (ZR_CALL*)(void* context, const char* line): the wire trace's callback.
TRACE_CALLBACK: Any = (ctypes.WINFUNCTYPE if STDCALL else ctypes.CFUNCTYPE)(  # type: ignore[attr-defined]
    None, c_void_p, c_char_p)

# name -> (result type, argument types), in the header's order.
SIGNATURES: Dict[str, Tuple[type, List[type]]] = {
    "ZROpen": (_I, [_IP, _S, _S]),
    "ZRClose": (_I, [_IP]),
    "ZRReconnect": (_I, [_I]),
    "ZRLinkState": (_I, [_I]),
    "ZRSetReplyTiming": (_I, [_I, _I]),
    "ZRGetReplyTiming": (_I, [_I]),
    "ZRReset": (_I, [_I]),
    "ZRIdentify": (_I, [_I, _I, _I]),
    "ZRReport": (_I, [_I, _OUT]),
    "ZRDirectRead": (_I, [_I, _I, _I]),
    "ZRDirectReport": (_I, [_I, _OUT]),
    "ZRLongIdentify": (_I, [_I, _I, _I, _I]),
    "ZRLongReport": (_I, [_I, _OUT]),
    "ZRUserIdentify": (_I, [_I, _I, _I, _I, _I, _I, _I]),
    "ZRUserReport": (_I, [_I, _OUT]),
    "ZRIdentifyEpcCode": (_I, [_I, _I, _I, _I]),
    "ZREpcCodeReport": (_I, [_I, _OUT]),
    "ZRIdentifyTIDCode": (_I, [_I, _I, _I, _I, _IN]),
    "ZRTIDCodeReport": (_I, [_I, _OUT]),
    "ZRGetUseData": (_I, [_I, _IN, _I, _I, _I]),
    "ZRGetUseDataReport": (_I, [_I, _OUT]),
    "ZRListenReader": (_I, [_I, _I, _OUT, _OUT, _OUT]),
    "ZRDataReturn": (_I, [_I, _I, _I]),
    "ZRCodeSending": (_I, [_I, _I, _I, _IN]),
    "ZRConfigEASflag": (_I, [_I, _I, _IN, _I]),
    "ZRStartEASAlarm": (_I, [_I, _I]),
    "ZREASAlarmReport": (_I, [_I, _OUT]),
    "ZREndEASAlarm": (_I, [_I, _I]),
    "ZRReadUserData": (_I, [_I, _I, _I, _I, _IN, _OUT]),
    "ZRWriteUserData": (_I, [_I, _I, _I, _IN, _IN, _I]),
    "ZRSetEpcCode": (_I, [_I, _I, _IN, _I, _I, _IN]),
    "ZRReadUserDataEPC": (_I, [_I, _IN, _I, _I, _I, _OUT]),
    "ZRSetUseData": (_I, [_I, _I, _IN, _I, _I, _IN]),
    "ZRSelectTag": (_I, [_I, _I, _I, _I, _IN]),
    "ZRSelectTagEPC": (_I, [_I, _I, _I, _I, _IN, _I]),
    "ZRLockUserData": (_I, [_I, _I, _I, _IN, _I]),
    "ZRSetVisitPWD": (_I, [_I, _I, _IN, _IN]),
    "ZRSetDestroyPWD": (_I, [_I, _I, _IN, _IN]),
    "ZRSetDataLocked": (_I, [_I, _I, _IN, _I, _I]),
    "ZRSetDestroyTag": (_I, [_I, _I, _IN, _I, _IN]),
    "ZRSysQuery": (_I, [_I, _I, _I, _OUT]),
    "ZRSysSet": (_I, [_I, _I, _I, _IN]),
    "ZRSysFastSet": (_I, [_I, _I, _I, _IN]),
    "ZRTagQuery": (_I, [_I, _I, _I, _OUT]),
    "ZRTagFastSet": (_I, [_I, _I, _I, _IN]),
    "ZRFreqQuery": (_I, [_I, _I, _I, _OUT]),
    "ZRSetReadCfg": (_I, [_I, _I, _I]),
    "ZRPowerOn": (_I, [_I, _I]),
    "ZRPowerOff": (_I, [_I]),
    "ZRPowerSet": (_I, [_I, _I, _I, _I, _I]),
    "ZRPowerQuery": (_I, [_I, _I, _I, _OUT]),
    "ZRIOControlSet": (_I, [_I, _I, _I]),
    "ZRIOControlQuery": (_I, [_I, _I, _I]),
    "ZRMACSet": (_I, [_I, _I, _I, _IN]),
    "ZRNetAddrSet": (_I, [_I, _I, _S, _S, _S, _S]),
    "ZRSetDeviceClass": (_I, [_I, _I]),
    "ZRGetDeviceClass": (_I, [_I, _IP]),
    "ZRTestModeSet": (_I, [_I, _I]),
    "ZRSetInterfere": (_I, [_I, _IN]),
    "ZRGetInterfere": (_I, [_I, _OUT]),
    "ZRCloseInterfere": (_I, [_I]),
    "ZREpcPrintPowerOs": (_I, [_I, _I]),
    "ZRGetReaderState": (_I, [_I, _I, _OUT]),
    "ZRSetReaderTime": (_I, [_I, _I, _IN]),
    "ZRSetReaderfixNO": (_I, [_I, _I]),
    "ZRGetReaderfixNO": (_I, [_I, _OUT]),
    "ZRResultText": (_S, [_I]),
    "ZRLastCause": (_S, []),
    "ZRSetTraceCallback": (_I, [TRACE_CALLBACK, c_void_p]),
    "ZRVersion": (_S, []),
}

# Exports added after the first release: a library without them still loads, and the
# binding asks with hasattr(library, name) before using them.
OPTIONAL = frozenset({"ZRVersion", "ZRReconnect", "ZRLinkState", "ZRLastCause", "ZRSetTraceCallback",
                      "ZRSetReplyTiming", "ZRGetReplyTiming"})

_lock = threading.Lock()
_library: Optional[ctypes.CDLL] = None
_functions: Dict[str, Any] = {}


def _names() -> List[str]:
    if sys.platform == "win32":
        return ["zr.dll"]
    if sys.platform == "darwin":
        return ["libzr.dylib", "libzr.1.dylib"]
    return ["libzr.so.1", "libzr.so"]


def candidates(path: Optional[str] = None) -> List[str]:
    """Where the library is looked for, in order: `path`, $ZR_LIBRARY, a copy bundled in
    this package, then the names the system's loader resolves (LD_LIBRARY_PATH, PATH, ...)."""
    found: List[str] = []
    if path:
        found.append(os.fspath(path))
    env = os.environ.get("ZR_LIBRARY")
    if env:
        found.append(env)
    here = Path(__file__).resolve().parent
    found += [str(here / n) for n in _names() if (here / n).exists()]
    system = ctypes.util.find_library("zr")
    if system:
        found.append(system)
    found += _names()
    return found


def declare(dll: ctypes.CDLL) -> ctypes.CDLL:
    """Sets the result and argument types of every export on `dll`. A missing optional
    export is left out; a missing required one raises OSError."""
    missing = []
    for name, (restype, argtypes) in SIGNATURES.items():
        try:
            fn = getattr(dll, name)
        except AttributeError:
            if name not in OPTIONAL:
                missing.append(name)
            continue
        fn.restype = restype
        fn.argtypes = argtypes
    if missing:
        raise OSError(f"{dll._name}: not a zr library, it lacks {', '.join(missing)}")
    return dll


def load(path: Optional[str] = None) -> ctypes.CDLL:
    """Loads and declares the library (once per process; later calls return the same one).

    `path` names the file explicitly; without it $ZR_LIBRARY, a bundled copy and the
    system's loader are tried in that order. Raises OSError when none loads."""
    global _library
    with _lock:
        if _library is not None:
            if path and os.path.abspath(path) != os.path.abspath(_library._name):
                raise OSError(f"the zr library is already loaded from {_library._name}")
            return _library
        kind: Type[ctypes.CDLL] = ctypes.WinDLL if STDCALL else ctypes.CDLL  # type: ignore[attr-defined]
        errors = []
        for candidate in candidates(path):
            try:
                dll = kind(candidate)
            except OSError as e:
                errors.append(f"{candidate}: {e}")
                if candidate == path:
                    break  # an explicit path that does not load is not replaced by another
                continue
            declare(dll)
            _functions.update({n: getattr(dll, n) for n in SIGNATURES if hasattr(dll, n)})
            _library = dll  # published last: library() reads it without the lock
            return _library
        raise OSError("cannot load the zr library (set ZR_LIBRARY to its path):\n  " + "\n  ".join(errors))


def functions() -> Dict[str, Any]:
    """The loaded library's declared exports by name (a dict: cheaper than attribute look-ups)."""
    library()
    return _functions


def library() -> ctypes.CDLL:
    """The loaded library, loading it from the default places on first use."""
    lib = _library
    return lib if lib is not None else load()
