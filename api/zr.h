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
 *          length than byteCount; -14 tagId or buffer NULL; a mapped reader status. */
ZR_API int ZR_CALL ZRReadUserData(int handle, int antenna, int address, int byteCount,
                                  const unsigned char* tagId, unsigned char* buffer);

/* Writes `length` bytes of `data` at `address` of the tag whose identifier is `tagId`.
 * Request 00, length + 12, 73, antenna, tagId[0..7], address, length, data; 500 ms wait,
 * one receive.
 * Results: 1; -1; -4 no valid reply; -14 tagId or data NULL, or length above 242 (the
 *          request would not fit); a mapped reader status. */
ZR_API int ZR_CALL ZRWriteUserData(int handle, int antenna, int address, const unsigned char* tagId,
                                   const unsigned char* data, int length);

/* Writes a new EPC code of `wordCount` words to the tag, authorised by `password`.
 * epcLength: the EPC length in bytes; checked (at most 12 and even), never sent.
 * Request 00, 2w + 7, 83, antenna, password[0..3], w, data[0..2w-1]; 500 ms wait, one
 * receive. data: 2 * wordCount bytes.
 * Results: 1; -1; -3 epcLength above 12 or odd (nothing sent); -4 a reply to 0x83 that is
 *          too short or whose length disagrees; -14 password or data NULL, or wordCount above
 *          123; a mapped reader status.
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
 *          length than 2w; -14 password or buffer NULL; a mapped reader status. */
ZR_API int ZR_CALL ZRReadUserDataEPC(int handle, const unsigned char* password, int address, int wordCount,
                                     int antenna, unsigned char* buffer);

/* Writes `wordCount` words of `data` (2w bytes) at word `address` of the tag, authorised by
 * `password`. Request 00, 2w + 8, 85, antenna, password[0..3], address, w, data; 500 ms
 * wait, one receive.
 * Results: 1; -1; -4 no valid reply; -14 password or data NULL, or wordCount above 123;
 *          a mapped reader status. */
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
 * Results: 1; -1; -4 no valid reply; -14 matchData NULL, or length above 250; a mapped
 *          reader status. */
ZR_API int ZR_CALL ZRSelectTagEPC(int handle, int antenna, int option1, int option2,
                                  const unsigned char* matchData, int length);

/* ---- Passwords, locks and kill --------------------------------------------------------- */

/* Passwords are 4 bytes sent in array order; the library neither keeps nor checks them. */

/* Locks `length` bytes from `address` of the tag whose identifier is `tagId`.
 * Note the parameter order: address comes before antenna.
 * Request 00 0C 74, antenna, tagId[0..7], address, length. The port is not flushed first.
 * Up to ZR_READ_TRIES receives (at least 2), each after 50 ms, until a reply to 0x74 comes.
 * Results: 1; -1; -2 address + length above 224 (nothing sent), or no valid reply; 0 the
 *          request could not be sent; -14 tagId NULL; a mapped reader status. */
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
 *          NULL, or wordCount above 124; a mapped reader status. */
ZR_API int ZR_CALL ZRSetDestroyTag(int handle, int antenna, const unsigned char* password, int wordCount,
                                   const unsigned char* data);

/* ---- System and tag parameter areas ---------------------------------------------------- */

/* The reader keeps its settings in two byte-addressed stores: the system parameter area
 * (read 0x62, written 0x63) and the tag parameter area (read 0x64, written 0x65). What the
 * addresses hold is the reader's; known system addresses: 3-4 power bytes, 5 MAC, 6-17 IPv4
 * address, mask and gateway, 0x21 device information (4 bytes).
 * Over TCP a reply frame longer than 100 bytes is not taken (-4), so over TCP a query can
 * bring at most 94 data bytes. */

/* Reads `length` bytes (low 8 bits used, 0-52) of the system area from `address` (0-255)
 * into `buffer`, which must hold `length` bytes. Request 00 03 62 address length; no flush;
 * 500 ms wait. Over TCP the reply must carry all `length` data bytes (an error reply too),
 * else -4. Bytes the reply does not carry are stored as 0.
 * Results: 1 (buffer written); -1; -4; -6 the TCP send failed; -14 buffer NULL;
 *          -15 length above 52; a mapped reader status (buffer untouched).
 *          -15 and -14 are checked before anything is sent. */
ZR_API int ZR_CALL ZRSysQuery(int handle, int address, int length, unsigned char* buffer);

/* Writes `count` bytes one frame per byte from the 16-bit `address` on (address + i, high
 * byte first: 0x00FF, 0x0100, ...). Serial sessions only. Request per byte 00 04 63 H L V;
 * its reply is polled for every 10 ms, up to 100 ms; a failed byte does not stop the others.
 * Results: the last byte's: 1, -4 (no reply of 6 bytes or more), or a mapped status (after
 *          a further 50 ms); -1; -15 count above 52; 0 count 0 or less, or a TCP session
 *          (nothing sent); -14 data NULL. */
ZR_API int ZR_CALL ZRSysSet(int handle, int address, int count, const unsigned char* data);

/* Writes `count` (0-52) bytes from `data` into the system area from `address`, in one
 * frame: LEN-high LEN-low 63 address count data... (LEN = count + 3). No flush; 100 ms
 * (serial) / 50 ms (TCP) wait.
 * Results: 1; -1; -4; 0 the TCP send failed; -14 data NULL or count below 0; -15 count
 *          above 52; a mapped reader status (returned after a further 50 ms). */
ZR_API int ZR_CALL ZRSysFastSet(int handle, int address, int count, const unsigned char* data);

/* Reads `length` bytes (low 8 bits used, 0-252) of the tag area from `address` into
 * `buffer` (`length` bytes). As ZRSysQuery with code 0x64.
 * Results: 1; -1; -4; -6 the TCP send failed; -14 buffer NULL or length above 252;
 *          a mapped reader status. */
ZR_API int ZR_CALL ZRTagQuery(int handle, int address, int length, unsigned char* buffer);

/* Writes `count` (0-251) bytes into the tag area from `address`, in one frame (code 0x65),
 * as ZRSysFastSet.
 * Results: 1; -1; -4; 0 the TCP send failed; -14 data NULL, count below 0 or above 251;
 *          a mapped reader status (after a further 50 ms). */
ZR_API int ZR_CALL ZRTagFastSet(int handle, int address, int count, const unsigned char* data);

/* Queries the system area at `address` with a length byte of 0 (request 00 03 62 address
 * 00) and hands back the raw reply frame: `buffer` (54 bytes) receives reply bytes 0-53:
 * LEN at 0-1, 0x62 at 2, the status at 3, the reader's data from 4 (the reader's frequency
 * table, when `address` names it). Bytes past the frame are 0. `length` (low 8 bits, 0-52)
 * has no other effect. No flush; 200 ms (serial) / 100 ms (TCP) wait.
 * Results: 1; -1; -4; -6 the TCP send failed; -14 buffer NULL; -15 length above 52;
 *          a mapped reader status. */
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

/* Switches the RF power off: request 00 01 61, then up to ten polls for the reply, each
 * after 250 ms (up to about 2.5 s without an answer). Flushes before and after.
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
 * configuration file of the last ZROpen. Each text must be four decimal numbers 0-255
 * separated by dots (blanks around it allowed); they are written as twelve bytes at system
 * area 6 (request 00 0F 63 06 0C and the bytes, as ZRSysFastSet). Once the reader accepted
 * them, ZR_HOST_NAME, ZR_SUBNET and ZR_GATE are written, as passed, into `section` of that
 * file, so that the next ZROpen of that section connects to the new address. Each key is
 * written by replacing the whole file, never leaving half a file. `reserved` is never read.
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
 * Results: 1; -1; -4; -5 mode above 4 (nothing sent); a mapped reader status. */
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

#ifdef __cplusplus
}
#endif

#endif /* ZR_H */
