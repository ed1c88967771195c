"""Fixtures: the library under test and a zrsim process on loopback TCP and a pty.

ZR_BUILD names the build directory holding libzr.so and zrsim (default: build/ at the top
of the repository); ZR_LIBRARY, when set, names the library itself.
"""

from __future__ import annotations

import os
import subprocess
import sys
from pathlib import Path
from typing import Dict, Iterator

import pytest

ROOT = Path(__file__).resolve().parents[3]
BUILD = Path(os.environ.get("ZR_BUILD", ROOT / "build")).resolve()
sys.path.insert(0, str(ROOT / "bindings" / "python"))

import zr  # noqa: E402

# A command only the parallel test uses, slowed down so that its call lasts about 0.5 s.
SLOW_COMMAND = "0x61:delay=400"


def pytest_configure(config: pytest.Config) -> None:
    zr.load(os.environ.get("ZR_LIBRARY") or str(BUILD / "libzr.so"))


class Sim:
    """A running zrsim: two TCP addresses, one pty, and an INI file with a section each."""

    def __init__(self, tmp: Path, octet: int = 88, extra: tuple = ("--fault", SLOW_COMMAND)) -> None:
        base = f"127.{octet}.{os.getpid() % 250 + 1}"
        self.addresses = [f"{base}.{n}" for n in (1, 2)]
        self.absent = f"{base}.3"  # nothing listens there
        args = [str(BUILD / "zrsim"), *extra]
        for a in self.addresses:
            args += ["--tcp", a]
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, text=True)
        assert self.proc.stdout is not None
        self.pty = ""
        for _ in range(len(self.addresses) + 1):
            line = self.proc.stdout.readline()  # "zrsim: TCP a:7086" ..., "zrsim: serial /dev/pts/N"
            if line.startswith("zrsim: serial "):
                self.pty = line.split()[-1]
        assert self.pty, "zrsim printed no pseudo-terminal"
        sections: Dict[str, Dict[str, str]] = {
            "tcp": {"ZR_PORT_TYPE": "TCP", "ZR_HOST_NAME": self.addresses[0]},
            "tcp2": {"ZR_PORT_TYPE": "TCP", "ZR_HOST_NAME": self.addresses[1]},
            "serial": {"ZR_PORT_TYPE": "COM", "ZR_COM_NUMBER": self.pty},
            "absent": {"ZR_PORT_TYPE": "TCP", "ZR_HOST_NAME": self.absent},
            "usb": {"ZR_PORT_TYPE": "USB", "ZR_COM_NUMBER": "x", "ZR_HOST_NAME": "x"},
        }
        self.ini = tmp / "reader.ini"
        text = ""
        for name, keys in sections.items():
            keys.setdefault("ZR_COM_NUMBER", "COM1")
            keys.setdefault("ZR_HOST_NAME", "127.0.0.1")
            text += f"[{name}]\n" + "".join(f"{k}={v}\n" for k, v in keys.items()) + "\n"
        self.ini.write_text(text)

    def stop(self) -> None:
        self.proc.terminate()
        self.proc.wait(timeout=5)


@pytest.fixture(scope="session")
def sim(tmp_path_factory: pytest.TempPathFactory) -> Iterator[Sim]:
    s = Sim(tmp_path_factory.mktemp("zrsim"))
    yield s
    s.stop()


@pytest.fixture(params=["tcp", "serial"])
def reader(request: pytest.FixtureRequest, sim: Sim) -> Iterator[zr.Reader]:
    with zr.Reader.open(sim.ini, request.param) as r:
        yield r
