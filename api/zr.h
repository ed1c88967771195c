/*
 * zr — host-side control library for UHF RFID readers.
 *
 * One flat C API. Open a session with ZROpen (settings come from an INI file), pass the
 * handle it stores to every command, end it with ZRClose. Each command is one exchange with
 * the reader: a request frame, usually a fixed wait, one reply, and an int result.
 *
 * Results common to every command:
 *   ZR_OK (1)                  success (the reader answered with status 0)
 *   ZR_ERR_NO_SESSION (-1)     the handle is -1 or names no open session; nothing is sent
 *   ZR_ERR_NO_REPLY (-4)       no valid reply: nothing came, wrong echo, or a length mismatch
 *   ZR_ERR_ARGUMENT (-14)      an argument the library cannot safely use: a NULL pointer, or
 *                              a size whose request would not fit the 256-byte request buffer;
 *                              checked before anything is flushed or sent
 *   ZR_ERR_INTERNAL (-16)      the library could not complete the call: out of memory, or
 *                              (ZRNetAddrSet) the configuration file could not be written,
 *                              or refused: made from inside a trace callback on the handle
 *                              whose call runs it (ZRTraceCallback); nothing is sent
 *   a reader status            a non-zero status byte, mapped by the device class:
 *                                status 01..09 -> 1001..1009, 11..16 -> 1010..1015,
 *                                20..26 -> 2001..2007 (every class);
 *                                class 3 (the default): 60..69 -> 3001..3010;
 *                                classes 1 and 2: 3A -> -7, 3F -> -5, 90..9C -> 4001..4013;
 *                                any other status -> -20.
 * Other codes belong to single functions and are listed with them.
 *
 * Byte parameters are ints of which only the low 8 bits are used. Identifiers (8 bytes) and
 * passwords (4 bytes) are sent in the caller's array order. Output buffers are written only
 * on success unless a function says otherwise.
 *
 * Ranges: a length, count, address or mode for which a function lists a range or a refusal
 * is judged on the whole int passed, negative values included, never on its low 8 bits. Out
 * of range it gives the code the function lists (-14 where it names none) and nothing is
 * flushed or sent. Checks come in this order: the handle (-1), the function's own range
 * codes, then the -14 refusals.
 *
 * Staying in step: a reply is taken only from frames that arrive after its request, and
 * never from a frame of another command's code; the frames a reader sends on its own
 * (inventory, TID, long, user and user-data reports, EAS alarms, listen frames: codes 49,
 * 4A, 71, 81, 82, 84, 8D, A1, D0) never pass for the reply to a command of another code.
 * Over TCP a frame is recognised by its length and CRC, so stray bytes or half a frame on the
 * line cost at most the command they arrive in. A reply that comes after its command gave
 * up, up to 2.5 s late, is never returned as another command's reply: the library counts,
 * per command code, the requests that got no frame of their code back, and a frame of a
 * counted code is taken as one of those late replies when another frame of its code follows
 * within 60 ms plus the slowest answer the reader gave lately in whole timing (at most 1 s
 * more); when none follows, it is the answer after all (the reader never sent the one
 * counted). So a late reply costs later commands at most a -4, never wrong data with
 * success, provided the reader answers requests in the order they came. In fixed timing,
 * the request after one that got no answer first waits up to 250 ms for it. A session
 * whose peer has gone (the connection closed or reset, the serial device removed) fails
 * every call from then on: status commands -4, start functions 0, until it is closed and
 * opened again.
 *
 * Time: each function says its waits; a session uses them in one of two reply timings
 * (ZRSetReplyTiming, the INI key ZR_REPLY_TIMING):
 *   fixed (the default): the library sleeps each wait, then reads. Over serial a receive
 *     reads what is on the line at once; over TCP a receive waits up to 60 ms for its frame.
 *     So a command with one receive after a 50 ms wait takes 50 ms over serial and up to
 *     110 ms over TCP (plus a further 50 ms where a function pauses after an error status),
 *     and one with n receives, each after a wait of w ms, at most n*w and n*(w + 60) ms.
 *     Requests go out over serial a byte at a time, each byte after a flush.
 *   whole: a command's waits add up to a deadline, n*w + 60 ms on both links; the reply is
 *     returned the moment it is whole and passes the command's checks, so a command costs
 *     the reader's own time. A reader that stays silent gives the same result as in fixed
 *     timing, no sooner than the wait and no later than n*w + 60 ms. There is no pause
 *     after an error status and no wait before a listen's answer: ZR_MIN_GAP_MS (default 0)
 *     is the least time from a reply to the next request, for readers that need to settle.
 *     Report functions wait up to 60 ms (plus their own polls) for a frame on both links and
 *     return the moment one is there; start functions only send. Every request goes out in
 *     one write (serial: the stuffed frame, then one drain). A call made of several
 *     exchanges has a deadline per exchange: each byte of ZRSysSet 10 x 10 + 60 ms, each of
 *     ZRCodeSending's three passes 110 ms; ZRPowerOff's ten polls are one deadline
 *     (2560 ms serial, 1960 ms TCP).
 * Choose whole timing for throughput (tag writes in milliseconds instead of 500 ms) with any
 * reader that answers within the documented waits; keep fixed timing where an application
 * relies on the documented pauses themselves (a reader that needs them to settle: or use
 * whole with ZR_MIN_GAP_MS). The exceptions are given with their functions. A call after one
 * whose reply never came may take longer (above: up to 250 ms before the request in fixed
 * timing, and the follow window after a reply of a code still owed), and ZROpen, ZRClose
 * and the writability checks have their own limits. Calls on one handle queue behind each
 * other.
 *
 * Threads: the library starts none; every function may be called from any thread at any time.
 * Calls on different handles run in parallel. Calls on one handle take turns: a second call
 * waits until the first has finished, its own waits and time limits start only then, and each
 * call gets its own reply. ZROpen and ZRClose may run at any time; ZRClose on a handle whose
 * call is running waits for that call to end, and a call still waiting on a handle that is
 * closed meanwhile gives -1. ZROpen and ZRClose write the caller's handle variable: other
 * threads must not read that variable meanwhile (give them the handle's value). Session-wide
 * state (the settings of the last ZROpen that succeeded, the device class set by
 * ZRSetDeviceClass) is shared by every handle; a call reads it once, as it starts, so an open
 * or ZRSetDeviceClass on another thread changes the calls that start after it, never one
 * halfway. Report frames of one handle go to whichever thread polls for them.
 */
#ifndef ZR_H
#define ZR_H

/* The version of this header. ZRVersion gives the version of the library actually loaded,
 * which may differ (an application built against 1.0 running with a later 1.x library).
 * The major version changes only with an incompatible change to this API. */
#define ZR_VERSION_MAJOR 1
#define ZR_VERSION_MINOR 0
#define ZR_VERSION_PATCH 0
#define ZR_VERSION_STRING "1.0.0"

#if defined(_WIN32) && !defined(_WIN64)
#define ZR_CALL __stdcall
#else
#define ZR_CALL
#endif

#if defined(_WIN32)
#if defined(ZR_BUILDING)
#define ZR_API
#else
#define ZR_API __declspec(dllimport)
#endif
#elif defined(ZR_BUILDING) && defined(__GNUC__)
#define ZR_API __attribute__((visibility("default")))
#else
#define ZR_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Result codes ---------------------------------------------------------------------- */
#define ZR_OK 1
#define ZR_ERR_NO_SESSION (-1)
#define ZR_ERR_RANGE (-2)             /* a range argument out of bounds (per function) */
#define ZR_ERR_ADDRESS (-3)           /* an address or length argument refused (per function) */
#define ZR_ERR_NO_REPLY (-4)
#define ZR_ERR_PARAMETER (-5)         /* an option out of range; also status 3F in classes 1, 2 */
#define ZR_ERR_SEND (-6)              /* the TCP frame send failed (queries) */
#define ZR_ERR_STATUS_3A (-7)         /* status 3A in classes 1, 2 */
#define ZR_ERR_REPORT_STATUS (-8)     /* a long or user report carried a non-zero status */
#define ZR_ERR_MODEL (-9)             /* an unknown reader model code */
#define ZR_ERR_ALREADY_OPEN (-10)     /* ZROpen: the handle variable was not -1 */
#define ZR_ERR_CONFIG (-11)           /* ZROpen: port type, port name or host name empty */
#define ZR_ERR_CONNECT (-12)          /* ZROpen: the TCP connection did not come up */
#define ZR_ERR_OPEN_PORT (-13)        /* ZROpen: the port or socket could not be opened */
#define ZR_ERR_ARGUMENT (-14)
#define ZR_ERR_TOO_LONG (-15)         /* more than 52 bytes for the system parameter area */
#define ZR_ERR_INTERNAL (-16)
#define ZR_ERR_UNKNOWN_STATUS (-20)   /* a reader status the device class does not list */
#define ZR_CLOSE_FAILED 242           /* ZRClose: the port could not be closed */

/* Reader model codes for ZRSetDeviceClass. */
#define ZR_MODEL_CLASS1 1
#define ZR_MODEL_CLASS2 2
#define ZR_MODEL_CLASS3 3

/* ---- Sessions -------------------------------------------------------------------------- */

/* Opens a session to one reader.
 * handle:  address of the caller's int, which must hold -1; receives the reader handle
 *          (never -1 or 0).
 * path:    the INI file. section: the section with the connection keys:
 *            ZR_PORT_TYPE      "COM" (serial, 19200 8N1) or "TCP" (port 7086)
 *            ZR_COM_NUMBER     serial port name (COM3, /dev/ttyUSB0, a pseudo-terminal path)
 *            ZR_HOST_NAME      the reader's dotted IPv4 address
 *            ZR_TCP_PORT       optional: the reader's TCP port, 1 to 65535 in decimal
 *                              (absent or empty: 7086)
 *          and the tuning keys ZR_SCAN_TRIES, ZR_RETRIES, ZR_READ_TRIES (0 and 1 become 2),
 *          ZR_WRITE_TRIES (0 and 1 become 2), ZR_ANTENNAS (0 becomes 1), ZR_ANTENNA_CONCTL,
 *          ZR_SAVE_LOG_FILE, ZR_LOG_FILE_NAME, ZR_REPEAT_DATAS, ZR_READ_TIMEOUT, and
 *          ZR_REPLY_TIMING (fixed | whole) and ZR_MIN_GAP_MS (see ZRSetReplyTiming); section
 *          "ESPECIAL FLAG" holds ZR_ADDERIESS, ZR_LENGTH and ZR_MATCH_DATA (the first
 *          min(ZR_LENGTH, 8) characters become the special match bytes, the rest are 0).
 *          Values: text up to a ';', blanks and tabs removed; numbers keep their low 8 bits;
 *          a missing key reads as "0".
 * Results: 1 open; 0 port type neither "COM" nor "TCP"; -10 *handle was not -1 (nothing
 *          read); -11 port type, port name or host name empty, or ZR_REPLY_TIMING neither
 *          fixed nor whole, or ZR_TCP_PORT not a port number; -12 TCP connection refused or
 *          not up within 10 s (*handle = -1); -13 port cannot be opened (also: in use by
 *          another session, or not a terminal device: a regular file, a directory,
 *          /dev/null), or host name not a dotted IPv4 address, or 0.0.0.0 or
 *          255.255.255.255 (*handle = -1); -14 a NULL argument (nothing touched).
 * A trace file that cannot be opened (ZR_TRACE, ZR_TRACE_FILE: see "Wire trace") does not
 * stop the open: it gives 1, and ZRLastCause names the file and why it could not be opened
 * (a successful open otherwise leaves ZRLastCause as it was).
 * Each session keeps its own transport and the file it was opened from; a later ZROpen of
 * another type does not change them, and an open that fails changes no setting at all. */
ZR_API int ZR_CALL ZROpen(int* handle, const char* path, const char* section);

/* Closes a session.
 * Results: 1 closed (*handle = -1); -1 *handle is -1 or names no open session; 242 the port
 *          could not be closed: over TCP, a socket not writable within 500 ms leaves the
 *          session open (call again); a failed socket close still releases it (*handle = -1);
 *          over serial the port stays open and *handle unchanged; -14 handle is NULL; -16
 *          refused inside a trace callback of a call on this handle (nothing closed,
 *          *handle unchanged). */
ZR_API int ZR_CALL ZRClose(int* handle);

/* Opens a session's link again: closes it (released, whatever the close gives), then opens it
 * as ZROpen did, with the settings read then (the INI file is not read again, and the
 * session-wide settings do not change). For a link that was lost (the reader restarted, the
 * cable came back): the handle stays valid and calls on it work again once this succeeds.
 * Waits for a call running on the handle, as every call does, and like ZROpen up to 10 s
 * for a TCP connection.
 * Results: 1 open again; -1 no session; -12 the TCP connection was refused or did not come up
 *          within 10 s; -13 the port or socket could not be opened (a serial port in use
 *          elsewhere, removed). After a failure the session stays open with its link lost:
 *          calls fail as on a lost link (status commands -4, start functions 0), ZRLinkState
 *          gives 0, and ZRReconnect may be called again (ZRClose ends the session). */
ZR_API int ZR_CALL ZRReconnect(int handle);

/* Whether a session's link is known lost (the peer closed or reset the connection, the serial
 * device was removed): the library finds out when a send or receive fails, so a link may be
 * lost before any call has noticed. Sends and reads nothing; waits for a call running on the
 * handle.
 * Results: 1 no loss known; 0 lost (ZRReconnect opens it again); -1 no session. A 0 is an
 *          answer, not a failure: it leaves ZRLastCause as it was. */
ZR_API int ZR_CALL ZRLinkState(int handle);

/* Reply timing of a session: how a command waits for its reply (see "Time" above).
 *   ZR_REPLY_TIMING_FIXED (0)  every wait exactly as each function documents it: the library
 *                              sleeps the wait, then reads the reply. The default.
 *   ZR_REPLY_TIMING_WHOLE (1)  each wait is a deadline: the reply is returned the moment it is
 *                              whole and passes the command's checks; a silent reader costs
 *                              the wait plus 60 ms per receive, on both links.
 * The INI key ZR_REPLY_TIMING in the session's section sets it at open ("fixed" or "whole",
 * any letter case; absent: fixed; any other value: ZROpen gives -11 and ZRLastCause names
 * the key and the value). ZR_MIN_GAP_MS (default 0) is the least time, in whole timing,
 * between a reply and the next request on the handle, for readers that need to settle.
 * The timing belongs to the session and survives ZRReconnect. */
#define ZR_REPLY_TIMING_FIXED 0
#define ZR_REPLY_TIMING_WHOLE 1

/* Sets the session's reply timing. Sends nothing; waits for a call running on the handle.
 * Results: 1; -1 no session; -14 a mode other than 0 and 1 (nothing changed). */
ZR_API int ZR_CALL ZRSetReplyTiming(int handle, int mode);

/* The session's reply timing. Results: 0 fixed, 1 whole; -1 no session. */
ZR_API int ZR_CALL ZRGetReplyTiming(int handle);

/* Resets the reader: request 00 01 67, 50 ms wait, status reply (over TCP at least 8 bytes).
 * Results: 1, -1, -4, or a mapped reader status. */
ZR_API int ZR_CALL ZRReset(int handle);

/* ---- Inventory and reports ------------------------------------------------------------- */

/* An inventory is two calls: a start function sends the request and returns at once (it
 * neither waits nor reads); the reader then sends one or more report frames under the same
 * command code, collected one per call by the matching report function. Nothing is kept
 * between the calls. Reports not collected before the next command are lost: the next send
 * discards what has arrived, and a report that comes later is never taken for a reply.
 *
 * Start functions return: -1 no session (nothing sent); otherwise the transport's send
 * result: over serial the payload bytes written (LEN + 2), over TCP the frame length with
 * CRC (LEN + 4); 0 when the frame did not go out whole or the session's link is lost.
 *
 * Report functions read one frame without sending and without waiting beyond the transport's
 * own limits (in fixed timing at once over serial, about 60 ms over TCP when nothing is
 * there; in whole timing up to 60 ms on both links, returning as soon as a frame is there). On success
 * `buffer` receives the status byte (0) followed by the report data: LEN - 1 bytes. `buffer`
 * must hold 251 bytes (serial) or 95 bytes (TCP). It is written only on success. NULL
 * `buffer`: -14, nothing read.
 *
 * An empty field and a silent reader look different. A reader with no tag to report answers
 * the start with one frame carrying its "no tag" status: 0x61 in class 3, which a report
 * function gives as 3002, and 0x91 in classes 1 and 2, given as 4002 (ZRLongReport and
 * ZRUserReport give -8 for it). For an inventory that is an answer, "0 tags", not a failure;
 * the report functions still return the mapped status, as for any other. A reader that does
 * not answer at all leaves every report call at 0: no frame whatsoever after the start, within
 * the time the reader takes for an inventory, means it did not answer (the link may be lost:
 * ZRLinkState). The tools and bindings built on the library (zrtool inventory, zrgate,
 * Reader.inventory in Python, Reader.Inventory in .NET, examples/inventory.c) read the
 * results so: the "no tag" status is success with no tags, no frame at all is a failure. */

/* Starts an inventory: request 00 03 71 antenna option (serial 5, TCP 7 on success). */
ZR_API int ZR_CALL ZRIdentify(int handle, int antenna, int option);

/* Collects one 0x71 report.
 * Results: 1 copied; 0 no frame, a frame of another command, or fewer than 6 bytes; -4 a
 *          frame whose count is not LEN + 4; a mapped reader status (buffer
 *          untouched); -1; -14. */
ZR_API int ZR_CALL ZRReport(int handle, unsigned char* buffer);

/* Starts a direct read: request 00 03 D0 antenna option (serial 5, TCP 7 on success). */
ZR_API int ZR_CALL ZRDirectRead(int handle, int antenna, int option);

/* Collects one 0xD0 report. Results as ZRReport. */
ZR_API int ZR_CALL ZRDirectReport(int handle, unsigned char* buffer);

/* Starts a long inventory: request 00 04 49 antenna option1 option2. Note the order: the
 * antenna, passed third, is sent first (serial 6, TCP 8 on success). */
ZR_API int ZR_CALL ZRLongIdentify(int handle, int option1, int antenna, int option2);

/* Collects one long report. Over TCP only frames of at least 8 bytes are read, and the
 * command code is not examined (a frame of any command is taken); over serial only 0x49
 * frames are read.
 * Results: 1 copied; 0 no frame, fewer than 6 bytes, or a count not equal to LEN + 4;
 *          -8 the reader reported a non-zero status (buffer untouched); -1; -14. */
ZR_API int ZR_CALL ZRLongReport(int handle, unsigned char* buffer);

/* Starts a user-defined inventory: request 00 14 4A antenna option1, then the session's
 * ZR_SCAN_TRIES, ZR_REPEAT_DATAS, ZR_READ_TIMEOUT, ZR_ADDERIESS and ZR_LENGTH values, the 8
 * special match bytes, option2 .. option5 (serial 22, TCP 24 on success). */
ZR_API int ZR_CALL ZRUserIdentify(int handle, int option1, int antenna, int option2, int option3, int option4,
                                  int option5);

/* Collects one user-defined inventory report (0x4A). Results and rules as ZRLongReport. */
ZR_API int ZR_CALL ZRUserReport(int handle, unsigned char* buffer);

/* ---- EPC, TID and user-data inventory -------------------------------------------------- */

/* Split-phase like the inventories above. The EPC and TID reports copy the frame from its
 * first byte up to its last data byte: buffer[0..1] = LEN, buffer[2] = code, buffer[3] =
 * status 0, the report data at buffer[4 .. LEN + 1]; `buffer` must hold 254 bytes (serial)
 * or 98 (TCP). */

/* Starts an EPC inventory: request 00 04 81 antenna option1 option2 (serial 6, TCP 8). */
ZR_API int ZR_CALL ZRIdentifyEpcCode(int handle, int antenna, int option1, int option2);

/* Collects one EPC report (0x81): LEN + 2 bytes of the frame into `buffer`.
 * Results: 1 copied; 0 no frame, a frame of another command or fewer than 6 bytes; -4 a
 *          count not equal to LEN + 4; a mapped reader status (buffer untouched); -1; -14. */
ZR_API int ZR_CALL ZREpcCodeReport(int handle, unsigned char* buffer);

/* Starts a TID inventory under a 4-byte password (sent in array order): request 00 08 82
 * antenna option1 option2 password[0..3] (serial 10, TCP 12). NULL password: -14, nothing sent. */
ZR_API int ZR_CALL ZRIdentifyTIDCode(int handle, int antenna, int option1, int option2,
                                     const unsigned char* password);

/* Collects one TID report (0x82). Results as ZREpcCodeReport. */
ZR_API int ZR_CALL ZRTIDCodeReport(int handle, unsigned char* buffer);

/* Starts a password-authorised read of user-memory words: request 00 08 84, the session's
 * ZR_ANTENNA_CONCTL byte, password[0..3], address, wordCount (serial 10, TCP 12).
 * `reserved` is not used.
 * Results: -3 address below 0 or above 14; -2 wordCount below 0 or address + 2 * wordCount
 *          above 28; -14 NULL password (these checked in that order before anything is sent);
 *          -1; else the send result. */
ZR_API int ZR_CALL ZRGetUseData(int handle, const unsigned char* password, int address, int wordCount,
                                int reserved);

/* Collects the 0x84 reply: status 0, the number of words read, then the words (LEN - 1
 * bytes; the words start at buffer[2]). `buffer` must hold 251 bytes (serial) or 95 (TCP).
 * Results: 1 copied; 0 no frame, fewer than 6 bytes, another command, or a count not equal
 *          to LEN + 4; a mapped reader status (buffer untouched); -1; -14. */
ZR_API int ZR_CALL ZRGetUseDataReport(int handle, unsigned char* buffer);

/* ---- Listening, data return and code sending ------------------------------------------- */

/* Waits 50 ms for a 0xA1 frame the reader sends on its own (over TCP at least 28 bytes; a
 * frame of another command, or shorter than 21 bytes, is not taken), copies its data and
 * answers the reader 50 ms later with 00 0B A1 status firstBlock[0..7] echo: status 00 and
 * the frame's byte 12 when a frame was taken, 3F and 0 otherwise.
 * firstBlock (8 bytes) = frame bytes 3..10, secondBlock (8 bytes) = 11..18, lastSix (6 bytes)
 * = 13..18. All three are zeroed first, so they are zero unless a frame was taken.
 * `reserved` is not used.
 * Results: 1 a frame was taken and acknowledged; 0 none was (refusal sent); -4 a frame whose
 *          LEN is not below its byte count (nothing sent); -1; -14 a NULL output (nothing
 *          touched). */
ZR_API int ZR_CALL ZRListenReader(int handle, int reserved, unsigned char* lastSix, unsigned char* firstBlock,
                                  unsigned char* secondBlock);

/* Asks the reader to return data: request 00 03 68 antenna option, 50 ms wait, a reply of
 * at least 8 bytes over TCP (its command code is not examined).
 * Results: -5 option below 0 or above 4 (nothing sent); 1; a mapped status; -4; -1. */
ZR_API int ZR_CALL ZRDataReturn(int handle, int antenna, int option);

/* Sends `length` caller bytes as they are under command 0x5F, three times: each pass sends,
 * waits 50 ms and reads one reply (over TCP at least 8 bytes); a non-zero status adds a
 * further 50 ms. No output flush. `reserved` is not used.
 * Results: the last pass's: 1 status 0, a mapped status, or 0 (no 0x5F reply); 0 also for a
 *          failed TCP send (the call ends there), for a handle of no session and for length
 *          below 1; -14 length above 253 (the request would not fit 256 bytes) or NULL data
 *          (nothing sent). */
ZR_API int ZR_CALL ZRCodeSending(int handle, int length, int reserved, const unsigned char* data);

/* ---- EAS alarm ------------------------------------------------------------------------- */

/* Sets a tag's EAS flag under a 4-byte password (array order): request 00 07 8C antenna
 * password[0..3] flag, 50 ms wait, status reply.
 * Results: 1; a mapped status; -4; -1; -14 NULL password (nothing sent). */
ZR_API int ZR_CALL ZRConfigEASflag(int handle, int antenna, const unsigned char* password, int flag);

/* Switches the reader's alarm mode on: request 00 04 8D antenna 01 00, nothing read.
 * Results: -1; the send result (serial 6, TCP 8 on success; fewer or 0 on failure). */
ZR_API int ZR_CALL ZRStartEASAlarm(int handle, int antenna);

/* Collects one alarm frame (0x8D): up to six receives, each after a 10 ms wait, for at most
 * 60 ms over serial; over TCP one receive after 10 ms (it already listens 60 ms), 70 ms in
 * all. On success
 * `buffer` receives status 0 and the alarm data (LEN - 1 bytes); it must hold 251 bytes
 * (serial) or 95 (TCP).
 * Results: 1 copied; 0 no alarm frame; -4 a count not equal to LEN + 4; a mapped status
 *          (buffer untouched); -1; -14 NULL buffer. */
ZR_API int ZR_CALL ZREASAlarmReport(int handle, unsigned char* buffer);

/* Switches the alarm mode off: request 00 04 8D antenna 00 00, then up to six receives each
 * after 50 ms until a 0x8D frame comes (an alarm frame still on its way counts).
 * Results: the mapped status of that frame (1 for 0); -4 none came or its length is wrong; -1. */
ZR_API int ZR_CALL ZREndEASAlarm(int handle, int antenna);

/* ---- Tag memory ------------------------------------------------------------------------ */

/* Tag memory is reached in two ways. ZRReadUserData and ZRWriteUserData name the tag by its
 * 8-byte identifier and count in bytes; ZRReadUserDataEPC, ZRSetUseData and ZRSetEpcCode are
 * authorised by a 4-byte password and count in 16-bit words (a word count w stands for 2w
 * data bytes). `antenna` is passed to the reader as it is (request byte 3). The library does
 * not interpret addresses or data. */

/* Reads `byteCount` bytes from `address` of the tag whose identifier is `tagId`.
 * Request 00 0C 72, antenna, tagId[0..7], address, byteCount; then up to 6 receives, each
 * after 50 ms, until a reply to 0x72 comes.
 * tagId:  8 bytes. buffer: at least byteCount bytes; written only on success.
 * Over TCP a reply holds at most 93 data bytes, so larger reads cannot succeed there.
 * Results: 1 the bytes are in buffer; -1; -4 no reply, a malformed reply, or data of another
 *          length than byteCount; -14 tagId or buffer NULL, or byteCount below 0 or above 255
 *          (it is sent as one byte; nothing sent); a mapped reader status. */
ZR_API int ZR_CALL ZRReadUserData(int handle, int antenna, int address, int byteCount,
                                  const unsigned char* tagId, unsigned char* buffer);

/* Writes `length` bytes of `data` at `address` of the tag whose identifier is `tagId`.
 * Request 00, length + 12, 73, antenna, tagId[0..7], address, length, data; 500 ms wait,
 * one receive.
 * Results: 1; -1; -4 no valid reply; -14 tagId or data NULL, or length below 0 or above 242
 *          (the request would not fit); a mapped reader status. */
ZR_API int ZR_CALL ZRWriteUserData(int handle, int antenna, int address, const unsigned char* tagId,
                                   const unsigned char* data, int length);

/* Writes a new EPC code of `wordCount` words to the tag, authorised by `password`.
 * epcLength: the EPC length in bytes; checked (at most 12 and even), never sent.
 * Request 00, 2w + 7, 83, antenna, password[0..3], w, data[0..2w-1]; 500 ms wait, one
 * receive. data: 2 * wordCount bytes.
 * Results: 1; -1; -3 epcLength below 0, above 12 or odd (nothing sent); -4 a reply to 0x83
 *          that is too short or whose length disagrees; -14 password or data NULL, or wordCount
 *          below 0 or above 123; a mapped reader status.
 *          When no reply to 0x83 comes, the result is what the send gave, meaning "sent,
 *          not confirmed": over serial the payload bytes written (2w + 9 when all went out),
 *          over TCP the frame length (2w + 11); 0 when nothing could be sent. */
ZR_API int ZR_CALL ZRSetEpcCode(int handle, int antenna, const unsigned char* password, int epcLength,
                                int wordCount, const unsigned char* data);

/* Reads `wordCount` words from word `address` of the tag, authorised by `password`.
 * Note the parameter order: antenna comes fifth.
 * Request 00 08 84, antenna, password[0..3], address, w; up to 6 receives, each after 50 ms.
 * buffer: at least 2w + 5 bytes. On success it receives the reply frame without its CRC:
 *         LEN high, LEN low, 0x84, status 0, one reader byte, then the 2w data bytes (the
 *         data starts at buffer[5]). Written only on success.
 * Over TCP a reply holds at most 46 words.
 * Results: 1; -1; 0 (not -4) no reply to 0x84 came; -4 a malformed reply or data of another
 *          length than 2w; -14 password or buffer NULL, or wordCount below 0 or above 255 (it
 *          is sent as one byte; nothing sent); a mapped reader status. */
ZR_API int ZR_CALL ZRReadUserDataEPC(int handle, const unsigned char* password, int address, int wordCount,
                                     int antenna, unsigned char* buffer);

/* Writes `wordCount` words of `data` (2w bytes) at word `address` of the tag, authorised by
 * `password`. Request 00, 2w + 8, 85, antenna, password[0..3], address, w, data; 500 ms
 * wait, one receive.
 * Results: 1; -1; -4 no valid reply; -14 password or data NULL, or wordCount below 0 or
 *          above 123; a mapped reader status. */
ZR_API int ZR_CALL ZRSetUseData(int handle, int antenna, const unsigned char* password, int address,
                                int wordCount, const unsigned char* data);

/* ---- Tag selection --------------------------------------------------------------------- */

/* Selects tags by match data; the reader decides which later commands the selection limits
 * and what option1 and option2 mean (both are sent as they are). The library keeps nothing.
 * 50 ms wait, one receive. */

/* Selection with 8 bytes of match data (all 8 are always sent).
 * Request 00 0C 70, antenna, option1, option2, matchData[0..7].
 * Results: 1; -1; -4 no valid reply; -14 matchData NULL; a mapped reader status. */
ZR_API int ZR_CALL ZRSelectTag(int handle, int antenna, int option1, int option2,
                               const unsigned char* matchData);

/* Selection with `length` bytes of match data (0 sends none).
 * Request 00, length + 4, 80, antenna, option1, option2, matchData[0..length-1].
 * Results: 1; -1; -4 no valid reply; -14 matchData NULL, or length below 0 or above 250;
 *          a mapped reader status. */
ZR_API int ZR_CALL ZRSelectTagEPC(int handle, int antenna, int option1, int option2,
                                  const unsigned char* matchData, int length);

/* ---- Passwords, locks and kill --------------------------------------------------------- */

/* Passwords are 4 bytes sent in array order; the library neither keeps nor checks them. */

/* Locks `length` bytes from `address` of the tag whose identifier is `tagId`.
 * Note the parameter order: address comes before antenna.
 * Request 00 0C 74, antenna, tagId[0..7], address, length. The port is not flushed first.
 * Up to ZR_READ_TRIES receives (at least 2), each after 50 ms, until a reply to 0x74 comes.
 * Results: 1; -1; -2 address or length below 0, or address + length above 224 (nothing
 *          sent), or no valid reply; 0 the request could not be sent; -14 tagId NULL;
 *          a mapped reader status. */
ZR_API int ZR_CALL ZRLockUserData(int handle, int address, int antenna, const unsigned char* tagId, int length);

/* Sets the tag's visit password to `newPassword`, authorised by `password`.
 * Request 00 0A 88, antenna, password[0..3], newPassword[0..3]; 50 ms wait, one receive.
 * Results: 1; -1; -4 no valid reply; -14 password or newPassword NULL; a mapped status. */
ZR_API int ZR_CALL ZRSetVisitPWD(int handle, int antenna, const unsigned char* password,
                                 const unsigned char* newPassword);

/* Sets the tag's destroy password to `newPassword`, authorised by `password`.
 * Request 00 0A 89, antenna, password[0..3], newPassword[0..3]; 50 ms wait, one receive.
 * Results: as ZRSetVisitPWD. */
ZR_API int ZR_CALL ZRSetDestroyPWD(int handle, int antenna, const unsigned char* password,
                                   const unsigned char* newPassword);

/* Sets a lock on the tag, authorised by `password`. mode: 0 or 1; region: 0 to 5 (their
 * meaning is the reader's). Request 00 08 8A, antenna, password[0..3], mode, region; 200 ms
 * wait, one receive.
 * Results: 1; -1; -4 no valid reply; -5 mode or region out of range (nothing sent; the
 *          reader's status 3F also gives -5 in classes 1 and 2); -14 password NULL;
 *          a mapped reader status. */
ZR_API int ZR_CALL ZRSetDataLocked(int handle, int antenna, const unsigned char* password, int mode, int region);

/* Destroys the tag, authorised by its destroy password. data: 2 * wordCount bytes; the
 * word count itself is not sent. Request 00, 2w + 6, 8B, antenna, password[0..3], data;
 * 50 ms wait, one receive; only a 6-byte status reply is taken.
 * Results: 1; -1; -4 no valid reply (also a reply longer than 6 bytes); -14 password or data
 *          NULL, or wordCount below 0 or above 124; a mapped reader status. */
ZR_API int ZR_CALL ZRSetDestroyTag(int handle, int antenna, const unsigned char* password, int wordCount,
                                   const unsigned char* data);

/* ---- System and tag parameter areas ---------------------------------------------------- */

/* The reader keeps its settings in two byte-addressed stores: the system parameter area
 * (read 0x62, written 0x63) and the tag parameter area (read 0x64, written 0x65). What the
 * addresses hold is the reader's; known system addresses: 3-4 power bytes, 5 MAC, 6-17 IPv4
 * address, mask and gateway, 0x21 device information (4 bytes).
 * Over TCP a reply frame longer than 100 bytes is not taken (-4), so over TCP a query can
 * bring at most 94 data bytes. */

/* Reads `length` bytes (0-52) of the system area from `address` (0-255) into `buffer`,
 * which must hold `length` bytes. Request 00 03 62 address length; no flush;
 * 500 ms wait. Over TCP the reply must carry all `length` data bytes (an error reply too),
 * else -4. Bytes the reply does not carry are stored as 0.
 * Results: 1 (buffer written); -1; -4; -6 the TCP send failed; -14 buffer NULL, length
 *          below 0, or address outside 0-255; -15 length above 52; a mapped reader status
 *          (buffer untouched).
 *          -15 and -14 are checked before anything is sent. */
ZR_API int ZR_CALL ZRSysQuery(int handle, int address, int length, unsigned char* buffer);

/* Writes `count` bytes one frame per byte from the 16-bit `address` on (address + i, high
 * byte first: 0x00FF, 0x0100, ...; the last byte at 0xFFFF at most). Serial sessions only.
 * Request per byte 00 04 63 H L V; its reply is polled for every 10 ms, up to 100 ms; a
 * failed byte does not stop the others.
 * Results: the last byte's: 1, -4 (no reply of 6 bytes or more), or a mapped status (after
 *          a further 50 ms); -1; -15 count above 52; 0 count 0 or less, or a TCP session
 *          (nothing sent); -14 data NULL, address below 0, or address + count above
 *          0x10000 (nothing sent). */
ZR_API int ZR_CALL ZRSysSet(int handle, int address, int count, const unsigned char* data);

/* Writes `count` (0-52) bytes from `data` into the system area from `address`, in one
 * frame: LEN-high LEN-low 63 address count data... (LEN = count + 3). No flush; 100 ms
 * (serial) / 50 ms (TCP) wait.
 * Results: 1; -1; -4; 0 the TCP send failed; -14 data NULL or count below 0; -15 count
 *          above 52; a mapped reader status (returned after a further 50 ms). */
ZR_API int ZR_CALL ZRSysFastSet(int handle, int address, int count, const unsigned char* data);

/* Reads `length` bytes (0-252) of the tag area from `address` (0-255) into `buffer`
 * (`length` bytes). As ZRSysQuery with code 0x64.
 * Results: 1; -1; -4; -6 the TCP send failed; -14 buffer NULL, length below 0 or above 252,
 *          or address outside 0-255; a mapped reader status. */
ZR_API int ZR_CALL ZRTagQuery(int handle, int address, int length, unsigned char* buffer);

/* Writes `count` (0-251) bytes into the tag area from `address`, in one frame (code 0x65),
 * as ZRSysFastSet.
 * Results: 1; -1; -4; 0 the TCP send failed; -14 data NULL, count below 0 or above 251;
 *          a mapped reader status (after a further 50 ms). */
ZR_API int ZR_CALL ZRTagFastSet(int handle, int address, int count, const unsigned char* data);

/* Queries the system area at `address` with a length byte of 0 (request 00 03 62 address
 * 00) and hands back the raw reply frame: `buffer` (54 bytes) receives reply bytes 0-53:
 * LEN at 0-1, 0x62 at 2, the status at 3, the reader's data from 4 (the reader's frequency
 * table, when `address` names it). Bytes past the frame are 0. `length` (0-52) has no
 * other effect. No flush; 200 ms (serial) / 100 ms (TCP) wait.
 * Results: 1; -1; -4; -6 the TCP send failed; -14 buffer NULL or length below 0; -15 length
 *          above 52; a mapped reader status. */
ZR_API int ZR_CALL ZRFreqQuery(int handle, int address, int length, unsigned char* buffer);

/* Sets the read configuration: request 00 04 64 A readMode readOption, A the session's
 * ZR_ANTENNA_CONCTL byte. readMode 1-4, readOption 1-2. Over TCP the reply must be at least
 * 9 bytes long; its command code is not compared.
 * Results: 1; -1; -4; -5 readMode or readOption out of range (nothing sent);
 *          a mapped reader status. */
ZR_API int ZR_CALL ZRSetReadCfg(int handle, int readMode, int readOption);

/* ---- Power and I/O --------------------------------------------------------------------- */

/* Switches the reader's RF power on: request 00 02 60 value; 50 ms wait.
 * Results: 1; -1; -4; a mapped reader status. */
ZR_API int ZR_CALL ZRPowerOn(int handle, int value);

/* Switches the RF power off: request 00 01 61, then up to ten polls for the reply, 250 ms
 * apart (up to 2.5 s without an answer; over TCP each poll waits 190 ms and then listens
 * 60 ms). Flushes before and after.
 * Results: 1; -1; -4; a mapped reader status. */
ZR_API int ZR_CALL ZRPowerOff(int handle);

/* Sets the two power bytes (system area 3 and 4): request 00 05 63 03 02 power0 power1.
 * `reserved` is never read; `count` is only checked (at most 52). As ZRSysFastSet.
 * Results: 1; -1; -4; 0 the TCP send failed; -15 count above 52;
 *          a mapped reader status (after a further 50 ms). */
ZR_API int ZR_CALL ZRPowerSet(int handle, int reserved, int count, int power0, int power1);

/* Reads the power bytes: request 00 03 62 03 00; `length` bytes of the reply's data go to
 * `buffer` (nothing when `length` is 0 or less; bytes the reply does not carry are 0).
 * `reserved` is never read. No flush; 500 ms wait.
 * Results: 1; -1; -4; -6 the TCP send failed; -14 buffer NULL; -15 length above 52;
 *          a mapped reader status. */
ZR_API int ZR_CALL ZRPowerQuery(int handle, int reserved, int length, unsigned char* buffer);

/* Sets an I/O line: request 00 03 D1 ioSelector ioValue. No flush; 100 ms (serial) / 50 ms
 * (TCP) wait.
 * Results: 1; -1; -4; -6 the TCP send failed; a mapped reader status (after a further
 *          50 ms). */
ZR_API int ZR_CALL ZRIOControlSet(int handle, int ioSelector, int ioValue);

/* Polls an I/O line: request 00 02 D2 ioSelector. No flush; 500 ms wait. Only the status is
 * reported: the reply's data is not delivered, and `reserved` is neither read nor written.
 * Results: 1; -1; -4; -6 the TCP send failed; a mapped reader status. */
ZR_API int ZR_CALL ZRIOControlQuery(int handle, int ioSelector, int reserved);

/* ---- Network identity ------------------------------------------------------------------ */

/* Writes the reader's MAC address: `count` (0-52) bytes at system area 5, exactly as
 * ZRSysFastSet (for six bytes: 00 09 63 05 06 and the bytes). `reserved` is never read.
 * Results: 1; -1; -4; 0 the TCP send failed; -14 data NULL or count below 0; -15 count
 *          above 52; a mapped reader status (after a further 50 ms). */
ZR_API int ZR_CALL ZRMACSet(int handle, int reserved, int count, const unsigned char* data);

/* Sets the reader's IPv4 address, subnet mask and gateway and records them in the
 * configuration file this session was opened from. Each text must be four decimal numbers 0-255
 * separated by dots (blanks around it allowed); they are written as twelve bytes at system
 * area 6 (request 00 0F 63 06 0C and the bytes, as ZRSysFastSet). Once the reader accepted
 * them, ZR_HOST_NAME, ZR_SUBNET and ZR_GATE are written, as passed, into `section` of that
 * file, so that the next ZROpen of that section connects to the new address. The three keys
 * are written in one replacement of the whole file: all three or none, never half a file; a
 * symbolic link is written through, a UTF-8 byte-order mark, the owner and the mode are kept.
 * `reserved` is never read.
 * Results: 1 the reader took the address and the file was written;
 *          0 handle -1, a NULL or malformed text, a section name that is empty or holds a
 *            control character or ']' (nothing sent, the file untouched), or the reader did
 *            not accept the block (no reply, a failed send or any status; file untouched);
 *          -16 the reader took the new address but the file could not be written. */
ZR_API int ZR_CALL ZRNetAddrSet(int handle, int reserved, const char* section, const char* ipAddress,
                                const char* subnetMask, const char* gateway);

/* ---- Device class, test mode and interference ------------------------------------------ */

/* Selects the device class, which picks the status table and the interference command
 * codes for every session, from the next call on. It talks to no reader and may be called
 * before ZROpen. Model codes: ZR_MODEL_CLASS1 (1) class 1, ZR_MODEL_CLASS2 (2) class 2,
 * ZR_MODEL_CLASS3 (3) class 3 (the class at load). `reserved` is never read.
 * Results: 1; -9 any other model code (the class is unchanged). */
ZR_API int ZR_CALL ZRSetDeviceClass(int reserved, int modelCode);

/* Reads the reader's device information (system area 0x21, request 00 03 62 21 00): its
 * four data bytes, the first the least significant, go to *classValue (missing bytes are
 * 0). The library's own device class is not changed. 200 ms (serial) / 100 ms (TCP) wait.
 * Results: 1; -1; -4; -6 the TCP send failed; -14 classValue NULL; a mapped reader status. */
ZR_API int ZR_CALL ZRGetDeviceClass(int handle, int* classValue);

/* Puts the reader into test mode `mode` (0-4): request 00 02 67 mode.
 * Exported from the 32-bit Windows DLL as _ZRTestModeSet@8 only.
 * Results: 1; -1; -4; -5 mode below 0 or above 4 (nothing sent); a mapped reader status. */
ZR_API int ZR_CALL ZRTestModeSet(int handle, int mode);

/* Sets the interference settings: request 00 04 K settings[0] settings[1] A, K 0x6A in
 * class 3 and 0x4B in classes 1 and 2, A the session's ZR_ANTENNA_CONCTL byte. `settings`
 * holds 2 bytes. Over TCP the reply must be at least 8 bytes; its code is not compared.
 * Results: 1; -1; -4; -14 settings NULL; a mapped reader status. */
ZR_API int ZR_CALL ZRSetInterfere(int handle, const unsigned char* settings);

/* Reads the interference settings: request 00 02 K A (K 0x6B in class 3, 0x4C in classes
 * 1 and 2) into `settings` (2 bytes): reply bytes 5 and 6 (0 where the reply does not carry
 * them). Over TCP the reply must be at least 11 bytes; its code is not compared.
 * Results: 1; -1; -4; -14 settings NULL; a mapped reader status (settings untouched). */
ZR_API int ZR_CALL ZRGetInterfere(int handle, unsigned char* settings);

/* Ends the interference setting: request 00 01 K (0x6C in class 3, 0x4D in classes 1, 2).
 * Over TCP the reply must be at least 8 bytes; its code is not compared.
 * Results: 1; -1; -4; a mapped reader status. */
ZR_API int ZR_CALL ZRCloseInterfere(int handle);

/* ---- Reader clock, identity and state -------------------------------------------------- */

/* These five commands wait 50 ms and take a reply whose count agrees with its LEN (the
 * command code is not compared); over TCP the reply must be at least 11 bytes long. */

/* Sends the EPC print power setting: request 00 02 6D value.
 * Results: 1; -1; -4; a mapped reader status. */
ZR_API int ZR_CALL ZREpcPrintPowerOs(int handle, int value);

/* Fetches six state bytes: request 00 02 A0 value; reply bytes 5-10 go to `stateBuffer`
 * (6 bytes).
 * Results: 1; -1; -4 also for a status-0 reply without all six state bytes (stateBuffer
 *          untouched); -14 stateBuffer NULL; a mapped reader status (stateBuffer untouched). */
ZR_API int ZR_CALL ZRGetReaderState(int handle, int value, unsigned char* stateBuffer);

/* Sets the reader's clock: request 00 08 A2, the six bytes of `timeBytes` as they lie, then
 * `value`. Their layout is the reader's.
 * Results: 1; -1; -4; -14 timeBytes NULL; a mapped reader status. */
ZR_API int ZR_CALL ZRSetReaderTime(int handle, int value, const unsigned char* timeBytes);

/* Sets the reader's one-byte fixed number: request 00 02 A3 fixedNumber.
 * Results: 1; -1; -4; a mapped reader status. */
ZR_API int ZR_CALL ZRSetReaderfixNO(int handle, int fixedNumber);

/* Queries the reader's fixed number: request 00 01 A4. Only the status is reported; the
 * number is not delivered, and `reserved` is neither read nor written (may be NULL).
 * Results: 1; -1; -4; a mapped reader status. */
ZR_API int ZR_CALL ZRGetReaderfixNO(int handle, unsigned char* reserved);

/* ---- Result texts ---------------------------------------------------------------------- */

/* The meaning of a result code, as a short English text for people ("ok", "no valid reply",
 * "reader status 0x04").
 * code:    any value an exported function returned.
 * Results: a zero-terminated text that stays valid and unchanged for as long as the library is
 *          loaded; the caller must not free or modify it. Never NULL.
 *          Every code the library returns has its own text: 1 "ok", 0, -1 to -16, -20, 242,
 *          and the mapped reader statuses 1001-1015, 2001-2007, 3001-3010, 4001-4013, whose
 *          texts name the status byte ("reader status 0x04" for 1004). -5 and -7 name both
 *          what the library refused and the status byte that maps to them in device classes
 *          1 and 2. Any other value gives "unknown result code". Functions that only send
 *          return a number of bytes sent instead of a result: such counts are not result
 *          codes and get no text of their own (the count 1 reads as "ok"). */
ZR_API const char* ZR_CALL ZRResultText(int code);

/* Why the last failed call on the calling thread failed, as a short English text for people
 * ("reader.ini: no section [reader]", "cannot open /dev/ttyUSB0: permission denied",
 * "connection refused by 192.0.2.10:7086"). A call fails when it gives 0, a negative result
 * or a reader status (1001 and up); ZRLinkState's 0 is an answer, not a failure. Every
 * failing call sets the text, to the text of its result code (ZRResultText) where the
 * library knows nothing more, so it never describes an older failure. Calls that succeed,
 * and functions that only send and give a byte count, leave it as it was, with one exception:
 * a ZROpen that succeeds although a trace file it was asked for cannot be opened sets it to
 * say so ("cannot open trace file /var/log/zr.trace (ZR_TRACE_FILE): Permission denied").
 * On a lost link every failing call gives the loss ("link lost: ..."), not only the first
 * that found it. Each thread has its own.
 * Results: a zero-terminated text, "" before the thread's first failure; never NULL. It stays
 *          valid until the next exported call on the same thread; the caller must not free
 *          it (copy it to keep it). */
ZR_API const char* ZR_CALL ZRLastCause(void);

/* ---- Wire trace ------------------------------------------------------------------------ */

/* Every frame a session's link moves, and every notable event on it, as one line of text:
 *
 *   1234.567 | h1 | tcp 192.0.2.10:7086 | -> | 00 01 67 D2 2D | 00 01 67 D2 2D | RESET/TEST_MODE | sent
 *   1234.690 | h1 | tcp 192.0.2.10:7086 | <- | 00 02 67 00 D2 2D | 00 02 67 00 D2 2D | RESET/TEST_MODE | accepted
 *   1301.002 | h1 | tcp 192.0.2.10:7086 | -- | link lost: the reader closed the connection
 *
 * fields: milliseconds on a monotonic clock | handle | link | direction (-> to the reader,
 * <- from it, -- an event) | the bytes as on the line (serial: start byte and stuffing
 * included) | the frame they carry | the command's name | what became of the frame (sent,
 * send failed, accepted, discarded as a report, discarded: another command's, discarded:
 * shorter than the command takes, discarded: longer than a TCP reply may be, bad CRC,
 * drained, discarded: a late reply). Events: timeouts, bytes skipped that belong to no
 * frame, a link lost and why.
 *
 * The trace is off unless asked for, without recompiling the application, by any of:
 *   - the environment variable ZR_TRACE: a file to append to, or "-" for standard error,
 *     read once, when the library first traces or opens a session;
 *   - the key ZR_TRACE_FILE in the session's INI section: a file for that session's lines,
 *     appended to, opened by ZROpen ("ZR_SAVE_LOG_FILE" keeps its old meaning: none);
 *   - a callback registered here.
 * A trace file that cannot be opened is left out of the trace; ZROpen still succeeds and tells
 * why in ZRLastCause.
 * Off, it costs a flag test per frame. */

/* Receives each trace line: `line` is zero-terminated, without a line end, valid only during
 * the call; `context` is what was registered with it. Called on the thread of the library
 * call that moved the frame, while that call holds the line's handle, possibly on several
 * threads at once. Library calls it makes are not traced, and from inside it:
 *   - a call on the line's handle (h1 above), ZRClose included, would run inside the call
 *     that holds it: it fails at once with -16, sends nothing, closes nothing, and
 *     ZRLastCause says why;
 *   - a call on another handle, and ZROpen, run as from anywhere else: a call on a handle
 *     busy on another thread waits for it (two callbacks that each wait for the other's
 *     handle wait for ever);
 *   - ZRSetTraceCallback fails at once with -16 (it would wait for the callback to return).
 * ZRLastCause tells the callback of its own calls; after the call it ran inside, it tells of
 * that call only. */
typedef void(ZR_CALL* ZRTraceCallback)(void* context, const char* line);

/* Registers `callback` (NULL: none) for every session's trace lines, in place of the one
 * before. Once it returns, the callback it replaced is no longer running or called, which
 * is why it waits for callbacks running on other threads.
 * Results: 1; -16 called from inside a trace callback (nothing changed: the callback
 *          registered stays). */
ZR_API int ZR_CALL ZRSetTraceCallback(ZRTraceCallback callback, void* context);

/* ---- Version --------------------------------------------------------------------------- */

/* The version of the loaded library, as "MAJOR.MINOR.PATCH" ("1.0.0"), so that an application
 * can log which library it runs with; its bitness is the application's own (sizeof(void*)).
 * Results: a zero-terminated ASCII text, static, never NULL; the caller must not free it.
 * From C#: [DllImport("zr")] static extern IntPtr ZRVersion(); Marshal.PtrToStringAnsi(...).
 * From Python: ctypes.CDLL("libzr.so.1").ZRVersion, restype c_char_p (WinDLL on 32-bit
 * Windows, where it is __stdcall like every export; it takes no arguments either way). */
ZR_API const char* ZR_CALL ZRVersion(void);

#ifdef __cplusplus
}
#endif

#endif /* ZR_H */
