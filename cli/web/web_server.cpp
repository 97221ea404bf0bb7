#include "cli/web/web_server.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#include "cli/base/command_error.h"
#include "cli/web/file_reply.h"
#include "cli/web/job_json.h"
#include "cli/web/page_files.h"
#include "cli/web/upload_receiver.h"
#include "cli/web/upload_request.h"

namespace crest::cli {

namespace {

constexpr const char* kContentSecurityPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' blob:; media-src 'self' blob:; "
    "connect-src 'self'; form-action 'self'; base-uri 'none'; frame-ancestors 'none'";

std::optional<std::string> valueOf(MHD_Connection* connection, MHD_ValueKind kind, const char* key) {
    const char* value = MHD_lookup_connection_value(connection, kind, key);
    return value == nullptr ? std::nullopt : std::optional<std::string>(value);
}

bool isHexId(const std::string& text) {
    if (text.empty() || text.size() > 32) return false;
    for (const char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

}  // namespace

struct WebServer::RequestState {
    bool answered = false;
    std::unique_ptr<UploadReceiver> upload;
};

MHD_Result sendReply(MHD_Connection* connection, Reply reply) {
    MHD_Response* response = nullptr;
    if (reply.fd >= 0) {
        response = MHD_create_response_from_fd_at_offset64(reply.length, reply.fd, reply.offset);
        if (response == nullptr) ::close(reply.fd);
    } else if (reply.staticData != nullptr) {
        response = MHD_create_response_from_buffer(reply.staticSize, const_cast<unsigned char*>(reply.staticData),
                                                   MHD_RESPMEM_PERSISTENT);
    } else {
        response = MHD_create_response_from_buffer(reply.body.size(), reply.body.data(), MHD_RESPMEM_MUST_COPY);
    }
    if (response == nullptr) return MHD_NO;
    MHD_add_response_header(response, "Content-Type", reply.contentType.c_str());
    MHD_add_response_header(response, "Content-Security-Policy", kContentSecurityPolicy);
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    MHD_add_response_header(response, "Referrer-Policy", "no-referrer");
    MHD_add_response_header(response, "X-Frame-Options", "DENY");
    MHD_add_response_header(response, "Cross-Origin-Resource-Policy", "same-origin");
    MHD_add_response_header(response, "Cache-Control", "no-store");
    for (const auto& [name, value] : reply.headers) MHD_add_response_header(response, name.c_str(), value.c_str());
    const MHD_Result queued = MHD_queue_response(connection, reply.status, response);
    MHD_destroy_response(response);
    return queued;
}

WebServer::WebServer(int listeningSocket, const RequestGuard& guard, JobQueue& queue, const ServerLimits& limits)
    : guard_(guard), queue_(queue), limits_(limits) {
    daemon_ = MHD_start_daemon(
        MHD_USE_POLL_INTERNAL_THREAD, 0, nullptr, nullptr,
        &WebServer::handle, this, MHD_OPTION_LISTEN_SOCKET, listeningSocket, MHD_OPTION_THREAD_POOL_SIZE,
        limits.threads, MHD_OPTION_CONNECTION_LIMIT, limits.connections, MHD_OPTION_PER_IP_CONNECTION_LIMIT,
        limits.perAddress, MHD_OPTION_CONNECTION_TIMEOUT, limits.idleSeconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
        limits.connectionMemory, MHD_OPTION_NOTIFY_COMPLETED, &WebServer::completed, this, MHD_OPTION_END);
    if (daemon_ == nullptr) {
        ::close(listeningSocket);
        throw CommandError("cannot start the HTTP server");
    }
}

WebServer::~WebServer() { MHD_stop_daemon(daemon_); }

MHD_Result WebServer::handle(void* self, MHD_Connection* connection, const char* url, const char* method,
                             const char*, const char* uploadData, size_t* uploadSize, void** state) {
    auto& server = *static_cast<WebServer*>(self);
    if (*state == nullptr) {
        auto* fresh = new RequestState;
        *state = fresh;
        return server.begin(connection, url, method, *fresh);
    }
    auto& request = *static_cast<RequestState*>(*state);
    if (*uploadSize > 0) {
        if (request.upload) request.upload->feed(uploadData, *uploadSize);
        *uploadSize = 0;
        return MHD_YES;
    }
    if (request.answered) return MHD_YES;
    request.answered = true;
    return sendReply(connection, server.finishUpload(request));
}

void WebServer::completed(void*, MHD_Connection*, void** state, MHD_RequestTerminationCode) {
    // An upload cut off on the way is dropped with its file here.
    delete static_cast<RequestState*>(*state);
    *state = nullptr;
}

std::optional<Reply> WebServer::refusal(MHD_Connection* connection, const std::string& url,
                                        const std::string& method) const {
    if (!guard_.hostAllowed(valueOf(connection, MHD_HEADER_KIND, "Host")))
        return errorReply(421, "this server answers to its own address only");
    if (method != "GET" && method != "HEAD" && !guard_.originAllowed(valueOf(connection, MHD_HEADER_KIND, "Origin")))
        return errorReply(403, "requests from other sites are refused");
    if (method == "GET" && url == "/") {
        if (const auto token = valueOf(connection, MHD_GET_ARGUMENT_KIND, "token")) {
            if (!guard_.tokenMatches(*token)) return errorReply(401, "the token in this address is not the server's");
            Reply reply;
            reply.status = 303;
            reply.contentType = "text/plain; charset=utf-8";
            reply.headers = {{"Location", "/"},
                             {"Set-Cookie", guard_.cookieName() + "=" + guard_.token() +
                                                "; HttpOnly; SameSite=Strict; Path=/"}};
            return reply;
        }
    }
    if (!guard_.authorized(valueOf(connection, MHD_COOKIE_KIND, guard_.cookieName().c_str()),
                           valueOf(connection, MHD_HEADER_KIND, "Authorization"))) {
        Reply reply =
            errorReply(401, "open the address that crestdoubler-web printed when it started: it carries the token");
        if (url.rfind("/api/", 0) != 0) {
            reply.contentType = "text/plain; charset=utf-8";
            reply.body = "crestdoubler-web: open the address that it printed when it started; it carries the token.\n";
        }
        return reply;
    }
    return std::nullopt;
}

MHD_Result WebServer::begin(MHD_Connection* connection, const std::string& url, const std::string& method,
                            RequestState& state) {
    std::optional<Reply> answer = refusal(connection, url, method);
    if (!answer && method == "POST" && url == "/api/jobs") {
        const auto length = valueOf(connection, MHD_HEADER_KIND, "Content-Length");
        // The body holds the file and a little framing; the file itself is
        // held to the limit exactly as it arrives.
        constexpr std::uint64_t kFraming = 64 * 1024;
        if (length &&
            std::strtoull(length->c_str(), nullptr, 10) > static_cast<std::uint64_t>(limits_.maxUpload) + kFraming) {
            answer = errorReply(413, "the file is larger than the server's --max-upload of " +
                                         std::to_string(limits_.maxUpload) + " bytes");
        } else {
            try {
                state.upload = std::make_unique<UploadReceiver>(connection, queue_.uploadFolder(), limits_.maxUpload);
                return MHD_YES;  // the body comes in the next calls
            } catch (const CommandError& error) {
                answer = errorReply(400, error.what());
            }
        }
    }
    if (!answer) answer = route(connection, url, method);
    state.answered = true;
    return sendReply(connection, std::move(*answer));
}

Reply WebServer::finishUpload(RequestState& state) {
    if (!state.upload) return errorReply(400, "this request takes no body");
    UploadReceiver& upload = *state.upload;
    if (std::optional<Reply> refused = upload.finish()) return *refused;
    try {
        const std::string id = queue_.submit(upload.path(), requestOf(upload));
        upload.release();
        Reply reply = jsonReply(201, apiJson(*queue_.find(id)));
        reply.headers = {{"Location", "/api/jobs/" + id}};
        return reply;
    } catch (const CommandError& error) {
        return errorReply(error.status() == ExitStatus::usage ? 400 : 500, error.what());
    }
}

Reply WebServer::route(MHD_Connection* connection, const std::string& url, const std::string& method) {
    static const std::string kJobs = "/api/jobs";
    if (url.rfind("/api/", 0) != 0) {
        const PageFile* file = findPageFile(url);
        if (file == nullptr) return errorReply(404, "no such page");
        if (method != "GET" && method != "HEAD") return errorReply(405, "the page is read only");
        Reply reply;
        reply.contentType = file->contentType;
        reply.staticData = file->data;
        reply.staticSize = file->size;
        return reply;
    }
    if (url == kJobs) {
        if (method != "GET") return errorReply(405, "GET lists the jobs, POST with a file adds one");
        nlohmann::json jobs = nlohmann::json::array();
        for (const WebJobView& view : queue_.list()) jobs.push_back(apiJson(view));
        return jsonReply(200, jobs);
    }
    if (url.rfind(kJobs + "/", 0) != 0) return errorReply(404, "no such resource");
    const std::string rest = url.substr(kJobs.size() + 1);
    const auto slash = rest.find('/');
    const std::string id = rest.substr(0, slash);
    const std::string part = slash == std::string::npos ? "" : rest.substr(slash + 1);
    const std::optional<WebJobView> view = isHexId(id) ? queue_.find(id) : std::nullopt;
    if (!view) return errorReply(404, "no such job");
    try {
        if (part.empty() && method == "GET") return jsonReply(200, apiJson(*view));
        if (part.empty() && method == "DELETE") {
            if (!queue_.remove(id)) return errorReply(404, "no such job");
            Reply reply;
            reply.status = 204;
            return reply;
        }
        if (part == "cancel" && method == "POST") {
            if (!queue_.cancel(id)) return errorReply(404, "no such job");
            return jsonReply(200, apiJson(queue_.find(id).value_or(*view)));
        }
        if (part == "source" && method == "GET") {
            const auto path = queue_.sourcePath(id);
            return path ? fileReply(*path, view->record.request.name, valueOf(connection, MHD_HEADER_KIND, "Range"))
                        : errorReply(404, "no such job");
        }
        if (part == "result" && method == "GET") {
            const auto path = queue_.resultPath(id);
            if (!path) return errorReply(409, std::string("the job is ") + nameOf(view->record.state) + ", not done");
            return fileReply(*path, resultNameOf(view->record.request), valueOf(connection, MHD_HEADER_KIND, "Range"));
        }
    } catch (const CommandError& error) {
        return errorReply(500, error.what());
    }
    return errorReply(part.empty() || part == "cancel" || part == "source" || part == "result" ? 405 : 404,
                      "no such resource");
}

}  // namespace crest::cli
