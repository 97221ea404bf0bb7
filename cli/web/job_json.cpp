#include "cli/web/job_json.h"

#include <array>

#include "cli/base/command_error.h"

namespace crest::cli {

namespace {

using nlohmann::json;

constexpr std::array<std::pair<JobKind, const char*>, 2> kKindNames = {
    std::pair{JobKind::picture, "picture"}, std::pair{JobKind::film, "film"}};

const char* kindName(JobKind kind) {
    for (const auto& [value, name] : kKindNames)
        if (value == kind) return name;
    return "other";
}

template <typename T>
json orNull(const std::optional<T>& value) {
    return value ? json(*value) : json(nullptr);
}

json settingsJson(const JobSettings& settings) {
    return {{"quality", orNull(settings.picture.quality)},
            {"codec", orNull(settings.film.encoding.codec)},
            {"crf", orNull(settings.film.encoding.crf)},
            {"preset", orNull(settings.film.encoding.preset)},
            {"scale", settings.scale.factor},
            {"width", orNull(settings.scale.width)}};
}

template <typename T>
std::optional<T> optionalField(const json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) return std::nullopt;
    return found->get<T>();
}

json recordJson(const WebJobRecord& record) {
    return {{"id", record.id},
            {"name", record.request.name},
            {"source", record.request.sourceExtension},
            {"format", record.request.format},
            {"kind", kindName(record.kind)},
            {"state", nameOf(record.state)},
            {"error", record.error},
            {"settings", settingsJson(record.request.settings)}};
}

}  // namespace

std::string jsonText(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

json apiJson(const WebJobView& view) {
    const WebJobRecord& record = view.record;
    json object = recordJson(record);
    object.erase("source");
    const bool done = record.state == WebJobState::done;
    object["progress"] = done ? 1.0 : view.reading.fraction();
    object["done"] = view.reading.done;
    object["total"] = view.reading.total;
    object["unit"] = progressUnitOf(record.kind);
    object["rate"] = view.reading.rate;
    object["secondsLeft"] = record.state == WebJobState::running ? orNull(view.reading.secondsLeft) : json(nullptr);
    object["resultName"] = resultNameOf(record.request);
    if (record.state != WebJobState::failed) object.erase("error");
    return object;
}

std::string journalText(const std::vector<WebJobRecord>& records) {
    json jobs = json::array();
    for (const WebJobRecord& record : records) jobs.push_back(recordJson(record));
    return jsonText(json{{"version", 1}, {"jobs", jobs}}) + "\n";
}

std::vector<WebJobRecord> parseJournal(const std::string& text, const std::string& path) {
    std::vector<WebJobRecord> records;
    try {
        const json journal = json::parse(text);
        for (const json& entry : journal.at("jobs")) {
            WebJobRecord record;
            record.id = entry.at("id").get<std::string>();
            record.request.name = entry.at("name").get<std::string>();
            record.request.sourceExtension = entry.at("source").get<std::string>();
            record.request.format = entry.at("format").get<std::string>();
            record.kind = entry.at("kind").get<std::string>() == "film" ? JobKind::film : JobKind::picture;
            const auto state = webJobStateNamed(entry.at("state").get<std::string>());
            if (!state) throw CommandError("unknown state");
            record.state = *state;
            record.error = entry.value("error", "");
            const json& settings = entry.at("settings");
            record.request.settings.picture.quality = optionalField<int>(settings, "quality");
            record.request.settings.film.encoding.codec = optionalField<std::string>(settings, "codec");
            record.request.settings.film.encoding.crf = optionalField<int>(settings, "crf");
            record.request.settings.film.encoding.preset = optionalField<std::string>(settings, "preset");
            record.request.settings.scale.factor = optionalField<int>(settings, "scale").value_or(2);
            record.request.settings.scale.width = optionalField<int>(settings, "width");
            records.push_back(std::move(record));
        }
    } catch (const std::exception& error) {
        throw CommandError("the journal " + path + " is damaged (" + error.what() +
                           "); move it away to start with an empty queue");
    }
    return records;
}

}  // namespace crest::cli
