#include "cli/web/upload_request.h"

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

#include "cli/base/command_error.h"
#include "cli/jobs/path_kind.h"

namespace crest::cli {

namespace {

std::optional<int> integerField(const std::map<std::string, std::string>& fields, const char* key, int low, int high) {
    const auto found = fields.find(key);
    if (found == fields.end() || found->second.empty()) return std::nullopt;
    char* end = nullptr;
    const long value = std::strtol(found->second.c_str(), &end, 10);
    if (*end != '\0' || value < low || value > high)
        throw CommandError(std::string(key) + " needs a whole number from " + std::to_string(low) + " to " +
                               std::to_string(high) + ", not '" + found->second + "'",
                           ExitStatus::usage);
    return static_cast<int>(value);
}

std::optional<std::string> textField(const std::map<std::string, std::string>& fields, const char* key) {
    const auto found = fields.find(key);
    if (found == fields.end() || found->second.empty()) return std::nullopt;
    return found->second;
}

}  // namespace

WebJobRequest requestOf(const UploadReceiver& upload) {
    WebJobRequest request;
    request.name = upload.fileName();
    request.sourceExtension = lowerExtension(request.name);
    const auto& fields = upload.fields();
    const std::optional<std::string> format = textField(fields, "format");
    request.format = format ? lowerExtension("result." + *format)
                            : isVideoExtension(request.sourceExtension) ? "mkv" : request.sourceExtension;
    request.settings.picture.quality = integerField(fields, "quality", 1, 100);
    request.settings.film.encoding.crf = integerField(fields, "crf", 0, 63);
    request.settings.film.encoding.codec = textField(fields, "codec");
    request.settings.film.encoding.preset = textField(fields, "preset");
    const std::optional<int> scale = integerField(fields, "scale", 2, 8);
    if (scale && *scale != 2 && *scale != 4 && *scale != 8)
        throw CommandError("scale needs 2, 4 or 8, not '" + fields.at("scale") + "'", ExitStatus::usage);
    request.settings.scale.factor = scale.value_or(2);
    request.settings.scale.width = integerField(fields, "width", 1, 1 << 24);
    if (scale && request.settings.scale.width)
        throw CommandError("scale and width both say how large the result is: give one", ExitStatus::usage);
    return request;
}

}  // namespace crest::cli
