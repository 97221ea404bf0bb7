/*
 * crestdoubler: edge-preserving 2:1 image enlargement.
 *
 * One call enlarges one image to twice its width and twice its height, or,
 * doubling again and again, to 4, 8 ... times. The result is exact and
 * deterministic: the same words on every machine, for every thread count.
 *
 *     unsigned char *out = malloc((size_t)4 * w * 2 * h * 2);
 *     int rc = crestdoubler_enlarge(in, w, h, 4 * w, out, 8 * w, CRESTDOUBLER_RGBA, 0);
 *     if (rc < 0) fprintf(stderr, "%s\n", crestdoubler_strerror(rc));
 *
 * C99; no global state; every function may be called from many threads at once.
 */
#ifndef CRESTDOUBLER_H
#define CRESTDOUBLER_H

#include <stddef.h>

#if defined(__GNUC__)
#define CRESTDOUBLER_API __attribute__((visibility("default")))
#else
#define CRESTDOUBLER_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Pixel layouts, bytes in memory order. */
typedef enum {
    /* 4 bytes: blue, green, red, X. X is ignored on input; on output it holds
     * the 8-bit luma tag, so the words are exactly the video filter module's. */
    CRESTDOUBLER_BGRX,
    /* 4 bytes with alpha: colour enlarged as for BGRX, alpha enlarged as a grey
     * image of its own. */
    CRESTDOUBLER_BGRA,
    CRESTDOUBLER_RGBA,
    /* 3 bytes: the colour bytes of BGRX. */
    CRESTDOUBLER_BGR,
    CRESTDOUBLER_RGB,
    /* 1 byte: enlarged as a grey image (red = green = blue). */
    CRESTDOUBLER_GRAY
} crestdoubler_format;

/* Widest image a doubling takes: its result is at most twice as wide, 49152
 * columns. Heights are bounded only by int and the address range. */
#define CRESTDOUBLER_MAX_WIDTH 24576

/* Most doublings of one call: a single column doubled 15 times is the widest
 * result, 32768 columns; a 16th would pass CRESTDOUBLER_MAX_WIDTH. */
#define CRESTDOUBLER_MAX_PASSES 15

/* Results: 0 for success, these on failure. */
#define CRESTDOUBLER_OK 0
#define CRESTDOUBLER_ERROR_ARGUMENT (-1)  /* null pointer, size below 1, stride too small, unknown format,
                                             passes outside 1 to CRESTDOUBLER_MAX_PASSES */
#define CRESTDOUBLER_ERROR_TOO_LARGE (-2) /* wider than CRESTDOUBLER_MAX_WIDTH before the last doubling, or a
                                             size or stride beyond the addressable */
#define CRESTDOUBLER_ERROR_MEMORY (-3)    /* working memory could not be allocated */
#define CRESTDOUBLER_ERROR_INTERNAL (-4)  /* the engine refused a frame the checks let through: a fault of
                                             the library, worth reporting */

/*
 * Enlarges src (width x height pixels of `format`) into dst (2*width x
 * 2*height pixels of the same format). A stride is the distance in bytes
 * from the start of one row to the start of the next, at least the row's
 * bytes; a negative stride describes a bottom-up image, whose pointer then
 * addresses its top row, the last in memory. src and dst must not overlap.
 * threads: 0 uses one worker per core, n > 0 at most n; the result is the
 * same for every value. Returns 0, or a negative CRESTDOUBLER_ERROR_* code;
 * after a failure dst may hold partial output and must not be used.
 */
CRESTDOUBLER_API int crestdoubler_enlarge(const void *src, int width, int height, ptrdiff_t src_stride, void *dst,
                                          ptrdiff_t dst_stride, crestdoubler_format format, int threads);

/*
 * Enlarges src (width x height pixels of `format`) into dst (2^passes * width
 * x 2^passes * height pixels of the same format) by doubling `passes` times,
 * 1 to CRESTDOUBLER_MAX_PASSES: passes 2 gives 4x, 3 gives 8x. Each doubling
 * is exactly crestdoubler_enlarge of the previous one's result, so BGRX's
 * fourth byte holds the last doubling's luma tags. The image entering the last
 * doubling, 2^(passes-1) * width, must be at most CRESTDOUBLER_MAX_WIDTH wide.
 * The intermediate images are never held whole: each worker makes the rows
 * its strip of dst needs, so working memory stays some tens of megabytes per
 * worker whatever the size. Strides, threads, results: as crestdoubler_enlarge,
 * which is this call with passes 1.
 */
CRESTDOUBLER_API int crestdoubler_enlarge_pow2(const void *src, int width, int height, ptrdiff_t src_stride,
                                               void *dst, ptrdiff_t dst_stride, crestdoubler_format format,
                                               int passes, int threads);

/* A static English description of a result code. */
CRESTDOUBLER_API const char *crestdoubler_strerror(int code);

/* The library's version, "major.minor.patch". */
CRESTDOUBLER_API const char *crestdoubler_version(void);

#ifdef __cplusplus
}
#endif

#endif /* CRESTDOUBLER_H */
