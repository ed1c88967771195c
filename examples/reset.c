/* Opens a session from an INI file, resets the reader, prints the result and closes.
 * usage: zr_example FILE.ini SECTION */
#include <stdio.h>

#include "zr.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s FILE.ini SECTION\n", argv[0]);
        return 2;
    }
    int handle = -1;
    int r = ZROpen(&handle, argv[1], argv[2]);
    printf("ZROpen: %d\n", r);
    if (r != ZR_OK) return 1;
    r = ZRReset(handle);
    printf("ZRReset: %d\n", r);
    printf("ZRClose: %d\n", ZRClose(&handle));
    return r == ZR_OK ? 0 : 1;
}
