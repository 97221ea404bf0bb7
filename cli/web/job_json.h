// Jobs as JSON: the API's answers and the journal's entries.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/web/web_job.h"

namespace crest::cli {

nlohmann::json apiJson(const WebJobView& view);

std::string journalText(const std::vector<WebJobRecord>& records);
// Throws CommandError naming path when the text is not a journal.
std::vector<WebJobRecord> parseJournal(const std::string& text, const std::string& path);

// Text as JSON, invalid UTF-8 replaced rather than refused.
std::string jsonText(const nlohmann::json& value);

}  // namespace crest::cli
