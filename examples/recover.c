/* Takes EPC inventories in a loop and rides out a reader that goes away: when the link is
 * lost it says why, reopens the link under the same handle (waiting 0.2 s, then twice as long
 * after each failed try, at most 2 s) and goes on once the reader is back.
 * usage: zr_recover_example FILE.ini SECTION [ROUNDS]   (default 10 rounds; 0: no end) */
#include <stdio.h>
#include <stdlib.h>
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

/* One inventory: the number of tags that reported, or -1 when it could not be started. */
static int inventory(int handle) {
    unsigned char report[256];
    int r, tags = 0, idle = 0;
    if (ZRIdentifyEpcCode(handle, 1, 0, 0) <= 0) return -1;
    while (idle < 3) {
        r = ZREpcCodeReport(handle, report);
        if (r == 0) {
            ++idle;
            pause_ms(50);
            continue;
        }
        idle = 0;
        if (r == ZR_OK) ++tags;
    }
    return tags;
}

/* Reopens the link until it is back; 0 when it did not come back within `tries`. */
static int reconnect(int handle, int tries) {
    int wait = 200, r;
    while (tries-- > 0) {
        pause_ms(wait);
        r = ZRReconnect(handle);
        if (r == ZR_OK) return 1;
        /* The cause is this thread's, and only until its next call: print it now. */
        printf("  reconnect: %d (%s)\n", r, ZRLastCause());
        wait = wait * 2 > 2000 ? 2000 : wait * 2;
    }
    return 0;
}

int main(int argc, char** argv) {
    int handle = -1, r, round, tags;
    const int rounds = argc > 3 ? atoi(argv[3]) : 10;
    if (argc < 3 || argc > 4) {
        fprintf(stderr, "usage: %s FILE.ini SECTION [ROUNDS]\n", argv[0]);
        return 2;
    }
    r = ZROpen(&handle, argv[1], argv[2]);
    if (r != ZR_OK) {
        fprintf(stderr, "ZROpen: %d (%s)\n", r, ZRLastCause()); /* e.g. "connection refused by ..." */
        return 1;
    }
    for (round = 1; rounds == 0 || round <= rounds; ++round) {
        tags = inventory(handle);
        /* A lost link fails every call until it is reopened; tags counted as it went are kept. */
        if (ZRLinkState(handle) == 0) {
            printf("round %d: link lost (%s)\n", round, ZRLastCause());
            if (!reconnect(handle, 60)) {
                fprintf(stderr, "the reader did not come back\n");
                ZRClose(&handle);
                return 1;
            }
            printf("  reconnected\n");
            continue;
        }
        if (tags < 0)
            printf("round %d: not started (%s)\n", round, ZRLastCause());
        else
            printf("round %d: %d tag(s)\n", round, tags);
        pause_ms(200);
    }
    ZRClose(&handle);
    return 0;
}
