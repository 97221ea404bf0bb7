"""Edge-preserving 2:1 image enlargement (the crestdoubler video filter's engine)."""

from typing import Literal

import numpy as np
import numpy.typing as npt

__version__: str

def enlarge(
    image: npt.NDArray[np.uint8],
    order: Literal["RGB", "BGR"] = "RGB",
    threads: int = 0,
    scale: Literal[2, 4, 8] = 2,
) -> npt.NDArray[np.uint8]:
    """Enlarge an image to 2, 4 or 8 times its width and height, keeping edges sharp.

    image: uint8 array H x W (grey), H x W x 3 (colour) or H x W x 4 (colour
    and alpha). order: "RGB" (Pillow, imageio) or "BGR" (OpenCV). threads: 0
    uses every core. scale: 2, 4 or 8, each doubling exactly enlarge of the
    one before. Returns a new uint8 array (scale * H) x (scale * W) with the
    same channels.
    """
