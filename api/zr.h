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

/* ---- EPC, TID and user-data inventory -------------------------------------------------- */

/* ---- Listening, data return and code sending ------------------------------------------- */

/* ---- EAS alarm ------------------------------------------------------------------------- */

/* ---- Tag memory ------------------------------------------------------------------------ */

/* ---- Tag selection --------------------------------------------------------------------- */

/* ---- Passwords, locks and kill --------------------------------------------------------- */

/* ---- System and tag parameter areas ---------------------------------------------------- */

/* ---- Power and I/O --------------------------------------------------------------------- */

/* ---- Network identity ------------------------------------------------------------------ */

/* ---- Device class, test mode and interference ------------------------------------------ */

/* ---- Reader clock, identity and state -------------------------------------------------- */

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

#ifdef __cplusplus
}
#endif

#endif /* ZR_H */
