/* Starts an EPC inventory and prints the EPC of every tag that reports.
 * An empty field is 0 tags (exit 0); a reader that does not answer at all is a failure (exit 1).
 * usage: zr_inventory_example FILE.ini SECTION */
#include <stdio.h>
#ifdef _WIN32
#include <windows.h>
#define pause_ms(ms) Sleep(ms)
#else
#include <time.h>
static void pause_ms(int ms) {
    struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&t, NULL);
}
#endif

#include "zr.h"

/* The reader's "no tag" status: 0x61 in device class 3 (3002), 0x91 in classes 1 and 2 (4002).
 * It is the reader's answer for an empty field. */
static int no_tag(int r) { return r == 3002 || r == 4002; }

int main(int argc, char** argv) {
    unsigned char report[256]; /* 254 bytes would do over serial, 98 over TCP */
    int handle = -1, r, tags = 0, idle = 0, answered = 0, waited = 0;
    if (argc != 3) {
        fprintf(stderr, "usage: %s FILE.ini SECTION\n", argv[0]);
        return 2;
    }
    r = ZROpen(&handle, argv[1], argv[2]);
    if (r != ZR_OK) {
        fprintf(stderr, "ZROpen: %s (%d %s)\n", ZRLastCause(), r, ZRResultText(r));
        return 1;
    }
    r = ZRIdentifyEpcCode(handle, 1, 0, 0);
    if (r <= 0) {
        fprintf(stderr, "ZRIdentifyEpcCode: %s (%d)\n", ZRLastCause(), r);
        ZRClose(&handle);
        return 1;
    }
    /* The reports come one per tag, or one "no tag" status for an empty field. A report call
     * returns 0 while nothing is waiting: the reader gets fifty calls 20 ms apart (a second or
     * more) for its first frame, then a few empty calls mean that no more will come. */
    for (;;) {
        r = ZREpcCodeReport(handle, report);
        if (r == 0) {
            if (answered ? ++idle >= 5 : ++waited >= 50) break;
            pause_ms(20);
            continue;
        }
        answered = 1;
        idle = 0;
        if (no_tag(r)) break; /* an empty field: the reader has nothing more to say */
        if (r != ZR_OK) {
            fprintf(stderr, "ZREpcCodeReport: %s (%d)\n", ZRLastCause(), r);
            ZRClose(&handle);
            return 1;
        }
        {
            int len = report[0] * 256 + report[1], i; /* EPC at report[4 .. len + 1] */
            printf("tag %d EPC:", ++tags);
            for (i = 4; i <= len + 1; ++i) printf(" %02X", report[i]);
            printf("\n");
        }
    }
    if (!answered) {
        fprintf(stderr, "the reader did not answer the inventory: no report at all%s%s\n",
                ZRLinkState(handle) == 0 ? "; " : "", ZRLinkState(handle) == 0 ? ZRLastCause() : "");
        ZRClose(&handle);
        return 1;
    }
    printf("%d tag(s)\n", tags);
    ZRClose(&handle);
    return 0;
}
