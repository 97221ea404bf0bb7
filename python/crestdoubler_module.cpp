// crestdoubler.enlarge for numpy arrays, over the C API.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <climits>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "crestdoubler.h"

namespace py = pybind11;

namespace {

crestdoubler_format formatOf(py::ssize_t channels, const std::string& order) {
    if (order != "RGB" && order != "BGR")
        throw py::value_error("order must be \"RGB\" or \"BGR\", not \"" + order + "\"");
    const bool rgb = order == "RGB";
    switch (channels) {
        case 1: return CRESTDOUBLER_GRAY;
        case 3: return rgb ? CRESTDOUBLER_RGB : CRESTDOUBLER_BGR;
        case 4: return rgb ? CRESTDOUBLER_RGBA : CRESTDOUBLER_BGRA;
        default: throw py::value_error("image must have 1, 3 or 4 channels, not " + std::to_string(channels));
    }
}

// Doublings for a scale of 2, 4 or 8.
int passesOf(int scale) {
    switch (scale) {
        case 2: return 1;
        case 4: return 2;
        case 8: return 3;
        default: throw py::value_error("scale must be 2, 4 or 8, not " + std::to_string(scale));
    }
}

py::array enlarge(const py::array& image, const std::string& order, int threads, int scale) {
    if (image.dtype().kind() != 'u' || image.itemsize() != 1)
        throw py::type_error("image must be a numpy array of dtype uint8, not " + std::string(py::str(image.dtype())));
    const py::ssize_t dims = image.ndim();
    if (dims != 2 && dims != 3)
        throw py::value_error("image must be H x W or H x W x C, not " + std::to_string(dims) + "-dimensional");
    const py::ssize_t channels = dims == 2 ? 1 : image.shape(2);
    const crestdoubler_format format = formatOf(channels, order);
    if (threads < 0) throw py::value_error("threads must be 0 (one per core) or more");
    const int passes = passesOf(scale);
    // Rows may lie anywhere (any row stride, negative too); pixels within a
    // row must be packed, so other layouts are copied into one that is.
    py::array source = image;
    if ((dims == 3 && image.strides(2) != 1) || image.strides(1) != channels)
        source = py::array_t<std::uint8_t, py::array::c_style>::ensure(image);
    const py::ssize_t height = source.shape(0);
    const py::ssize_t width = source.shape(1);
    if (width < 1 || height < 1) throw py::value_error("image must have at least one row and one column");
    // Refused before the result is allocated, which might not fit.
    if (width > 2 * CRESTDOUBLER_MAX_WIDTH / scale)
        throw py::value_error("image too large: " + std::to_string(width) + " columns at scale " +
                              std::to_string(scale) + " give " + std::to_string(scale * width) + ", more than " +
                              std::to_string(2 * CRESTDOUBLER_MAX_WIDTH));
    if (height > INT_MAX / scale) throw py::value_error("image too large");
    std::vector<py::ssize_t> shape{scale * height, scale * width};
    if (dims == 3) shape.push_back(channels);
    py::array_t<std::uint8_t> result(shape);
    const void* in = source.data();
    const py::ssize_t inStride = source.strides(0);
    void* out = result.mutable_data();
    int code;
    {
        py::gil_scoped_release unlocked;
        code = crestdoubler_enlarge_pow2(in, static_cast<int>(width), static_cast<int>(height), inStride, out,
                                         scale * width * channels, format, passes, threads);
    }
    if (code == CRESTDOUBLER_ERROR_MEMORY) throw std::bad_alloc();
    if (code == CRESTDOUBLER_ERROR_INTERNAL) throw std::runtime_error(crestdoubler_strerror(code));
    if (code != 0) throw py::value_error(crestdoubler_strerror(code));
    return result;
}

}  // namespace

PYBIND11_MODULE(crestdoubler, module) {
    module.doc() = "Edge-preserving 2:1 image enlargement (the crestdoubler video filter's engine).";
    module.attr("__version__") = crestdoubler_version();
    module.def("enlarge", &enlarge, py::arg("image"), py::arg("order") = "RGB", py::arg("threads") = 0,
               py::arg("scale") = 2, R"(Enlarge an image to 2, 4 or 8 times its width and height, keeping edges sharp.

image: uint8 array H x W (grey), H x W x 3 (colour) or H x W x 4 (colour and
    alpha); rows may be strided, also with a negative stride.
order: "RGB" (Pillow, imageio, scikit-image) or "BGR" (OpenCV).
threads: 0 uses every core; the result is the same for every value.
scale: 2, 4 or 8; 4 and 8 double the doubled image again, exactly as
    calling enlarge two or three times would.

Returns a new uint8 array (scale * H) x (scale * W) with the same channels.
Colour is enlarged as the video filter does, alpha as a grey image of its
own. Too wide a result (over 49152 columns) raises ValueError.
The GIL is released while the image is enlarged.)");
}
