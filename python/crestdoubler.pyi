"""Edge-preserving 2:1 image enlargement (the crestdoubler video filter's engine)."""

from typing import Literal

import numpy as np
import numpy.typing as npt

__version__: str

def enlarge(
    image: npt.NDArray[np.uint8], order: Literal["RGB", "BGR"] = "RGB", threads: int = 0
) -> npt.NDArray[np.uint8]:
    """Enlarge an image to twice its width and height, keeping edges sharp.

    image: uint8 array H x W (grey), H x W x 3 (colour) or H x W x 4 (colour
    and alpha). order: "RGB" (Pillow, imageio) or "BGR" (OpenCV). threads: 0
    uses every core. Returns a new uint8 array 2H x 2W with the same channels.
    """
