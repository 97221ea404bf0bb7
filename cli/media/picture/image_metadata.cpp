#include "cli/media/picture/image_metadata.h"

#include <cstring>

namespace crest::cli {

void ImageMetadata::copyTo(VipsImage* target) const {
    struct Copy {
        VipsImage* target;
        bool dropProfile;
    } copy{target, dropProfile_};
    vips_image_map(
        header_,
        [](VipsImage* image, const char* name, GValue*, void* state) -> void* {
            const auto* copy = static_cast<const Copy*>(state);
            static constexpr const char* kSkipped[] = {
                "width",   "height",      "bands",      "format",      "coding",        "interpretation",
                "xoffset", "yoffset",     "xres",       "yres",        "filename",      "vips-loader",
                "n-pages", "page-height", "interlaced", "bits-per-sample", "palette-bit-depth",
                "jpeg-multiscan", "jpeg-chroma-subsample", "vips-sequential", "heif-primary"};
            for (const char* skipped : kSkipped)
                if (std::strcmp(name, skipped) == 0) return nullptr;
            if (copy->dropProfile && std::strcmp(name, VIPS_META_ICC_NAME) == 0) return nullptr;
            GValue value = G_VALUE_INIT;
            if (vips_image_get(image, name, &value) == 0) {
                vips_image_set(copy->target, name, &value);
                g_value_unset(&value);
            }
            return nullptr;
        },
        &copy);
}

}  // namespace crest::cli
