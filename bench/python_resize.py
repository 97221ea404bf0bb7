#!/usr/bin/python3
"""crestdoubler.enlarge against cv2.resize(INTER_LANCZOS4) and Pillow's
Image.resize(LANCZOS), 2x, on the same RGB array in the same run; medians in ms.

The source is a raw BGRA frame, e.g. the test generator's natural picture:
    build-bench/profile_frame natural 3840 2160 0 /tmp/natural-4k.raw
    PYTHONPATH=build/python /usr/bin/python3 bench/python_resize.py /tmp/natural-4k.raw 3840x2160
"""
import statistics
import sys
import time

import cv2
import numpy as np
from PIL import Image

import crestdoubler


def medians_ms(action, repeats):
    """Wall time, and CPU time of all the process's threads: on a machine that
    other programs keep busy the second says what the work costs."""
    action()  # warm-up
    walls, cpus = [], []
    for _ in range(repeats):
        wall, cpu = time.perf_counter(), time.process_time()
        action()
        walls.append((time.perf_counter() - wall) * 1000.0)
        cpus.append((time.process_time() - cpu) * 1000.0)
    return statistics.median(walls), statistics.median(cpus)


def main():
    path, size = sys.argv[1], sys.argv[2]
    repeats = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    width, height = (int(v) for v in size.split("x"))
    bgra = np.fromfile(path, np.uint8, count=width * height * 4).reshape(height, width, 4)
    rgb = np.ascontiguousarray(bgra[:, :, 2::-1])
    bgr = np.ascontiguousarray(bgra[:, :, :3])
    picture = Image.fromarray(rgb)
    out = (2 * width, 2 * height)

    def opencv(threads):
        def resize():
            cv2.setNumThreads(threads)
            return cv2.resize(bgr, out, interpolation=cv2.INTER_LANCZOS4)

        return resize

    runs = [
        ("crestdoubler.enlarge RGB, 1 thread", lambda: crestdoubler.enlarge(rgb, threads=1)),
        ("crestdoubler.enlarge RGB, 2 threads", lambda: crestdoubler.enlarge(rgb, threads=2)),
        ("cv2.resize INTER_LANCZOS4, 1 thread", opencv(1)),
        ("cv2.resize INTER_LANCZOS4, 2 threads", opencv(2)),
        ("PIL Image.resize LANCZOS (1 thread)", lambda: picture.resize(out, Image.LANCZOS)),
    ]
    print(f"{width}x{height} -> {out[0]}x{out[1]}, medians of {repeats}: wall ms, CPU ms (all threads)")
    for name, action in runs:
        wall, cpu = medians_ms(action, repeats)
        print(f"  {name:40s} {wall:8.1f} {cpu:8.1f}")


if __name__ == "__main__":
    main()
