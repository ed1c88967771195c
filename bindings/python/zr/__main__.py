"""`python3 -m zr info`: the package, library and interpreter versions and bitnesses."""

from __future__ import annotations

import argparse
import os
import platform
import struct
import sys
from typing import List, Optional

from . import __version__, _native, library_version


def info() -> int:
    bits = struct.calcsize("P") * 8
    print(f"zr package  {__version__} ({os.path.dirname(os.path.abspath(__file__))})")
    try:
        lib = _native.load()
    except OSError as e:
        print(f"zr library  not loaded: {e}")
        return 1
    version = library_version() or "unknown"
    convention = "stdcall (WinDLL)" if _native.STDCALL else "cdecl (CDLL)"
    print(f"zr library  {version}, {bits}-bit, {convention}: {lib._name}")
    print(f"python      {platform.python_version()} {platform.python_implementation()}, {bits}-bit, "
          f"{sys.platform} {platform.machine()}: {sys.executable}")
    return 0


def main(argv: Optional[List[str]] = None) -> int:
    parser = argparse.ArgumentParser(prog="python3 -m zr", description=__doc__)
    parser.add_argument("command", choices=["info"], help="info: versions and bitnesses")
    parser.add_argument("--library", help="the library file to load (else $ZR_LIBRARY, ...)")
    args = parser.parse_args(argv)
    if args.library:
        try:
            _native.load(args.library)
        except OSError as e:
            print(f"zr library  not loaded: {e}")
            return 1
    return info()


if __name__ == "__main__":
    sys.exit(main())
