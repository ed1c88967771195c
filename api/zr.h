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
 *   ZR_ERR_INTERNAL (-16)      the library could not complete the call (out of memory)
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
 * Threads: the library starts none and takes no locks. Session-wide state (settings from the
 * last ZROpen, device class) is shared by every handle; callers must not overlap calls.
 */
#ifndef ZR_H
#define ZR_H

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
 *          and the tuning keys ZR_SCAN_TRIES, ZR_RETRIES, ZR_READ_TRIES (0 and 1 become 2),
 *          ZR_WRITE_TRIES (0 and 1 become 2), ZR_ANTENNAS (0 becomes 1), ZR_ANTENNA_CONCTL,
 *          ZR_SAVE_LOG_FILE, ZR_LOG_FILE_NAME, ZR_REPEAT_DATAS, ZR_READ_TIMEOUT; section
 *          "ESPECIAL FLAG" holds ZR_ADDERIESS, ZR_LENGTH and ZR_MATCH_DATA (the first
 *          min(ZR_LENGTH, 8) characters become the special match bytes, the rest are 0).
 *          Values: text up to a ';', blanks and tabs removed; numbers keep their low 8 bits;
 *          a missing key reads as "0".
 * Results: 1 open; 0 port type neither "COM" nor "TCP"; -10 *handle was not -1 (nothing
 *          read); -11 port type, port name or host name empty; -12 TCP connection refused or
 *          not up within 10 s (*handle = -1); -13 port cannot be opened (also: in use by
 *          another session), or host name not a dotted IPv4 address, or 0.0.0.0 or
 *          255.255.255.255 (*handle = -1); -14 a NULL argument (nothing touched).
 * Each session keeps its own transport; a later ZROpen of another type does not change it. */
ZR_API int ZR_CALL ZROpen(int* handle, const char* path, const char* section);

/* Closes a session.
 * Results: 1 closed (*handle = -1); -1 *handle is -1 or names no open session; 242 the port
 *          could not be closed: over TCP, a socket not writable within 500 ms leaves the
 *          session open (call again); a failed socket close still releases it (*handle = -1);
 *          over serial the port stays open and *handle unchanged; -14 handle is NULL. */
ZR_API int ZR_CALL ZRClose(int* handle);

/* Resets the reader: request 00 01 67, 50 ms wait, status reply (over TCP at least 8 bytes).
 * Results: 1, -1, -4, or a mapped reader status. */
ZR_API int ZR_CALL ZRReset(int handle);

/* ---- Inventory and reports ------------------------------------------------------------- */

/* An inventory is two calls: a start function sends the request and returns at once (it
 * neither waits nor reads); the reader then sends one or more report frames under the same
 * command code, collected one per call by the matching report function. Nothing is kept
 * between the calls. Reports not collected before the next command are lost: over TCP the
 * next send discards them, over serial the next send discards what is waiting.
 *
 * Start functions return: -1 no session (nothing sent); otherwise the transport's send
 * result: over serial the payload bytes written (LEN + 2 on success, fewer or 0 when a byte
 * could not be written), over TCP the frame length with CRC (LEN + 4) or 0.
 *
 * Report functions read one frame without sending and without waiting beyond the transport's
 * own limits (at once over serial, about 60 ms over TCP when nothing is there). On success
 * `buffer` receives the status byte (0) followed by the report data: LEN - 1 bytes. `buffer`
 * must hold 251 bytes (serial) or 95 bytes (TCP). It is written only on success. NULL
 * `buffer`: -14, nothing read. */

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
 * Results: -3 address above 14; -2 address + 2 * wordCount above 28; -14 NULL password (these
 *          checked in that order before anything is sent); -1; else the send result. */
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
 * Results: -5 option above 4 (nothing sent); 1; a mapped status; -4; -1. */
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

/* Collects one alarm frame (0x8D): up to six receives, each after a 10 ms wait. On success
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

/* ---- Tag selection --------------------------------------------------------------------- */

/* ---- Passwords, locks and kill --------------------------------------------------------- */

/* ---- System and tag parameter areas ---------------------------------------------------- */

/* ---- Power and I/O --------------------------------------------------------------------- */

/* ---- Network identity ------------------------------------------------------------------ */

/* ---- Device class, test mode and interference ------------------------------------------ */

/* ---- Reader clock, identity and state -------------------------------------------------- */

/* ---- Result texts ---------------------------------------------------------------------- */

#ifdef __cplusplus
}
#endif

#endif /* ZR_H */
