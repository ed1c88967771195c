"""A reader session: the Pythonic layer over the flat C API."""

from __future__ import annotations

import ctypes
import os
import threading
import time
from typing import Any, Callable, Dict, Iterable, Iterator, List, Mapping, NamedTuple, Optional, Union

from . import _native
from .errors import (ZR_ERR_NO_REPLY, ArgumentError, CommunicationError, Error, OpenError, ReaderStatusError,
                     error_for, last_cause)

BytesLike = Union[bytes, bytearray, memoryview]

NO_TAG_STATUSES = (3002, 4002)
"""The reader's "no tag" status as the report functions give it: 0x61 in device class 3 (3002),
0x91 in classes 1 and 2 (4002). For an inventory it means an empty field, not a failure."""

REPLY_TIMING_FIXED = "fixed"
"""Reader.reply_timing: every wait as each function documents it (the default)."""
REPLY_TIMING_WHOLE = "whole"
"""Reader.reply_timing: each wait is a deadline; a reply is returned as soon as it is whole."""
_REPLY_TIMINGS = (REPLY_TIMING_FIXED, REPLY_TIMING_WHOLE)  # by the library's mode number

# The largest report any report function writes (an EPC or TID report over serial: 254).
_REPORT_SIZE = 256
_ReportBuffer = ctypes.c_char * _REPORT_SIZE  # a type made once: cheaper than create_string_buffer


class Encoded(NamedTuple):
    """What Reader.encode left on the tag, as read back."""

    epc: bytes           # the EPC the tag answers with now
    previous_epc: bytes  # the one it answered with before
    user: Dict[int, bytes]  # user memory read back, by word address


class EncodeError(Exception):
    """Reader.encode did not leave the tag as asked. `refused`: nothing was written."""

    def __init__(self, tag: str, cause: str, refused: bool) -> None:
        self.tag = tag
        self.cause = cause
        self.refused = refused
        super().__init__(f"encode {tag}: {'refused' if refused else 'failed'}: {cause}")


LOCK_REGIONS = ("visit-password", "destroy-password", "epc", "tid", "user", "all")
"""Reader.encode(lock=...): the regions ZRSetDataLocked locks, by its region number."""


class Listened(NamedTuple):
    """A frame the reader sent on its own (ZRListenReader)."""

    last_six: bytes
    first_block: bytes
    second_block: bytes


def _fixed(value: BytesLike, size: int, name: str, function: str) -> bytes:
    # The library reads exactly `size` bytes: a shorter object would be read past its end.
    data = bytes(value)
    if len(data) != size:
        raise ArgumentError(-14, function, f"{name} must be {size} bytes, not {len(data)}")
    return data


def _words(value: BytesLike, function: str) -> bytes:
    data = bytes(value)
    if len(data) % 2:
        raise ArgumentError(-14, function, f"data must be whole 16-bit words, not {len(data)} bytes")
    return data


class Reader:
    """One session with one reader.

    Open it with :meth:`open` and close it with :meth:`close`, or use it as a context
    manager, which closes it when the block ends (also on an exception)::

        with zr.Reader.open("reader.ini", "reader") as r:
            r.reset()
            for epc in r.inventory():
                print(epc.hex())

    Every method raises a :class:`zr.Error` subclass carrying the result code and its text
    when the library reports a failure. Calls on one reader take turns (a lock per reader);
    calls on different readers run in parallel in different threads, since ctypes releases
    the GIL while the library waits for the reader.
    """

    def __init__(self, handle: int, path: str, section: str) -> None:
        """Wraps an already open handle; use :meth:`open` instead."""
        self._lib = _native.library()
        self._functions = _native.functions()
        self._handle = ctypes.c_int(handle)
        self._lock = threading.Lock()
        self.path = path
        self.section = section

    # ---- lifetime ------------------------------------------------------------------------

    @classmethod
    def open(cls, path: Union[str, "os.PathLike[str]"], section: str) -> "Reader":
        """Opens a session with the connection settings in `section` of the INI file `path`
        (ZROpen). Raises OpenError (or ArgumentError) when it cannot."""
        lib = _native.library()
        handle = ctypes.c_int(-1)
        p = os.fsencode(path)
        r = lib.ZROpen(ctypes.byref(handle), p, section.encode())
        if r != 1:
            cause = last_cause()
            raise OpenError(r, "ZROpen", f"{os.fsdecode(p)} [{section}]", cause) if r in (0, -10, -11, -12, -13) \
                else error_for(r, "ZROpen")
        return cls(handle.value, os.fsdecode(p), section)

    @property
    def handle(self) -> int:
        """The library's handle, -1 once closed."""
        return self._handle.value

    @property
    def closed(self) -> bool:
        return self._handle.value == -1

    def close(self) -> None:
        """Closes the session (ZRClose). Closing a closed reader does nothing."""
        with self._lock:
            if self._handle.value == -1:
                return
            r = self._lib.ZRClose(ctypes.byref(self._handle))
            if r != 1:
                raise error_for(r, "ZRClose")

    def reconnect(self) -> None:
        """Closes the session's link and opens it again with the same settings (ZRReconnect),
        for a reader that was away. Raises OpenError when it is not back; the reader stays
        open with its link lost, and reconnect may be tried again."""
        r = self._call("ZRReconnect")
        if r != 1:
            raise OpenError(r, "ZRReconnect") if r in (-12, -13) else error_for(r, "ZRReconnect")

    @property
    def link_lost(self) -> bool:
        """Whether the session's link is known lost (ZRLinkState): every call fails until
        :meth:`reconnect` succeeds. Sends nothing."""
        r = self._call("ZRLinkState")
        if r < 0:
            raise error_for(r, "ZRLinkState")
        return r == 0

    @property
    def reply_timing(self) -> str:
        """How each call waits for its reply: "fixed" (REPLY_TIMING_FIXED) or "whole"
        (REPLY_TIMING_WHOLE) (ZRGetReplyTiming, ZRSetReplyTiming).

        "fixed", the default unless the section's ZR_REPLY_TIMING says otherwise, waits every
        wait out as each function documents it; "whole" makes each wait a deadline and returns
        a reply as soon as it is whole. Set it to one of the two strings; any other value
        (numbers included) raises ArgumentError, a ValueError, and changes nothing. Sends
        nothing; the session keeps it across :meth:`reconnect`."""
        r = self._timing_call("ZRGetReplyTiming")
        if r not in (0, 1):
            raise error_for(r, "ZRGetReplyTiming")
        return _REPLY_TIMINGS[r]

    @reply_timing.setter
    def reply_timing(self, timing: str) -> None:
        if not isinstance(timing, str) or timing not in _REPLY_TIMINGS:
            raise ArgumentError(-14, "ZRSetReplyTiming", f"reply_timing is 'fixed' or 'whole', not {timing!r}")
        r = self._timing_call("ZRSetReplyTiming", _REPLY_TIMINGS.index(timing))
        if r != 1:
            raise error_for(r, "ZRSetReplyTiming")

    def _timing_call(self, name: str, *args: Any) -> int:
        if name not in self._functions:
            raise Error(0, name, "this library has no reply timing")
        return self._call(name, *args)

    def __enter__(self) -> "Reader":
        return self

    def __exit__(self, exc_type: Any, exc: Any, tb: Any) -> None:
        if exc_type is None:
            self.close()
            return
        try:  # the block's own exception matters more than a failed close
            self.close()
        except Error:
            pass

    def __del__(self) -> None:
        try:
            if self._handle.value != -1:
                self._lib.ZRClose(ctypes.byref(self._handle))
        except Exception:
            pass

    def __repr__(self) -> str:
        state = "closed" if self.closed else f"handle {self.handle}"
        return f"<zr.Reader {self.path} [{self.section}] {state}>"

    # ---- plumbing ------------------------------------------------------------------------

    def _call(self, name: str, *args: Any) -> int:
        fn: Callable[..., int] = self._functions[name]
        with self._lock:
            h = self._handle.value
            if h == -1:
                raise error_for(-1, name, "the reader is closed")
            return fn(h, *args)

    def _ok(self, name: str, *args: Any) -> None:
        r = self._call(name, *args)
        if r != 1:
            raise error_for(r, name)

    def _sent(self, name: str, *args: Any) -> int:
        # Start functions return the number of bytes sent; 0 means nothing went out.
        r = self._call(name, *args)
        if r <= 0:
            raise error_for(r, name)
        return r

    def _query(self, name: str, size: int, *args: Any) -> bytes:
        buf = ctypes.create_string_buffer(max(size, 1))
        r = self._call(name, *args, buf)
        if r != 1:
            raise error_for(r, name)
        return buf.raw[:size]

    def _report(self, name: str) -> Optional[bytes]:
        # _call inlined: a poll is the call an inventory makes most often.
        fn = self._functions[name]
        buf = _ReportBuffer()
        with self._lock:
            h = self._handle.value
            if h == -1:
                raise error_for(-1, name, "the reader is closed")
            r = fn(h, buf)
        if r == 0:
            return None
        if r != 1:
            raise error_for(r, name)
        return buf.raw

    def _frame_report(self, name: str) -> Optional[bytes]:
        # EPC and TID reports hold the frame: LEN (2 bytes), code, status, data.
        raw = self._report(name)
        if raw is None:
            return None
        n = raw[0] * 256 + raw[1]
        return raw[4:2 + n] if 2 <= n <= 252 else b""

    # ---- session -------------------------------------------------------------------------

    def reset(self) -> None:
        """Resets the reader (ZRReset)."""
        self._ok("ZRReset")

    # ---- inventory -----------------------------------------------------------------------

    def inventory(self, *, antenna: int = 1, option1: int = 0, option2: int = 0,
                  tid_password: Optional[BytesLike] = None, quiet: float = 0.3,
                  poll: float = 0.01, answer: float = 1.0) -> Iterator[bytes]:
        """Runs one inventory and yields each tag's EPC (or TID, when `tid_password` is
        given) as bytes, until the reader has sent nothing for `quiet` seconds.

        An empty field is no error: the reader's "no tag" status (0x61; 0x91 in device classes
        1 and 2) ends the inventory, having yielded nothing. A reader that sends no frame at
        all within `answer` seconds of the start raises CommunicationError (-4), its cause the
        lost link when the link is lost. Any other reader status in a report raises
        ReaderStatusError. Between empty polls it sleeps `poll` seconds (over serial a poll
        returns at once). Another command on this reader while the iterator runs discards the
        reports still waiting."""
        if tid_password is None:
            self.start_epc_inventory(antenna=antenna, option1=option1, option2=option2)
            name, report = "ZREpcCodeReport", self.epc_report
        else:
            self.start_tid_inventory(tid_password, antenna=antenna, option1=option1, option2=option2)
            name, report = "ZRTIDCodeReport", self.tid_report
        started = last = time.monotonic()
        answered = False
        while True:
            try:
                data = report()
            except ReaderStatusError as e:
                if e.code in NO_TAG_STATUSES:
                    return
                raise
            now = time.monotonic()
            if data is not None:
                answered, last = True, now
                yield data
            elif answered and now - last >= quiet:
                return
            elif not answered and (now - started >= answer or self.link_lost):
                lost = self.link_lost
                raise CommunicationError(
                    ZR_ERR_NO_REPLY, name,
                    f"the reader did not answer the inventory: no report within {answer:g} s of the start",
                    last_cause() if lost else "")
            else:
                time.sleep(poll)

    def start_epc_inventory(self, *, antenna: int = 1, option1: int = 0, option2: int = 0) -> int:
        """Starts an EPC inventory (ZRIdentifyEpcCode); returns the bytes sent."""
        return self._sent("ZRIdentifyEpcCode", antenna, option1, option2)

    def epc_report(self) -> Optional[bytes]:
        """One EPC report's data (the EPC), or None while nothing is waiting (ZREpcCodeReport)."""
        return self._frame_report("ZREpcCodeReport")

    def start_tid_inventory(self, password: BytesLike, *, antenna: int = 1, option1: int = 0,
                            option2: int = 0) -> int:
        """Starts a TID inventory under a 4-byte password (ZRIdentifyTIDCode)."""
        pw = _fixed(password, 4, "password", "ZRIdentifyTIDCode")
        return self._sent("ZRIdentifyTIDCode", antenna, option1, option2, pw)

    def tid_report(self) -> Optional[bytes]:
        """One TID report's data, or None while nothing is waiting (ZRTIDCodeReport)."""
        return self._frame_report("ZRTIDCodeReport")

    def start_identify(self, *, antenna: int = 1, option: int = 0) -> int:
        """Starts an inventory (ZRIdentify); collect with :meth:`report`."""
        return self._sent("ZRIdentify", antenna, option)

    def report(self) -> Optional[bytes]:
        """One 0x71 report: the status byte (0) and the report data, padded with zeros to
        251 bytes (the library does not say how long the data is); None while nothing waits."""
        return self._report("ZRReport")

    def start_direct_read(self, *, antenna: int = 1, option: int = 0) -> int:
        """Starts a direct read (ZRDirectRead); collect with :meth:`direct_report`."""
        return self._sent("ZRDirectRead", antenna, option)

    def direct_report(self) -> Optional[bytes]:
        """One 0xD0 report, as :meth:`report` (ZRDirectReport)."""
        return self._report("ZRDirectReport")

    def start_long_identify(self, *, antenna: int = 1, option1: int = 0, option2: int = 0) -> int:
        """Starts a long inventory (ZRLongIdentify); collect with :meth:`long_report`."""
        return self._sent("ZRLongIdentify", option1, antenna, option2)

    def long_report(self) -> Optional[bytes]:
        """One long report, as :meth:`report` (ZRLongReport)."""
        return self._report("ZRLongReport")

    def start_user_identify(self, *, antenna: int = 1, option1: int = 0, option2: int = 0,
                            option3: int = 0, option4: int = 0, option5: int = 0) -> int:
        """Starts a user-defined inventory (ZRUserIdentify); collect with :meth:`user_report`."""
        return self._sent("ZRUserIdentify", option1, antenna, option2, option3, option4, option5)

    def user_report(self) -> Optional[bytes]:
        """One user-defined inventory report, as :meth:`report` (ZRUserReport)."""
        return self._report("ZRUserReport")

    def start_user_data_read(self, password: BytesLike, *, address: int, word_count: int) -> int:
        """Starts a password-authorised read of user-memory words (ZRGetUseData)."""
        pw = _fixed(password, 4, "password", "ZRGetUseData")
        return self._sent("ZRGetUseData", pw, address, word_count, 0)

    def user_data_report(self) -> Optional[bytes]:
        """The words read by :meth:`start_user_data_read`, or None while nothing is waiting
        (ZRGetUseDataReport)."""
        raw = self._report("ZRGetUseDataReport")
        return None if raw is None else raw[2:2 + 2 * raw[1]]

    # ---- listening, data return, code sending ------------------------------------------

    def listen(self) -> Optional[Listened]:
        """Takes a frame the reader sent on its own and acknowledges it (ZRListenReader);
        None when none came within 50 ms."""
        six, first, second = (ctypes.create_string_buffer(n) for n in (6, 8, 8))
        r = self._call("ZRListenReader", 0, six, first, second)
        if r == 0:
            return None
        if r != 1:
            raise error_for(r, "ZRListenReader")
        return Listened(six.raw, first.raw, second.raw)

    def data_return(self, *, antenna: int = 1, option: int = 0) -> None:
        """Asks the reader to return data (ZRDataReturn)."""
        self._ok("ZRDataReturn", antenna, option)

    def code_sending(self, data: BytesLike) -> None:
        """Sends `data` as it is under command 0x5F (ZRCodeSending)."""
        d = bytes(data)
        self._ok("ZRCodeSending", len(d), 0, d)

    # ---- EAS -----------------------------------------------------------------------------

    def config_eas_flag(self, password: BytesLike, flag: int, *, antenna: int = 1) -> None:
        """Sets a tag's EAS flag (ZRConfigEASflag)."""
        self._ok("ZRConfigEASflag", antenna, _fixed(password, 4, "password", "ZRConfigEASflag"), flag)

    def start_eas_alarm(self, *, antenna: int = 1) -> int:
        """Switches the alarm mode on (ZRStartEASAlarm); returns the bytes sent."""
        return self._sent("ZRStartEASAlarm", antenna)

    def eas_alarm_report(self) -> Optional[bytes]:
        """One alarm frame, as :meth:`report`, or None (ZREASAlarmReport)."""
        return self._report("ZREASAlarmReport")

    def end_eas_alarm(self, *, antenna: int = 1) -> None:
        """Switches the alarm mode off (ZREndEASAlarm)."""
        self._ok("ZREndEASAlarm", antenna)

    # ---- tag memory ----------------------------------------------------------------------

    def read_user_data(self, tag_id: BytesLike, *, address: int, count: int, antenna: int = 1) -> bytes:
        """Reads `count` bytes from `address` of the tag with the 8-byte `tag_id` (ZRReadUserData)."""
        tid = _fixed(tag_id, 8, "tag_id", "ZRReadUserData")
        buf = ctypes.create_string_buffer(max(count, 1))
        r = self._call("ZRReadUserData", antenna, address, count, tid, buf)
        if r != 1:
            raise error_for(r, "ZRReadUserData")
        return buf.raw[:count]

    def write_user_data(self, tag_id: BytesLike, data: BytesLike, *, address: int, antenna: int = 1) -> None:
        """Writes `data` at `address` of the tag with the 8-byte `tag_id` (ZRWriteUserData)."""
        tid = _fixed(tag_id, 8, "tag_id", "ZRWriteUserData")
        d = bytes(data)
        self._ok("ZRWriteUserData", antenna, address, tid, d, len(d))

    def read_words(self, password: BytesLike, *, address: int, word_count: int, antenna: int = 1) -> bytes:
        """Reads `word_count` 16-bit words from word `address`, authorised by `password`
        (ZRReadUserDataEPC); returns 2 * word_count bytes."""
        pw = _fixed(password, 4, "password", "ZRReadUserDataEPC")
        size = 2 * max(word_count, 0) + 5
        buf = ctypes.create_string_buffer(size)
        r = self._call("ZRReadUserDataEPC", pw, address, word_count, antenna, buf)
        if r != 1:
            raise error_for(r, "ZRReadUserDataEPC")
        return buf.raw[5:size]

    def write_words(self, password: BytesLike, data: BytesLike, *, address: int, antenna: int = 1) -> None:
        """Writes `data` (whole words) at word `address`, authorised by `password` (ZRSetUseData)."""
        pw = _fixed(password, 4, "password", "ZRSetUseData")
        d = _words(data, "ZRSetUseData")
        self._ok("ZRSetUseData", antenna, pw, address, len(d) // 2, d)

    def set_epc(self, password: BytesLike, epc: BytesLike, *, antenna: int = 1) -> bool:
        """Writes a new EPC (whole words, at most 12 bytes) (ZRSetEpcCode). True when the
        reader confirmed it; False when it was sent but no reply confirmed it."""
        pw = _fixed(password, 4, "password", "ZRSetEpcCode")
        d = _words(epc, "ZRSetEpcCode")
        r = self._call("ZRSetEpcCode", antenna, pw, len(d), len(d) // 2, d)
        if r == 1:
            return True
        if r > 1 and r < 1000:
            return False  # a byte count: sent, not confirmed
        raise error_for(r, "ZRSetEpcCode")

    # ---- selection, passwords, locks, kill ----------------------------------------------

    def select_tag(self, match: BytesLike, *, antenna: int = 1, option1: int = 1, option2: int = 0) -> None:
        """Selects the tags whose 8-byte identifier begins with `match` (ZRSelectTag).
        option1: 1 selects, 0 cancels any selection; option2: how many leading bytes of
        `match` count, 0 for all."""
        self._ok("ZRSelectTag", antenna, option1, option2, _fixed(match, 8, "match", "ZRSelectTag"))

    def select_tag_epc(self, match: BytesLike, *, antenna: int = 1, option1: int = 1, option2: int = 0) -> None:
        """Selects the tags whose EPC begins with `match` (ZRSelectTagEPC); later commands
        reach only them. option1: 1 selects, 0 cancels any selection (`match` is then
        ignored); option2: how many leading bytes of `match` count, 0 for all."""
        m = bytes(match)
        self._ok("ZRSelectTagEPC", antenna, option1, option2, m, len(m))

    def encode(self, *, by_epc: Optional[BytesLike] = None, by_id: Optional[BytesLike] = None,
               epc: Optional[BytesLike] = None, user: Optional[Mapping[int, BytesLike]] = None,
               password: BytesLike = bytes(4), lock: Iterable[str] = (), antenna: int = 1) -> "Encoded":
        """Writes a new EPC and/or user memory to one chosen tag and only to it, as
        ``zrtool encode`` does: selects it (`by_epc`: its EPC or a prefix only it has;
        `by_id`: its 8-byte identifier; the reader cannot select by TID), checks that exactly
        that tag answers under the selection, writes `user` ({word address: whole words})
        then `epc`, reads both back and compares, locks the `lock` regions (names of
        LOCK_REGIONS), and cancels the selection again.

        Returns an :class:`Encoded`. Raises :class:`EncodeError` (``refused`` True when
        nothing was written: the tag is not in the field, the selection does not hold, the
        new EPC is another tag's) with the cause, chained to the zr.Error when a call failed."""
        if (by_epc is None) == (by_id is None):
            raise ValueError("encode: give one of by_epc and by_id")
        words = {int(a): _words(d, "ZRSetUseData") for a, d in (user or {}).items()}
        new_epc = None if epc is None else _words(epc, "ZRSetEpcCode")
        if new_epc is not None and not 2 <= len(new_epc) <= 12:
            raise ValueError("encode: the new EPC must be 2 to 12 bytes")
        if new_epc is None and not words:
            raise ValueError("encode: nothing to write: give epc, user or both")
        regions = [LOCK_REGIONS.index(r) for r in lock]
        pw = _fixed(password, 4, "password", "ZRSetUseData")
        match = bytes(by_epc if by_epc is not None else by_id)  # type: ignore[arg-type]
        tag = ("EPC " if by_id is None else "identifier ") + match.hex().upper()

        def step(refused: bool, what: str, call: Callable[[], Any]) -> Any:
            try:
                return call()
            except Error as e:
                raise EncodeError(tag, f"{what}: {e}", refused) from e

        def select(m: bytes) -> None:
            if by_id is None:
                self.select_tag_epc(m, antenna=antenna, option1=1)
            else:
                self.select_tag(m, antenna=antenna, option1=1)

        def answering() -> List[bytes]:
            return list(self.inventory(antenna=antenna, quiet=0.15))

        step(True, "cancelling the selection", lambda: self.select_tag_epc(b"", antenna=antenna, option1=0))
        field = step(True, "the inventory of the field", answering)
        if by_id is None:
            n = sum(e.startswith(match) for e in field)
            if n == 0:
                raise EncodeError(tag, f"no tag with EPC {match.hex().upper()} in the field ({len(field)} tags answered)", True)
            if n > 1:
                raise EncodeError(tag, f"{n} tags in the field have an EPC that begins with {match.hex().upper()}", True)
        step(True, "the tag is not in the field: the reader refused the selection", lambda: select(match))
        try:
            seen = step(True, "checking the selection", answering)
            if len(seen) != 1 or (by_id is None and not seen[0].startswith(match)):
                raise EncodeError(tag, f"the selection does not hold: {len(seen)} tags answer under it", True)
            current = seen[0]
            others = list(field)
            if current in others:
                others.remove(current)
            if new_epc is not None and new_epc != current:
                for e in others:
                    if e.startswith(new_epc):
                        raise EncodeError(tag, f"another tag in the field already has EPC {e.hex().upper()}", True)
            for a, d in words.items():
                step(False, f"writing user memory at word {a}",
                     lambda a=a, d=d: self.write_words(pw, d, address=a, antenna=antenna))
            expected = current
            if new_epc is not None:
                if not step(False, "writing the EPC", lambda: self.set_epc(pw, new_epc, antenna=antenna)):
                    raise EncodeError(tag, "writing the EPC: sent, no reply confirmed it", False)
                expected = new_epc
                if by_id is None:
                    step(False, "read-back: no tag answers with the new EPC", lambda: select(new_epc))
            seen = step(False, "read-back", answering)
            if seen != [expected]:
                got = " ".join(e.hex().upper() for e in seen) or "no tag"
                raise EncodeError(tag, f"read-back: expected EPC {expected.hex().upper()}, the reader saw {got}", False)
            read = {}
            for a, d in words.items():
                back = step(False, f"read-back of user memory at word {a}",
                            lambda a=a, d=d: self.read_words(pw, address=a, word_count=len(d) // 2, antenna=antenna))
                if back != d:
                    raise EncodeError(tag, f"read-back of user memory at word {a}: wrote {d.hex().upper()}, "
                                           f"read {back.hex().upper()}", False)
                read[a] = back
            for r in regions:
                step(False, f"locking {LOCK_REGIONS[r]}",
                     lambda r=r: self.set_data_locked(pw, mode=1, region=r, antenna=antenna))
            return Encoded(epc=expected, previous_epc=current, user=read)
        finally:
            # The whole field answers again, whatever happened under the selection.
            try:
                self.select_tag_epc(b"", antenna=antenna, option1=0)
            except Error:
                pass

    def lock_user_data(self, tag_id: BytesLike, *, address: int, length: int, antenna: int = 1) -> None:
        """Locks `length` bytes from `address` of the tag with `tag_id` (ZRLockUserData)."""
        self._ok("ZRLockUserData", address, antenna, _fixed(tag_id, 8, "tag_id", "ZRLockUserData"), length)

    def set_visit_password(self, password: BytesLike, new_password: BytesLike, *, antenna: int = 1) -> None:
        """Sets the tag's visit password (ZRSetVisitPWD)."""
        self._ok("ZRSetVisitPWD", antenna, _fixed(password, 4, "password", "ZRSetVisitPWD"),
                 _fixed(new_password, 4, "new_password", "ZRSetVisitPWD"))

    def set_destroy_password(self, password: BytesLike, new_password: BytesLike, *, antenna: int = 1) -> None:
        """Sets the tag's destroy password (ZRSetDestroyPWD)."""
        self._ok("ZRSetDestroyPWD", antenna, _fixed(password, 4, "password", "ZRSetDestroyPWD"),
                 _fixed(new_password, 4, "new_password", "ZRSetDestroyPWD"))

    def set_data_locked(self, password: BytesLike, *, mode: int, region: int, antenna: int = 1) -> None:
        """Sets a lock on the tag (ZRSetDataLocked)."""
        self._ok("ZRSetDataLocked", antenna, _fixed(password, 4, "password", "ZRSetDataLocked"), mode, region)

    def destroy_tag(self, password: BytesLike, data: BytesLike = b"", *, antenna: int = 1) -> None:
        """Destroys the tag, authorised by its destroy password (ZRSetDestroyTag)."""
        d = _words(data, "ZRSetDestroyTag")
        self._ok("ZRSetDestroyTag", antenna, _fixed(password, 4, "password", "ZRSetDestroyTag"), len(d) // 2, d)

    # ---- parameter areas -----------------------------------------------------------------

    def sys_query(self, *, address: int, length: int) -> bytes:
        """Reads `length` (0-52) bytes of the system area (ZRSysQuery)."""
        return self._query("ZRSysQuery", length, address, length)

    def sys_set(self, data: BytesLike, *, address: int) -> None:
        """Writes the system area one frame per byte, serial only (ZRSysSet)."""
        d = bytes(data)
        self._ok("ZRSysSet", address, len(d), d)

    def sys_fast_set(self, data: BytesLike, *, address: int) -> None:
        """Writes up to 52 bytes of the system area in one frame (ZRSysFastSet)."""
        d = bytes(data)
        self._ok("ZRSysFastSet", address, len(d), d)

    def tag_query(self, *, address: int, length: int) -> bytes:
        """Reads `length` (0-252) bytes of the tag parameter area (ZRTagQuery)."""
        return self._query("ZRTagQuery", length, address, length)

    def tag_fast_set(self, data: BytesLike, *, address: int) -> None:
        """Writes up to 251 bytes of the tag parameter area (ZRTagFastSet)."""
        d = bytes(data)
        self._ok("ZRTagFastSet", address, len(d), d)

    def freq_query(self, *, address: int) -> bytes:
        """The raw 54-byte reply to a zero-length system query at `address` (ZRFreqQuery)."""
        return self._query("ZRFreqQuery", 54, address, 0)

    def set_read_config(self, *, mode: int, option: int) -> None:
        """Sets the read configuration (ZRSetReadCfg)."""
        self._ok("ZRSetReadCfg", mode, option)

    # ---- power and I/O -------------------------------------------------------------------

    def power_on(self, value: int = 0) -> None:
        """Switches the RF power on (ZRPowerOn)."""
        self._ok("ZRPowerOn", value)

    def power_off(self) -> None:
        """Switches the RF power off (ZRPowerOff)."""
        self._ok("ZRPowerOff")

    def power_set(self, power0: int, power1: int) -> None:
        """Sets the two power bytes (ZRPowerSet)."""
        self._ok("ZRPowerSet", 0, 2, power0, power1)

    def power_query(self, length: int = 2) -> bytes:
        """Reads the power bytes (ZRPowerQuery)."""
        return self._query("ZRPowerQuery", length, 0, length)

    def io_set(self, selector: int, value: int) -> None:
        """Sets an I/O line (ZRIOControlSet)."""
        self._ok("ZRIOControlSet", selector, value)

    def io_query(self, selector: int) -> None:
        """Polls an I/O line; only the status is reported (ZRIOControlQuery)."""
        self._ok("ZRIOControlQuery", selector, 0)

    # ---- network identity ----------------------------------------------------------------

    def set_mac(self, mac: BytesLike) -> None:
        """Writes the reader's MAC address (ZRMACSet)."""
        d = bytes(mac)
        self._ok("ZRMACSet", 0, len(d), d)

    def set_net_address(self, ip: str, mask: str, gateway: str, *, section: Optional[str] = None) -> None:
        """Sets the reader's IPv4 address and records it in `section` (default: this
        reader's) of the INI file of the last open (ZRNetAddrSet)."""
        sec = (self.section if section is None else section).encode()
        self._ok("ZRNetAddrSet", 0, sec, ip.encode(), mask.encode(), gateway.encode())

    # ---- device class, test mode, interference -------------------------------------------

    def device_class(self) -> int:
        """The reader's four device-information bytes as an int (ZRGetDeviceClass)."""
        value = ctypes.c_int(0)
        r = self._call("ZRGetDeviceClass", ctypes.byref(value))
        if r != 1:
            raise error_for(r, "ZRGetDeviceClass")
        return value.value & 0xFFFFFFFF

    def set_test_mode(self, mode: int) -> None:
        """Puts the reader into test mode 0-4 (ZRTestModeSet)."""
        self._ok("ZRTestModeSet", mode)

    def set_interference(self, settings: BytesLike) -> None:
        """Sets the 2 interference setting bytes (ZRSetInterfere)."""
        self._ok("ZRSetInterfere", _fixed(settings, 2, "settings", "ZRSetInterfere"))

    def interference(self) -> bytes:
        """Reads the 2 interference setting bytes (ZRGetInterfere)."""
        return self._query("ZRGetInterfere", 2)

    def close_interference(self) -> None:
        """Ends the interference setting (ZRCloseInterfere)."""
        self._ok("ZRCloseInterfere")

    # ---- clock, identity, state ----------------------------------------------------------

    def epc_print_power(self, value: int) -> None:
        """Sends the EPC print power setting (ZREpcPrintPowerOs)."""
        self._ok("ZREpcPrintPowerOs", value)

    def reader_state(self, value: int = 0) -> bytes:
        """The reader's six state bytes (ZRGetReaderState)."""
        return self._query("ZRGetReaderState", 6, value)

    def set_time(self, time_bytes: BytesLike, value: int = 0) -> None:
        """Sets the reader's clock from six bytes in the reader's layout (ZRSetReaderTime)."""
        self._ok("ZRSetReaderTime", value, _fixed(time_bytes, 6, "time_bytes", "ZRSetReaderTime"))

    def set_fixed_number(self, number: int) -> None:
        """Sets the reader's one-byte fixed number (ZRSetReaderfixNO)."""
        self._ok("ZRSetReaderfixNO", number)

    def query_fixed_number(self) -> None:
        """Queries the fixed number; only the status is reported (ZRGetReaderfixNO)."""
        self._ok("ZRGetReaderfixNO", None)


def set_device_class(model: int) -> None:
    """Selects the device class (1, 2 or 3) for every session (ZRSetDeviceClass)."""
    r = _native.library().ZRSetDeviceClass(0, model)
    if r != 1:
        raise error_for(r, "ZRSetDeviceClass")


def library_version() -> Optional[str]:
    """The loaded library's version (ZRVersion), or None for a library without it."""
    lib = _native.library()
    if not hasattr(lib, "ZRVersion"):
        return None
    text: bytes = lib.ZRVersion()
    return text.decode("ascii", "replace")


def library_bits() -> int:
    """The loaded library's bitness: the process's own, as a library must match it."""
    return ctypes.sizeof(ctypes.c_void_p) * 8



_trace_callback: Any = None  # kept alive while the library may call it


def set_trace(sink: Optional[Callable[[str], None]]) -> None:
    """Hands every line of the library's wire trace to `sink` (None: no more), on the thread of
    the call that moved the frame (ZRSetTraceCallback). `sink` must not raise."""
    global _trace_callback
    lib = _native.library()
    if not hasattr(lib, "ZRSetTraceCallback"):
        raise Error(0, "ZRSetTraceCallback", "this library has no wire trace")
    callback = _native.TRACE_CALLBACK()  # a null function pointer: no callback
    if sink is not None:
        def deliver(_context: Any, line: bytes) -> None:
            sink(line.decode("ascii", "replace"))
        callback = _native.TRACE_CALLBACK(deliver)
    result = lib.ZRSetTraceCallback(callback, None)
    if result != 1:  # refused (from inside a sink): the old callback stays, and so must its thunk
        raise error_for(result, "ZRSetTraceCallback")
    _trace_callback = callback  # the old one is no longer called once the library returned
