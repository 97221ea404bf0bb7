#include "cli/web/reply.h"

namespace crest::cli {

Reply jsonReply(unsigned status, const nlohmann::json& value) {
    Reply reply;
    reply.status = status;
    reply.body = value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return reply;
}

Reply errorReply(unsigned status, const std::string& message) { return jsonReply(status, {{"error", message}}); }

}  // namespace crest::cli
