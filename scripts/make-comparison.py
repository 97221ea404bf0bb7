#!/usr/bin/python3
"""Writes samples/comparison.png: one zoomed crop of the bundled sample,
enlarged 2:1 by nearest neighbour, bicubic, Lanczos and crestdoubler, side
by side and labelled. Each panel is shown at an integer zoom by pixel
repetition, so that its own pixels stay visible.

    scripts/make-comparison.py [--crestdoubler build/crestdoubler] [--x 236 --y 88]

Needs the built command and Debian's python3-opencv (OpenCV 4 with numpy).
The other three enlargements are OpenCV's, placed as crestdoubler places
its output: source pixel (x, y) at (2x, 2y), edges repeated.
"""
import argparse
import pathlib
import subprocess
import sys
import tempfile

import cv2
import numpy as np

ROOT = pathlib.Path(__file__).resolve().parent.parent
CROP_WIDTH, CROP_HEIGHT = 40, 30  # source pixels
ZOOM = 3                          # display pixels per enlarged pixel
GAP = 12
LABEL_HEIGHT = 34


def opencv_enlargement(picture, interpolation):
    height, width = picture.shape[:2]
    to_even_positions = np.float64([[2, 0, 0], [0, 2, 0]])
    return cv2.warpAffine(picture, to_even_positions, (2 * width, 2 * height), flags=interpolation,
                          borderMode=cv2.BORDER_REPLICATE)


def crestdoubler_enlargement(command, sample):
    with tempfile.TemporaryDirectory() as folder:
        output = pathlib.Path(folder) / "enlarged.png"
        subprocess.run([str(command), str(sample), str(output)], check=True)
        return cv2.imread(str(output), cv2.IMREAD_COLOR)


def panel(enlarged, x, y, label):
    crop = enlarged[2 * y:2 * (y + CROP_HEIGHT), 2 * x:2 * (x + CROP_WIDTH)]
    zoomed = np.repeat(np.repeat(crop, ZOOM, axis=0), ZOOM, axis=1)
    caption = np.full((LABEL_HEIGHT, zoomed.shape[1], 3), 255, np.uint8)
    cv2.putText(caption, label, (4, LABEL_HEIGHT - 11), cv2.FONT_HERSHEY_SIMPLEX, 0.7, (0, 0, 0), 2, cv2.LINE_AA)
    return np.vstack([caption, zoomed])


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--crestdoubler", default=ROOT / "build" / "crestdoubler", type=pathlib.Path)
    parser.add_argument("--sample", default=ROOT / "samples" / "sample.png", type=pathlib.Path)
    parser.add_argument("--output", default=ROOT / "samples" / "comparison.png", type=pathlib.Path)
    parser.add_argument("--x", default=236, type=int, help="left of the crop, in source pixels")
    parser.add_argument("--y", default=88, type=int, help="top of the crop, in source pixels")
    arguments = parser.parse_args()

    sample = cv2.imread(str(arguments.sample), cv2.IMREAD_COLOR)
    if sample is None:
        sys.exit(f"make-comparison: cannot read {arguments.sample}")
    height, width = sample.shape[:2]
    x, y = arguments.x, arguments.y
    if x < 0 or y < 0 or x + CROP_WIDTH > width or y + CROP_HEIGHT > height:
        sys.exit(f"make-comparison: a {CROP_WIDTH}x{CROP_HEIGHT} crop at {x},{y} does not fit {width}x{height}")

    enlargements = [
        ("nearest neighbour", np.repeat(np.repeat(sample, 2, axis=0), 2, axis=1)),
        ("bicubic", opencv_enlargement(sample, cv2.INTER_CUBIC)),
        ("Lanczos", opencv_enlargement(sample, cv2.INTER_LANCZOS4)),
        ("crestdoubler", crestdoubler_enlargement(arguments.crestdoubler, arguments.sample)),
    ]
    panels = [panel(enlarged, x, y, label) for label, enlarged in enlargements]
    gap = np.full((panels[0].shape[0], GAP, 3), 255, np.uint8)
    row = [panels[0]]
    for next_panel in panels[1:]:
        row += [gap, next_panel]
    if not cv2.imwrite(str(arguments.output), np.hstack(row), [cv2.IMWRITE_PNG_COMPRESSION, 9]):
        sys.exit(f"make-comparison: cannot write {arguments.output}")


if __name__ == "__main__":
    main()
