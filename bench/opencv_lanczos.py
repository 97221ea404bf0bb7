#!/usr/bin/python3
"""OpenCV's Lanczos-4 2x resize of a BGRA frame on one thread, ms per frame.

The fallback yardstick when the benchmark was built without OpenCV's C++
package. The frame is random-ish BGRA: resize time does not depend on content.
usage: opencv_lanczos.py [WIDTHxHEIGHT ...]
"""
import sys
import time

import cv2
import numpy as np


def median_ms(width, height, frames=7):
    rng = np.random.default_rng(2026)
    source = rng.integers(0, 256, size=(height, width, 4), dtype=np.uint8)
    cv2.resize(source, (2 * width, 2 * height), interpolation=cv2.INTER_LANCZOS4)
    times = []
    for _ in range(frames):
        start = time.perf_counter()
        cv2.resize(source, (2 * width, 2 * height), interpolation=cv2.INTER_LANCZOS4)
        times.append((time.perf_counter() - start) * 1000.0)
    return sorted(times)[len(times) // 2]


def main():
    cv2.setNumThreads(1)
    sizes = sys.argv[1:] or ["640x360", "1280x720", "1920x1080"]
    for size in sizes:
        width, height = (int(v) for v in size.split("x"))
        print(f"opencv_lanczos4 {width}x{height} {median_ms(width, height):.2f} ms")


if __name__ == "__main__":
    main()
