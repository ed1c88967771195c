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
 *    SESSION             the open session's handle
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
 *    Pointer kinds also take _X variants with the result a NULL must give, e.g. OUT_BYTES_X(4, -2).
 *    ROW also makes the bad-input calls, before the good one: SESSION as -1 and as handles
 *    that name no session (both must give -1); every pointer argument NULL in turn (-14
 *    unless the _X variant says otherwise); every LEN at its oversize value.
 *    AGAIN(...) is a further call of the same shape without the bad-input calls.
 *    ROW_AS(fn, "_Name@N", ...) for a function exported under a decorated name.
 * Rows run in table order against one simulator, so a report call can follow its start.
 * Every name in api/zr.def needs a row: run_wine_tests.sh fails on an export without one.
 * To try rows on Linux alone: tests/windows/run_wine_tests.sh --linux-only
 */
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <windows.h>
typedef HMODULE Library;
static Library library_open(const char* path) { return LoadLibraryA(path); }
static void* library_symbol(Library lib, const char* name) { return (void*)GetProcAddress(lib, name); }
#define ON_WINDOWS 1
#else
#include <dlfcn.h>
typedef void* Library;
static Library library_open(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }
static void* library_symbol(Library lib, const char* name) { return dlsym(lib, name); }
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

#define SESSION {K_HANDLE, 0, NULL, 0, 0}
#define INT(v) {K_INT, (v), NULL, 0, 0}
#define LEN(v, over, expect) {K_LEN, (v), NULL, (over), (expect)}
#define IN_BYTES(n, bytes) {K_IN, (n), (bytes), 0, ZR_ERR_ARGUMENT}
#define IN_BYTES_X(n, bytes, null_expect) {K_IN, (n), (bytes), 0, (null_expect)}
#define OUT_BYTES(n) {K_OUT, (n), NULL, 0, ZR_ERR_ARGUMENT}
#define OUT_BYTES_X(n, null_expect) {K_OUT, (n), NULL, 0, (null_expect)}
#define OUT_BYTES_IS(n, bytes) {K_OUT, (n), (bytes), 0, ZR_ERR_ARGUMENT}
#define STR(s) {K_TEXT, 0, (s), 0, ZR_ERR_ARGUMENT}
#define STR_X(s, null_expect) {K_TEXT, 0, (s), 0, (null_expect)}
#define SESSION_VAR {K_SESSION_VAR, 0, NULL, 0, ZR_ERR_ARGUMENT}
#define SECOND_VAR {K_SESSION_VAR, 1, NULL, 0, ZR_ERR_ARGUMENT}
#define VAR(v) {K_VAR, (v), NULL, 0, ZR_ERR_ARGUMENT}
#define INI {K_INI, 0, NULL, 0, ZR_ERR_ARGUMENT}
#define LINK_SECTION {K_SECTION, 0, NULL, 0, ZR_ERR_ARGUMENT}

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

typedef struct {
    const char* name;         /* the C name */
    const char* export_name;  /* the Windows export name when it differs, else NULL */
    Caller call;
    int bad_inputs;           /* also make the bad-input calls */
    int expect;
    Arg args[MAX_ARGS + 1];
} Row;

#define ROW(fn, expect, ...) {#fn, NULL, call_##fn, 1, (expect), {__VA_ARGS__}}
#define ROW_AS(fn, export_name, expect, ...) {#fn, export_name, call_##fn, 1, (expect), {__VA_ARGS__}}
#define AGAIN(fn, expect, ...) {#fn, NULL, call_##fn, 0, (expect), {__VA_ARGS__}}
#define AGAIN_AS(fn, export_name, expect, ...) {#fn, export_name, call_##fn, 0, (expect), {__VA_ARGS__}}

/* Text far longer than any name or path the library keeps: 4000 characters. */
#define TIMES10(s) s s s s s s s s s s
#define LONG_TEXT TIMES10(TIMES10(TIMES10("long")))

/* ---- Callers --------------------------------------------------------------------------- */

CALLS(ZROpen, P0, P1, P2)
CALLS(ZRClose, P0)
CALLS(ZRReset, I0)

/* ---- The table ------------------------------------------------------------------------- */

/* INI sections the driver writes besides "tcp" and "serial":
 *   udp      port type UDP                        empty    the three keys, all empty
 *   refused  TCP to an address nobody listens on  nocom    a serial port that does not exist */
static const Row table[] = {
    /* Sessions: the failures first, while the session variable still holds -1. */
    ROW(ZROpen, ZR_OK, SESSION_VAR, INI, LINK_SECTION),
    AGAIN(ZROpen, ZR_ERR_ALREADY_OPEN, SESSION_VAR, INI, LINK_SECTION),
    AGAIN(ZROpen, ZR_ERR_ALREADY_OPEN, VAR(0), INI, LINK_SECTION),
    AGAIN(ZROpen, 0, VAR(-1), INI, STR("udp")),
    AGAIN(ZROpen, ZR_ERR_CONFIG, VAR(-1), INI, STR("empty")),
    AGAIN(ZROpen, 0, VAR(-1), INI, STR("no such section")), /* missing keys read as "0" */
    AGAIN(ZROpen, ZR_ERR_CONNECT, VAR(-1), INI, STR("refused")),
    AGAIN(ZROpen, ZR_ERR_OPEN_PORT, VAR(-1), INI, STR("nocom")),
    AGAIN(ZROpen, 0, VAR(-1), INI, STR(LONG_TEXT)),
    AGAIN(ZROpen, 0, VAR(-1), STR(LONG_TEXT), LINK_SECTION),
    /* A second session on the same link: over TCP another connection (1), while a serial
     * port is held exclusively (-13; the driver checks that line). */
    AGAIN(ZROpen, ANY, SECOND_VAR, INI, LINK_SECTION),
    AGAIN(ZRClose, ANY, SECOND_VAR),

    ROW(ZRReset, ZR_OK, SESSION),
    AGAIN(ZRReset, ZR_OK, SESSION),

    /* Commands: one ROW per function, AGAIN rows for further calls. */

    ROW(ZRClose, ZR_OK, SESSION_VAR),
    AGAIN(ZRClose, ZR_ERR_NO_SESSION, SESSION_VAR),
    AGAIN(ZRClose, ZR_ERR_NO_SESSION, VAR(-1)),
    AGAIN(ZRClose, ZR_ERR_NO_SESSION, VAR(23130)),
    AGAIN(ZRReset, ZR_ERR_NO_SESSION, SESSION),
};

/* ---- Running the table ----------------------------------------------------------------- */

static const int unknown_handles[] = {0, 23130};

typedef struct {
    Library lib;
    const char* ini;
    const char* section;
    int sessions[2];  /* SESSION_VAR, SECOND_VAR */
    int failures;
} Run;

static const char* export_name(const Row* row) {
    return ON_WINDOWS && row->export_name ? row->export_name : row->name;
}

static int arg_count(const Row* row) {
    int n = 0;
    while (n < MAX_ARGS && row->args[n].kind != K_END) ++n;
    return n;
}

static void print_hex(const unsigned char* p, int n) {
    for (int i = 0; i < n; ++i) printf("%02X", p[i]);
}

/* One call. `nulled` is the argument passed as NULL (-1: none); `bad` the argument given
 * the value `bad_value` (a handle or a length); `expect` the result it must give. */
static void call_once(Run* run, const Row* row, void* function, int nulled, int bad, int bad_value, int expect) {
    static unsigned char buffers[MAX_ARGS][BUFFER_SIZE];
    Slot slots[MAX_ARGS];
    int vars[MAX_ARGS];
    int n = arg_count(row);
    memset(slots, 0, sizeof slots);

    printf("%s(", row->name);
    for (int k = 0; k < n; ++k) {
        const Arg* a = &row->args[k];
        if (k > 0) printf(", ");
        if (k == nulled) {
            slots[k].p = NULL;
            printf("NULL");
            continue;
        }
        switch (a->kind) {
            case K_HANDLE:
                slots[k].i = k == bad ? bad_value : run->sessions[0];
                if (k == bad) printf("%d", bad_value);
                else printf("h");
                break;
            case K_INT:
                slots[k].i = a->value;
                printf("%d", a->value);
                break;
            case K_LEN:
                slots[k].i = k == bad ? bad_value : a->value;
                printf("%d", slots[k].i);
                break;
            case K_IN:
                memset(buffers[k], 0, BUFFER_SIZE);
                memcpy(buffers[k], a->data, (size_t)a->value);
                slots[k].p = buffers[k];
                printf("in:");
                print_hex(buffers[k], a->value);
                break;
            case K_OUT:
                memset(buffers[k], FILL, BUFFER_SIZE);
                slots[k].p = buffers[k];
                printf("out[%d]", a->value);
                break;
            case K_TEXT:
                slots[k].p = (void*)a->data;
                if (strlen(a->data) > 40) printf("\"%.8s...\"[%u]", a->data, (unsigned)strlen(a->data));
                else printf("\"%s\"", a->data);
                break;
            case K_SESSION_VAR:
                slots[k].p = &run->sessions[a->value];
                printf("&%s=%d", a->value ? "second" : "session", run->sessions[a->value]);
                break;
            case K_VAR:
                vars[k] = a->value;
                slots[k].p = &vars[k];
                printf("&var=%d", a->value);
                break;
            case K_INI:
                slots[k].p = (void*)run->ini;
                printf("ini");
                break;
            case K_SECTION:
                slots[k].p = (void*)run->section;
                printf("\"%s\"", run->section);
                break;
            case K_END:
                break;
        }
    }
    fflush(stdout);  /* a crash inside the call still shows which call it was */

    Result r = row->call(function, slots);

    if (r.is_text) {
        printf(") = ");
        if (r.text) {
            printf("\"");
            print_hex((const unsigned char*)r.text, (int)strlen(r.text));
            printf("\"");
        } else {
            printf("NULL");
        }
    } else {
        printf(") = %d", r.code);
    }
    for (int k = 0; k < n; ++k) {
        const Arg* a = &row->args[k];
        if (k == nulled) continue;
        if (a->kind == K_OUT) {
            printf(" out%d=", k);
            print_hex(buffers[k], a->value);
        } else if (a->kind == K_VAR) {
            printf(" var=%d", vars[k]);
        } else if (a->kind == K_SESSION_VAR) {
            printf(" %s=%d", a->value ? "second" : "session", run->sessions[a->value]);
        }
    }
    if (!r.is_text && expect != ANY && r.code != expect) {
        printf("  <-- expected %d", expect);
        ++run->failures;
    }
    for (int k = 0; k < n && nulled < 0 && bad < 0; ++k) {
        const Arg* a = &row->args[k];
        if (a->kind != K_OUT || !a->data || memcmp(buffers[k], a->data, (size_t)a->value) == 0) continue;
        printf("  <-- expected out%d=", k);
        print_hex((const unsigned char*)a->data, a->value);
        ++run->failures;
    }
    printf("\n");
    fflush(stdout);
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
                    call_once(run, row, function, -1, k, -1, ZR_ERR_NO_SESSION);
                    for (size_t u = 0; u < sizeof unknown_handles / sizeof unknown_handles[0]; ++u)
                        call_once(run, row, function, -1, k, unknown_handles[u], ZR_ERR_NO_SESSION);
                    break;
                case K_LEN:
                    call_once(run, row, function, -1, k, a->bad, a->bad_expect);
                    break;
                case K_IN:
                case K_OUT:
                case K_TEXT:
                case K_SESSION_VAR:
                case K_VAR:
                case K_INI:
                case K_SECTION:
                    call_once(run, row, function, k, -1, 0, a->bad_expect);
                    break;
                default:
                    break;
            }
        }
    }
    call_once(run, row, function, -1, -1, 0, row->expect);
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
    Run run = {NULL, argv[2], argv[3], {-1, -1}, 0};
    run.lib = library_open(argv[1]);
    if (!run.lib) {
        printf("cannot load %s\n", argv[1]);
        return 1;
    }
    for (size_t i = 0; i < sizeof table / sizeof table[0]; ++i) run_row(&run, &table[i]);
    printf("%d failed checks\n", run.failures);
    return run.failures ? 1 : 0;
}
