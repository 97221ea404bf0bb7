"""The crestdoubler Python module against the C API (through ctypes)."""

import ctypes
import os
import threading
import time

import numpy as np
import pytest

import crestdoubler

C_FORMATS = {("RGB", 3): 4, ("BGR", 3): 3, ("RGB", 4): 2, ("BGR", 4): 1, ("RGB", 1): 5, ("BGR", 1): 5}


def c_enlarge(image, order):
    """The C API's frame for a C-contiguous image."""
    lib = ctypes.CDLL(os.environ["CRESTDOUBLER_LIBRARY"])
    height, width = image.shape[:2]
    channels = 1 if image.ndim == 2 else image.shape[2]
    out = np.zeros((2 * height, 2 * width) + image.shape[2:], np.uint8)
    code = lib.crestdoubler_enlarge(
        image.ctypes.data_as(ctypes.c_void_p), width, height, ctypes.c_ssize_t(width * channels),
        out.ctypes.data_as(ctypes.c_void_p), ctypes.c_ssize_t(2 * width * channels),
        C_FORMATS[(order, channels)], 1)
    assert code == 0
    return out


def picture(height, width, channels, seed=7):
    """Smooth shapes with sharp edges and a little noise."""
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:height, 0:width]
    base = np.where((x - width / 2) ** 2 + (y - height / 3) ** 2 < (height / 4) ** 2, 200, 40) + x % 17 * 3
    planes = [np.clip(base + rng.integers(0, 20, base.shape) + 30 * c, 0, 255) for c in range(channels)]
    image = np.stack(planes, axis=2).astype(np.uint8)
    return image[:, :, 0] if channels == 1 else image


@pytest.mark.parametrize("channels", [1, 3, 4])
@pytest.mark.parametrize("order", ["RGB", "BGR"])
def test_values_match_the_c_api(channels, order):
    image = picture(37, 52, channels)
    result = crestdoubler.enlarge(image, order=order)
    assert result.dtype == np.uint8 and result.shape == (74, 104) + image.shape[2:]
    assert np.array_equal(result, c_enlarge(image, order))
    # The order names where red is: swapping it swaps the output's channels.
    if channels >= 3:
        swapped = image[:, :, [2, 1, 0] + ([3] if channels == 4 else [])]
        other = "BGR" if order == "RGB" else "RGB"
        assert np.array_equal(crestdoubler.enlarge(swapped, order=other)[:, :, :3], result[:, :, 2::-1])


def test_strided_and_negative_stride_views_give_the_copies_frames():
    big = picture(90, 120, 4)
    for view in (big[::-1], big[5:60:2, 3:100:3, :3], big[:, ::-1, 1], np.asfortranarray(big[:, :, :3])):
        assert np.array_equal(crestdoubler.enlarge(view, threads=2), crestdoubler.enlarge(np.ascontiguousarray(view)))


@pytest.mark.parametrize(
    "image, order, error",
    [
        (np.zeros((4, 4, 3), np.float32), "RGB", TypeError),
        (np.zeros((4, 4, 3), np.uint16), "RGB", TypeError),
        (np.zeros((4, 4, 2), np.uint8), "RGB", ValueError),
        (np.zeros((4, 4, 3, 1), np.uint8), "RGB", ValueError),
        (np.zeros((0, 4, 3), np.uint8), "RGB", ValueError),
        (np.zeros((4, 4, 3), np.uint8), "rgb", ValueError),
    ],
)
def test_wrong_inputs_are_refused_clearly(image, order, error):
    with pytest.raises(error, match=r"image|order"):
        crestdoubler.enlarge(image, order=order)


def test_the_gil_is_released_while_enlarging():
    image = picture(1500, 1500, 3)
    ticks = []
    done = threading.Event()

    def tick():
        while not done.is_set():
            ticks.append(time.perf_counter())
            time.sleep(0.001)

    ticker = threading.Thread(target=tick)
    ticker.start()
    start = time.perf_counter()
    crestdoubler.enlarge(image, threads=1)
    end = time.perf_counter()
    done.set()
    ticker.join()
    during = [t for t in ticks if start < t < end]
    # A held GIL would leave the ticker silent for the whole call.
    assert len(during) >= 5, f"{len(during)} ticks in {end - start:.2f} s"


@pytest.mark.parametrize("channels", [1, 4])
def test_scale_4_and_8_double_the_doubled_image(channels):
    image = picture(140, 21, channels)  # several strips on every pass
    twice = crestdoubler.enlarge(crestdoubler.enlarge(image))
    for threads in (1, 2, 0):
        assert np.array_equal(crestdoubler.enlarge(image, threads=threads, scale=4), twice)
    eight = crestdoubler.enlarge(image, scale=8)
    assert eight.shape == (1120, 168) + image.shape[2:]
    assert np.array_equal(eight, crestdoubler.enlarge(twice))


@pytest.mark.parametrize("scale", [0, 1, 3, 16, -2])
def test_other_scales_are_refused(scale):
    with pytest.raises(ValueError, match="scale must be 2, 4 or 8"):
        crestdoubler.enlarge(picture(4, 4, 3), scale=scale)


def test_a_result_too_wide_is_refused_before_it_is_allocated():
    with pytest.raises(ValueError, match="6145 columns at scale 8 give 49160"):
        crestdoubler.enlarge(np.zeros((1, 6145), np.uint8), scale=8)
    assert crestdoubler.enlarge(np.zeros((1, 6144), np.uint8), scale=8).shape == (8, 49152)
