"""The binding's own logic: declarations, marshalling, errors and lifetime, against zrsim."""

from __future__ import annotations

import ctypes
import os
import re
import socket
import subprocess
import sys
import threading
import time
from ctypes import POINTER, c_char, c_char_p, c_int
from pathlib import Path
from typing import Dict, Iterator

import pytest

import zr
from conftest import ROOT, Sim

TAG_ID = bytes.fromhex("E200341201020301")  # the simulator's first default tag
PASSWORD = bytes(4)

# How each C type of api/zr.h is declared for ctypes.
C_TO_CTYPES = {
    "int": c_int,
    "int*": POINTER(c_int),
    "const char*": c_char_p,
    "const unsigned char*": c_char_p,
    "unsigned char*": POINTER(c_char),
    "ZRTraceCallback": zr._native.TRACE_CALLBACK,
    "void*": ctypes.c_void_p,
}


def header_signatures():
    text = re.sub(r"/\*.*?\*/", "", (ROOT / "api" / "zr.h").read_text(), flags=re.S)
    found = {}
    for ret, name, args in re.findall(r"^ZR_API\s+([^;]+?)\s*ZR_CALL\s+(\w+)\s*\(([^)]*)\)\s*;", text, re.M):
        params = [] if args.strip() in ("", "void") else [
            re.sub(r"\s*\*", "*", re.sub(r"\s*\w+$", "", " ".join(a.split()))) for a in args.split(",")]
        found[name] = (C_TO_CTYPES[ret.strip()], [C_TO_CTYPES[p] for p in params])
    return found


def test_every_export_of_the_header_is_declared_with_its_signature():
    header = header_signatures()
    assert len(header) >= 63
    # An optional export (newer than the first release) may be bound before the header has it.
    assert set(zr.SIGNATURES) - (zr._native.OPTIONAL - set(header)) == set(header)
    for name, (restype, argtypes) in header.items():
        assert zr.SIGNATURES[name] == (restype, argtypes), name
        if name not in zr._native.OPTIONAL:
            fn = getattr(zr.library(), name)
            assert (fn.restype, fn.argtypes) == (restype, argtypes), name


def header_result_codes():
    text = (ROOT / "api" / "zr.h").read_text()
    block = text[text.index("Result codes"):]
    block = block[:block.index("\n\n")]  # the codes end at the first blank line
    return {name: int(value) for name, value in re.findall(r"^#define (ZR_\w+) \(?(-?\d+)\)?", block, re.M)}


def test_result_codes_are_those_of_the_header_and_each_failure_has_its_error():
    header = header_result_codes()
    assert len(header) >= 19 and header["ZR_OK"] == 1
    assert {n: v for n, v in vars(zr.errors).items() if n.startswith("ZR_")} == header
    failures = set(header.values()) - {header["ZR_OK"]}
    # 0 is the start functions' failure, not a named code.
    assert set(zr.errors._BY_CODE) - {0} == failures
    for name, code in header.items():
        assert zr.result_text(code) != "unknown result code", name


def test_the_wire_trace_reaches_python(reader: zr.Reader):
    lines: list = []
    zr.set_trace(lines.append)
    try:
        reader.reset()
    finally:
        zr.set_trace(None)
    reader.reset()  # no longer traced
    assert [l.split(" | ")[3] for l in lines] == ["->", "<-"], lines
    assert lines[0].endswith("| RESET/TEST_MODE | sent")


def test_open_call_close(reader: zr.Reader):
    assert reader.handle not in (-1, 0)
    reader.reset()
    assert len(reader.reader_state()) == 6
    reader.close()
    assert reader.closed
    reader.close()  # a second close does nothing
    with pytest.raises(zr.NoSessionError) as e:
        reader.reset()
    assert (e.value.code, e.value.text) == (-1, zr.result_text(-1))


def test_inventory_yields_each_tag_until_quiet(reader: zr.Reader):
    epcs = list(reader.inventory(antenna=1, quiet=0.3))
    assert len(epcs) == 3 and len(set(epcs)) == 3
    assert all(isinstance(e, bytes) and len(e) >= 2 for e in epcs)


@pytest.fixture(scope="module")
def quiet_fields(tmp_path_factory: pytest.TempPathFactory) -> Iterator[Dict[str, Path]]:
    """An INI file whose sections are an empty field (a zrsim without tags) and a reader that
    never answers (a listener that accepts and stays silent, a pty nobody reads), on both links."""
    tmp = tmp_path_factory.mktemp("quiet")
    (tmp / "none.tags").write_text("")
    empty = Sim(tmp, octet=87, extra=("--tags", str(tmp / "none.tags")))
    silent = socket.socket()
    silent.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    silent.bind((empty.absent, 7086))
    silent.listen(4)
    master, slave = os.openpty()
    ini = tmp / "quiet.ini"
    ini.write_text(
        f"[empty_tcp]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=COM1\nZR_HOST_NAME={empty.addresses[0]}\n"
        f"[empty_serial]\nZR_PORT_TYPE=COM\nZR_COM_NUMBER={empty.pty}\nZR_HOST_NAME=127.0.0.1\n"
        f"[silent_tcp]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=COM1\nZR_HOST_NAME={empty.absent}\n"
        f"[silent_serial]\nZR_PORT_TYPE=COM\nZR_COM_NUMBER={os.ttyname(slave)}\nZR_HOST_NAME=127.0.0.1\n")
    yield {"ini": ini}
    os.close(master)
    os.close(slave)
    silent.close()
    empty.stop()


# The same call on a field with tags, an empty field and a reader that never answers: tags,
# no tags (the reader's "no tag" status is an answer), and a CommunicationError that says so.
@pytest.mark.parametrize("link", ["tcp", "serial"])
@pytest.mark.parametrize("field,tags,fails", [("tags", 3, False), ("empty", 0, False), ("silent", 0, True)])
def test_inventory_tells_an_empty_field_from_a_silent_reader(quiet_fields: Dict[str, Path], sim: Sim, link: str,
                                                           field: str, tags: int, fails: bool):
    path, section = (sim.ini, link) if field == "tags" else (quiet_fields["ini"], f"{field}_{link}")
    with zr.Reader.open(path, section) as reader:
        if not fails:
            assert len(list(reader.inventory(quiet=0.3, answer=1.0))) == tags
            return
        with pytest.raises(zr.CommunicationError) as e:
            list(reader.inventory(quiet=0.3, answer=1.0))
        assert (e.value.code, e.value.function) == (-4, "ZREpcCodeReport")
        assert "did not answer the inventory" in str(e.value)


def test_written_bytes_are_read_back(reader: zr.Reader):
    data = bytes([reader.handle & 0xFF, 0xCA, 0xFE, 0x42])
    reader.write_user_data(TAG_ID, data, address=40)
    assert reader.read_user_data(TAG_ID, address=40, count=4) == data
    reader.write_words(PASSWORD, bytearray(b"\x12\x34\x56\x78"), address=4)
    assert reader.read_words(PASSWORD, address=4, word_count=2) == b"\x12\x34\x56\x78"


@pytest.mark.parametrize("call, code, kind", [
    (lambda r, s: r.sys_query(address=0, length=53), -15, zr.ArgumentError),
    (lambda r, s: r.read_user_data(TAG_ID[:7], address=0, count=2), -14, zr.ArgumentError),
    (lambda r, s: zr.set_device_class(7), -9, zr.ArgumentError),
    (lambda r, s: zr.Reader.open(s.ini, "usb"), 0, zr.OpenError),
    (lambda r, s: zr.Reader.open(s.ini, "absent"), -12, zr.OpenError),
])
def test_a_failure_carries_its_code_and_text(sim: Sim, call, code, kind):
    with zr.Reader.open(sim.ini, "tcp") as r:
        with pytest.raises(kind) as e:
            call(r, sim)
    assert isinstance(e.value, zr.Error)
    assert e.value.code == code
    assert e.value.text == zr.result_text(code) != "unknown result code"
    assert str(code) in str(e.value) and e.value.text in str(e.value)


def test_a_failure_says_why_and_a_reader_reopens_its_link(sim: Sim):
    with pytest.raises(zr.OpenError) as e:
        zr.Reader.open(sim.ini, "absent")
    assert e.value.cause == f"connection refused by {sim.absent}:7086"
    assert e.value.cause in str(e.value)
    with zr.Reader.open(sim.ini, "tcp") as r:
        assert not r.link_lost
        r.reconnect()
        assert not r.link_lost
        r.reset()


def test_reply_timing_is_fixed_until_set_whole_and_refuses_other_values(reader: zr.Reader):
    assert reader.reply_timing == zr.REPLY_TIMING_FIXED == "fixed"
    reader.reply_timing = zr.REPLY_TIMING_WHOLE
    assert reader.reply_timing == "whole"
    reader.reset()
    for bad in ("sometimes", 1):
        with pytest.raises(ValueError, match="'fixed' or 'whole'"):
            reader.reply_timing = bad
    assert reader.reply_timing == "whole"


def test_two_readers_run_in_parallel_in_two_threads(sim: Sim):
    # A power-off the simulator answers late keeps reader 1 busy for about half a second;
    # a reset on reader 2 started meanwhile must end first. Were the calls serialised (by
    # the GIL or a lock), the reset would wait for the power-off.
    finished = []
    started = threading.Event()
    with zr.Reader.open(sim.ini, "tcp") as slow, zr.Reader.open(sim.ini, "tcp2") as fast:
        def power_off():
            started.set()
            slow.power_off()
            finished.append("slow")

        def reset():
            started.wait()
            time.sleep(0.1)
            fast.reset()
            finished.append("fast")

        threads = [threading.Thread(target=power_off), threading.Thread(target=reset)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    assert finished == ["fast", "slow"]


@pytest.mark.parametrize("section", ["tcp", "serial"])
def test_a_with_block_closes_the_reader_on_an_exception(sim: Sim, section: str):
    with pytest.raises(RuntimeError):
        with zr.Reader.open(sim.ini, section) as r:
            raise RuntimeError("in the block")
    assert r.closed
    with zr.Reader.open(sim.ini, section) as again:  # the port was released
        again.reset()


def test_info_prints_the_versions_and_bitness(sim: Sim):
    lib = zr.library()._name
    out = subprocess.run([sys.executable, "-m", "zr", "info", "--library", lib], check=True,
                         capture_output=True, text=True, cwd=ROOT / "bindings" / "python").stdout
    bits = f"{ctypes.sizeof(ctypes.c_void_p) * 8}-bit"
    assert zr.__version__ in out and (zr.library_version() or "unknown") in out and bits in out


def test_encode_writes_one_tag_and_reads_it_back(reader: zr.Reader):
    old = bytes.fromhex("300833B2DDD9014000000003")
    new = bytes.fromhex("300833B2DDD90140000000B3")
    before = set(reader.inventory(quiet=0.2))
    done = reader.encode(by_epc=old, epc=new, user={10: b"\xC0\xFF\xEE\x03"})
    assert done == zr.Encoded(epc=new, previous_epc=old, user={10: b"\xC0\xFF\xEE\x03"})
    assert set(reader.inventory(quiet=0.2)) == before - {old} | {new}
    with pytest.raises(zr.EncodeError) as refused:
        reader.encode(by_epc=old, epc=new)
    assert refused.value.refused and "no tag with EPC" in str(refused.value)
    reader.encode(by_epc=new, epc=old)  # as the other tests expect the field
