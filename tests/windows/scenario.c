/*
 * Runs every export of the zr library against a simulated reader and prints one line per
 * call: the call, its result and its output buffers in hex.
 *
 *   zr_scenario LIBRARY INI LINK     LINK is the INI section of the session ("tcp", "serial")
 *   zr_scenario --list               the export names the table covers
 *   zr_scenario --resources LIBRARY  (Windows) checks the DLL's message and version resources
 *
 * The same source is built for Linux (against libzr.so) and for Windows (zr.dll, run under
 * Wine). Each function is loaded by name and called through a pointer of its own type as
 * zr.h declares it, calling convention included. On a fresh simulator both builds must print
 * the same lines: a wrong calling convention, a wrong export alias or a parameter mix-up in
 * the Windows build changes results or crashes. Some lines are also checked against known
 * values; a failed check is marked "<-- expected N" and makes the exit status 1, as does a
 * function missing from the library.
 *
 * ---- Adding a function -----------------------------------------------------------------
 * 1. A caller line under "Callers": the function and its arguments as slots, in order:
 *        CALLS(ZRReadUserData, I0, I1, I2, I3, P4, P5)
 *    In = the n-th argument as an int, Pn = as a pointer. CALLS_TEXT for a function that
 *    returns const char*. The compiler checks the count and the types against zr.h.
 * 2. A row in `table`: the function, the result the call must give on a fresh simulator
 *    (ANY: compared between the builds only) and the argument kinds with their values:
 *        ROW(ZRReadUserData, 1, SESSION, INT(1), INT(0), LEN(4, 250, -14),
 *            IN_BYTES(8, "\x30\x00\x11\x22\x33\x44\x55\x66"), OUT_BYTES(4))
 *    The result may also be BY_LINK(tcp, serial), for a result that differs between the
 *    links (send counts, serial-only commands; LINK "serial" is the serial link, any other
 *    section TCP), or TEXT_IS(s) for a CALLS_TEXT function: the text it must give.
 *    SESSION             the open session's handle
 *    SESSION_X(e)        the same, for a function whose calls without a session give e
 *    INT(v)              an int
 *    LEN(v, o, e)        an int that counts bytes; also called with the oversize value o,
 *                        which must give e (ANY: compared only)
 *    IN_BYTES(n, bytes)  a pointer to n input bytes (a string literal of hex escapes)
 *    OUT_BYTES(n)        a pointer to an output buffer; its first n bytes are printed
 *    OUT_BYTES_IS(n, b)  the same, and the good call must leave the n bytes b there
 *    STR(s)              a C string
 *    SESSION_VAR         the address of the session's handle variable (ZROpen, ZRClose)
 *    SECOND_VAR          the address of a second session's handle variable
 *    VAR(v)              the address of an int holding v; printed after the call
 *    INI                 the INI file named on the command line
 *    LINK_SECTION        the section named on the command line
 *    WHOLE_SECTION       that section's name and " whole": the same link in whole reply timing
 *    Pointer kinds also take _X variants with the result a NULL must give, e.g. OUT_BYTES_X(4, -2),
 *    OUT_BYTES_IS_X(4, "\xA5\xA5\xA5\xA5", 1).
 *    Output buffers start filled with A5 bytes: OUT_BYTES_IS one byte longer than the output,
 *    ending in "\xA5", also checks that the call writes no further.
 *    ROW also makes the bad-input calls, before the good one: SESSION as -1 and as handles
 *    that name no session (both must give -1, or e for SESSION_X(e)); every pointer argument
 *    NULL in turn (-14 unless the _X variant says otherwise); every LEN at its oversize value.
 *    AGAIN(...) is a further call of the same shape without the bad-input calls.
 *    AWAIT(...) is an AGAIN for a report on its way: while the call gives another result
 *    than the one expected (nothing there yet: serial reports do not wait), it is made again,
 *    every 10 ms for up to 3 s; only the last call is printed.
 *    ROW_AS(fn, "_Name@N", ...) for a function exported under a decorated name.
 * Rows run in table order against one simulator, so a report call can follow its start.
 * Every name in api/zr.def needs a row: run_wine_tests.sh fails on an export without one.
 * To try rows on Linux alone: tests/windows/run_wine_tests.sh --linux-only
 */
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <windows.h>
typedef HMODULE Library;
static Library library_open(const char* path) { return LoadLibraryA(path); }
static void* library_symbol(Library lib, const char* name) { return (void*)GetProcAddress(lib, name); }
static void pause_ms(int ms) { Sleep((DWORD)ms); }
#define ON_WINDOWS 1
#else
#include <dlfcn.h>
#include <pthread.h>
#include <time.h>
typedef void* Library;
static Library library_open(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }
static void* library_symbol(Library lib, const char* name) { return dlsym(lib, name); }
static void pause_ms(int ms) {
    struct timespec t = {ms / 1000, (long)(ms % 1000) * 1000000L};
    nanosleep(&t, NULL);
}
#define ON_WINDOWS 0
#endif

#include "zr.h"

/* ---- Argument kinds and slots ---------------------------------------------------------- */

#define ANY INT_MIN        /* no known result: compared between the builds only */
#define MAX_ARGS 12
#define BUFFER_SIZE 1024   /* every pointer argument points at this much, whatever n says */
#define FILL 0xA5          /* output buffers start with this byte */

enum Kind { K_END, K_HANDLE, K_INT, K_LEN, K_IN, K_OUT, K_TEXT, K_SESSION_VAR, K_VAR, K_INI, K_SECTION };

typedef struct {
    enum Kind kind;
    int value;          /* INT, LEN, VAR: the value; IN, OUT: the byte count */
    const char* data;   /* IN: the bytes; OUT: the bytes the good call must give, or NULL;
                           TEXT: the text */
    int bad;            /* LEN: the oversize value */
    int bad_expect;     /* LEN: result of the oversize call; pointers: result of NULL */
} Arg;

#define SESSION {K_HANDLE, 0, NULL, 0, ZR_ERR_NO_SESSION}
#define SESSION_X(no_session_expect) {K_HANDLE, 0, NULL, 0, (no_session_expect)}
#define INT(v) {K_INT, (v), NULL, 0, 0}
#define LEN(v, over, expect) {K_LEN, (v), NULL, (over), (expect)}
#define IN_BYTES(n, bytes) {K_IN, (n), (bytes), 0, ZR_ERR_ARGUMENT}
#define IN_BYTES_X(n, bytes, null_expect) {K_IN, (n), (bytes), 0, (null_expect)}
#define OUT_BYTES(n) {K_OUT, (n), NULL, 0, ZR_ERR_ARGUMENT}
#define OUT_BYTES_X(n, null_expect) {K_OUT, (n), NULL, 0, (null_expect)}
#define OUT_BYTES_IS(n, bytes) {K_OUT, (n), (bytes), 0, ZR_ERR_ARGUMENT}
#define OUT_BYTES_IS_X(n, bytes, null_expect) {K_OUT, (n), (bytes), 0, (null_expect)}
#define STR(s) {K_TEXT, 0, (s), 0, ZR_ERR_ARGUMENT}
#define STR_X(s, null_expect) {K_TEXT, 0, (s), 0, (null_expect)}
#define SESSION_VAR {K_SESSION_VAR, 0, NULL, 0, ZR_ERR_ARGUMENT}
#define SECOND_VAR {K_SESSION_VAR, 1, NULL, 0, ZR_ERR_ARGUMENT}
#define VAR(v) {K_VAR, (v), NULL, 0, ZR_ERR_ARGUMENT}
#define INI {K_INI, 0, NULL, 0, ZR_ERR_ARGUMENT}
#define LINK_SECTION {K_SECTION, 0, NULL, 0, ZR_ERR_ARGUMENT}
#define WHOLE_SECTION {K_SECTION, 1, NULL, 0, ZR_ERR_ARGUMENT}

/* What a call hands to the function: each argument as an int and as a pointer. */
typedef struct {
    int i;
    void* p;
} Slot;

typedef struct {
    int code;
    const char* text;
    int is_text;
} Result;

typedef Result (*Caller)(void* function, const Slot* a);

#define I0 a[0].i
#define I1 a[1].i
#define I2 a[2].i
#define I3 a[3].i
#define I4 a[4].i
#define I5 a[5].i
#define I6 a[6].i
#define I7 a[7].i
#define I8 a[8].i
#define I9 a[9].i
#define I10 a[10].i
#define I11 a[11].i
#define P0 a[0].p
#define P1 a[1].p
#define P2 a[2].p
#define P3 a[3].p
#define P4 a[4].p
#define P5 a[5].p
#define P6 a[6].p
#define P7 a[7].p
#define P8 a[8].p
#define P9 a[9].p
#define P10 a[10].p
#define P11 a[11].p

/* The pointer type comes from zr.h's declaration, so the call uses its calling convention. */
#define CALLS(fn, ...)                                              \
    static Result call_##fn(void* function, const Slot* a) {        \
        Result r = {0, NULL, 0};                                    \
        r.code = ((__typeof__(&fn))function)(__VA_ARGS__);          \
        return r;                                                   \
    }
#define CALLS_TEXT(fn, ...)                                         \
    static Result call_##fn(void* function, const Slot* a) {        \
        Result r = {0, NULL, 1};                                    \
        r.text = ((__typeof__(&fn))function)(__VA_ARGS__);          \
        return r;                                                   \
    }

/* The result a good call must give: `code` on every link, or per link. */
typedef struct {
    int code;          /* ANY: compared between the builds only; over TCP when by_link */
    int serial_code;   /* the result over the serial link, when by_link */
    int by_link;
    const char* text;  /* CALLS_TEXT: the text, or NULL */
} Expect;

/* A row's result argument initializes its Expect from `code` on: a plain code, or one of: */
#define BY_LINK(tcp, serial) (tcp), (serial), 1
#define TEXT_IS(s) ANY, ANY, 0, (s)

typedef struct {
    const char* name;         /* the C name */
    const char* export_name;  /* the Windows export name when it differs, else NULL */
    Caller call;
    int bad_inputs;           /* also make the bad-input calls */
    int await;                /* call again while the result differs (AWAIT) */
    Expect expect;
    Arg args[MAX_ARGS + 1];
} Row;

#define ROW(fn, expect, ...) {#fn, NULL, call_##fn, 1, 0, {.code = expect}, {__VA_ARGS__}}
#define ROW_AS(fn, export_name, expect, ...) {#fn, export_name, call_##fn, 1, 0, {.code = expect}, {__VA_ARGS__}}
#define AGAIN(fn, expect, ...) {#fn, NULL, call_##fn, 0, 0, {.code = expect}, {__VA_ARGS__}}
#define AGAIN_AS(fn, export_name, expect, ...) {#fn, export_name, call_##fn, 0, 0, {.code = expect}, {__VA_ARGS__}}
#define AWAIT(fn, expect, ...) {#fn, NULL, call_##fn, 0, 1, {.code = expect}, {__VA_ARGS__}}

/* Text far longer than any name or path the library keeps: 4000 characters. */
#define TIMES10(s) s s s s s s s s s s
#define LONG_TEXT TIMES10(TIMES10(TIMES10("long")))

/* ---- Callers --------------------------------------------------------------------------- */

CALLS(ZROpen, P0, P1, P2)
CALLS(ZRClose, P0)
CALLS(ZRReset, I0)
CALLS(ZRIdentify, I0, I1, I2)
CALLS(ZRReport, I0, P1)
CALLS(ZRDirectRead, I0, I1, I2)
CALLS(ZRDirectReport, I0, P1)
CALLS(ZRLongIdentify, I0, I1, I2, I3)
CALLS(ZRLongReport, I0, P1)
CALLS(ZRUserIdentify, I0, I1, I2, I3, I4, I5, I6)
CALLS(ZRUserReport, I0, P1)
CALLS(ZRIdentifyEpcCode, I0, I1, I2, I3)
CALLS(ZREpcCodeReport, I0, P1)
CALLS(ZRIdentifyTIDCode, I0, I1, I2, I3, P4)
CALLS(ZRTIDCodeReport, I0, P1)
CALLS(ZRGetUseData, I0, P1, I2, I3, I4)
CALLS(ZRGetUseDataReport, I0, P1)
CALLS(ZRListenReader, I0, I1, P2, P3, P4)
CALLS(ZRDataReturn, I0, I1, I2)
CALLS(ZRCodeSending, I0, I1, I2, P3)
CALLS(ZRConfigEASflag, I0, I1, P2, I3)
CALLS(ZRStartEASAlarm, I0, I1)
CALLS(ZREASAlarmReport, I0, P1)
CALLS(ZREndEASAlarm, I0, I1)
CALLS(ZRReadUserData, I0, I1, I2, I3, P4, P5)
CALLS(ZRWriteUserData, I0, I1, I2, P3, P4, I5)
CALLS(ZRSetEpcCode, I0, I1, P2, I3, I4, P5)
CALLS(ZRReadUserDataEPC, I0, P1, I2, I3, I4, P5)
CALLS(ZRSetUseData, I0, I1, P2, I3, I4, P5)
CALLS(ZRSelectTag, I0, I1, I2, I3, P4)
CALLS(ZRSelectTagEPC, I0, I1, I2, I3, P4, I5)
CALLS(ZRLockUserData, I0, I1, I2, P3, I4)
CALLS(ZRSetVisitPWD, I0, I1, P2, P3)
CALLS(ZRSetDestroyPWD, I0, I1, P2, P3)
CALLS(ZRSetDataLocked, I0, I1, P2, I3, I4)
CALLS(ZRSetDestroyTag, I0, I1, P2, I3, P4)
CALLS(ZRSysQuery, I0, I1, I2, P3)
CALLS(ZRSysSet, I0, I1, I2, P3)
CALLS(ZRSysFastSet, I0, I1, I2, P3)
CALLS(ZRTagQuery, I0, I1, I2, P3)
CALLS(ZRTagFastSet, I0, I1, I2, P3)
CALLS(ZRFreqQuery, I0, I1, I2, P3)
CALLS(ZRSetReadCfg, I0, I1, I2)
CALLS(ZRPowerOn, I0, I1)
CALLS(ZRPowerOff, I0)
CALLS(ZRPowerSet, I0, I1, I2, I3, I4)
CALLS(ZRPowerQuery, I0, I1, I2, P3)
CALLS(ZRIOControlSet, I0, I1, I2)
CALLS(ZRIOControlQuery, I0, I1, I2)
CALLS(ZRMACSet, I0, I1, I2, P3)
CALLS(ZRNetAddrSet, I0, I1, P2, P3, P4, P5)
CALLS(ZRSetDeviceClass, I0, I1)
CALLS(ZRGetDeviceClass, I0, P1)
CALLS(ZRTestModeSet, I0, I1)
CALLS(ZRSetInterfere, I0, P1)
CALLS(ZRGetInterfere, I0, P1)
CALLS(ZRCloseInterfere, I0)
CALLS(ZREpcPrintPowerOs, I0, I1)
CALLS(ZRGetReaderState, I0, I1, P2)
CALLS(ZRSetReaderTime, I0, I1, P2)
CALLS(ZRSetReaderfixNO, I0, I1)
CALLS(ZRGetReaderfixNO, I0, P1)
CALLS_TEXT(ZRResultText, I0)
CALLS(ZRReconnect, I0)
CALLS(ZRLinkState, I0)
CALLS(ZRSetReplyTiming, I0, I1)
CALLS(ZRGetReplyTiming, I0)
/* No arguments: a caller of its own. */
static Result call_ZRVersion(void* function, const Slot* a) {
    Result r = {0, NULL, 1};
    (void)a;
    r.text = ((__typeof__(&ZRVersion))function)();
    return r;
}
/* Causes name files and ports, whose names differ between the builds (/dev/pts/3, COM17, an
 * INI file's path): each word that holds a '/' or a '\\', or is COM and digits, reads <path>. */
static Result call_ZRLastCause(void* function, const Slot* a) {
    static char masked[8192];
    Result r = {0, NULL, 1};
    const char* text = ((__typeof__(&ZRLastCause))function)();
    size_t n = 0;
    (void)a;
    while (text && *text && n + 8 < sizeof masked) {
        size_t len = strcspn(text, " "), end = len, i;
        int path = 0;
        while (end > 0 && (text[end - 1] == ':' || text[end - 1] == ',')) --end;
        for (i = 0; i < end; ++i) path |= text[i] == '/' || text[i] == '\\';
        if (end > 3 && strncmp(text, "COM", 3) == 0 && strspn(text + 3, "0123456789") == end - 3) path = 1;
        if (path) {
            memcpy(masked + n, "<path>", 6);
            n += 6;
            text += end;
            len -= end;
        }
        if (text[len] == ' ') ++len;
        if (n + len >= sizeof masked) len = sizeof masked - n - 1;
        memcpy(masked + n, text, len);
        n += len;
        text += len;
    }
    masked[n] = '\0';
    r.text = masked;
    return r;
}

/* The trace reaches a registered callback. With 1 the counting callback is registered; with
 * 0 it is taken away, and the result says whether lines came in between (1) or not (-100). */
static int trace_lines;
static void ZR_CALL count_trace_line(void* context, const char* line) {
    if (line && *line) ++*(int*)context;
}
static Result call_ZRSetTraceCallback(void* function, const Slot* a) {
    Result r = {0, NULL, 0};
    if (I0) {
        trace_lines = 0;
        r.code = ((__typeof__(&ZRSetTraceCallback))function)(count_trace_line, &trace_lines);
    } else {
        r.code = ((__typeof__(&ZRSetTraceCallback))function)(NULL, NULL);
        if (r.code == ZR_OK && trace_lines < 2) r.code = -100;
    }
    return r;
}

/* ---- The table ------------------------------------------------------------------------- */

/* The simulator's tags N = 1..3: identifier E2 00 34 12 01 02 03 0N, EPC 30 08 33 B2 DD D9
 * 01 40 00 00 00 0N, TID E2 80 11 05 20 00 70 0N, user byte k = N * 16 + k, passwords 0 (a
 * visit password of 0 lets any password through). Commands authorised by a password act on
 * the first tag in the field. */
#define ID1 "\xE2\x00\x34\x12\x01\x02\x03\x01"
#define ID2 "\xE2\x00\x34\x12\x01\x02\x03\x02"
#define ID3 "\xE2\x00\x34\x12\x01\x02\x03\x03"
#define EPC_HEAD "\x30\x08\x33\xB2\xDD\xD9\x01\x40\x00\x00\x00"
#define EPC1 EPC_HEAD "\x01"
#define EPC2 EPC_HEAD "\x02"
#define EPC3 EPC_HEAD "\x03"
#define TID_HEAD "\xE2\x80\x11\x05\x20\x00\x70"
#define NEW_EPC "\xE1\x51\x0C\x0D\xE0\x01\x02\x03\x04\x05\x06\x07"
#define PASSWORD "\x5A\x5B\x5C\x5D"
#define VISIT "\x11\x22\x33\x44"
#define DESTROY "\x99\x88\x77\x66"
#define UNTOUCHED4 "\xA5\xA5\xA5\xA5"
/* The frequency table as a raw 0x62 reply: LEN, code, status, 16 channels from 902.75 MHz. */
#define FREQ_FRAME                                                                                  \
    "\x00\x34\x62\x00\x10\x28\x23\x28\x55\x28\x87\x28\xB9\x28\xEB\x29\x1D\x29\x4F\x29\x81\x29\xB3" \
    "\x29\xE5\x2A\x17\x2A\x49\x2A\x7B\x2A\xAD\x2A\xDF\x2B\x11\x00\x00\x00\x00\x00\x00\x00\x00\x00" \
    "\x00\x00\x00\x00\x00\x00\x00\x00"
/* ZRNetAddrSet writes into the INI file: a section of its own (the driver checks it). */
#define NET_SECTION "scenario network"

/* Argument values differ from one parameter to the next, and each one's effect shows in a
 * result or in bytes read back, so that arguments passed in the wrong order or under the
 * wrong calling convention change the output.
 *
 * INI sections the driver writes besides "tcp" and "serial":
 *   udp      port type UDP                        empty    the three keys, all empty
 *   refused  TCP to an address nobody listens on  nocom    a serial port that does not exist
 *   sometimes  TCP with ZR_REPLY_TIMING=sometimes
 *   tcp whole, serial whole  the links with ZR_REPLY_TIMING=whole */
static const Row table[] = {
    /* Sessions: the failures first, while the session variable still holds -1. */
    ROW(ZROpen, ZR_OK, SESSION_VAR, INI, LINK_SECTION),
    AGAIN(ZROpen, ZR_ERR_ALREADY_OPEN, SESSION_VAR, INI, LINK_SECTION),
    AGAIN(ZROpen, ZR_ERR_ALREADY_OPEN, VAR(0), INI, LINK_SECTION),
    AGAIN(ZROpen, 0, VAR(-1), INI, STR("udp")),
    AGAIN(ZRLastCause, TEXT_IS("ZR_PORT_TYPE 'UDP' is neither COM nor TCP")),
    AGAIN(ZROpen, ZR_ERR_CONFIG, VAR(-1), INI, STR("empty")),
    AGAIN(ZRLastCause, TEXT_IS("<path> [empty]: ZR_PORT_TYPE is empty")),
    AGAIN(ZROpen, 0, VAR(-1), INI, STR("no such section")), /* missing keys read as "0" */
    AGAIN(ZRLastCause, TEXT_IS("<path>: no section [no such section]")),
    AGAIN(ZROpen, ZR_ERR_CONNECT, VAR(-1), INI, STR("refused")),
    AGAIN(ZRLastCause, TEXT_IS(NULL)), /* "connection refused by" the address: the same everywhere */
    AGAIN(ZROpen, ZR_ERR_OPEN_PORT, VAR(-1), INI, STR("nocom")),
    AGAIN(ZRLastCause, TEXT_IS("cannot open <path>: no such file or directory")),
    AGAIN(ZROpen, ZR_ERR_CONFIG, VAR(-1), INI, STR("sometimes")),
    AGAIN(ZRLastCause, TEXT_IS("ZR_REPLY_TIMING 'sometimes' in [sometimes] is neither fixed nor whole")),
    AGAIN(ZROpen, 0, VAR(-1), INI, STR(LONG_TEXT)),
    AGAIN(ZROpen, 0, VAR(-1), STR(LONG_TEXT), LINK_SECTION),
    /* A second session on the same link: over TCP another connection (1), while a serial
     * port is held exclusively (-13; the driver checks that line). It also makes the INI
     * file the one of the last ZROpen again, for ZRNetAddrSet. */
    AGAIN(ZRReset, ZR_ERR_NO_SESSION, INT(-1)), /* a cause the same in every build */
    AGAIN(ZROpen, BY_LINK(ZR_OK, ZR_ERR_OPEN_PORT), SECOND_VAR, INI, LINK_SECTION),
    AGAIN(ZRLastCause, TEXT_IS(NULL)), /* serial: "port <path> is in use" (the driver checks it) */
    AGAIN(ZRClose, BY_LINK(ZR_OK, ZR_ERR_NO_SESSION), SECOND_VAR),

    ROW(ZRReset, ZR_OK, SESSION),
    AGAIN(ZRReset, ZR_OK, SESSION),
    /* The link closed and opened again under the same handle, which then works as before. */
    ROW(ZRLinkState, 1, SESSION),
    ROW(ZRReconnect, ZR_OK, SESSION),
    AGAIN(ZRLinkState, 1, SESSION),
    AGAIN(ZRReset, ZR_OK, SESSION),
    /* A reset's request and reply reach a trace callback, and none once it is taken away. */
    ROW(ZRSetTraceCallback, ZR_OK, INT(1)),
    AGAIN(ZRReset, ZR_OK, SESSION),
    AGAIN(ZRSetTraceCallback, ZR_OK, INT(0)),

    /* Result texts and the device class: no reader involved. */
    ROW(ZRResultText, TEXT_IS("ok"), INT(ZR_OK)),
    AGAIN(ZRResultText, TEXT_IS("reader status 0x04"), INT(1004)),
    AGAIN(ZRResultText, TEXT_IS("reader status 0x62: wrong password"), INT(3003)),
    AGAIN(ZRResultText, TEXT_IS("reader status 0x9C"), INT(4013)),
    AGAIN(ZRResultText, TEXT_IS("more than 52 bytes"), INT(ZR_ERR_TOO_LONG)),
    AGAIN(ZRResultText, TEXT_IS("unknown result code"), INT(99999)),
    AGAIN(ZRResultText, TEXT_IS("unknown result code"), INT(INT_MIN)),
    AGAIN(ZRVersion, TEXT_IS(ZR_VERSION_STRING)),
    /* Swapped, the arguments would select class 3 (1). Class 1 is tried further down. */
    ROW(ZRSetDeviceClass, ZR_ERR_MODEL, INT(3), INT(9)),
    /* The failure just before, unexplained beyond its code, has its code's text as its cause. */
    AGAIN(ZRLastCause, TEXT_IS("unknown reader model code")),

    /* Inventories: each tag's report in turn, then nothing (0). Serial starts give LEN + 2,
     * TCP LEN + 4. */
    ROW(ZRIdentify, BY_LINK(7, 5), SESSION, INT(2), INT(0x41)),
    AWAIT(ZRReport, ZR_OK, SESSION, OUT_BYTES_IS(11, "\x00\x02" ID1 "\xA5")),
    AWAIT(ZRReport, ZR_OK, SESSION, OUT_BYTES_IS(11, "\x00\x02" ID2 "\xA5")),
    AWAIT(ZRReport, ZR_OK, SESSION, OUT_BYTES_IS(11, "\x00\x02" ID3 "\xA5")),
    ROW(ZRReport, 0, SESSION, OUT_BYTES_IS(4, UNTOUCHED4)),

    ROW(ZRDirectRead, BY_LINK(7, 5), SESSION, INT(3), INT(0x52)),
    AWAIT(ZRDirectReport, ZR_OK, SESSION, OUT_BYTES_IS(15, "\x00\x03" EPC1 "\xA5")),
    AWAIT(ZRDirectReport, ZR_OK, SESSION, OUT_BYTES_IS(15, "\x00\x03" EPC2 "\xA5")),
    AWAIT(ZRDirectReport, ZR_OK, SESSION, OUT_BYTES_IS(15, "\x00\x03" EPC3 "\xA5")),
    ROW(ZRDirectReport, 0, SESSION, OUT_BYTES_IS(4, UNTOUCHED4)),

    /* The antenna, passed third, is reported back. */
    ROW(ZRLongIdentify, BY_LINK(8, 6), SESSION, INT(0x11), INT(4), INT(0x22)),
    AWAIT(ZRLongReport, ZR_OK, SESSION, OUT_BYTES_IS(23, "\x00\x04" ID1 EPC1 "\xA5")),
    AWAIT(ZRLongReport, ZR_OK, SESSION, OUT_BYTES_IS(23, "\x00\x04" ID2 EPC2 "\xA5")),
    AWAIT(ZRLongReport, ZR_OK, SESSION, OUT_BYTES_IS(23, "\x00\x04" ID3 EPC3 "\xA5")),
    ROW(ZRLongReport, 0, SESSION, OUT_BYTES_IS(4, UNTOUCHED4)),

    ROW(ZRUserIdentify, BY_LINK(24, 22), SESSION, INT(0x31), INT(5), INT(0x32), INT(0x33), INT(0x34), INT(0x35)),
    AWAIT(ZRUserReport, ZR_OK, SESSION, OUT_BYTES_IS(15, "\x00\x05" EPC1 "\xA5")),
    AWAIT(ZRUserReport, ZR_OK, SESSION, OUT_BYTES_IS(15, "\x00\x05" EPC2 "\xA5")),
    AWAIT(ZRUserReport, ZR_OK, SESSION, OUT_BYTES_IS(15, "\x00\x05" EPC3 "\xA5")),
    ROW(ZRUserReport, 0, SESSION, OUT_BYTES_IS(4, UNTOUCHED4)),

    /* EPC and TID reports hand over the frame from its LEN on. */
    ROW(ZRIdentifyEpcCode, BY_LINK(8, 6), SESSION, INT(6), INT(0x61), INT(0x62)),
    AWAIT(ZREpcCodeReport, ZR_OK, SESSION, OUT_BYTES_IS(17, "\x00\x0E\x81\x00" EPC1 "\xA5")),
    AWAIT(ZREpcCodeReport, ZR_OK, SESSION, OUT_BYTES_IS(17, "\x00\x0E\x81\x00" EPC2 "\xA5")),
    AWAIT(ZREpcCodeReport, ZR_OK, SESSION, OUT_BYTES_IS(17, "\x00\x0E\x81\x00" EPC3 "\xA5")),
    ROW(ZREpcCodeReport, 0, SESSION, OUT_BYTES_IS(4, UNTOUCHED4)),

    ROW(ZRIdentifyTIDCode, BY_LINK(12, 10), SESSION, INT(7), INT(0x71), INT(0x72), IN_BYTES(4, PASSWORD)),
    AWAIT(ZRTIDCodeReport, ZR_OK, SESSION, OUT_BYTES_IS(13, "\x00\x0A\x82\x00" TID_HEAD "\x01\xA5")),
    AWAIT(ZRTIDCodeReport, ZR_OK, SESSION, OUT_BYTES_IS(13, "\x00\x0A\x82\x00" TID_HEAD "\x02\xA5")),
    AWAIT(ZRTIDCodeReport, ZR_OK, SESSION, OUT_BYTES_IS(13, "\x00\x0A\x82\x00" TID_HEAD "\x03\xA5")),
    ROW(ZRTIDCodeReport, 0, SESSION, OUT_BYTES_IS(4, UNTOUCHED4)),

    /* Words 3..7 of tag 1 (user bytes 6..15); the address and count limits are the
     * library's own (nothing sent). */
    ROW(ZRGetUseData, BY_LINK(12, 10), SESSION, IN_BYTES(4, PASSWORD), INT(3), INT(5), INT(0x7F)),
    AWAIT(ZRGetUseDataReport, ZR_OK, SESSION,
          OUT_BYTES_IS(13, "\x00\x05\x16\x17\x18\x19\x1A\x1B\x1C\x1D\x1E\x1F\xA5")),
    ROW(ZRGetUseDataReport, 0, SESSION, OUT_BYTES_IS(4, UNTOUCHED4)),
    AGAIN(ZRGetUseData, ZR_ERR_ADDRESS, SESSION, IN_BYTES(4, PASSWORD), INT(15), INT(0), INT(0x7F)),
    AGAIN(ZRGetUseData, ZR_ERR_RANGE, SESSION, IN_BYTES(4, PASSWORD), INT(14), INT(8), INT(0x7F)),

    /* The simulator sends no listen frame on its own here: the refusal, all outputs zeroed
     * (each to its own size). */
    ROW(ZRListenReader, 0, SESSION, INT(0x55), OUT_BYTES_IS(8, "\x00\x00\x00\x00\x00\x00\xA5\xA5"),
        OUT_BYTES_IS(10, "\x00\x00\x00\x00\x00\x00\x00\x00\xA5\xA5"),
        OUT_BYTES_IS(10, "\x00\x00\x00\x00\x00\x00\x00\x00\xA5\xA5")),
    ROW(ZRDataReturn, ZR_OK, SESSION, INT(8), INT(3)),
    AGAIN(ZRDataReturn, ZR_ERR_PARAMETER, SESSION, INT(3), INT(8)),
    /* Three passes, each answered. No session and a length below 1 give 0. */
    ROW(ZRCodeSending, ZR_OK, SESSION_X(0), LEN(5, 254, ZR_ERR_ARGUMENT), INT(-7),
        IN_BYTES(5, "\x01\x02\x03\x04\x05")),
    AGAIN(ZRCodeSending, 0, SESSION, INT(0), INT(5), IN_BYTES(5, "\x01\x02\x03\x04\x05")),

    /* EAS: tag 1 flagged (flag 1, antenna 0: swapped, the flag would be cleared), its alarm
     * frames carry the alarm's antenna and its EPC. */
    ROW(ZRConfigEASflag, ZR_OK, SESSION, INT(0), IN_BYTES(4, PASSWORD), INT(1)),
    ROW(ZREASAlarmReport, 0, SESSION, OUT_BYTES_IS(4, UNTOUCHED4)),
    ROW(ZRStartEASAlarm, BY_LINK(8, 6), SESSION, INT(0x0A)),
    AWAIT(ZREASAlarmReport, ZR_OK, SESSION, OUT_BYTES_IS(15, "\x00\x0A" EPC1 "\xA5")),
    ROW(ZREndEASAlarm, ZR_OK, SESSION, INT(0x0A)),

    /* Tag memory by identifier: tag 2 bytes 5..10; tag 3 written at 40..43 and read back
     * around it; beyond the user memory (64 bytes): status 64; an unknown tag: status 61. */
    ROW(ZRReadUserData, ZR_OK, SESSION, INT(1), INT(5), INT(6), IN_BYTES(8, ID2),
        OUT_BYTES_IS(7, "\x25\x26\x27\x28\x29\x2A\xA5")),
    ROW(ZRWriteUserData, ZR_OK, SESSION, INT(2), INT(40), IN_BYTES(8, ID3), IN_BYTES(4, "\xC1\xC2\xC3\xC4"),
        LEN(4, 243, ZR_ERR_ARGUMENT)),
    AGAIN(ZRReadUserData, ZR_OK, SESSION, INT(1), INT(38), INT(8), IN_BYTES(8, ID3),
          OUT_BYTES_IS(9, "\x56\x57\xC1\xC2\xC3\xC4\x5C\x5D\xA5")),
    AGAIN(ZRReadUserData, 3005, SESSION, INT(1), INT(60), INT(8), IN_BYTES(8, ID3), OUT_BYTES_IS(4, UNTOUCHED4)),
    AGAIN(ZRReadUserData, 3002, SESSION, INT(1), INT(5), INT(6), IN_BYTES(8, "\xE2\x00\x34\x12\x01\x02\x03\x04"),
          OUT_BYTES_IS(4, UNTOUCHED4)),

    /* Tag memory by password (tag 1, words): words 2..4, words 6..7 written, 5..8 read back. */
    ROW(ZRReadUserDataEPC, ZR_OK, SESSION, IN_BYTES(4, PASSWORD), INT(2), INT(3), INT(9),
        OUT_BYTES_IS(12, "\x00\x09\x84\x00\x03\x14\x15\x16\x17\x18\x19\xA5")),
    ROW(ZRSetUseData, ZR_OK, SESSION, INT(3), IN_BYTES(4, PASSWORD), INT(6), LEN(2, 124, ZR_ERR_ARGUMENT),
        IN_BYTES(4, "\xD1\xD2\xD3\xD4")),
    AGAIN(ZRReadUserDataEPC, ZR_OK, SESSION, IN_BYTES(4, PASSWORD), INT(5), INT(4), INT(9),
          OUT_BYTES_IS(14, "\x00\x0B\x84\x00\x04\x1A\x1B\xD1\xD2\xD3\xD4\x20\x21\xA5")),
    /* Tag 1 gets a new EPC (found again by ZRSelectTagEPC below); an EPC length above 12 or
     * odd is refused before anything is sent. */
    ROW(ZRSetEpcCode, ZR_OK, SESSION, INT(4), IN_BYTES(4, PASSWORD), INT(12), LEN(6, 124, ZR_ERR_ARGUMENT),
        IN_BYTES(12, NEW_EPC)),
    AGAIN(ZRSetEpcCode, ZR_ERR_ADDRESS, SESSION, INT(4), IN_BYTES(4, PASSWORD), INT(11), INT(6), IN_BYTES(12, NEW_EPC)),
    AGAIN(ZRSetEpcCode, ZR_ERR_ADDRESS, SESSION, INT(4), IN_BYTES(4, PASSWORD), INT(14), INT(6), IN_BYTES(12, NEW_EPC)),

    /* Selection: tag 2 by identifier (the password commands then reach tag 2), tag 1 by the
     * first 4 bytes of its new EPC, then none. */
    ROW(ZRSelectTag, ZR_OK, SESSION, INT(0x0B), INT(1), INT(8), IN_BYTES(8, ID2)),
    AGAIN(ZRReadUserDataEPC, ZR_OK, SESSION, IN_BYTES(4, PASSWORD), INT(1), INT(1), INT(9),
          OUT_BYTES_IS(8, "\x00\x05\x84\x00\x01\x22\x23\xA5")),
    ROW(ZRSelectTagEPC, ZR_OK, SESSION, INT(0x0C), INT(1), INT(0), IN_BYTES(4, NEW_EPC), LEN(4, 251, ZR_ERR_ARGUMENT)),
    AGAIN(ZRReadUserDataEPC, ZR_OK, SESSION, IN_BYTES(4, PASSWORD), INT(1), INT(1), INT(9),
          OUT_BYTES_IS(8, "\x00\x05\x84\x00\x01\x12\x13\xA5")),
    AGAIN(ZRSelectTagEPC, 3002, SESSION, INT(0x0C), INT(1), INT(0), IN_BYTES(5, "\x30\x08\x33\xB2\xEE"), INT(5)),
    AGAIN(ZRSelectTag, ZR_OK, SESSION, INT(0x0B), INT(0), INT(8), IN_BYTES(8, ID2)),

    /* The tag parameter area: 5 bytes at 0x20, read back from 0x1E. */
    ROW(ZRTagFastSet, ZR_OK, SESSION, INT(0x20), LEN(5, 252, ZR_ERR_ARGUMENT), IN_BYTES(5, "\x61\x62\x63\x64\x65")),
    AGAIN(ZRTagFastSet, ZR_ERR_ARGUMENT, SESSION, INT(0x20), INT(-1), IN_BYTES(5, "\x61\x62\x63\x64\x65")),
    ROW(ZRTagQuery, ZR_OK, SESSION, INT(0x1E), LEN(9, 253, ZR_ERR_ARGUMENT),
        OUT_BYTES_IS(10, "\x00\x00\x61\x62\x63\x64\x65\x00\x00\xA5")),
    ROW(ZRSetReadCfg, ZR_OK, SESSION, INT(3), INT(2)),
    AGAIN(ZRSetReadCfg, ZR_ERR_PARAMETER, SESSION, INT(2), INT(3)),

    /* Power and I/O: the power bytes set and read back (4 bytes asked, 2 carried). */
    ROW(ZRPowerOn, ZR_OK, SESSION, INT(0x1C)),
    ROW(ZRPowerSet, ZR_OK, SESSION, INT(0x77), LEN(2, 53, ZR_ERR_TOO_LONG), INT(0x1A), INT(0x19)),
    ROW(ZRPowerQuery, ZR_OK, SESSION, INT(0x66), LEN(4, 53, ZR_ERR_TOO_LONG), OUT_BYTES_IS(5, "\x1A\x19\x00\x00\xA5")),
    ROW(ZRIOControlSet, ZR_OK, SESSION, INT(7), INT(0x3C)),
    ROW(ZRIOControlQuery, ZR_OK, SESSION, INT(7), INT(0x3D)),

    /* The system area: the MAC written and read back as the raw frame of a length-0 query;
     * the frequency table; one byte per frame into it (serial only: 0 over TCP); the network
     * block written and read back with the block written after it. */
    ROW(ZRMACSet, ZR_OK, SESSION, INT(0x44), LEN(6, 53, ZR_ERR_TOO_LONG), IN_BYTES(6, "\x02\x11\x22\x33\x44\x55")),
    AGAIN(ZRMACSet, ZR_ERR_ARGUMENT, SESSION, INT(0x44), INT(-1), IN_BYTES(6, "\x02\x11\x22\x33\x44\x55")),
    ROW(ZRFreqQuery, ZR_OK, SESSION, INT(5), LEN(7, 53, ZR_ERR_TOO_LONG),
        OUT_BYTES_IS(10, "\x00\x08\x62\x00\x02\x11\x22\x33\x44\x55")),
    AGAIN(ZRFreqQuery, ZR_OK, SESSION, INT(0x40), INT(0), OUT_BYTES_IS(55, FREQ_FRAME "\xA5")),
    ROW(ZRSysSet, BY_LINK(0, ZR_OK), SESSION, INT(0x41), LEN(2, 53, ZR_ERR_TOO_LONG), IN_BYTES(2, "\x2F\x0E")),
    AGAIN(ZRSysSet, 0, SESSION, INT(0x41), INT(0), IN_BYTES(2, "\x2F\x0E")),
    ROW(ZRNetAddrSet, ZR_OK, SESSION_X(0), INT(0x45), STR_X(NET_SECTION, 0), STR_X("10.1.2.3", 0),
        STR_X("255.255.0.0", 0), STR_X("10.1.0.254", 0)),
    AGAIN(ZRNetAddrSet, 0, SESSION, INT(0x45), STR(NET_SECTION), STR("10.1.2.300"), STR("255.255.0.0"), STR("10.1.0.254")),
    AGAIN(ZRNetAddrSet, 0, SESSION, INT(0x45), STR("network]"), STR("10.1.2.3"), STR("255.255.0.0"), STR("10.1.0.254")),
    ROW(ZRSysFastSet, ZR_OK, SESSION, INT(0x12), LEN(3, 53, ZR_ERR_TOO_LONG), IN_BYTES(3, "\x7A\x7B\x7C")),
    AGAIN(ZRSysFastSet, 3004, SESSION, INT(0x21), INT(1), IN_BYTES(1, "\x09")), /* read-only: locked */
    AGAIN(ZRSysFastSet, ZR_ERR_ARGUMENT, SESSION, INT(0x12), INT(-1), IN_BYTES(3, "\x7A\x7B\x7C")),
    ROW(ZRSysQuery, ZR_OK, SESSION, INT(6), LEN(15, 53, ZR_ERR_TOO_LONG),
        OUT_BYTES_IS(16, "\x0A\x01\x02\x03\xFF\xFF\x00\x00\x0A\x01\x00\xFE\x7A\x7B\x7C\xA5")),

    /* Device class, test mode, interference. In class 1 the interference commands go out
     * under other codes, which this class 3 reader does not know (status 01; over TCP its
     * short answer is no valid reply). */
    ROW(ZRGetDeviceClass, ZR_OK, SESSION, OUT_BYTES_IS(5, "\x03\x00\x00\x00\xA5")),
    ROW_AS(ZRTestModeSet, "_ZRTestModeSet@8", ZR_OK, SESSION, INT(3)),
    AGAIN_AS(ZRTestModeSet, "_ZRTestModeSet@8", ZR_ERR_PARAMETER, SESSION, INT(5)),
    ROW(ZRSetInterfere, ZR_OK, SESSION, IN_BYTES(2, "\x5A\xC3")),
    ROW(ZRGetInterfere, ZR_OK, SESSION, OUT_BYTES_IS(3, "\x5A\xC3\xA5")),
    AGAIN(ZRSetDeviceClass, ZR_OK, INT(9), INT(1)),
    AGAIN(ZRGetInterfere, BY_LINK(ZR_ERR_NO_REPLY, 1001), SESSION, OUT_BYTES_IS(3, "\xA5\xA5\xA5")),
    AGAIN(ZRReadUserData, ZR_ERR_UNKNOWN_STATUS, SESSION, INT(1), INT(5), INT(6),
          IN_BYTES(8, "\xE2\x00\x34\x12\x01\x02\x03\x04"), OUT_BYTES_IS(4, UNTOUCHED4)),
    AGAIN(ZRSetDeviceClass, ZR_OK, INT(9), INT(3)),
    ROW(ZRCloseInterfere, ZR_OK, SESSION),
    AGAIN(ZRGetInterfere, ZR_OK, SESSION, OUT_BYTES_IS(3, "\x00\x00\xA5")),

    /* Clock and state. The state bytes: RF on, test mode, interference active, fixed
     * number, tags in the field, 0. */
    ROW(ZREpcPrintPowerOs, ZR_OK, SESSION, INT(0x21)),
    ROW(ZRSetReaderfixNO, ZR_OK, SESSION, INT(0x37)),
    ROW(ZRGetReaderfixNO, ZR_OK, SESSION, OUT_BYTES_IS_X(4, UNTOUCHED4, ZR_OK)), /* may be NULL */
    ROW(ZRSetReaderTime, ZR_OK, SESSION, INT(0x5A), IN_BYTES(6, "\x1A\x0C\x1F\x17\x3B\x3A")),
    AGAIN(ZRSetReaderTime, 1002, SESSION, INT(0x5A), IN_BYTES(6, "\x1A\x0D\x01\x00\x00\x00")), /* month 13 */
    ROW(ZRGetReaderState, ZR_OK, SESSION, INT(0x42), OUT_BYTES_IS(7, "\x01\x03\x00\x37\x03\x00\xA5")),

    /* Locks: tag 2 bytes 48..51; address + length above 224 is refused before anything is
     * sent. */
    ROW(ZRLockUserData, ZR_OK, SESSION, INT(48), INT(0x0D), IN_BYTES(8, ID2), INT(4)),
    AGAIN(ZRLockUserData, ZR_ERR_RANGE, SESSION, INT(200), INT(0x0D), IN_BYTES(8, ID2), INT(25)),

    /* Passwords and kill on tag 3, selected: its visit password set (the old one no longer
     * passes), its destroy password set under it, its visit password region locked (so the
     * password cannot change again), then the tag destroyed with its destroy password. */
    AGAIN(ZRSelectTag, ZR_OK, SESSION, INT(0x0B), INT(1), INT(0), IN_BYTES(8, ID3)),
    ROW(ZRSetVisitPWD, ZR_OK, SESSION, INT(0x0E), IN_BYTES(4, PASSWORD), IN_BYTES(4, VISIT)),
    AGAIN(ZRSetVisitPWD, 3003, SESSION, INT(0x0E), IN_BYTES(4, PASSWORD), IN_BYTES(4, "\x55\x66\x77\x88")),
    ROW(ZRSetDestroyPWD, ZR_OK, SESSION, INT(0x0F), IN_BYTES(4, VISIT), IN_BYTES(4, DESTROY)),
    ROW(ZRSetDataLocked, ZR_OK, SESSION, INT(0x10), IN_BYTES(4, VISIT), INT(1), INT(0)),
    AGAIN(ZRSetDataLocked, ZR_ERR_PARAMETER, SESSION, INT(0x10), IN_BYTES(4, VISIT), INT(2), INT(0)),
    AGAIN(ZRSetDataLocked, ZR_ERR_PARAMETER, SESSION, INT(0x10), IN_BYTES(4, VISIT), INT(0), INT(6)),
    AGAIN(ZRSetVisitPWD, 3004, SESSION, INT(0x0E), IN_BYTES(4, VISIT), IN_BYTES(4, "\x55\x66\x77\x88")),
    AGAIN(ZRSetDestroyTag, 3003, SESSION, INT(0x11), IN_BYTES(4, VISIT), INT(1), IN_BYTES(2, "\x12\x34")),
    ROW(ZRSetDestroyTag, ZR_OK, SESSION, INT(0x11), IN_BYTES(4, DESTROY), LEN(1, 125, ZR_ERR_ARGUMENT),
        IN_BYTES(2, "\x12\x34")),
    AGAIN(ZRSelectTag, ZR_OK, SESSION, INT(0x0B), INT(0), INT(0), IN_BYTES(8, ID3)),
    ROW(ZRPowerOff, ZR_OK, SESSION),
    AGAIN(ZRGetReaderState, ZR_OK, SESSION, INT(0x43), OUT_BYTES_IS(7, "\x00\x03\x00\x37\x02\x00\xA5")),

    /* Reply timing: fixed until set; in whole timing a query and a reset answer as in fixed;
     * a mode the library does not know is refused and changes nothing. Back to fixed after. */
    ROW(ZRGetReplyTiming, ZR_REPLY_TIMING_FIXED, SESSION),
    ROW(ZRSetReplyTiming, ZR_OK, SESSION, INT(ZR_REPLY_TIMING_WHOLE)),
    AGAIN(ZRGetReplyTiming, ZR_REPLY_TIMING_WHOLE, SESSION),
    AGAIN(ZRSetReplyTiming, ZR_ERR_ARGUMENT, SESSION, INT(7)),
    AGAIN(ZRGetReplyTiming, ZR_REPLY_TIMING_WHOLE, SESSION),
    AGAIN(ZRTagQuery, ZR_OK, SESSION, INT(0x20), INT(5), OUT_BYTES_IS(6, "\x61\x62\x63\x64\x65\xA5")),
    AGAIN(ZRReset, ZR_OK, SESSION),
    AGAIN(ZRSetReplyTiming, ZR_OK, SESSION, INT(ZR_REPLY_TIMING_FIXED)),
    AGAIN(ZRGetReplyTiming, ZR_REPLY_TIMING_FIXED, SESSION),

    ROW(ZRClose, ZR_OK, SESSION_VAR),
    AGAIN(ZRClose, ZR_ERR_NO_SESSION, SESSION_VAR),
    AGAIN(ZRClose, ZR_ERR_NO_SESSION, VAR(-1)),
    AGAIN(ZRClose, ZR_ERR_NO_SESSION, VAR(23130)),
    /* A section asking for whole timing opens in it (the port is free again). */
    AGAIN(ZROpen, ZR_OK, SESSION_VAR, INI, WHOLE_SECTION),
    AGAIN(ZRGetReplyTiming, ZR_REPLY_TIMING_WHOLE, SESSION),
    AGAIN(ZRReset, ZR_OK, SESSION),
    AGAIN(ZRClose, ZR_OK, SESSION_VAR),
    AGAIN(ZRReset, ZR_ERR_NO_SESSION, SESSION),
};

/* ---- Running the table ----------------------------------------------------------------- */

static const int unknown_handles[] = {0, 23130};

#define AWAIT_PAUSE_MS 10
#define AWAIT_CALLS 300

typedef struct {
    Library lib;
    const char* ini;
    const char* section;
    int serial;       /* the session runs over the serial link */
    int sessions[2];  /* SESSION_VAR, SECOND_VAR */
    int failures;
    char whole_section[256];  /* WHOLE_SECTION */
} Run;

static const char* export_name(const Row* row) {
    return ON_WINDOWS && row->export_name ? row->export_name : row->name;
}

static int arg_count(const Row* row) {
    int n = 0;
    while (n < MAX_ARGS && row->args[n].kind != K_END) ++n;
    return n;
}

static int expected_code(const Run* run, const Expect* e) {
    return e->by_link && run->serial ? e->serial_code : e->code;
}

/* A call's line is put together here; an AWAIT call that is made again is never printed. */
static char line[8192];
static size_t line_used;

static void put(const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = vsnprintf(line + line_used, sizeof line - line_used, format, args);
    va_end(args);
    if (n > 0) line_used += (size_t)n;
    if (line_used >= sizeof line) line_used = sizeof line - 1;
}

static void put_hex(const unsigned char* p, int n) {
    for (int i = 0; i < n; ++i) put("%02X", p[i]);
}

static void print_line(void) {
    fputs(line, stdout);
    fflush(stdout);  /* a crash inside the next call still shows the lines before it */
    line_used = 0;
    line[0] = '\0';
}

/* One call. `nulled` is the argument passed as NULL (-1: none); `bad` the argument given
 * the value `bad_value` (a handle or a length); `expect` the result it must give (and
 * `expect_text` the text, when not NULL). With `quiet_unless_expected` a call that gives
 * another result is neither printed nor counted. Returns whether the result was expected. */
static int call_once(Run* run, const Row* row, void* function, int nulled, int bad, int bad_value, int expect,
                     const char* expect_text, int quiet_unless_expected) {
    static unsigned char buffers[MAX_ARGS][BUFFER_SIZE];
    Slot slots[MAX_ARGS];
    int vars[MAX_ARGS];
    int n = arg_count(row);
    memset(slots, 0, sizeof slots);

    put("%s(", row->name);
    for (int k = 0; k < n; ++k) {
        const Arg* a = &row->args[k];
        if (k > 0) put(", ");
        if (k == nulled) {
            slots[k].p = NULL;
            put("NULL");
            continue;
        }
        switch (a->kind) {
            case K_HANDLE:
                slots[k].i = k == bad ? bad_value : run->sessions[0];
                if (k == bad) put("%d", bad_value);
                else put("h");
                break;
            case K_INT:
                slots[k].i = a->value;
                put("%d", a->value);
                break;
            case K_LEN:
                slots[k].i = k == bad ? bad_value : a->value;
                put("%d", slots[k].i);
                break;
            case K_IN:
                memset(buffers[k], 0, BUFFER_SIZE);
                memcpy(buffers[k], a->data, (size_t)a->value);
                slots[k].p = buffers[k];
                put("in:");
                put_hex(buffers[k], a->value);
                break;
            case K_OUT:
                memset(buffers[k], FILL, BUFFER_SIZE);
                slots[k].p = buffers[k];
                put("out[%d]", a->value);
                break;
            case K_TEXT:
                slots[k].p = (void*)a->data;
                if (strlen(a->data) > 40) put("\"%.8s...\"[%u]", a->data, (unsigned)strlen(a->data));
                else put("\"%s\"", a->data);
                break;
            case K_SESSION_VAR:
                slots[k].p = &run->sessions[a->value];
                put("&%s=%d", a->value ? "second" : "session", run->sessions[a->value]);
                break;
            case K_VAR:
                vars[k] = a->value;
                slots[k].p = &vars[k];
                put("&var=%d", a->value);
                break;
            case K_INI:
                slots[k].p = (void*)run->ini;
                put("ini");
                break;
            case K_SECTION:
                slots[k].p = (void*)(a->value ? run->whole_section : run->section);
                put("\"%s\"", (const char*)slots[k].p);
                break;
            case K_END:
                break;
        }
    }
    if (!quiet_unless_expected) print_line();

    Result r = row->call(function, slots);

    int as_expected = r.is_text ? !expect_text || (r.text && strcmp(r.text, expect_text) == 0)
                                : expect == ANY || r.code == expect;
    if (quiet_unless_expected && !as_expected) {
        line_used = 0;
        line[0] = '\0';
        return 0;
    }
    if (r.is_text) {
        put(") = ");
        if (r.text) {
            put("\"");
            put_hex((const unsigned char*)r.text, (int)strlen(r.text));
            put("\"");
        } else {
            put("NULL");
        }
    } else {
        put(") = %d", r.code);
    }
    for (int k = 0; k < n; ++k) {
        const Arg* a = &row->args[k];
        if (k == nulled) continue;
        if (a->kind == K_OUT) {
            put(" out%d=", k);
            put_hex(buffers[k], a->value);
        } else if (a->kind == K_VAR) {
            put(" var=%d", vars[k]);
        } else if (a->kind == K_SESSION_VAR) {
            put(" %s=%d", a->value ? "second" : "session", run->sessions[a->value]);
        }
    }
    if (!as_expected) {
        if (r.is_text) {
            put("  <-- expected \"");
            put_hex((const unsigned char*)expect_text, (int)strlen(expect_text));
            put("\"");
        } else {
            put("  <-- expected %d", expect);
        }
        ++run->failures;
    }
    for (int k = 0; k < n && nulled < 0 && bad < 0; ++k) {
        const Arg* a = &row->args[k];
        if (a->kind != K_OUT || !a->data || memcmp(buffers[k], a->data, (size_t)a->value) == 0) continue;
        put("  <-- expected out%d=", k);
        put_hex((const unsigned char*)a->data, a->value);
        ++run->failures;
    }
    put("\n");
    print_line();
    return as_expected;
}

static void run_row(Run* run, const Row* row) {
    void* function = library_symbol(run->lib, export_name(row));
    if (!function) {
        printf("%s missing\n", export_name(row));
        ++run->failures;
        return;
    }
    int n = arg_count(row);
    if (row->bad_inputs) {
        for (int k = 0; k < n; ++k) {
            const Arg* a = &row->args[k];
            switch (a->kind) {
                case K_HANDLE:
                    call_once(run, row, function, -1, k, -1, a->bad_expect, NULL, 0);
                    for (size_t u = 0; u < sizeof unknown_handles / sizeof unknown_handles[0]; ++u)
                        call_once(run, row, function, -1, k, unknown_handles[u], a->bad_expect, NULL, 0);
                    break;
                case K_LEN:
                    call_once(run, row, function, -1, k, a->bad, a->bad_expect, NULL, 0);
                    break;
                case K_IN:
                case K_OUT:
                case K_TEXT:
                case K_SESSION_VAR:
                case K_VAR:
                case K_INI:
                case K_SECTION:
                    call_once(run, row, function, k, -1, 0, a->bad_expect, NULL, 0);
                    break;
                default:
                    break;
            }
        }
    }
    const int expect = expected_code(run, &row->expect);
    for (int attempt = 1; row->await && attempt < AWAIT_CALLS; ++attempt) {
        if (call_once(run, row, function, -1, -1, 0, expect, row->expect.text, 1)) return;
        pause_ms(AWAIT_PAUSE_MS);
    }
    call_once(run, row, function, -1, -1, 0, expect, row->expect.text, 0);
}

/* ---- Two threads ------------------------------------------------------------------------ */

/* Two threads make the same calls at once on one session (over TCP also one each on two
 * sessions): calls on one handle take turns, so each must get the whole reply to its own
 * request. Both threads send the same requests, so zrsim gets the same list in any order
 * they run in, and the lines printed are the same on every run. */
#define THREAD_CALLS 6
#define THREAD_AREA 0x90
static const unsigned char thread_bytes[8] = {0x7E, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x81};
typedef int(ZR_CALL* OpenFn)(int*, const char*, const char*);
typedef int(ZR_CALL* CloseFn)(int*);
typedef int(ZR_CALL* FastSetFn)(int, int, int, const unsigned char*);
typedef int(ZR_CALL* QueryFn)(int, int, int, unsigned char*);

typedef struct {
    QueryFn query;
    int handle;
    int good; /* calls that gave 1 and the bytes written */
} Worker;

static void work(Worker* w) {
    for (int i = 0; i < THREAD_CALLS; ++i) {
        unsigned char got[sizeof thread_bytes];
        memset(got, 0xA5, sizeof got);
        if (w->query(w->handle, THREAD_AREA, (int)sizeof got, got) == 1 && !memcmp(got, thread_bytes, sizeof got))
            ++w->good;
    }
}

#ifdef _WIN32
static DWORD WINAPI worker_main(LPVOID w) {
    work((Worker*)w);
    return 0;
}
static int run_pair(Worker* a, Worker* b) { /* 0 when no second thread could start */
    HANDLE t = CreateThread(NULL, 0, worker_main, b, 0, NULL);
    if (!t) return 0;
    work(a);
    WaitForSingleObject(t, INFINITE);
    CloseHandle(t);
    return 1;
}
#else
static void* worker_main(void* w) {
    work((Worker*)w);
    return NULL;
}
static int run_pair(Worker* a, Worker* b) {
    pthread_t t;
    if (pthread_create(&t, NULL, worker_main, b) != 0) return 0;
    work(a);
    pthread_join(t, NULL);
    return 1;
}
#endif

static void two_threads(Run* run) {
    OpenFn open = (OpenFn)library_symbol(run->lib, "ZROpen");
    CloseFn close = (CloseFn)library_symbol(run->lib, "ZRClose");
    FastSetFn fast_set = (FastSetFn)library_symbol(run->lib, "ZRTagFastSet");
    QueryFn query = (QueryFn)library_symbol(run->lib, "ZRTagQuery");
    if (!open || !close || !fast_set || !query) return; /* already reported missing */
    /* A serial port is held by one session; TCP takes a second connection. */
    const int sessions = run->serial ? 1 : 2;
    int h[2] = {-1, -1};
    for (int s = 0; s < sessions; ++s) {
        int r = open(&h[s], run->ini, run->section);
        printf("threads: ZROpen = %d%s\n", r, r == 1 ? "" : " <-- expected 1");
        if (r != 1) ++run->failures;
    }
    int r = fast_set(h[0], THREAD_AREA, (int)sizeof thread_bytes, thread_bytes);
    printf("threads: ZRTagFastSet = %d%s\n", r, r == 1 ? "" : " <-- expected 1");
    if (r != 1) ++run->failures;
    for (int s = 0; s < sessions; ++s) {
        Worker a = {query, h[0], 0}, b = {query, h[s], 0};
        const int ran = run_pair(&a, &b);
        const int ok = ran && a.good == THREAD_CALLS && b.good == THREAD_CALLS;
        printf("threads: %s: %d and %d of %d ZRTagQuery calls gave 1 and the bytes written%s\n",
               s ? "two sessions" : "one session", a.good, b.good, THREAD_CALLS,
               ok ? "" : ran ? " <-- expected all" : " <-- no second thread");
        if (!ok) ++run->failures;
    }
    for (int s = 0; s < sessions; ++s) {
        r = close(&h[s]);
        printf("threads: ZRClose = %d%s\n", r, r == 1 ? "" : " <-- expected 1");
        if (r != 1) ++run->failures;
    }
}

static int list_exports(void) {
    const char* seen[sizeof table / sizeof table[0]];
    size_t count = 0;
    for (size_t i = 0; i < sizeof table / sizeof table[0]; ++i) {
        const char* name = table[i].export_name ? table[i].export_name : table[i].name;
        size_t j = 0;
        while (j < count && strcmp(seen[j], name) != 0) ++j;
        if (j == count) {
            seen[count++] = name;
            printf("%s\n", name);
        }
    }
    return 0;
}

#ifdef _WIN32
/* The start-up failure message (string resource 1) and the version's product name. */
static int check_resources(const char* path) {
    static const wchar_t expected[] = L"Windows \u901a\u4fe1\u7aef\u53e3\u521d\u59cb\u5316\u5931\u8d25\u3002";
    HMODULE lib = LoadLibraryA(path);
    if (!lib) {
        printf("resources: cannot load %s\n", path);
        return 1;
    }
    int failures = 0;
    wchar_t text[128] = {0};
    int n = LoadStringW(lib, 1, text, (int)(sizeof text / sizeof text[0]));
    if (n != (int)(sizeof expected / sizeof expected[0]) - 1 || wcscmp(text, expected) != 0) {
        printf("resources: string 1 is not the start-up failure message (%d characters)\n", n);
        ++failures;
    }
    /* The version block holds "ProductName" then its value, both UTF-16, 32-bit aligned. */
    HRSRC info = FindResourceW(lib, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));
    HGLOBAL loaded = info ? LoadResource(lib, info) : NULL;
    const unsigned char* block = loaded ? (const unsigned char*)LockResource(loaded) : NULL;
    DWORD size = info ? SizeofResource(lib, info) : 0;
    static const wchar_t key[] = L"ProductName";
    int product_ok = 0;
    for (DWORD at = 0; block && at + sizeof key + 8 <= size; at += 2) {
        if (memcmp(block + at, key, sizeof key) != 0) continue;
        DWORD value = (at + (DWORD)sizeof key + 3) & ~3u;
        product_ok = value + 6 <= size && memcmp(block + value, L"zr", 6) == 0;
        break;
    }
    if (!product_ok) {
        printf("resources: no version information with product name \"zr\"\n");
        ++failures;
    }
    /* The fixed part (signature FEEF04BD, then the struct version, then the file version as
     * two DWORDs): the file version must be zr.h's. */
    int version_ok = 0;
    for (DWORD at = 0; block && at + 16 <= size; at += 4) {
        DWORD w[4];
        memcpy(w, block + at, sizeof w);
        if (w[0] != 0xFEEF04BDu) continue;
        version_ok = w[2] == ((DWORD)ZR_VERSION_MAJOR << 16 | ZR_VERSION_MINOR) &&
                     w[3] >> 16 == ZR_VERSION_PATCH;
        break;
    }
    if (!version_ok) {
        printf("resources: the file version is not %s\n", ZR_VERSION_STRING);
        ++failures;
    }
    FreeLibrary(lib);
    if (!failures) printf("resources: ok\n");
    return failures ? 1 : 0;
}
#endif

int main(int argc, char** argv) {
    if (argc == 2 && strcmp(argv[1], "--list") == 0) return list_exports();
#ifdef _WIN32
    if (argc == 3 && strcmp(argv[1], "--resources") == 0) return check_resources(argv[2]);
#endif
    if (argc != 4) {
        fprintf(stderr, "usage: %s LIBRARY INI LINK\n       %s --list\n", argv[0], argv[0]);
        return 2;
    }
    Run run = {NULL, argv[2], argv[3], strcmp(argv[3], "serial") == 0, {-1, -1}, 0, ""};
    snprintf(run.whole_section, sizeof run.whole_section, "%s whole", argv[3]);
    run.lib = library_open(argv[1]);
    if (!run.lib) {
        printf("cannot load %s\n", argv[1]);
        return 1;
    }
    for (size_t i = 0; i < sizeof table / sizeof table[0]; ++i) run_row(&run, &table[i]);
    two_threads(&run);
    printf("%d failed checks\n", run.failures);
    return run.failures ? 1 : 0;
}
