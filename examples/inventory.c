/* Starts an EPC inventory and prints the EPC of every tag that reports.
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

int main(int argc, char** argv) {
    unsigned char report[256]; /* 254 bytes would do over serial, 98 over TCP */
    int handle = -1, r, tags = 0, idle = 0;
    if (argc != 3) {
        fprintf(stderr, "usage: %s FILE.ini SECTION\n", argv[0]);
        return 2;
    }
    r = ZROpen(&handle, argv[1], argv[2]);
    if (r != ZR_OK) {
        fprintf(stderr, "ZROpen: %d\n", r);
        return 1;
    }
    r = ZRIdentifyEpcCode(handle, 1, 0, 0);
    if (r <= 0) {
        fprintf(stderr, "ZRIdentifyEpcCode: %d\n", r);
        ZRClose(&handle);
        return 1;
    }
    /* The reports come one per tag. A report call returns 0 while nothing is waiting: give
     * the reader a little time before concluding that no more will come. */
    while (idle < 5) {
        r = ZREpcCodeReport(handle, report);
        if (r == 0) {
            ++idle;
            pause_ms(20);
            continue;
        }
        idle = 0;
        if (r != ZR_OK) {
            printf("reader status: %d\n", r); /* for example no tag in the field */
            continue;
        }
        {
            int len = report[0] * 256 + report[1], i; /* EPC at report[4 .. len + 1] */
            printf("tag %d EPC:", ++tags);
            for (i = 4; i <= len + 1; ++i) printf(" %02X", report[i]);
            printf("\n");
        }
    }
    printf("%d tag(s)\n", tags);
    ZRClose(&handle);
    return 0;
}
