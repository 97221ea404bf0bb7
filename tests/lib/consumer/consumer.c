/* Enlarges one BGRX pixel 2x and 4x: the frames are copies of it with its luma tag. */
#include <crestdoubler.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char **argv) {
    const unsigned char in[4] = {10, 20, 30, 99};
    unsigned char out[64];
    const int rc = crestdoubler_enlarge(in, 1, 1, 4, out, 8, CRESTDOUBLER_BGRX, 0);
    if (rc != 0) {
        fprintf(stderr, "crestdoubler_enlarge: %s\n", crestdoubler_strerror(rc));
        return 1;
    }
    /* (77 * 30 + 150 * 20 + 29 * 10 + 128) >> 8 */
    const unsigned char expected[4] = {10, 20, 30, 22};
    for (int i = 0; i < 4; ++i)
        if (memcmp(out + 4 * i, expected, 4) != 0) return 2;
    if (crestdoubler_enlarge_pow2(in, 1, 1, 4, out, 16, CRESTDOUBLER_BGRX, 2, 0) != 0) return 4;
    for (int i = 0; i < 16; ++i)
        if (memcmp(out + 4 * i, expected, 4) != 0) return 5;
    if (argc > 1 && strcmp(argv[1], crestdoubler_version()) != 0) return 3;
    puts("ok");
    return 0;
}
