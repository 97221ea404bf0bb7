#!/usr/bin/python3
"""Writes samples/comparison.png: two zoomed crops of a generated photo-like
scene (a textured landscape, and a sign with small text and thin wires),
each enlarged 2:1 by nearest neighbour, bicubic, Lanczos and crestdoubler,
side by side and labelled. Each panel is shown at an integer zoom by pixel
repetition, so that its own pixels stay visible.

    scripts/make-comparison.py [--crestdoubler build/crestdoubler] [--scene-output scene.png]

Needs the built command and Debian's python3-opencv (OpenCV 4 with numpy).
The scene is drawn here, from a fixed seed, so it is the same on every run.
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
SCENE_WIDTH, SCENE_HEIGHT = 480, 320  # source pixels
SUPERSAMPLING = 4                     # the scene is drawn this much larger, then averaged down as a camera would
# (label, left, top) of each crop, in source pixels.
CROPS = [("tree", 352, 60), ("text", 26, 180)]
CROP_WIDTH, CROP_HEIGHT = 64, 40
ZOOM = 2                              # display pixels per enlarged pixel
GAP = 10
LABEL_HEIGHT = 30


def smooth_noise(rng, height, width, cells):
    """Value noise: a coarse random grid of `cells` across, resized smoothly to the picture."""
    rows = max(2, round(cells * height / width))
    grid = rng.random((rows, cells), dtype=np.float32)
    return cv2.resize(grid, (width, height), interpolation=cv2.INTER_CUBIC)


def fractal_noise(rng, height, width, octaves, cells=4):
    total = np.zeros((height, width), np.float32)
    amplitude, weight = 1.0, 0.0
    for octave in range(octaves):
        total += amplitude * smooth_noise(rng, height, width, cells * 2 ** octave)
        weight += amplitude
        amplitude *= 0.55
    return total / weight


def blend(picture, mask, colour):
    mask = mask[..., None].astype(np.float32)
    picture[:] = picture * (1 - mask) + np.float32(colour) * mask


def draw_scene(seed=2026):
    """A BGR uint8 landscape: sky and clouds, textured hills, a tree, a field, a sign and wires."""
    rng = np.random.default_rng(seed)
    s = SUPERSAMPLING
    width, height = SCENE_WIDTH * s, SCENE_HEIGHT * s
    rows = np.linspace(0, 1, height, dtype=np.float32)[:, None]
    columns = np.arange(width, dtype=np.float32)

    sky_top, sky_bottom = np.float32([170, 110, 60]), np.float32([235, 215, 190])
    scene = (sky_top * (1 - rows[..., None]) + sky_bottom * rows[..., None]) * np.ones((1, width, 1), np.float32)
    clouds = np.clip((fractal_noise(rng, height, width, 6, 3) - 0.5) * 3.0, 0, 1) * np.clip(1.4 - 2.5 * rows, 0, 1)
    blend(scene, clouds, (245, 245, 245))

    # Two ranges of hills, each a ridge of fractal noise with textured slopes.
    for base, relief, colour, shade in [(0.42, 0.20, (120, 125, 105), 50), (0.58, 0.16, (55, 105, 70), 45)]:
        ridge = (base - relief * fractal_noise(rng, 1, width, 7, 3)[0]) * height
        inside = (np.arange(height, dtype=np.float32)[:, None] >= ridge[None, :]).astype(np.float32)
        texture = fractal_noise(rng, height, width, 7, 24) - 0.5
        hill = np.float32(colour) + shade * texture[..., None]
        scene = scene * (1 - inside[..., None]) + hill * inside[..., None]

    # A bare tree on the far hill: branches forking down to hair-thin twigs.
    def branch(x, y, angle, length, thickness, depth):
        end_x, end_y = x + length * np.cos(angle), y - length * np.sin(angle)
        cv2.line(scene, (int(x * 16), int(y * 16)), (int(end_x * 16), int(end_y * 16)), (45, 55, 60),
                 max(1, int(thickness)), cv2.LINE_AA, shift=4)
        if depth > 0:
            for turn in (0.45 + 0.25 * rng.random(), -0.4 - 0.25 * rng.random()):
                branch(end_x, end_y, angle + turn, length * (0.68 + 0.1 * rng.random()), thickness * 0.68, depth - 1)

    branch(400 * s, 214 * s, np.pi / 2, 46 * s, 2.4 * s, 7)

    # A field of grass in the foreground: streaky, darker towards the bottom.
    field_top = int(0.72 * height)
    grass = fractal_noise(rng, height - field_top, width, 6, 60) - 0.5
    depth = np.linspace(0, 1, height - field_top, dtype=np.float32)[:, None, None]
    scene[field_top:] = (np.float32([60, 150, 120]) - 40 * depth) + 70 * grass[..., None]

    # A sign on two posts, with a line of small text and a finer line under it.
    left, top, right, bottom = 20 * s, 176 * s, 150 * s, 232 * s
    for post in (left + 12 * s, right - 12 * s):
        cv2.rectangle(scene, (post - s, bottom), (post + s, int(0.9 * height)), (40, 50, 60), -1)
    cv2.rectangle(scene, (left, top), (right, bottom), (225, 235, 240), -1)
    cv2.rectangle(scene, (left, top), (right, bottom), (60, 60, 70), s)
    cv2.putText(scene, "Crestdoubler 2:1", (left + 6 * s, top + 20 * s), cv2.FONT_HERSHEY_SIMPLEX,
                0.42 * s, (40, 30, 30), int(1.2 * s), cv2.LINE_AA)
    cv2.putText(scene, "edges stay sharp", (left + 6 * s, top + 36 * s), cv2.FONT_HERSHEY_SIMPLEX,
                0.34 * s, (30, 30, 150), s, cv2.LINE_AA)
    cv2.putText(scene, "pixels x4, 0.05 s", (left + 6 * s, top + 49 * s), cv2.FONT_HERSHEY_PLAIN,
                0.7 * s, (50, 50, 50), s, cv2.LINE_AA)

    # Wires sagging between poles, about a source pixel thick and thinner.
    for sag, thickness, y0 in [(40, 1.0, 150), (34, 0.7, 158), (46, 0.5, 166)]:
        x = columns / width
        y = (y0 + sag * 4 * (x - 0.5) ** 2 - sag) * s + 30 * s * x
        distance = np.abs(np.arange(height, dtype=np.float32)[:, None] - y[None, :])
        blend(scene, np.clip(thickness * s / 2 + 0.5 - distance, 0, 1), (35, 35, 35))

    small = cv2.resize(scene, (SCENE_WIDTH, SCENE_HEIGHT), interpolation=cv2.INTER_AREA)
    small += rng.normal(0, 1.5, small.shape).astype(np.float32)  # a little sensor noise
    return np.clip(np.rint(small), 0, 255).astype(np.uint8)


def opencv_enlargement(picture, interpolation):
    height, width = picture.shape[:2]
    to_even_positions = np.float64([[2, 0, 0], [0, 2, 0]])
    return cv2.warpAffine(picture, to_even_positions, (2 * width, 2 * height), flags=interpolation,
                          borderMode=cv2.BORDER_REPLICATE)


def crestdoubler_enlargement(command, source_path):
    with tempfile.TemporaryDirectory() as folder:
        output = pathlib.Path(folder) / "enlarged.png"
        subprocess.run([str(command), str(source_path), str(output)], check=True)
        return cv2.imread(str(output), cv2.IMREAD_COLOR)


def panel(enlarged, x, y, label):
    """The crop zoomed, under its label; without a label (the rows below the first), under a gap."""
    crop = enlarged[2 * y:2 * (y + CROP_HEIGHT), 2 * x:2 * (x + CROP_WIDTH)]
    zoomed = np.repeat(np.repeat(crop, ZOOM, axis=0), ZOOM, axis=1)
    cv2.rectangle(zoomed, (0, 0), (zoomed.shape[1] - 1, zoomed.shape[0] - 1), (128, 128, 128), 1)
    caption = np.full((LABEL_HEIGHT if label else GAP, zoomed.shape[1], 3), 255, np.uint8)
    if label:
        cv2.putText(caption, label, (4, LABEL_HEIGHT - 9), cv2.FONT_HERSHEY_SIMPLEX, 0.6, (0, 0, 0), 2, cv2.LINE_AA)
    return np.vstack([caption, zoomed])


def side_by_side(panels, gap_shape):
    gap = np.full(gap_shape, 255, np.uint8)
    row = [panels[0]]
    for next_panel in panels[1:]:
        row += [gap, next_panel]
    return row


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--crestdoubler", default=ROOT / "build" / "crestdoubler", type=pathlib.Path)
    parser.add_argument("--output", default=ROOT / "samples" / "comparison.png", type=pathlib.Path)
    parser.add_argument("--scene-output", type=pathlib.Path, help="also write the whole generated scene here")
    arguments = parser.parse_args()

    scene = draw_scene()
    for label, x, y in CROPS:
        if x + CROP_WIDTH > SCENE_WIDTH or y + CROP_HEIGHT > SCENE_HEIGHT:
            sys.exit(f"make-comparison: the {label} crop at {x},{y} does not fit the scene")
    if arguments.scene_output and not cv2.imwrite(str(arguments.scene_output), scene):
        sys.exit(f"make-comparison: cannot write {arguments.scene_output}")
    with tempfile.TemporaryDirectory() as folder:
        source_path = pathlib.Path(folder) / "scene.png"
        cv2.imwrite(str(source_path), scene)
        enlargements = [
            ("nearest neighbour", np.repeat(np.repeat(scene, 2, axis=0), 2, axis=1)),
            ("bicubic", opencv_enlargement(scene, cv2.INTER_CUBIC)),
            ("Lanczos", opencv_enlargement(scene, cv2.INTER_LANCZOS4)),
            ("crestdoubler", crestdoubler_enlargement(arguments.crestdoubler, source_path)),
        ]
    rows = []
    for index, (_, x, y) in enumerate(CROPS):
        panels = [panel(enlarged, x, y, name if index == 0 else None) for name, enlarged in enlargements]
        rows.append(np.hstack(side_by_side(panels, (panels[0].shape[0], GAP, 3))))
    figure = np.vstack(rows)
    if not cv2.imwrite(str(arguments.output), figure, [cv2.IMWRITE_PNG_COMPRESSION, 9]):
        sys.exit(f"make-comparison: cannot write {arguments.output}")


if __name__ == "__main__":
    main()
