"""Only for the wheel's tag: the metadata is in pyproject.toml.

A wheel holding a bundled library (zr/libzr.so*, zr/zr.dll, zr/libzr*.dylib) runs only on the
platform that library was built for, so it is tagged py3-none-<platform> instead of
py3-none-any; without one it stays pure.
"""

from pathlib import Path

from setuptools import setup
from setuptools.dist import Distribution

try:
    from setuptools.command.bdist_wheel import bdist_wheel  # setuptools >= 70.1
except ImportError:
    from wheel.bdist_wheel import bdist_wheel  # type: ignore[no-redef]

BUNDLED = [p for pattern in ("libzr.so*", "zr.dll", "libzr*.dylib")
           for p in (Path(__file__).resolve().parent / "zr").glob(pattern)]


class WithLibrary(Distribution):
    def has_ext_modules(self) -> bool:  # the bundled library is this wheel's binary part
        return bool(BUNDLED)


class PlatformWheel(bdist_wheel):  # type: ignore[misc,valid-type]
    def get_tag(self):  # type: ignore[no-untyped-def]
        python, abi, plat = super().get_tag()
        return ("py3", "none", plat) if BUNDLED else (python, abi, plat)


setup(distclass=WithLibrary, cmdclass={"bdist_wheel": PlatformWheel})
