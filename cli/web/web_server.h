// The HTTP side: libmicrohttpd listening on one socket, every request checked
// by the guard, every answer given the same security headers in one place.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <microhttpd.h>

#include "cli/web/job_queue.h"
#include "cli/web/reply.h"
#include "cli/web/request_guard.h"

namespace crest::cli {

struct ServerLimits {
    std::int64_t maxUpload = 0;
    unsigned connections = 512;     // all at once
    unsigned perAddress = 384;      // from one address: on loopback, every client is one
    unsigned idleSeconds = 30;      // a connection that sends nothing this long is closed
    std::size_t connectionMemory = 64 * 1024;  // headers and the read buffer
    unsigned threads = 4;           // serve the connections; jobs run on the worker
};

class WebServer {
public:
    // Starts serving on the listening socket (which it then owns). Throws CommandError.
    WebServer(int listeningSocket, const RequestGuard& guard, JobQueue& queue, const ServerLimits& limits);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

private:
    struct RequestState;
    static MHD_Result handle(void* self, MHD_Connection* connection, const char* url, const char* method,
                             const char* version, const char* uploadData, size_t* uploadSize, void** state);
    static void completed(void* self, MHD_Connection* connection, void** state, MHD_RequestTerminationCode code);

    MHD_Result begin(MHD_Connection* connection, const std::string& url, const std::string& method,
                     RequestState& state);
    std::optional<Reply> refusal(MHD_Connection* connection, const std::string& url, const std::string& method) const;
    Reply route(MHD_Connection* connection, const std::string& url, const std::string& method);
    Reply finishUpload(RequestState& state);

    const RequestGuard& guard_;
    JobQueue& queue_;
    const ServerLimits limits_;
    MHD_Daemon* daemon_ = nullptr;
};

// Queues the reply with the headers every answer carries. For the server only; public for its tests.
MHD_Result sendReply(MHD_Connection* connection, Reply reply);

}  // namespace crest::cli
